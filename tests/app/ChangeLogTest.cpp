// The change list, safe mode and Undo/Redo against the simulator's menus served in-process over
// loopback through the secure session, on the manual clock. The oracle is the router's own store:
// after a revert, an undo or a rollback it must hold exactly the objects it held before.
#include "app/ChangeLog.h"
#include "api/container/DescriptorContainers.h"
#include "api/container/MapFactories.h"
#include "api/net/Looper.h"
#include "app/ChangeList.h"
#include "app/ChangeScript.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "app/RouterIdentity.h"
#include "app/SafeMode.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "sim/MenuTestSupport.h"
#include "support/ChangeReplay.h"
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kestel::test {
namespace {

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string& title, const std::string& text) override {
    shown.push_back(title + ": " + text);
  }
  std::vector<std::string> shown;
};

struct Outcome final : IChangeListener {
  void changeDone(IObject*, ChangeResult) override { told = true; }
  bool told = false;
};

class ChangeLogTest : public ::testing::Test {
protected:
  ChangeLogTest() {
    resetLooper();
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SAMPLE_DIR) + "/" + name).ok()) << name;
    EXPECT_TRUE(completeAllTypes().ok());
  }
  ~ChangeLogTest() override {
    map = nullptr;
    resetLooper();
  }

  void start(const char* user = "admin", const char* menuName = "IP/Addresses",
             const char* storeName = "addresses") {
    menuName_ = menuName;
    router = std::make_unique<MenuRouter>(reactor, sim::CatalogueOptions{});
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect(kLoopback, router->server.port());
    static_cast<SecureSession*>(getLooper()->session())->start(user, "pw", nullptr);
    auto found = findMenu(menuName);
    ASSERT_TRUE(found.ok());
    type = found->type;
    map = createContainer(static_cast<CMap&>(*type));
    map->open();
    map->refresh();
    ASSERT_TRUE(runUntil(reactor, [&] { return map->fetchState() == FetchState::Complete; }));
    store = router->catalogue->store(storeName);
    comment = findField(*type, "comment");
    ASSERT_NE(comment, nullptr);
  }

  // Every object of the router's store, in order.
  std::vector<nv::message> routerObjects() const {
    std::vector<nv::message> out;
    for (size_t i = 0; i < store->size(); ++i)
      out.push_back(store->get(store->idAt(i)));
    return out;
  }
  IObject* firstObject() {
    IObject* first = nullptr;
    map->store().forEach([&](uint32_t, IObject& o) {
      if (!first)
        first = &o;
    });
    return first;
  }
  // Edits the comment of `object` through the log; waits for the router's answer.
  size_t setComment(IObject& object, const std::string& text) {
    ObjectValues before = objectValues(object, *type);
    EXPECT_TRUE(setFieldText(object, *comment, text).ok());
    size_t n = log.commit(*map, menuName_, *type, &object, std::move(before));
    waitFor(n);
    return n;
  }
  // Commits the object unchanged: a commit sends every field of the object, so the router's copy
  // may gain fields it did not store before (the netmask of an address); the comparisons start
  // from there.
  void normalize(IObject& object) {
    auto done = makeRef<Outcome>();
    map->commit(&object, done.get());
    ASSERT_TRUE(runUntil(reactor, [&] { return done->told; }));
  }
  void waitFor(size_t number) {
    EXPECT_TRUE(runUntil(reactor, [&] { return log.find(number)->state != ChangeState::Waiting; }));
  }
  // Lets the router's timers run (the safe-mode holder check).
  void pass(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 10) {
      reactor.runOnce(1);
      reactor.advance(10);
    }
  }

  std::string menuName_;
  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
  Boxes boxes;
  MessageBoxScope boxScope{boxes};
  std::unique_ptr<MenuRouter> router;
  Reference<Connection> connection;
  Reference<ObjectMap> map;
  sim::MenuStore* store = nullptr;
  CType* type = nullptr;
  const Slot* comment = nullptr;
  int64_t wall = 1'700'000'000'000;
  ChangeLog log{[this] { return wall; }};
};

