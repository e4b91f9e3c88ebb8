#include "MapCommands.h"

#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "app/FieldText.h"
#include "miw/Convertor.h"

#include <cstdio>
#include <map>

namespace kestel::cli {
namespace {

// Learns the outcome of one commit, remove or move.
class ChangeWaiter final : public IChangeListener {
public:
  void changeDone(IObject*, ChangeResult r) override {
    done = true;
    result = r;
  }
  bool done = false;
  ChangeResult result = ChangeResult::Failed;
};

// Waits for the change's answer; the exit code.
int awaitChange(CommandContext& context, ChangeWaiter& waiter) {
  if (!context.waitFor([&] { return waiter.done; }))
    return kExitRefused;
  return waiter.result == ChangeResult::Succeeded ? kExitOk : kExitRefused;
}

std::vector<const Slot*> shownSlots(const CType& type) {
  std::vector<const Slot*> shown;
  for (const Slot* s : valueSlots(type))
    if (!s->has(SLOT_HIDE))
      shown.push_back(s);
  return shown;
}

// The live map of a table menu, fetched once (and subscribed when `live`); null after saying
// why.
Reference<ObjectMap> fetchedMap(CommandContext& context, const MenuRef& menu, bool live) {
  if (menu.type->kind() != TypeKind::Map) {
    std::fprintf(stderr, "kestel-cli: %s is not a table\n", menu.name.c_str());
    return {};
  }
  Reference<ObjectMap> map = createContainer(static_cast<CMap&>(*menu.type));
  if (!map) {
    std::fprintf(stderr, "kestel-cli: %s cannot be shown\n", menu.name.c_str());
    return {};
  }
  if (live)
    map->open();
  map->refresh();
  bool ok = context.waitFor([&] {
    return (map->fetchState() == FetchState::Complete || !map->statusText().empty()) &&
           (!live || map->policiesLoaded());
  });
  if (!ok)
    return {};
  if (!map->statusText().empty()) {
    std::fprintf(stderr, "%s\n", map->statusText().c_str());
    return {};
  }
  return map;
}

// The object with the argument's id; null after saying it is unknown.
IObject* objectOf(ObjectMap& map, const MapArguments& a) {
  IObject* object = map.find(*a.id);
  if (!object)
    std::fprintf(stderr, "kestel-cli: %s has no object %u\n", a.menu.name.c_str(), *a.id);
  return object;
}

// The holder of a settings page, read once; null after saying why.
Reference<ObjectHolder> readHolder(CommandContext& context, const MenuRef& menu) {
  Reference<ObjectHolder> holder =
      createObjectHolder(static_cast<CItem&>(*menu.type), HolderRegistration::DoNotRegister);
  if (!holder) {
    std::fprintf(stderr, "kestel-cli: %s cannot be shown\n", menu.name.c_str());
    return {};
  }
  holder->refresh();
  if (!context.waitFor([&] { return !holder->reading(); }))
    return {};
  if (!holder->statusText().empty()) {
    std::fprintf(stderr, "%s\n", holder->statusText().c_str());
    return {};
  }
  return holder;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"')
      out += '"';
  }
  return out + "\"";
}

// A --where term: the slot and the value in the convertor's own form.
struct Term {
  const Slot* slot;
  std::string value;
};

bool whereTerms(const CType& type, const std::vector<Assignment>& where, std::vector<Term>& out) {
  for (const Assignment& a : where) {
    const Slot* slot = findField(type, a.field);
    if (!slot) {
      std::fprintf(stderr, "kestel-cli: %s has no field %s\n", type.title().c_str(),
                   a.field.c_str());
      return false;
    }
    // A value typed another way than the table shows it ("0x10" for "16") still matches.
    std::string value = a.value;
    Reference<IBase> made = slot->createConvertor();
    if (auto* convertor = dynamic_cast<IConvertor*>(made.get()))
      if (auto parsed = convertor->parse(a.value); parsed) {
        std::string shown = convertor->format(*parsed);
        if (!shown.empty())
          value = shown;
      }
    out.push_back({slot, value});
  }
  return true;
}

void printObject(const IObject& object, const CType& type) {
  for (const Slot* slot : valueSlots(type))
    if (!slot->has(SLOT_HIDE))
      std::printf("%s: %s\n", slot->name().c_str(), fieldText(object, *slot).c_str());
}

} // namespace

