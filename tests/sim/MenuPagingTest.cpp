// Fetching a menu in pages over loopback: where pages end, what the last page says, cookies that
// carry on alone or give way to the id when the table changed between pages, refusals of a
// fetch (policy, too many objects), and the defaults request.
#include "MenuTestSupport.h"

namespace kestel::test {
namespace {

const Path kLog{22, 7};
const Path kFirewall{21, 4};

// Fetches the whole menu page by page as the client's maps do; returns the pages.
std::vector<nv::message> fetchAll(MenuClient& c, const Path& path, nv::message first = {}) {
  std::vector<nv::message> pages;
  nv::message request = first;
  for (int guard = 0; guard < 100000; ++guard) {
    nv::message reply = c.call(path, CMD_GETALL, request);
    pages.push_back(reply);
    uint32_t next = reply.get(STD_GETALLID, 0xFFFFFFFF);
    if (isError(reply) || (next >= 0xFFFFFFFE && !reply.has(sim::kCookie)))
      break;
    request = nv::message();
    if (next < 0xFFFFFFFF)
      request.set(STD_GETALLID, next);
    request.set(sim::kCookie, reply.get(sim::kCookie));
  }
  return pages;
}

class MenuPagingTest : public MenuRouterTest {};

// A client whose session ends while it sits idle (the router's keep-alive gives up on it) goes
// cleanly afterwards.
TEST_F(MenuPagingTest, AClientLeftIdleUntilItsSessionEndsGoesCleanly) {
  startRouter();
  auto idle = client();
  idle->sync();
  for (int second = 0; second < 900; ++second) {
    reactor.runOnce(0);
    reactor.advance(1000);
  }
  idle.reset();
}

TEST_F(MenuPagingTest, PagesEndWhereTheTableEnds) {
  struct Case {
    uint32_t rows, pageSize;
    std::vector<size_t> pageSizes;
  } cases[] = {
      {0, 100, {0}},          {1, 100, {1}},     {100, 100, {100}}, {250, 100, {100, 100, 50}},
      {200, 100, {100, 100}}, {7, 3, {3, 3, 1}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE("rows " + std::to_string(k.rows) + ", page size " + std::to_string(k.pageSize));
    sim::CatalogueOptions options;
    options.fill = true;
    options.rows = k.rows;
    options.menus.pageSize = k.pageSize;
    startRouter(options);
    auto c = client();
    std::vector<nv::message> pages = fetchAll(*c, kLog);
    std::vector<size_t> sizes;
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < pages.size(); ++i) {
      const nv::message& p = pages[i];
      ASSERT_FALSE(isError(p));
      sizes.push_back(p.count(STD_OBJS));
      EXPECT_EQ(k.rows, p.get(sim::kObjectCount));
      bool last = i + 1 == pages.size();
      // Only the last page says the fetch is over, and it carries no cookie.
      EXPECT_EQ(last, p.get(STD_GETALLID) == 0xFFFFFFFF);
      EXPECT_EQ(!last, p.has(sim::kCookie));
      for (uint32_t id : idsOf(p))
        ids.push_back(id);
    }
    EXPECT_EQ(k.pageSizes, sizes);
    std::vector<uint32_t> expected;
    for (uint32_t n = 0; n < k.rows; ++n)
      expected.push_back(catalogue->store("log")->idAt(n));
    EXPECT_EQ(expected, ids);
  }
}

TEST_F(MenuPagingTest, CookiesCarryOnAloneAndGiveWayToTheIdAfterChanges) {
  sim::CatalogueOptions options;
  options.fill = true;
  options.rows = 30;
  options.table = "leases";
  options.menus.pageSize = 10;
  startRouter(options);
  auto c = client();
  sim::MenuStore& leases = *catalogue->store("leases");
  nv::message first = c->call({21, 3}, CMD_GETALL);
  ASSERT_EQ(10u, first.count(STD_OBJS));
  uint32_t next = first.get(STD_GETALLID);
  EXPECT_EQ(leases.idAt(10), next);

  // A cookie without an id goes on from where it points.
  nv::message cookieOnly;
  cookieOnly.set(sim::kCookie, first.get(sim::kCookie));
  EXPECT_EQ(next, idsOf(c->call({21, 3}, CMD_GETALL, cookieOnly)).front());

  // Objects before the place go away: the cookie's position is stale, the id still finds it.
  ASSERT_TRUE(leases.remove(leases.idAt(0)).ok());
  ASSERT_TRUE(leases.remove(leases.idAt(0)).ok());
  nv::message both;
  both.set(STD_GETALLID, next);
  both.set(sim::kCookie, first.get(sim::kCookie));
  nv::message second = c->call({21, 3}, CMD_GETALL, both);
  EXPECT_EQ(next, idsOf(second).front());
  EXPECT_EQ(10u, second.count(STD_OBJS));

  // The object to go on from is gone: the router says so and the client starts over.
  ASSERT_TRUE(leases.remove(next).ok());
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call({21, 3}, CMD_GETALL, both)));
  nv::message beyond;
  beyond.set(sim::kCookie, 1000u);
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call({21, 3}, CMD_GETALL, beyond)));
}

