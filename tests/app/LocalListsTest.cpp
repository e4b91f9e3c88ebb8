// The loader's lists served by local handlers, read the way the loader reads them: an object
// map at the handler's path mirrors the neighbour list and the managed list (with its agent
// filter) through fetches and subscription notifications. No socket is opened: neighbours go
// straight into the table.
#include "api/container/ObjectMap.h"
#include "api/net/Events.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"
#include "app/AddressBookStore.h"
#include "app/Discovery.h"
#include "app/HoplinkStep.h"
#include "app/NeighbourHandler.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kestel {
namespace {

struct Row {
  std::string text; // the neighbour's identity, the entry's address
};

class RowObject final : public RecordObject<Row> {
public:
  using RecordObject::RecordObject;
  std::string getName() const override { return rec().text; }
};

Reference<IObjectFactory> rowFactory(nv::string_id key) {
  auto packer = createPacker();
  packer->add(createText(memberOf(&Row::text), key), 1);
  return createFactory(
      [packer](const nv::message&) { return Reference<IObject>(new RowObject(packer)); });
}

// The rows of a map, sorted (a map shows objects notified later after the others).
std::vector<std::string> rows(const ObjectMap& map) {
  std::vector<std::string> out;
  for (uint32_t id : map.ids())
    out.push_back(static_cast<RowObject*>(map.find(id))->rec().text);
  std::sort(out.begin(), out.end());
  return out;
}

class LocalListsTest : public ::testing::Test {
protected:
  LocalListsTest() : scope_(reactor_) {}
  ~LocalListsTest() override {
    client_->detach();
    resetLooper();
  }

  nv::message ask(const Path& to, uint32_t command, nv::message request = {}) {
    struct Replies final : EventListener {
      void onEvent(Event& event) override {
        if (const nv::message* m = messageOf(event))
          last = *m;
      }
      nv::message last;
    };
    Reference<Replies> replies(new Replies);
    client_->request(command, to, std::move(request), replies.get(), 0);
    return replies->last;
  }

  struct FreshLooper {
    FreshLooper() { resetLooper(); }
  } freshLooper_;
  PollReactor reactor_{PollReactor::Clock::Manual};
  ReactorScope scope_;
  Reference<IHandler> client_ = createHandler(nullptr);
};

Neighbour neighbour(uint8_t last, const std::string& identity) {
  Neighbour n;
  n.mac = {0x02, 0, 0, 0, 0, last};
  n.address[10] = n.address[11] = 0xFF;
  n.address[12] = 198;
  n.address[13] = 18;
  n.address[15] = last;
  n.identity = identity;
  return n;
}

TEST_F(LocalListsTest, NeighbourMapFollowsTheTableWithoutARouter) {
  ASSERT_EQ(routerConnection(), nullptr); // the loader has no router while it lists neighbours
  NeighbourTable table;
  int refreshes = 0;
  NeighbourHandler handler(table, [&] { ++refreshes; });
  table.apply(neighbour(1, "alpha"));

  auto map = makeRef<ObjectMap>(rowFactory(neighbour_key::kIdentity), Path{0, kDiscoveryHandlerId},
                                ObjectMapOptions{});
  map->open();
  reactor_.runOnce(0);
  EXPECT_TRUE(map->isSubscribed());
  EXPECT_EQ(handler.subscriberCount(), 1u);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"alpha"})); // delivered on subscribing

  // Added, changed (same MAC and sender), and a second sender of the same MAC.
  table.apply(neighbour(2, "beta"));
  table.apply(neighbour(1, "alpha-renamed"));
  Neighbour v6 = neighbour(2, "beta-v6");
  v6.address = {0x20, 0x01, 0x0d, 0xb8};
  v6.type = 1;
  table.apply(v6);
  table.apply(neighbour(2, "beta")); // unchanged: no notice
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"alpha-renamed", "beta", "beta-v6"}));
  EXPECT_EQ(map->objectCount(), 3u);

  // A fetch gives the same list, and the ids are the table's.
  map->refresh();
  reactor_.runOnce(0);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"alpha-renamed", "beta", "beta-v6"}));
  EXPECT_EQ(map->ids(), (std::vector<uint32_t>{1, 2, 3}));

  EXPECT_EQ(ask(Path{0, kDiscoveryHandlerId}, kRefreshNeighbours).get(SYS_STATUS, STATUS_OK),
            STATUS_OK);
  EXPECT_EQ(refreshes, 1);

  map->unsubscribe();
  EXPECT_EQ(handler.subscriberCount(), 0u);
  table.apply(neighbour(3, "gamma"));
  EXPECT_EQ(map->size(), 3u);
}

