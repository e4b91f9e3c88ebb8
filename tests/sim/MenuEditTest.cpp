// Editing menus over loopback: add, change, move and remove on the ordered firewall rules with
// the order checked by a fetch, and every refusal: unknown ids, bad values, names taken, the
// user's policy, a full table, operations the menu does not offer, and --fail-commits.
#include "MenuTestSupport.h"

namespace kestel::test {
namespace {

const Path kFirewall{21, 4};
constexpr nv::u32_id kChain{0x1}, kAction{0x2}, kPort{0x12};
constexpr nv::string_id kComment{0x1E};

std::vector<uint32_t> order(MenuClient& c) { return idsOf(c.call(kFirewall, CMD_GETALL)); }

nv::message withId(uint32_t id) {
  nv::message m;
  m.set(STD_ID, id);
  return m;
}

class MenuEditTest : public MenuRouterTest {};

TEST_F(MenuEditTest, FirewallRoundTrip) {
  startRouter();
  auto c = client();
  std::vector<uint32_t> before = order(*c);
  ASSERT_EQ(6u, before.size());

  // Add: the router gives the id, fills in the defaults and puts the rule last.
  nv::message rule;
  rule.set(kPort, 8080u);
  rule.set(kComment, "web");
  rule.set(STD_FILTER, 5u); // addressing keys are not members
  nv::message added = c->call(kFirewall, CMD_ADDOBJ, rule);
  ASSERT_FALSE(isError(added));
  uint32_t id = added.get(STD_ID);
  EXPECT_EQ(7u, added.get(sim::kObjectCount));
  std::vector<uint32_t> expected = before;
  expected.push_back(id);
  EXPECT_EQ(expected, order(*c));
  nv::message stored = c->call(kFirewall, CMD_GETOBJ, withId(id));
  EXPECT_EQ(8080u, stored.get(kPort));
  EXPECT_EQ(0u, stored.get(kChain)); // default
  EXPECT_FALSE(stored.has(nv::u32_id(STD_FILTER.key)));

  // Change one member, clear another with SYS_UNSET; the rest stays.
  nv::message change = withId(id);
  change.set(kPort, 8443u);
  change.set(SYS_UNSET, std::vector<uint32_t>{kComment.id()});
  ASSERT_FALSE(isError(c->call(kFirewall, CMD_SETOBJ, change)));
  stored = c->call(kFirewall, CMD_GETOBJ, withId(id));
  EXPECT_EQ(8443u, stored.get(kPort));
  EXPECT_FALSE(stored.has(kComment));
  EXPECT_EQ(0u, stored.get(kAction));

  // Move it to the top, then one back to the end.
  nv::message move = withId(id);
  move.set(STD_NEXTID, before[0]);
  ASSERT_FALSE(isError(c->call(kFirewall, CMD_MOVEOBJ, move)));
  expected = before;
  expected.insert(expected.begin(), id);
  EXPECT_EQ(expected, order(*c));
  ASSERT_FALSE(isError(c->call(kFirewall, CMD_MOVEOBJ, withId(before[2]))));
  expected.erase(expected.begin() + 3);
  expected.push_back(before[2]);
  EXPECT_EQ(expected, order(*c));

  // Remove it.
  ASSERT_FALSE(isError(c->call(kFirewall, CMD_REMOVEOBJ, withId(id))));
  expected.erase(expected.begin());
  EXPECT_EQ(expected, order(*c));
  EXPECT_EQ(ERROR_UNKNOWNID, errorOf(c->call(kFirewall, CMD_GETOBJ, withId(id))));
}

TEST_F(MenuEditTest, RefusalsNameTheirReason) {
  sim::CatalogueOptions options;
  startRouter(options);
  auto admin = client();
  auto viewer = client("viewer");
  auto nobody = client("nobody");
  uint32_t first = catalogue->store("firewall")->idAt(0);
  uint32_t firstRoute = catalogue->store("routes")->idAt(0);
  uint32_t firstLog = catalogue->store("log")->idAt(0);
  nv::message badPort = withId(first);
  badPort.set(kPort, 70000u);
  nv::message toUnknown = withId(first);
  toUnknown.set(STD_NEXTID, 0xABCDEFu);
  nv::message longName;
  longName.set(nv::string_id(0x1), std::string(65, 'x'));
  nv::message takenName;
  takenName.set(nv::string_id(0x1), "monitor");
  nv::message huge = withId(first);
  huge.set(kComment, std::string(40000, 'c'));
  nv::message routeDistance = withId(firstRoute);
  routeDistance.set(nv::u32_id(0x6), 256u);

  struct Case {
    const char* what;
    MenuClient* client;
    Path path;
    uint32_t command;
    nv::message request;
    uint32_t error;
    const char* text; // the start of the router's text, "" when none is given
  } cases[] = {
      {"set of an unknown id", admin.get(), kFirewall, CMD_SETOBJ, withId(0xABCDEF),
       ERROR_UNKNOWNID, ""},
      {"remove of an unknown id", admin.get(), kFirewall, CMD_REMOVEOBJ, withId(0xABCDEF),
       ERROR_UNKNOWNID, ""},
      {"move of an unknown id", admin.get(), kFirewall, CMD_MOVEOBJ, withId(0xABCDEF),
       ERROR_UNKNOWNID, ""},
      {"move before an unknown id", admin.get(), kFirewall, CMD_MOVEOBJ, toUnknown,
       ERROR_UNKNOWNNEXTID, ""},
      {"port out of range", admin.get(), kFirewall, CMD_SETOBJ, badPort, ERROR_FAILED,
       "Port must be between 0 and 65535"},
      {"object too big for a page", admin.get(), kFirewall, CMD_SETOBJ, huge, ERROR_TOOBIG,
       "the object is too big"},
      {"distance out of range",
       admin.get(),
       {21, 2},
       CMD_SETOBJ,
       routeDistance,
       ERROR_FAILED,
       "Distance must be between 0 and 255"},
      {"user name too long",
       admin.get(),
       {22, 5},
       CMD_ADDOBJ,
       longName,
       ERROR_FAILED,
       "Name must have 1 to 64 characters"},
      {"user name missing",
       admin.get(),
       {22, 5},
       CMD_ADDOBJ,
       nv::message(),
       ERROR_FAILED,
       "Name must have 1 to 64 characters"},
      {"user name taken",
       admin.get(),
       {22, 5},
       CMD_ADDOBJ,
       takenName,
       ERROR_EXISTS,
       "\"monitor\" already exists"},
      {"routes need write policy 0x80",
       viewer.get(),
       {21, 2},
       CMD_SETOBJ,
       withId(firstRoute),
       ERROR_NOTALLOWED,
       ""},
      {"rules need 0x40 only", nobody.get(), kFirewall, CMD_SETOBJ, withId(first), ERROR_NOTALLOWED,
       ""},
      {"the log is read only",
       admin.get(),
       {22, 7},
       CMD_SETOBJ,
       withId(firstLog),
       ERROR_NOTIMP,
       ""},
      {"interfaces cannot be added",
       admin.get(),
       {20, 1},
       CMD_ADDOBJ,
       nv::message(),
       ERROR_NOTIMP,
       ""},
      {"routes cannot be moved",
       admin.get(),
       {21, 2},
       CMD_MOVEOBJ,
       withId(firstRoute),
       ERROR_NOTIMP,
       ""},
      {"unknown command", admin.get(), kFirewall, 0xFE0099, nv::message(), ERROR_NOTIMP, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    nv::message reply = k.client->call(k.path, k.command, k.request);
    unsigned code = 0;
    std::string text;
    ASSERT_TRUE(isError(reply, &code, &text));
    EXPECT_EQ(k.error, code);
    EXPECT_EQ(0u, text.rfind(k.text, 0)) << text;
  }
  // The viewer may still change a firewall rule: its write permission is 0x40.
  EXPECT_FALSE(isError(viewer->call(kFirewall, CMD_SETOBJ, withId(first))));
  // Nothing refused left a trace.
  EXPECT_EQ(6u, catalogue->store("firewall")->size());
  EXPECT_EQ(3u, catalogue->store("users")->size());
}

TEST_F(MenuEditTest, FullTableAndFailedCommits) {
  sim::CatalogueOptions options;
  options.fill = true;
  options.rows = 1000;
  options.table = "firewall";
  startRouter(options);
  auto c = client();
  EXPECT_EQ(ERROR_TOOMUCH, errorOf(c->call(kFirewall, CMD_ADDOBJ)));
  uint32_t last = catalogue->store("firewall")->idAt(999);
  ASSERT_FALSE(isError(c->call(kFirewall, CMD_REMOVEOBJ, withId(last))));
  EXPECT_FALSE(isError(c->call(kFirewall, CMD_ADDOBJ)));

  sim::CatalogueOptions failing;
  failing.menus.failCommits = true;
  c.reset();
  startRouter(failing);
  c = client();
  sim::MenuStore& rules = *catalogue->store("firewall");
  nv::message before = rules.get(rules.idAt(0));
  nv::message change = withId(rules.idAt(0));
  change.set(kPort, 1u);
  for (uint32_t command : {CMD_ADDOBJ, CMD_SETOBJ, CMD_REMOVEOBJ, CMD_MOVEOBJ})
    EXPECT_EQ(ERROR_FAILED, errorOf(c->call(kFirewall, command, change)));
  EXPECT_EQ(before, rules.get(rules.idAt(0)));
  EXPECT_EQ(6u, rules.size());
}

} // namespace
} // namespace kestel::test