TEST_F(ChangeLogTest, RecordsAndRevertsEachKindOfChange) {
  start("admin", "IP/Firewall", "firewall");
  IObject* object = firstObject();
  ASSERT_NE(object, nullptr);
  normalize(*object);
  std::vector<nv::message> original = routerObjects();
  std::string was = fieldText(*object, *comment);

  size_t set = setComment(*object, "core uplink");
  const ChangeRecord& c = *log.find(set);
  EXPECT_EQ(c.state, ChangeState::Succeeded);
  EXPECT_EQ(c.kind, ChangeKind::Set);
  EXPECT_EQ(c.time, wall);
  ASSERT_EQ(c.fields.size(), 1u);
  EXPECT_EQ(c.fields[0].before, was);
  EXPECT_EQ(c.fields[0].after, "core uplink");
  EXPECT_NE(describeChange(c, "12:00:00").find(was + " -> core uplink - done"), std::string::npos);
  EXPECT_NE(routerObjects(), original);

  auto reverted = log.revert(set);
  ASSERT_TRUE(reverted.ok()) << reverted.error().text;
  waitFor(*reverted);
  EXPECT_EQ(log.find(*reverted)->reverts, set);
  EXPECT_EQ(routerObjects(), original);
  EXPECT_FALSE(log.revert(set).ok()); // once only

  // An added object is removed again; a removed one comes back with the same values.
  Reference<IObject> added = map->createNew();
  ASSERT_TRUE(setFieldText(*added, *comment, "new").ok());
  size_t add = log.commit(*map, menuName_, *type, added.get(), {});
  waitFor(add);
  ASSERT_EQ(log.find(add)->state, ChangeState::Succeeded);
  EXPECT_NE(log.find(add)->id, NO_ID);
  EXPECT_EQ(store->size(), original.size() + 1);
  auto undoAdd = log.revert(add);
  ASSERT_TRUE(undoAdd.ok()) << undoAdd.error().text;
  waitFor(*undoAdd);
  EXPECT_EQ(routerObjects(), original);

  object = firstObject();
  size_t removed = log.remove(*map, menuName_, *type, object);
  waitFor(removed);
  ASSERT_EQ(log.find(removed)->state, ChangeState::Succeeded);
  EXPECT_EQ(store->size(), original.size() - 1);
  auto back = log.revert(removed);
  ASSERT_TRUE(back.ok()) << back.error().text;
  waitFor(*back);
  ASSERT_EQ(store->size(), original.size());
  nv::message again = store->get(store->idAt(store->size() - 1));
  again.set(STD_ID, original.front().get(STD_ID));
  EXPECT_EQ(again, original.front());
}

TEST_F(ChangeLogTest, UndoAndRedoThroughTheRouter) {
  start();
  UndoRedo history(&log);
  history.undo(); // nothing done yet
  ASSERT_TRUE(runUntil(reactor, [&] { return history.waiting() == 0; }));
  normalize(*firstObject());
  std::vector<nv::message> original = routerObjects();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].rfind("Nimbalux Kestel Error: Could not Undo - nothing to undo (", 0),
            0u)
      << boxes.shown[0];

  size_t n = setComment(*firstObject(), "changed");
  std::vector<nv::message> changed = routerObjects();
  history.undo();
  ASSERT_TRUE(runUntil(reactor, [&] { return history.waiting() == 0; }));
  EXPECT_EQ(routerObjects(), original);
  EXPECT_TRUE(log.find(n)->undone);
  EXPECT_FALSE(log.revert(n).ok()); // not in effect
  history.redo();
  ASSERT_TRUE(runUntil(reactor, [&] { return history.waiting() == 0; }));
  EXPECT_EQ(routerObjects(), changed);
  EXPECT_FALSE(log.find(n)->undone);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(ChangeLogTest, SafeModeGroupsChangesAndRollsBackWhenTheConnectionDrops) {
  start();
  normalize(*firstObject());
  std::vector<nv::message> original = routerObjects();
  std::vector<bool> toggles;
  SafeMode safe([&](bool on) { toggles.push_back(on); }, &log);
  size_t outside = setComment(*firstObject(), "before safe mode");
  std::vector<nv::message> kept = routerObjects();

  safe.enable();
  ASSERT_TRUE(runUntil(reactor, [&] { return safe.id() != kNoSafeMode; }));
  size_t a = setComment(*firstObject(), "one");
  size_t b = setComment(*firstObject(), "two");
  EXPECT_EQ(log.find(outside)->safeMode, kNoSafeMode);
  EXPECT_EQ(log.find(a)->safeMode, safe.id());
  auto groups = log.groups();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[1].count, 2u);
  EXPECT_EQ(log.find(b)->safeMode, groups[1].safeMode);

  // The connection drops: the router rolls back what was done in safe mode, nothing else.
  connection->close(CloseMode::Now);
  pass(1000);
  EXPECT_EQ(routerObjects(), kept);
  EXPECT_NE(routerObjects(), original);
  EXPECT_EQ(toggles, (std::vector<bool>{true}));
}

