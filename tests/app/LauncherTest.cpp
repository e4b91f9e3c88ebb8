// The launcher built from the sample router's descriptors: which services the router's facts
// offer, the groups, aliases and order, and what the operator skin renames and hides.
#include "app/Launcher.h"
#include "gen/RouterFacts.h"
#include "gen/Skin.h"
#include "support/ModelFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace kestel::test {
namespace {

bool has(const std::vector<std::string>& paths, const std::string& p) {
  return std::find(paths.begin(), paths.end(), p) != paths.end();
}

class LauncherTest : public ModelFixture {
protected:
  LauncherTest() {
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SAMPLE_DIR) + "/" + name).ok()) << name;
    EXPECT_TRUE(completeAllTypes().ok());
  }
  void skin(const std::string& file) {
    std::ifstream in(std::string(KESTEL_SAMPLE_DIR) + "/skins/" + file);
    std::stringstream text;
    text << in.rdbuf();
    activeSkin().load(text.str());
  }
};

TEST_F(LauncherTest, FactsDecideWhatIsOffered) {
  struct Case {
    const char* arch;
    const char* package;
    bool hasPassword;
    std::vector<std::pair<const char*, bool>> expect;
  };
  const Case cases[] = {
      {"arm",
       "",
       false,
       {{"Tools/Traffic", false}, {"IPv6/IPv6 Addresses", false}, {"Tools/Graphs", true}}},
      {"mipsbe",
       "ipv6",
       true,
       {{"Tools/Traffic", true}, {"IPv6/IPv6 Addresses", true}, {"Tools/Graphs", true}}},
  };
  for (const Case& c : cases) {
    RouterFacts facts;
    facts.architecture = c.arch;
    if (*c.package)
      facts.packages.insert(c.package);
    facts.hasPassword = c.hasPassword;
    setRouterFacts(facts);
    auto paths = launcherPaths(buildLauncher());
    for (const auto& [path, offered] : c.expect)
      EXPECT_EQ(has(paths, path), offered) << c.arch << " " << path;
    // Always there: entries without predicates, and the password entry (the message ids its
    // predicate asks about are never supported, and it is negated).
    EXPECT_TRUE(has(paths, "IP/Addresses"));
    EXPECT_TRUE(has(paths, "System/Password"));
  }
}

TEST_F(LauncherTest, GroupsAliasesAndOrder) {
  std::vector<LauncherItem> items = buildLauncher();
  ASSERT_GE(items.size(), 3u);
  EXPECT_EQ(items[0].entry.kind, LauncherEntry::Kind::NewInstance);
  EXPECT_EQ(items[0].entry.text, "New Kestel");
  // prio 0 sorts first, then Interfaces (10), then the IP group at its lowest entry (20).
  EXPECT_EQ(items[1].entry.text, "Quick Setup");
  EXPECT_EQ(items[2].entry.text, "Interfaces");
  EXPECT_EQ(items[3].entry.text, "IP");
  ASSERT_TRUE(items[3].isGroup());
  std::vector<std::string> ip;
  for (const LauncherEntry& e : items[3].entries)
    ip.push_back(e.text);
  // Addresses 20, Routes 21, DHCP 22, Firewall 23, DNS 24, then the alias at the default 500.
  std::vector<std::string> want{"Addresses", "Routes", "DHCP Leases",
                                "Firewall",  "DNS",    "Neighbors"};
  EXPECT_EQ(ip, want);
  const LauncherEntry& alias = items[3].entries.back();
  EXPECT_EQ(alias.kind, LauncherEntry::Kind::Alias);
  ASSERT_NE(alias.alias, nullptr);
  EXPECT_EQ(alias.alias->open, "Neighbors");
  EXPECT_EQ(alias.alias->tab, "IPv6");
  // The nonpublic service holding the alias is no entry of its own.
  EXPECT_EQ(std::count(ip.begin(), ip.end(), "Neighbors"), 1);
  // Priorities never decrease along the top level after "New Kestel".
  for (size_t i = 2; i < items.size(); ++i)
    EXPECT_LE(items[i - 1].entry.prio, items[i].entry.prio) << items[i].entry.text;
}

TEST_F(LauncherTest, SkinRenamesAndHides) {
  skin("operator.json");
  auto paths = launcherPaths(buildLauncher());
  EXPECT_FALSE(has(paths, "Log"));                         // hidden at the top
  EXPECT_FALSE(has(paths, "System/Reboot"));               // hidden inside a group
  EXPECT_TRUE(has(paths, "IP Networking/Firewall Rules")); // group and entry renamed
  EXPECT_TRUE(has(paths, "IP Networking/Neighbors"));      // the alias follows its group
  EXPECT_FALSE(has(paths, "IP/Addresses"));
  EXPECT_TRUE(has(paths, "IP Networking/Addresses"));
  // A skin that does not parse changes nothing.
  activeSkin().load("{\"Log\": 0, ");
  EXPECT_TRUE(has(launcherPaths(buildLauncher()), "Log"));
}

TEST_F(LauncherTest, DisabledServiceAndHiddenGroupLeave) {
  ASSERT_TRUE(disableService("IP", "Addresses"));
  activeSkin().load("{\"Tools\": 0}");
  auto paths = launcherPaths(buildLauncher());
  EXPECT_FALSE(has(paths, "IP/Addresses"));
  EXPECT_TRUE(has(paths, "IP/Routes"));
  for (const std::string& p : paths)
    EXPECT_NE(p.rfind("Tools/", 0), 0u) << p;
}

} // namespace
} // namespace kestel::test
