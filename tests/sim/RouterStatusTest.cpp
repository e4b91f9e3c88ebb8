// The status objects the session window's status bar holds and the default-configuration note,
// against the router in-process over loopback. The neighbour table that shares (24, 2) with the
// system status must keep answering as before.
#include "MenuTestSupport.h"
#include "api/wire/StatusVocabulary.h"

#include <gtest/gtest.h>

#include <ctime>

namespace kestel::test {
namespace {

const Path kClock{24, 0}, kSystem{24, 2}, kNote{24, 3};

class RouterStatusTest : public MenuRouterTest {};

TEST_F(RouterStatusTest, ClockAndSystemStatusBesideTheNeighbourTable) {
  startRouter();
  auto admin = client();
  int64_t before = std::time(nullptr);
  nv::message clock = admin->call(kClock, CMD_GET);
  int64_t after = std::time(nullptr);
  ASSERT_EQ(errorOf(clock), 0u);
  uint32_t date = clock.get(status::kDate), time = clock.get(status::kTime);
  EXPECT_EQ(date % 86400, 0u);
  EXPECT_LT(time, 86400u);
  EXPECT_GE(int64_t(date) + time, before);
  EXPECT_LE(int64_t(date) + time, after);

  nv::message first = admin->call(kSystem, CMD_GET);
  ASSERT_EQ(errorOf(first), 0u);
  EXPECT_LE(first.get(status::kCpu), 100u);
  EXPECT_GT(first.get(status::kMemory), 0u);
  for (int i = 0; i < 5; ++i) { // in steps the session's keep-alive sees answered
    reactor.advance(1000);
    admin->sync();
  }
  nv::message later = admin->call(kSystem, CMD_GET);
  EXPECT_EQ(later.get(status::kUptime), first.get(status::kUptime) + 5);

  // The table at the same path: its objects and its own commands, untouched by the status.
  nv::message table = admin->call(kSystem, CMD_GETALL);
  ASSERT_EQ(errorOf(table), 0u);
  std::vector<uint32_t> ids = idsOf(table);
  ASSERT_EQ(ids.size(), catalogue->store("ipv6-neighbors")->size());
  nv::message request;
  request.set(STD_ID, ids[0]);
  nv::message one = admin->call(kSystem, CMD_GETOBJ, request);
  ASSERT_EQ(errorOf(one), 0u);
  const nv::message stored = catalogue->store("ipv6-neighbors")->get(ids[0]);
  for (uint32_t key : stored.keys())
    EXPECT_TRUE(one.hasField(key)) << std::hex << key;
  EXPECT_FALSE(one.has(status::kCpu));
  // Neither the status nor the table is written with CMD_SET.
  EXPECT_EQ(errorOf(admin->call(kSystem, CMD_SET)), ERROR_NOTIMP);

  // Reading needs the read policy; nothing else is served at the clock.
  auto nobody = client("nobody");
  EXPECT_EQ(errorOf(nobody->call(kClock, CMD_GET)), ERROR_NOTALLOWED);
  EXPECT_EQ(errorOf(nobody->call(kSystem, CMD_GET)), ERROR_NOTALLOWED);
  EXPECT_EQ(errorOf(admin->call(kClock, CMD_SET)), ERROR_NOTIMP);
}

TEST_F(RouterStatusTest, DefaultConfigurationNote) {
  startRouter();
  EXPECT_TRUE(client()->call(kNote, CMD_GET).get(status::kNote).empty()) << "not offered";
  EXPECT_EQ(errorOf(client()->call(kNote, status::kRemoveCommand)), ERROR_FAILED);

  sim::CatalogueOptions options;
  options.defaultConfig = true;
  startRouter(options);
  auto admin = client();
  nv::message note = admin->call(kNote, CMD_GET);
  EXPECT_FALSE(note.get(status::kNote).empty());
  EXPECT_FALSE(note.get(status::kScript).empty());
  EXPECT_EQ(client("viewer")->call(kNote, CMD_GET), note);
  EXPECT_EQ(errorOf(client("viewer")->call(kNote, status::kRemoveCommand)), ERROR_NOTALLOWED);
  EXPECT_GT(catalogue->store("firewall")->size(), 0u);

  // Removing the configuration empties its menus (and tells their subscribers), once.
  nv::message subscribe;
  subscribe.set(STD_FILTER, 5u);
  subscribe.set(SYS_ORIGINATOR, 1000u);
  EXPECT_EQ(errorOf(admin->call({21, 4}, CMD_SUBSCRIBE, subscribe)), 0u);
  size_t told = admin->notifications.size();
  EXPECT_EQ(errorOf(admin->call(kNote, status::kRemoveCommand)), 0u);
  EXPECT_EQ(catalogue->store("firewall")->size(), 0u);
  EXPECT_EQ(catalogue->store("addresses")->size(), 0u);
  EXPECT_GT(catalogue->store("interfaces")->size(), 0u);
  EXPECT_TRUE(runUntil(reactor, [&] { return admin->notifications.size() > told; }));
  EXPECT_TRUE(admin->call(kNote, CMD_GET).get(status::kNote).empty());
  EXPECT_EQ(errorOf(admin->call(kNote, status::kRemoveCommand)), ERROR_FAILED);
}

} // namespace
} // namespace kestel::test