TEST_F(ChangeLogTest, AnotherClientTakingSafeModeReleasesIt) {
  start();
  std::vector<bool> toggles;
  SafeMode safe([&](bool on) { toggles.push_back(on); }, &log);
  safe.enable();
  ASSERT_TRUE(runUntil(reactor, [&] { return safe.id() != kNoSafeMode; }));
  setComment(*firstObject(), "kept");
  std::vector<nv::message> changed = routerObjects();

  MenuClient other(reactor, router->server.port(), "admin");
  nv::message reply = other.call({17}, CMD_SAFEMODE_ON);
  EXPECT_FALSE(isError(reply));
  ASSERT_TRUE(runUntil(reactor, [&] { return !safe.on(); }));
  EXPECT_EQ(safe.id(), kNoSafeMode);
  EXPECT_EQ(toggles, (std::vector<bool>{true, false}));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0], "Info: Safe Mode released by other process");
  // Our changes stay although our connection goes now.
  connection->close(CloseMode::Now);
  pass(1000);
  EXPECT_EQ(routerObjects(), changed);
}

TEST_F(ChangeLogTest, SafeModeOnAndOffAndRefusal) {
  start("viewer");
  std::vector<bool> toggles;
  SafeMode safe([&](bool on) { toggles.push_back(on); }, &log);
  safe.enable();
  EXPECT_TRUE(safe.on()); // shown on while the router answers
  ASSERT_TRUE(runUntil(reactor, [&] { return !safe.on(); }));
  EXPECT_EQ(toggles, (std::vector<bool>{true, false}));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].rfind("Nimbalux Kestel Error: Could not enable Safe Mode - ", 0), 0u)
      << boxes.shown[0];
}

TEST_F(ChangeLogTest, SafeModeReleasedKeepsChanges) {
  start();
  SafeMode safe(nullptr, &log);
  safe.enable();
  ASSERT_TRUE(runUntil(reactor, [&] { return safe.id() != kNoSafeMode; }));
  setComment(*firstObject(), "kept after release");
  std::vector<nv::message> changed = routerObjects();
  safe.disable();
  ASSERT_TRUE(runUntil(reactor, [&] { return !safe.on(); }));
  EXPECT_TRUE(router->catalogue->history().safeModeHeld() == false);
  connection->close(CloseMode::Now);
  pass(1000);
  EXPECT_EQ(routerObjects(), changed);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ChangeLogTest, SwitchedOffBeforeTheRouterAnswersReleasesTheId) {
  start();
  SafeMode safe(nullptr, &log);
  safe.enable();
  safe.disable();
  EXPECT_FALSE(safe.on());
  ASSERT_TRUE(runUntil(reactor, [&] { return safe.waiting() == 0; }));
  EXPECT_FALSE(router->catalogue->history().safeModeHeld());
  EXPECT_FALSE(safe.on());
  EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
} // namespace kestel::test