int listObjects(CommandContext& context, const MapArguments& a) {
  const CType& type = *a.menu.type;
  std::vector<Term> terms;
  if (!whereTerms(type, a.values, terms))
    return kExitUsage;
  Reference<ObjectMap> map = fetchedMap(context, a.menu, false);
  if (!map)
    return kExitRefused;
  std::vector<const Slot*> columns = shownSlots(type);
  if (a.format == ListFormat::Json)
    std::printf("[");
  else {
    std::string header = "id";
    for (const Slot* s : columns)
      header += (a.format == ListFormat::Csv ? "," : "\t") + s->name();
    std::printf("%s\n", header.c_str());
  }
  bool first = true;
  map->store().forEach([&](uint32_t id, IObject& object) {
    for (const Term& t : terms)
      if (fieldText(object, *t.slot) != t.value)
        return;
    std::string row;
    if (a.format == ListFormat::Json) {
      row = std::string(first ? "" : ",") + "\n{\"id\":" + std::to_string(id);
      for (const Slot* s : columns)
        row += "," + jsonString(s->name()) + ":" + jsonString(fieldText(object, *s));
      row += "}";
    } else {
      row = std::to_string(id);
      for (const Slot* s : columns) {
        std::string v = fieldText(object, *s);
        row += a.format == ListFormat::Csv ? "," + csvField(v) : "\t" + v;
      }
      row += "\n";
    }
    first = false;
    std::fputs(row.c_str(), stdout);
  });
  if (a.format == ListFormat::Json)
    std::printf("\n]\n");
  return kExitOk;
}

int getObject(CommandContext& context, const MapArguments& a) {
  if (a.menu.type->kind() == TypeKind::Item) {
    Reference<ObjectHolder> holder = readHolder(context, a.menu);
    if (!holder)
      return kExitRefused;
    printObject(*holder->object(), *a.menu.type);
    return kExitOk;
  }
  if (!a.id) {
    std::fprintf(stderr, "kestel-cli: get %s needs an object id\n", a.menu.name.c_str());
    return kExitUsage;
  }
  Reference<ObjectMap> map = fetchedMap(context, a.menu, false);
  if (!map)
    return kExitRefused;
  IObject* object = objectOf(*map, a);
  if (!object)
    return kExitRefused;
  std::printf("id: %u\n", *a.id);
  printObject(*object, *a.menu.type);
  return kExitOk;
}

int setObject(CommandContext& context, const MapArguments& a) {
  auto waiter = makeRef<ChangeWaiter>();
  if (a.menu.type->kind() == TypeKind::Item) {
    Reference<ObjectHolder> holder = readHolder(context, a.menu);
    if (!holder)
      return kExitRefused;
    if (!applyAssignments(*holder->object(), *a.menu.type, a.values))
      return kExitUsage;
    holder->commit(waiter.get());
    return awaitChange(context, *waiter);
  }
  if (!a.id) {
    std::fprintf(stderr, "kestel-cli: set %s needs an object id\n", a.menu.name.c_str());
    return kExitUsage;
  }
  Reference<ObjectMap> map = fetchedMap(context, a.menu, true);
  if (!map)
    return kExitRefused;
  IObject* object = objectOf(*map, a);
  if (!object)
    return kExitRefused;
  if (!applyAssignments(*object, *a.menu.type, a.values))
    return kExitUsage;
  map->commit(object, waiter.get());
  return awaitChange(context, *waiter);
}

int addObject(CommandContext& context, const MapArguments& a) {
  Reference<ObjectMap> map = fetchedMap(context, a.menu, true);
  if (!map)
    return kExitRefused;
  Reference<IObject> object = map->createNew();
  if (!object || !map->commands().exists(Op::Add)) {
    std::fprintf(stderr, "kestel-cli: objects cannot be added to %s\n", a.menu.name.c_str());
    return kExitUsage;
  }
  if (!applyAssignments(*object, *a.menu.type, a.values))
    return kExitUsage;
  auto waiter = makeRef<ChangeWaiter>();
  map->commit(object.get(), waiter.get());
  int code = awaitChange(context, *waiter);
  if (code == kExitOk)
    std::printf("%u\n", object->getID());
  return code;
}