TEST_F(LocalListsTest, ManagedMapFollowsEditsAndTheAgentFilter) {
  test::TempFolder dir;
  AddressBookStore store(reactor_);
  const Path book{0, kAddressBookHandlerId};
  auto add = [&](const std::string& address, const std::string& agent) {
    nv::message e;
    e.set(entry::kAddress, address);
    e.set(entry::kLogin, "admin");
    e.set(entry::kAgent, agent);
    return ask(book, CMD_ADDOBJ, e).get(STD_ID);
  };
  add("direct", "");
  uint32_t via = add("via-a", "198.18.0.1");
  add("via-b", "198.18.0.2");

  auto map = makeRef<ObjectMap>(rowFactory(entry::kAddress), book, ObjectMapOptions{});
  map->open();
  reactor_.runOnce(0);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"direct", "via-a", "via-b"}));

  // The loader attached to agent 198.18.0.1: only its entries stay.
  ask(book, bookcmd::kAgentFilter, agentFilterCommand("198.18.0.1"));
  reactor_.runOnce(0);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"via-a"}));

  // Edits under the filter: an entry of another agent stays hidden, one moved away dies.
  add("via-c", "198.18.0.1");
  add("elsewhere", "198.18.0.2");
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"via-a", "via-c"}));
  nv::message move;
  move.set(STD_ID, via);
  move.set(entry::kAgent, "198.18.0.2");
  ask(book, CMD_SETOBJ, move);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"via-c"}));
  move.set(entry::kAgent, "198.18.0.1");
  ask(book, CMD_SETOBJ, move);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"via-a", "via-c"}));
  nv::message gone;
  gone.set(STD_ID, via);
  ask(book, CMD_REMOVEOBJ, gone);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"via-c"}));

  // Disconnecting from the agent clears the filter.
  ask(book, bookcmd::kAgentFilter, agentFilterCommand(""));
  reactor_.runOnce(0);
  EXPECT_EQ(rows(*map), (std::vector<std::string>{"direct", "elsewhere", "via-b", "via-c"}));
  map->unsubscribe();
}

TEST(DiscoverySetting, SavedSwitchAndEnvironmentOverride) {
  test::TempFolder dir;
  std::string file = dir.path() + "/settings.cfg.viw";
  {
    SettingsRegistry registry;
    registry.loadSettings(file); // missing: an empty loader map
    EXPECT_FALSE(discoverySetting(registry)) << "off by default";
    ASSERT_TRUE(setDiscoverySetting(registry, true));
    ASSERT_TRUE(registry.saveSettings());
  }
  SettingsRegistry registry;
  registry.loadSettings(file);
  EXPECT_TRUE(discoverySetting(registry));

  const char* old = std::getenv("KESTEL_DISCOVERY");
  std::string saved = old ? old : "";
  struct Case {
    const char* environment; // null: unset
    bool setting;
    bool wanted;
  } cases[] = {{nullptr, true, true},
               {"0", true, false},
               {"1", false, true},
               {nullptr, false, false},
               {"on", false, false}};
  for (const Case& c : cases) {
    ASSERT_TRUE(setDiscoverySetting(registry, c.setting));
    if (c.environment)
      setenv("KESTEL_DISCOVERY", c.environment, 1);
    else
      unsetenv("KESTEL_DISCOVERY");
    EXPECT_EQ(discoveryWanted(registry), c.wanted)
        << (c.environment ? c.environment : "unset") << " " << c.setting;
  }
  if (old)
    setenv("KESTEL_DISCOVERY", saved.c_str(), 1);
  else
    unsetenv("KESTEL_DISCOVERY");

  SettingsRegistry empty; // never loaded: nothing to keep the switch in
  EXPECT_FALSE(setDiscoverySetting(empty, true));
  EXPECT_FALSE(discoverySetting(empty));
}

} // namespace
} // namespace kestel