TEST_F(MenuPagingTest, FetchRefusalsAndDefaults) {
  sim::CatalogueOptions options;
  options.fill = true;
  options.rows = 1000;
  options.table = "firewall";
  startRouter(options);
  auto admin = client();
  auto nobody = client("nobody");

  // More objects than the client can take.
  nv::message capped;
  capped.set(sim::kMaxObjects, 999u);
  EXPECT_EQ(ERROR_TOOMUCH, errorOf(admin->call(kFirewall, CMD_GETALL, capped)));
  capped.set(sim::kMaxObjects, 1000u);
  EXPECT_EQ(0u, errorOf(admin->call(kFirewall, CMD_GETALL, capped)));
  // Reading needs policy bit 0x40.
  EXPECT_EQ(ERROR_NOTALLOWED, errorOf(nobody->call(kFirewall, CMD_GETALL)));
  nv::message one;
  one.set(STD_ID, catalogue->store("firewall")->idAt(0));
  EXPECT_EQ(ERROR_NOTALLOWED, errorOf(nobody->call(kFirewall, CMD_GETOBJ, one)));
  EXPECT_EQ(one.get(STD_ID), admin->call(kFirewall, CMD_GETOBJ, one).get(STD_ID));
  one.set(STD_ID, 0xFFFFFF00u);
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(admin->call(kFirewall, CMD_GETOBJ, one)));

  // The defaults of a new rule, asked for as the maps ask.
  nv::message defaults;
  defaults.set(STD_FILTER, sim::kDefaultsFilter);
  defaults.set(sim::kMaxObjects, 0u);
  nv::message reply = admin->call(kFirewall, CMD_GETALL, defaults);
  ASSERT_FALSE(isError(reply));
  EXPECT_EQ(0u, reply.count(STD_OBJS));
  nv::message fresh = reply.get(sim::kDefaultsReply);
  EXPECT_TRUE(fresh.has(nv::u32_id(0x1)));    // chain
  EXPECT_TRUE(fresh.has(nv::u32_id(0x2)));    // action
  EXPECT_FALSE(fresh.get(nv::bool_id(0x1D))); // not disabled

  // The policy table: read (0x40) and write (0x40 here, the rules' "writeperm").
  nv::message policies = nobody->call(kFirewall, CMD_GETPOLICIES);
  std::vector<std::pair<uint32_t, bool>> entries;
  policies.forEach(STD_OBJS, [&](const nv::message& e) {
    entries.emplace_back(e.get(STD_ID), e.get(sim::kPolicyGranted));
  });
  EXPECT_EQ((std::vector<std::pair<uint32_t, bool>>{{0x40, false}, {0x40, false}}), entries);
}

TEST_F(MenuPagingTest, SlowPagesComeAfterTheirDelay) {
  sim::CatalogueOptions options;
  options.menus.slowPagesMs = 500;
  startRouter(options);
  auto c = client();
  c->sync();
  uint32_t id = c->request(kLog, CMD_GETALL, {});
  c->sync(); // answered at once: the page is not
  EXPECT_EQ(0u, c->replies.count(id));
  reactor.advance(499);
  c->sync();
  EXPECT_EQ(0u, c->replies.count(id));
  reactor.advance(1);
  EXPECT_EQ(24u, c->await(id).count(STD_OBJS));
}

} // namespace
} // namespace kestel::test