namespace kestel::test {
namespace {

// Every object of a menu as another client fetches it.
std::vector<nv::message> fetchAll(PollReactor& reactor, uint16_t port, const Path& path) {
  MenuClient client(reactor, port, "admin");
  nv::message reply = client.call(path, CMD_GETALL);
  std::vector<nv::message> objects;
  reply.forEach(STD_OBJS, [&](const nv::message& o) { objects.push_back(o); });
  return objects;
}

TEST_F(ChangeLogTest, ExportedScriptReplaysTheChangesOnAnotherRouter) {
  start("admin", "IP/Firewall", "firewall");
  size_t before = store->size();
  IObject* first = firstObject();
  uint32_t firstId = first->getID();
  setComment(*first, "it's replayed");
  Reference<IObject> added = map->createNew();
  ASSERT_TRUE(setFieldText(*added, *comment, "added here").ok());
  waitFor(log.commit(*map, menuName_, *type, added.get(), {}));
  // The added object changed again: the script names it by the id its add printed.
  setComment(*map->find(added->getID()), "added, then changed");
  IObject* second = nullptr;
  map->store().forEach([&](uint32_t id, IObject& o) {
    if (!second && id != firstId && id != added->getID())
      second = &o;
  });
  ASSERT_NE(second, nullptr);
  waitFor(log.remove(*map, menuName_, *type, second));
  // A refused change and an undone one are not replayed.
  size_t undone = setComment(*first, "undone");
  UndoRedo history(&log);
  history.undo();
  ASSERT_TRUE(runUntil(reactor, [&] { return history.waiting() == 0; }));
  ASSERT_TRUE(log.find(undone)->undone);
  ASSERT_EQ(store->size(), before);

  std::string script = changeScript(log);
  EXPECT_EQ(script.find("undone"), std::string::npos) << script;
  TempFolder folder;
  std::ofstream(folder.file("changes.sh")) << script;
  SimProcess other(KESTEL_SIM_PATH, {"--user", "admin:pw"});
  ASSERT_NE(other.port, 0);
  std::string ran = replayChangeScript(folder.file("changes.sh"), other.port, KESTEL_CLI_PATH);
  EXPECT_NE(ran.find("exit 0"), std::string::npos) << ran << "\n" << script;
  EXPECT_EQ(fetchAll(reactor, static_cast<uint16_t>(other.port), {21, 4}), routerObjects())
      << script;
}

TEST_F(ChangeLogTest, TitleGrowsWithTheRouterValues) {
  start();
  SessionTitle base;
  base.login = "admin";
  base.address = "127.0.0.1";
  std::vector<std::string> titles{sessionTitleText(base)};
  RouterIdentity identity(base,
                          [&](const SessionTitle& t) { titles.push_back(sessionTitleText(t)); });
  identity.start();
  ASSERT_TRUE(runUntil(reactor, [&] { return identity.waiting() == 0; }));
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_EQ(titles[0], "admin@127.0.0.1 - Kestel (64bit)");
  // The simulator's identity and resources pages.
  EXPECT_EQ(titles[2], "admin@127.0.0.1 (Router) - Kestel (64bit) v7.15 on mipsbe (hex-s)");
}

TEST(ChangeScriptTest, QuotesForTheShell) {
  // The shell itself is the oracle: what it reads back is the text.
  for (std::string text : {"plain", "it's", "'", "$HOME `x` \\ \"q\"", "a\nb", ""}) {
    std::string out = runCommand("printf %s " + shellQuoted(text));
    EXPECT_EQ(out, text + "exit 0");
  }
}

} // namespace
} // namespace kestel::test

