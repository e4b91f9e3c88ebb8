// The session window's headless decisions: its flags in a session file (through the settings
// file's own reader and writer), the extension the dialogs add, the records a second save must
// not leave behind, and which containers a launcher service's window shows (from the sample
// router's descriptors).
#include "app/SessionState.h"
#include "app/MenuCatalog.h"
#include "app/SessionServices.h"
#include "miw/WindowPlacement.h"
#include "support/ModelFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <strings.h>

namespace kestel::test {
namespace {

TEST(SessionStateTest, FlagsSurviveTheSettingsFile) {
  const SessionFlags cases[] = {
      {false, false, 0}, {true, false, -5}, {false, true, 10}, {true, true, 3}};
  for (const SessionFlags& flags : cases) {
    std::map<uint32_t, StringMap> file;
    writeSessionFlags(flags, file[0]);
    std::map<uint32_t, StringMap> back = parseSettingsFile(formatSettingsFile(file));
    SessionFlags read = readSessionFlags(back[0]);
    EXPECT_EQ(read.hidePasswords, flags.hidePasswords);
    EXPECT_EQ(read.inlineComments, flags.inlineComments);
    EXPECT_EQ(read.zoomStep, flags.zoomStep);
  }
}

TEST(SessionStateTest, MalformedValuesKeepDefaultsAndZoomStaysInRange) {
  struct Case {
    const char* key;
    std::string value;
    int zoom;
    bool inlineComments;
  };
  const Case cases[] = {
      {"zoom", std::string("\x01\x00", 2), 0, false},          // too short
      {"zoom", packData(uint32_t(-300)), kMinZoomStep, false}, // far below
      {"zoom", packData(uint32_t(99)), kMaxZoomStep, false},   // far above
      {"inlc", std::string("\x01\x01", 2), 0, false},          // two bytes
      {"inlc", std::string("\x01", 1), 0, true},
  };
  for (const Case& c : cases) {
    StringMap session;
    session.set(c.key, c.value);
    SessionFlags flags = readSessionFlags(session);
    EXPECT_EQ(flags.zoomStep, c.zoom) << c.key;
    EXPECT_EQ(flags.inlineComments, c.inlineComments) << c.key;
  }
  EXPECT_EQ(zoomPercent(0), 100);
  EXPECT_EQ(zoomPercent(-99), 50);
  EXPECT_EQ(zoomPercent(99), 200);
}

TEST(SessionStateTest, DialogsAddTheExtensionOnce) {
  const std::pair<const char*, const char*> cases[] = {
      {"/s/office", "/s/office.VIW"},       {"/s/office.viw", "/s/office.viw"},
      {"/s/office.VIW", "/s/office.VIW"},   {"/s/office.ViW", "/s/office.ViW"},
      {"/s/a.viw.txt", "/s/a.viw.txt.VIW"}, {"viw", "viw.VIW"},
  };
  for (auto [in, out] : cases)
    EXPECT_EQ(withSessionExtension(in), out);
}

TEST(SessionStateTest, DroppingSavedWindowsLeavesOtherRecords) {
  SettingsRegistry settings;
  settings.loadSettings("/nonexistent/kestel-test/session.viw");
  uint32_t placement = settings.registerSettings({}, 16384);
  uint32_t a = settings.registerSettings({}, 4096);
  uint32_t b = settings.registerSettings({}, 4096);
  StringMap session;
  session.set("open", packIdList({a, b, 0}));
  dropSavedWindows(settings, session);
  EXPECT_EQ(settings.getSettings(a, nullptr, 0), nullptr);
  EXPECT_EQ(settings.getSettings(b, nullptr, 0), nullptr);
  EXPECT_NE(settings.getSettings(placement, nullptr, 0), nullptr);
  EXPECT_NE(settings.getSettings(0, nullptr, 0), nullptr); // the session's own record stays
}

class SessionServicesTest : public ModelFixture {
protected:
  SessionServicesTest() {
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      EXPECT_TRUE(loadDescriptors(std::string(KESTEL_SAMPLE_DIR) + "/" + name).ok()) << name;
    EXPECT_TRUE(completeAllTypes().ok());
  }
};

TEST_F(SessionServicesTest, WindowsShowPublicMapsOrOneOtherContainer) {
  size_t checked = 0;
  for (const auto& s : services()) {
    if (!s->offered())
      continue;
    SCOPED_TRACE(serviceKey(*s));
    EXPECT_EQ(serviceByKey(serviceKey(*s)), s.get());
    ServiceContents contents = serviceContents(*s);
    EXPECT_TRUE(contents.maps.empty() || !contents.other);
    for (CMap* map : contents.maps)
      EXPECT_TRUE(isPublic(*map));
    // Every container the menus name whose predicate holds is in the window, unless the window
    // shows tables.
    for (const MenuRef& menu : menuEntries()) {
      if (menu.service != s.get() || !isPublic(*menu.type) || !holds(menu.type->predicate()))
        continue;
      if (menu.type->kind() == TypeKind::Map) {
        EXPECT_NE(std::find(contents.maps.begin(), contents.maps.end(), menu.type),
                  contents.maps.end());
        ++checked;
      } else if (contents.maps.empty()) {
        EXPECT_NE(contents.other, nullptr);
      }
    }
  }
  EXPECT_GE(checked, 10u);
  CService* ping = serviceByKey("Tools/Ping");
  ASSERT_NE(ping, nullptr);
  ASSERT_NE(serviceContents(*ping).other, nullptr);
  EXPECT_EQ(serviceContents(*ping).other->kind(), TypeKind::Action);
  EXPECT_EQ(serviceByKey("Tools/No Such Tool"), nullptr);
  EXPECT_EQ(serviceByKey(""), nullptr);
}

TEST_F(SessionServicesTest, AliasesOpenTheirWindowAtTheirTab) {
  std::vector<CAlias*> aliases = registeredAliases();
  ASSERT_FALSE(aliases.empty());
  for (CAlias* alias : aliases) {
    SCOPED_TRACE(alias->title());
    Expected<AliasTarget> target = aliasTarget(*alias);
    ASSERT_TRUE(target.ok()) << target.error().text;
    ServiceContents contents = serviceContents(*target->service);
    if (contents.maps.empty()) {
      EXPECT_EQ(target->pane, 0u);
      continue;
    }
    ASSERT_LT(target->pane, contents.maps.size());
    bool titled = false;
    for (CMap* map : contents.maps)
      titled = titled || strcasecmp(map->title().c_str(), alias->tab.c_str()) == 0;
    if (titled) {
      EXPECT_EQ(strcasecmp(contents.maps[target->pane]->title().c_str(), alias->tab.c_str()), 0);
    }
  }
  CAlias nowhere("Nowhere");
  nowhere.open = "No Such Window";
  nowhere.tab = "x";
  EXPECT_FALSE(aliasTarget(nowhere).ok());
}

} // namespace
} // namespace kestel::test
