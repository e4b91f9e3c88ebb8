// A table pane's map commands against the simulator's menus served in-process over loopback:
// what the pane offers for the firewall rules (21,4), the interfaces (20,1) and the read-only log,
// remove, enable and disable over a selection (with an object removed meanwhile), move, refresh,
// add, comment and double click through the editor opener, and the refusals of --fail-commits
// with the router's text and the pane's summary.
#include "miw/TablePaneActions.h"
#include "api/container/MapFactories.h"
#include "api/net/Looper.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "miw/TablePaneCommands.h"
#include "sim/MenuTestSupport.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

namespace kestel::test {
namespace {

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string& text) override {
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

struct NoHooks final : IHandlerHooks {
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
};

struct Opener final : IObjectEditorOpener {
  void openObjectEditor(ObjectMap&, IObject& object, bool isNew) override {
    opened.push_back({Reference<IObject>(&object), isNew});
  }
  void openCommentEditor(ObjectMap&, IObject& object) override {
    comments.push_back(object.getID());
  }
  std::vector<std::pair<Reference<IObject>, bool>> opened;
  std::vector<uint32_t> comments;
};

const Path kFirewall{21, 4};
constexpr uint32_t kRuleDisabled = 0x1D;

class TablePaneActionsTest : public ::testing::Test {
protected:
  TablePaneActionsTest() {
    resetLooper();
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok());
    EXPECT_TRUE(completeAllTypes().ok());
  }
  ~TablePaneActionsTest() override {
    actions.reset();
    map = nullptr; // before the looper that holds its requests
    handler = nullptr;
    resetLooper();
  }

  // Logs in as `user` with the policy bits the program would take from the login reply.
  void start(sim::CatalogueOptions options = {}, const char* user = "admin",
             uint32_t policy = 0xFFFFFFFF) {
    setUserPolicy(policy);
    router = std::make_unique<MenuRouter>(reactor, std::move(options));
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
    getLooper()->setSessionFactory(createProxy);
    connection->connect(kLoopback, router->server.port());
    static_cast<SecureSession*>(getLooper()->session())->start(user, "pw", nullptr);
    handler = createHandler(&hooks);
    other = std::make_unique<MenuClient>(reactor, router->server.port(), "admin");
  }
  CType& menu(const char* name) {
    auto found = findMenu(name);
    EXPECT_TRUE(found.ok()) << name;
    return *found->type;
  }
  // Opens the map of the menu and a pane's actions over it.
  void openPane(const char* name) {
    map = createContainer(static_cast<CMap&>(menu(name)));
    map->open();
    map->refresh();
    settle();
    actions = std::make_unique<TablePaneActions>(
        map, &opener, [this] { statuses.push_back(actions->statusText()); });
  }
  PaneFacts facts(size_t selected) {
    PaneFacts f;
    f.withCommands = true;
    f.selected = selected;
    f.rows = map->size();
    readMapCommands(map->commands(), f);
    readTypeMembers(&menu(map->getType().c_str()), f);
    return f;
  }
  bool roundTrip() {
    auto replies = makeRef<RecordingListener>();
    handler->request(CMD_NOOP, Path{1}, nv::message(), replies.get(), 10000);
    return runUntil(reactor, [&] { return !replies->messages.empty(); });
  }
  void settle() {
    for (int round = 0; round < 100; ++round) {
      ASSERT_TRUE(roundTrip());
      if (map->fetchState() != FetchState::Running && map->fetchState() != FetchState::Paging &&
          map->pendingAdds() == 0)
        return;
    }
    FAIL() << "the map did not settle";
  }
  // The router's rule as another client reads it.
  nv::message rule(uint32_t id) {
    nv::message ask;
    ask.set(STD_ID, id);
    return other->call(kFirewall, CMD_GETOBJ, ask);
  }
  std::vector<uint32_t> routerOrder() {
    std::vector<uint32_t> ids;
    nv::message reply = other->call(kFirewall, CMD_GETALL);
    reply.forEach(STD_OBJS, [&](const nv::message& o) { ids.push_back(o.get(STD_ID)); });
    return ids;
  }

  ModelContext model;
  ModelScope modelScope{model};
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope reactorScope{reactor};
  Boxes boxes;
  MessageBoxScope boxScope{boxes};
  std::unique_ptr<MenuRouter> router;
  Reference<Connection> connection;
  NoHooks hooks;
  Reference<IHandler> handler;
  std::unique_ptr<MenuClient> other;
  Reference<ObjectMap> map;
  Opener opener;
  std::unique_ptr<TablePaneActions> actions;
  std::vector<std::string> statuses;
};

// What the pane offers follows the map's command table and the type's members.
TEST_F(TablePaneActionsTest, OfferedCommandsFollowTheMapAndType) {
  start();
  struct Case {
    const char* menu;
    bool add, remove, change, disabled, comment;
  };
  const Case cases[] = {
      {"IP/Firewall", true, true, true, true, true},
      {"Interfaces", false, false, true, true, true},
      {"Log", false, false, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.menu);
    openPane(c.menu);
    PaneFacts f = facts(1);
    EXPECT_EQ(f.canAdd, c.add);
    EXPECT_EQ(f.canRemove, c.remove);
    EXPECT_EQ(f.hasDisabled, c.disabled);
    EXPECT_EQ(f.hasComment, c.comment);
    EXPECT_EQ(commandForKey({kKeyInsert, false, false}, f) == PaneCommand::Add, c.add);
  }
}

// The interfaces need write policy 0x80, which the viewer lacks.
TEST_F(TablePaneActionsTest, AReadOnlyUserIsOfferedNoChanges) {
  start({}, "viewer", 0x40);
  openPane("Interfaces");
  PaneFacts f = facts(2);
  EXPECT_FALSE(f.canAdd || f.canRemove || f.canChange);
  EXPECT_FALSE(commandOffered(PaneCommand::Enable, f));
  EXPECT_TRUE(commandEnabled(PaneCommand::Copy, f));
}

// Enabling a selection that holds an object removed meanwhile enables the others.
TEST_F(TablePaneActionsTest, DisableAndEnableSkipObjectsRemovedMeanwhile) {
  start();
  openPane("IP/Firewall");
  std::vector<uint32_t> ids = map->ids();
  ASSERT_GE(ids.size(), 3u);
  std::vector<uint32_t> selection{ids[0], ids[1], ids[2]};

  actions->setDisabled(selection, true);
  EXPECT_EQ(statuses.front(), "Disabling 3 items");
  settle();
  EXPECT_EQ(actions->statusText(), "Disabled 3 items");
  for (uint32_t id : selection)
    EXPECT_TRUE(rule(id).get(nv::bool_id(kRuleDisabled))) << id;

  nv::message gone;
  gone.set(STD_ID, ids[1]);
  other->call(kFirewall, CMD_REMOVEOBJ, gone);
  settle();
  ASSERT_FALSE(map->find(ids[1]));
  actions->setDisabled(selection, false);
  settle();
  EXPECT_EQ(actions->statusText(), "Enabled 2 items");
  EXPECT_FALSE(rule(ids[0]).get(nv::bool_id(kRuleDisabled)));
  EXPECT_FALSE(rule(ids[2]).get(nv::bool_id(kRuleDisabled)));
  EXPECT_FALSE(isDisabled(*map->find(ids[2])));
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(TablePaneActionsTest, RemoveMoveAndRefresh) {
  start();
  openPane("IP/Firewall");
  std::vector<uint32_t> ids = map->ids();
  ASSERT_GE(ids.size(), 4u);

  // The last two rules go to the front, keeping their order.
  actions->move({ids[3], ids[2]}, ids[0]);
  settle();
  EXPECT_EQ(actions->statusText(), "Moved 2 items");
  std::vector<uint32_t> order = routerOrder();
  EXPECT_EQ(std::vector<uint32_t>(order.begin(), order.begin() + 3),
            (std::vector<uint32_t>{ids[3], ids[2], ids[0]}));

  actions->remove({ids[0], ids[1], 999999});
  settle();
  EXPECT_EQ(actions->statusText(), "Removed 2 items") << "an id not in the map is skipped";
  EXPECT_FALSE(map->find(ids[0]));
  EXPECT_EQ(rule(ids[1]).get(SYS_ERRNO), ERROR_UNKNOWNID);
  actions->remove({ids[0]});
  EXPECT_EQ(actions->statusText(), "Nothing to remove");

  actions->refresh();
  EXPECT_NE(map->fetchState(), FetchState::Complete) << "a fetch is on its way";
  settle();
  EXPECT_EQ(map->ids(), routerOrder());
}

TEST_F(TablePaneActionsTest, AddCommentAndDoubleClickGoThroughTheOpener) {
  start();
  openPane("IP/Firewall");
  std::vector<uint32_t> ids = map->ids();
  actions->add();
  ASSERT_EQ(opener.opened.size(), 1u);
  EXPECT_TRUE(opener.opened[0].second) << "a new object";
  EXPECT_FALSE(opener.opened[0].first->hasID());
  EXPECT_FALSE(map->find(opener.opened[0].first->getID()));

  actions->comment({999999, ids[2], ids[1]});
  EXPECT_EQ(opener.comments, std::vector<uint32_t>{ids[2]});
  EXPECT_TRUE(actions->open(ids[1]));
  EXPECT_FALSE(actions->open(999999));
  ASSERT_EQ(opener.opened.size(), 2u);
  EXPECT_EQ(opener.opened[1].first->getID(), ids[1]);
  EXPECT_FALSE(opener.opened[1].second);

  // The editor commits the new object through the map; the pane then shows it.
  const Slot* comment = static_cast<CType&>(menu("IP/Firewall")).slot("comment");
  ASSERT_TRUE(setFieldText(*opener.opened[0].first, *comment, "from the pane").ok());
  map->commit(opener.opened[0].first.get());
  settle();
  ASSERT_TRUE(opener.opened[0].first->hasID());
  EXPECT_EQ(rule(opener.opened[0].first->getID()).get(nv::string_id(0x1E)), "from the pane");
}

// --fail-commits: each object's refusal is shown with the router's text by the map, and the pane
// sums up how many went through.
TEST_F(TablePaneActionsTest, RefusalsShowTheRoutersTextAndTheSummary) {
  sim::CatalogueOptions options;
  options.menus.failCommits = true;
  start(options);
  openPane("IP/Firewall");
  std::vector<uint32_t> ids = map->ids();
  struct Case {
    std::function<void()> run;
    const char* box;
    const char* status;
  };
  const Case cases[] = {
      {[&] {
         actions->setDisabled({ids[0], ids[1]}, true);
       },
       "Couldn't change ", "Disabled 0 of 2 items"},
      {[&] { actions->remove({ids[2]}); }, "Couldn't remove ", "Removed 0 of 1 item"},
      {[&] { actions->move({ids[3]}, ids[0]); }, "Couldn't move ", "Moved 0 of 1 item"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    boxes.texts.clear();
    c.run();
    settle();
    ASSERT_FALSE(boxes.texts.empty());
    for (const std::string& text : boxes.texts)
      EXPECT_EQ(text.rfind(c.box, 0), 0u) << text;
    EXPECT_EQ(actions->statusText(), c.status);
  }
  settle();
  EXPECT_FALSE(isDisabled(*map->find(ids[0]))) << "the refetch brings the router's state back";
  EXPECT_EQ(map->ids(), routerOrder());
}

} // namespace
} // namespace kestel::test