namespace kestel::test {
namespace {

// What the Changes window shows and offers as the log goes through a safe-mode session, an
// undo, a redo and a revert.
TEST_F(ChangeLogTest, ChangeListRowsAndCommands) {
  start();
  normalize(*firstObject());
  auto time = [](int64_t ms) { return "t" + std::to_string(ms); };
  EXPECT_TRUE(changeRows(log, time).empty());
  EXPECT_FALSE(changeCommands(log, 0, false).undo);
  EXPECT_FALSE(changeCommands(log, 0, false).exportScript);

  size_t told = 0;
  ChangeLog::ListenerHandle listening = log.addListener([&](const ChangeRecord&) { ++told; });
  std::string was = fieldText(*firstObject(), *comment);
  size_t a = setComment(*firstObject(), "one");
  SafeMode safe(nullptr, &log);
  safe.enable();
  ASSERT_TRUE(runUntil(reactor, [&] { return safe.id() != kNoSafeMode; }));
  size_t b = setComment(*firstObject(), "two");
  wall += 1000;
  size_t c = setComment(*firstObject(), "three");
  EXPECT_EQ(told, 6u); // recorded, then answered
  listening.reset();

  std::string title = comment->titleText().empty() ? comment->name() : comment->titleText();
  EXPECT_FALSE(title.empty());
  struct Expect {
    bool header, inGroup;
    size_t number;
    std::vector<std::string> texts;
  };
  auto check = [&](const std::vector<Expect>& expected) {
    std::vector<ChangeRow> rows = changeRows(log, time);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(rows[i].header, expected[i].header);
      EXPECT_EQ(rows[i].inGroup, expected[i].inGroup);
      EXPECT_EQ(rows[i].number, expected[i].number);
      for (size_t t = 0; t < expected[i].texts.size(); ++t)
        EXPECT_EQ(rows[i].texts[t], expected[i].texts[t]) << t;
    }
  };
  std::string object = firstObject()->getName() + " changed";
  std::string t0 = "t" + std::to_string(wall - 1000), t1 = "t" + std::to_string(wall);
  check({{false, false, a, {t0, menuName_, object, title + ": " + was + " -> one", "done"}},
         {true, false, 0, {t0, "Safe Mode session (2 changes)", "", "", ""}},
         {false, true, b, {t0, menuName_, object, title + ": one -> two", "done"}},
         {false, true, c, {t1, menuName_, object, title + ": two -> three", "done"}}});
  ChangeCommands can = changeCommands(log, b, false);
  EXPECT_TRUE(can.undo && can.revert && can.exportScript);
  EXPECT_FALSE(can.redo);
  EXPECT_FALSE(changeCommands(log, 0, false).revert);
  EXPECT_FALSE(changeCommands(log, b, true).undo); // an answer is awaited

  UndoRedo history(&log);
  size_t answers = 0;
  history.setAnswered([&] { ++answers; });
  history.undo();
  ASSERT_TRUE(runUntil(reactor, [&] { return answers == 1; }));
  EXPECT_EQ(changeRows(log, time).back().texts[int(ChangeColumn::Result)], "undone");
  EXPECT_TRUE(changeCommands(log, 0, false).redo);
  EXPECT_FALSE(changeCommands(log, c, false).revert);
  history.redo();
  ASSERT_TRUE(runUntil(reactor, [&] { return answers == 2; }));
  EXPECT_FALSE(changeCommands(log, 0, false).redo);

  auto d = log.revert(b);
  ASSERT_TRUE(d.ok()) << d.error().text;
  waitFor(*d);
  std::vector<ChangeRow> rows = changeRows(log, time);
  EXPECT_EQ(rows[2].texts[int(ChangeColumn::Result)], "reverted by #" + std::to_string(*d));
  EXPECT_EQ(rows.back().texts[int(ChangeColumn::Fields)],
            "reverts #" + std::to_string(b) + "; " + title + ": three -> one");
  EXPECT_EQ(rows[1].texts[int(ChangeColumn::Menu)], "Safe Mode session (3 changes)");
  EXPECT_FALSE(changeCommands(log, b, false).revert);
  EXPECT_EQ(told, 6u); // the reset handle heard nothing more
}

TEST_F(ChangeLogTest, ListenersComeAndGoWhileTheLogTells) {
  start();
  std::vector<std::string> heard;
  ChangeLog::ListenerHandle second;
  ChangeLog::ListenerHandle first = log.addListener([&](const ChangeRecord&) {
    heard.push_back("first");
    second.reset(); // removing another listener while telling
  });
  second = log.addListener([&](const ChangeRecord&) { heard.push_back("second"); });
  ChangeLog::ListenerHandle third = log.addListener([&](const ChangeRecord&) {
    heard.push_back("third");
    third.reset(); // and itself
  });
  log.setListener([&](const ChangeRecord&) { heard.push_back("session"); });
  setComment(*firstObject(), "told");
  EXPECT_EQ(heard, (std::vector<std::string>{"session", "first", "third", "session", "first"}));

  // A handle may outlive its log.
  auto other = std::make_unique<ChangeLog>();
  ChangeLog::ListenerHandle moved = std::move(first);
  moved = other->addListener([](const ChangeRecord&) {});
  other.reset();
  moved.reset();
}

} // namespace
} // namespace kestel::test