namespace {

// Finds the object `a` names in its fetched map and, when the map offers `op`, runs `change` on it
// and waits for the router's answer; `refusal` is printed when the map does not offer `op`.
template <typename Change>
int changeObject(CommandContext& context, const MapArguments& a, Op op, const std::string& refusal,
                 Change change) {
  Reference<ObjectMap> map = fetchedMap(context, a.menu, true);
  if (!map)
    return kExitRefused;
  IObject* object = objectOf(*map, a);
  if (!object)
    return kExitRefused;
  if (!map->commands().exists(op)) {
    std::fprintf(stderr, "kestel-cli: %s\n", refusal.c_str());
    return kExitUsage;
  }
  auto waiter = makeRef<ChangeWaiter>();
  change(*map, object, waiter.get());
  return awaitChange(context, *waiter);
}

} // namespace

int removeObject(CommandContext& context, const MapArguments& a) {
  return changeObject(
      context, a, Op::Remove, "objects cannot be removed from " + a.menu.name,
      [](ObjectMap& map, IObject* object, IChangeListener* done) { map.remove(object, done); });
}

int moveObject(CommandContext& context, const MapArguments& a) {
  return changeObject(context, a, Op::Move, "objects of " + a.menu.name + " cannot be moved",
                      [&](ObjectMap& map, IObject* object, IChangeListener* done) {
                        map.move(object, a.before.value_or(kNoId), done);
                      });
}

namespace {

// Prints what changed in the map, comparing each object's text with the one printed last: the
// current objects a subscription delivers again, and batches announced as one reset, print only
// what really differs.
class ChangePrinter final : public IMapListener {
public:
  ChangePrinter(ObjectMap& map, const CType& type) : map_(map), type_(type) {
    map.store().forEach([&](uint32_t id, IObject& o) { seen_[id] = objectLine(o, type); });
  }
  void mapChanged(const MapEvent& event) override {
    switch (event.kind) {
    case MapEventKind::Added:
    case MapEventKind::Changed:
      if (event.object)
        show(event.id, *event.object);
      break;
    case MapEventKind::Removed:
      if (seen_.erase(event.id))
        print("- " + std::to_string(event.id));
      break;
    case MapEventKind::Moved:
      print("moved " + std::to_string(event.id));
      break;
    case MapEventKind::Reset:
      resync();
      break;
    }
  }
  size_t changes = 0;

private:
  void show(uint32_t id, const IObject& object) {
    std::string line = objectLine(object, type_);
    auto at = seen_.find(id);
    if (at != seen_.end() && at->second == line)
      return;
    print((at == seen_.end() ? "+ " : "~ ") + std::to_string(id) + " " + line);
    seen_[id] = std::move(line);
  }
  void resync() {
    std::map<uint32_t, std::string> before = seen_;
    map_.store().forEach([&](uint32_t id, IObject& o) {
      before.erase(id);
      show(id, o);
    });
    for (const auto& gone : before) {
      seen_.erase(gone.first);
      print("- " + std::to_string(gone.first));
    }
    if (!map_.statusText().empty())
      print("! " + map_.statusText());
  }
  void print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    ++changes;
  }
  ObjectMap& map_;
  const CType& type_;
  std::map<uint32_t, std::string> seen_;
};

} // namespace

int watchObjects(CommandContext& context, const MapArguments& a) {
  Reference<ObjectMap> map = fetchedMap(context, a.menu, true);
  if (!map)
    return kExitRefused;
  auto printer = makeRef<ChangePrinter>(*map, *a.menu.type);
  map->addListener(printer.get());
  std::printf("watching %s (%zu objects)\n", a.menu.name.c_str(), map->size());
  std::fflush(stdout);
  context.timeoutMs = 0xFFFFFFFF;
  bool ended = !context.waitFor([&] { return a.count != 0 && printer->changes >= a.count; });
  map->removeListener(printer.get());
  return ended ? kExitRefused : kExitOk;
}

} // namespace kestel::cli
