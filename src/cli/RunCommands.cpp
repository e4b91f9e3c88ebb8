#include "RunCommands.h"

#include "api/container/DescriptorContainers.h"
#include "app/FieldText.h"

#include <cstdio>

namespace kestel::cli {
namespace {

class StartWaiter final : public IChangeListener {
public:
  void changeDone(IObject*, ChangeResult r) override {
    done = true;
    result = r;
  }
  bool done = false;
  ChangeResult result = ChangeResult::Failed;
};

// Prints every status the action reports, one line each.
class ProgressPrinter final : public IActionListener {
public:
  explicit ProgressPrinter(const CType& statusType) : type_(statusType) {}
  void runStateChanged(ObjectAction&, bool r) override { running = r; }
  void statusChanged(ObjectAction&, IObject* status) override {
    if (status)
      std::printf("%s\n", objectLine(*status, type_).c_str());
    std::fflush(stdout);
  }
  bool running = false;

private:
  const CType& type_;
};

int runAction(CommandContext& context, CAction& type, const std::vector<Assignment>& values) {
  Reference<ObjectAction> action = createObjectAction(type);
  if (!action || !applyAssignments(*action->parameters(), type, values))
    return kExitUsage;
  auto printer = makeRef<ProgressPrinter>(type.replyType());
  action->addListener(printer.get());
  auto started = makeRef<StartWaiter>();
  action->start(started.get());
  bool answered = context.waitFor([&] { return started->done; });
  if (!answered || started->result != ChangeResult::Succeeded) {
    action->removeListener(printer.get());
    return kExitRefused;
  }
  bool finished = context.waitFor([&] { return !action->running(); });
  if (!finished)
    action->stop();
  action->removeListener(printer.get());
  return finished ? kExitOk : kExitRefused;
}

int runDoit(CommandContext& context, CDoit& type, const std::vector<Assignment>& values) {
  Reference<ObjectDoit> doit = createObjectDoit(type);
  if (!doit || !applyAssignments(*doit->object(), type, values))
    return kExitUsage;
  auto done = makeRef<StartWaiter>();
  doit->send(done.get());
  if (!context.waitFor([&] { return done->done; }))
    return kExitRefused;
  return done->result == ChangeResult::Succeeded ? kExitOk : kExitRefused;
}

int runQuery(CommandContext& context, CQuery& type, const std::vector<Assignment>& values,
             const StderrBoxes& boxes) {
  Reference<ObjectQuery> query = createObjectQuery(type);
  if (!query || !applyAssignments(*query->requestObject(), type, values))
    return kExitUsage;
  query->start();
  // The results map fetches once opened, after the router gave the query its id.
  bool ok = context.waitFor(
      [&] { return boxes.shown || !query->running() || query->queryId() != kNoId; });
  if (ok && query->running() && query->results())
    query->results()->open();
  ok = ok && context.waitFor([&] {
    ObjectMap* rows = query->results();
    return boxes.shown || !query->running() ||
           (rows && (rows->fetchState() == FetchState::Complete || !rows->statusText().empty()));
  });
  ObjectMap* rows = query->results();
  if (!ok || boxes.shown || !query->running() || !rows || !rows->statusText().empty()) {
    if (rows && !rows->statusText().empty())
      std::fprintf(stderr, "%s\n", rows->statusText().c_str());
    query->stop();
    return kExitRefused;
  }
  rows->store().forEach([&](uint32_t id, IObject& row) {
    std::printf("%u %s\n", id, objectLine(row, type.result()).c_str());
  });
  query->stop();
  return kExitOk;
}

// Walks the wizard: every page is sent with the setup object holding all the values given.
class StepRecorder final : public ISetupListener {
public:
  void stepChanged(SetupManager&, bool e, const std::string& t) override {
    ++reports;
    end = e;
    text = t;
  }
  size_t reports = 0;
  bool end = false;
  std::string text;
};

int runSetup(CommandContext& context, CSetup& type, const std::vector<Assignment>& values) {
  Reference<SetupManager> setup = createSetupManager(type);
  if (!setup || !setup->object() || !applyAssignments(*setup->object(), type, values))
    return kExitUsage;
  auto recorder = makeRef<StepRecorder>();
  setup->addListener(recorder.get());
  constexpr int kMostPages = 64;
  int code = kExitRefused;
  for (int page = 0; page < kMostPages; ++page) {
    int step = setup->step();
    size_t reports = recorder->reports;
    setup->next(false);
    if (!context.waitFor([&] { return !setup->waiting() && recorder->reports != reports; }))
      break;
    if (recorder->end) {
      std::printf("%s\n", recorder->text.c_str());
      code = kExitOk;
      break;
    }
    if (setup->step() == step) { // the page was refused
      std::fprintf(stderr, "%s\n", recorder->text.c_str());
      break;
    }
    std::printf("page %u: %s\n", setup->pageAt(size_t(setup->step())), recorder->text.c_str());
  }
  setup->removeListener(recorder.get());
  return code;
}

} // namespace

int runMenu(CommandContext& context, const MenuRef& menu, const std::vector<Assignment>& values,
            const StderrBoxes& boxes) {
  switch (menu.type->kind()) {
  case TypeKind::Action:
    return runAction(context, static_cast<CAction&>(*menu.type), values);
  case TypeKind::Doit:
    return runDoit(context, static_cast<CDoit&>(*menu.type), values);
  case TypeKind::Query:
    return runQuery(context, static_cast<CQuery&>(*menu.type), values, boxes);
  case TypeKind::Setup:
    return runSetup(context, static_cast<CSetup&>(*menu.type), values);
  default:
    std::fprintf(stderr, "kestel-cli: %s cannot be run\n", menu.name.c_str());
    return kExitUsage;
  }
}

} // namespace kestel::cli
