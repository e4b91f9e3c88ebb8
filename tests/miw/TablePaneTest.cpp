// Table pane logic without a screen: which commands a pane offers and enables for its map, type
// and selection, the keys and context menu entries, the status texts, the window's and panes'
// records, and named views kept in the settings registry (with damaged stored bytes).
#include "miw/NamedViews.h"
#include "miw/TablePaneCommands.h"
#include "miw/TablePaneState.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

using C = PaneCommand;

PaneFacts facts(bool add, bool remove, bool change, bool disabled, bool comment, size_t selected) {
  PaneFacts f;
  f.withCommands = true;
  f.canAdd = add;
  f.canRemove = remove;
  f.canChange = change;
  f.hasDisabled = disabled;
  f.hasComment = comment;
  f.rows = 10;
  f.selected = selected;
  return f;
}

// The enabled commands, as a string of their labels.
std::string enabled(const PaneFacts& f) {
  std::string out;
  for (C c : {C::Add, C::Remove, C::Enable, C::Disable, C::Comment, C::Filter, C::Copy, C::Paste,
              C::Freeze, C::Refresh, C::SelectAll, C::Export})
    if (commandEnabled(c, f))
      out += std::string(out.empty() ? "" : " ") + commandLabel(c);
  return out;
}

TEST(TablePaneCommands, EnabledPerMapTypeAndSelection) {
  struct Case {
    const char* what;
    PaneFacts f;
    const char* want;
  };
  PaneFacts none = facts(true, true, true, true, true, 2);
  none.withCommands = false;
  PaneFacts empty = facts(true, true, true, true, true, 0);
  empty.rows = 0;
  PaneFacts paste = facts(true, false, true, false, false, 0);
  paste.canPaste = true;
  paste.pasteReady = true;
  PaneFacts pasteWaits = paste;
  pasteWaits.pasteReady = false;
  PaneFacts pasteNoTaker = paste;
  pasteNoTaker.canPaste = false;
  PaneFacts noVariants = facts(true, true, true, false, false, 1);
  noVariants.addVariants = 0;
  const Case cases[] = {
      {"firewall rules, two selected", facts(true, true, true, true, true, 2),
       "Add Remove Enable Disable Comment Filter Copy Freeze Refresh Select All Export..."},
      {"firewall rules, none selected", facts(true, true, true, true, true, 0),
       "Add Filter Freeze Refresh Select All Export..."},
      {"interfaces: change only", facts(false, false, true, true, true, 1),
       "Enable Disable Comment Filter Copy Freeze Refresh Select All Export..."},
      {"read-only user", facts(false, false, false, true, true, 1),
       "Filter Copy Freeze Refresh Select All Export..."},
      {"log: no disabled, no comment", facts(false, false, false, false, false, 3),
       "Filter Copy Freeze Refresh Select All Export..."},
      {"pane without commands", none, "Select All Export..."},
      {"empty table", empty, "Add Filter Freeze Refresh"},
      {"paste: the map adds and rows wait", paste,
       "Add Filter Paste Freeze Refresh Select All Export..."},
      {"paste: nothing on the clipboard", pasteWaits,
       "Add Filter Freeze Refresh Select All Export..."},
      {"paste: the map takes no rows", pasteNoTaker,
       "Add Filter Freeze Refresh Select All Export..."},
      {"no add variant", noVariants, "Remove Filter Copy Freeze Refresh Select All Export..."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(enabled(c.f), c.want) << c.what;
}

TEST(TablePaneCommands, KeysGiveOnlyOfferedCommands) {
  struct Case {
    PaneKey key;
    C all; // in a pane offering everything
    C readOnly;
  };
  const Case cases[] = {
      {{kKeyInsert, false, false}, C::Add, C::None},
      {{kKeyDelete, false, false}, C::Remove, C::None},
      {{kKeyPlus, false, true}, C::Enable, C::None},
      {{kKeyPlus, false, false}, C::None, C::None}, // the main keyboard's plus is the table's
      {{kKeyMinus, false, true}, C::Disable, C::None},
      {{'E', true, false}, C::Enable, C::None},
      {{'D', true, false}, C::Disable, C::None},
      {{'M', true, false}, C::Comment, C::None},
      {{'E', false, false}, C::None, C::None},
      {{kKeySlash, true, false}, C::Filter, C::Filter},
      {{kKeyF5, false, false}, C::Refresh, C::Refresh},
      {{'A', true, false}, C::SelectAll, C::SelectAll},
      {{'C', true, false}, C::Copy, C::Copy},
      {{'V', true, false}, C::Paste, C::None},
  };
  PaneFacts all = facts(true, true, true, true, true, 1);
  all.canPaste = true;
  PaneFacts readOnly = facts(false, false, false, true, true, 1);
  PaneFacts bare = all;
  bare.withCommands = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.key.key << " ctrl " << c.key.ctrl);
    EXPECT_EQ(commandForKey(c.key, all), c.all);
    EXPECT_EQ(commandForKey(c.key, readOnly), c.readOnly);
    EXPECT_EQ(commandForKey(c.key, bare), c.all == C::SelectAll ? C::SelectAll : C::None);
  }
}

std::string menuText(const std::vector<MenuEntry>& menu) {
  std::string out;
  for (const MenuEntry& e : menu) {
    out += e.text + (e.enabled ? "" : "(off)");
    if (!e.submenu.empty()) {
      out += "[";
      for (const std::string& s : e.submenu)
        out += s + ";";
      out += "]";
    }
    out += "|";
  }
  return out;
}

TEST(TablePaneCommands, ContextMenuShowsEachEntryWhenItApplies) {
  EXPECT_EQ(
      menuText(contextMenu(facts(true, true, true, true, true, 1), {"Add"}, {"Reset Counters"})),
      "Select All\tCtrl+A|Add\tINS|Remove\tDEL|Enable\tCtrl+E|Disable\tCtrl+D|"
      "Comment\tCtrl+M|Reset Counters|Export...|");
  // Nothing selected: no Remove; Enable, Disable and Comment greyed.
  PaneFacts variants = facts(true, true, true, true, false, 0);
  variants.addVariants = 3;
  EXPECT_EQ(menuText(contextMenu(variants, {"Ether", "VLAN", "Bridge"}, {})),
            "Select All\tCtrl+A|Add\tINS[Ether;VLAN;Bridge;]|Enable\tCtrl+E(off)|"
            "Disable\tCtrl+D(off)|Export...|");
  PaneFacts bare = facts(true, true, true, true, true, 1);
  bare.withCommands = false;
  EXPECT_EQ(menuText(contextMenu(bare, {"Add"}, {"Reset Counters"})),
            "Select All\tCtrl+A|Export...|");
  auto extra = contextMenu(facts(false, false, false, false, false, 0), {}, {"One", "Two"});
  ASSERT_EQ(extra.size(), 4u);
  EXPECT_EQ(extra[2].extra, 1u);
}

TEST(TablePaneStatus, Texts) {
  struct Case {
    PaneStatusFacts f;
    const char* items;
    const char* state;
  };
  const Case cases[] = {
      {{1, 1, 0, FetchState::Complete, false, ""}, "1 item", ""},
      {{0, 0, 0, FetchState::Running, false, ""}, "0 items", "Loading..."},
      {{5, 9, 2, FetchState::Paging, false, ""}, "5 items out of 9 (2 selected)", "Loading..."},
      {{3, 3, 1, FetchState::Running, true, ""}, "3 items (1 selected)", "Frozen"},
  };
  for (const Case& c : cases) {
    PaneStatusTexts t = paneStatusTexts(c.f);
    EXPECT_EQ(t.items, c.items);
    EXPECT_EQ(t.state, c.state);
  }
}

TEST(TableWindowRecords, RoundTripAndDamagedValues) {
  StringMap s;
  saveWindowState({{7, 3, 12}, 3}, s);
  EXPECT_EQ(s.get("panes"), std::string("\x07\0\0\0\x03\0\0\0\x0c\0\0\0", 12));
  TableWindowState back = loadWindowState(s);
  EXPECT_EQ(back.panes, (std::vector<uint32_t>{7, 3, 12}));
  EXPECT_EQ(back.active, 3u);

  struct Case {
    std::string panes;
    std::string active;
    std::vector<uint32_t> wantPanes;
    uint32_t wantActive;
  };
  const Case cases[] = {
      {std::string("\x07\0\0", 3), packData(7), {}, kNoId},        // not whole u32s
      {packData(7) + packData(9), packData(4), {7, 9}, 7},         // active unknown
      {packData(7) + packData(7) + packData(kNoId), "xy", {7}, 7}, // repeats, none
      {"", packData(1), {}, kNoId},
  };
  for (const Case& c : cases) {
    StringMap d;
    d.set("panes", c.panes);
    d.set("active", c.active);
    TableWindowState st = loadWindowState(d);
    EXPECT_EQ(st.panes, c.wantPanes);
    EXPECT_EQ(st.active, c.wantActive);
  }
  EXPECT_TRUE(loadWindowState({}).panes.empty());

  StringMap pane;
  saveSelection(0x01020304, pane);
  EXPECT_EQ(pane.get("sel"), std::string("\x04\x03\x02\x01"));
  EXPECT_EQ(loadSelection(pane), 0x01020304u);
  saveSelection(kNoId, pane);
  EXPECT_FALSE(pane.has("sel")) << "removed when nothing is selected";
  pane.set("sel", "abc");
  EXPECT_EQ(loadSelection(pane), kNoId);
}

StringMap view(std::string cols, std::string mode) {
  StringMap m;
  m.set("cols", std::move(cols));
  m.set("mode", std::move(mode));
  return m;
}

TEST(NamedViews, SaveRecallRemovePerKindThroughTheSettingsFile) {
  SettingsRegistry settings;
  NamedViews none(settings, "fw");
  EXPECT_FALSE(none.save("x", {}).ok()) << "no record 0 before the settings are loaded";
  settings.loadSettings("/nonexistent/kestel-test/settings.viw");

  NamedViews fw(settings, "IP/Firewall"), log(settings, "Log");
  ASSERT_TRUE(fw.save("by port", view(std::string("\x12\x34\x07\xff", 4), "\x01")).ok());
  ASSERT_TRUE(fw.save("drops", view("", std::string(4, '\0'))).ok());
  ASSERT_TRUE(log.save("errors", view("c", "m")).ok());
  ASSERT_TRUE(fw.save("by port", view("new", "")).ok()) << "saving again replaces";
  EXPECT_EQ(fw.names(), (std::vector<std::string>{"by port", "drops"}));
  EXPECT_EQ(log.names(), (std::vector<std::string>{"errors"}));

  // Through the settings file and back.
  test::TempFolder dir;
  ASSERT_TRUE(settings.saveSettings(dir.file("settings.viw")));
  SettingsRegistry reread;
  ASSERT_TRUE(reread.loadSettings(dir.file("settings.viw")));
  NamedViews fw2(reread, "IP/Firewall");
  EXPECT_EQ(fw2.recall("by port"), view("new", ""));
  EXPECT_EQ(fw2.recall("drops"), view("", std::string(4, '\0')));
  EXPECT_FALSE(fw2.recall("errors")) << "views are per table kind";
  EXPECT_EQ(NamedViews(reread, "Log").recall("errors"), view("c", "m"));

  EXPECT_TRUE(fw.remove("drops"));
  EXPECT_FALSE(fw.remove("drops"));
  EXPECT_TRUE(fw.remove("by port"));
  EXPECT_FALSE(settings.getSettings(0, nullptr, 0)->has("views/IP/Firewall"))
      << "the last view removed takes the field with it";
}

TEST(NamedViews, RefusesWhatCannotBeKept) {
  SettingsRegistry settings;
  settings.loadSettings("/nonexistent/kestel-test/settings.viw");
  NamedViews v(settings, "Log");
  EXPECT_EQ(v.save("", {}).error().text, "A view needs a name");
  EXPECT_FALSE(v.save(std::string(65, 'n'), {}).ok());
  EXPECT_TRUE(v.save(std::string(64, 'n'), {}).ok());
  StringMap big;
  big.set("cols", std::string(30000, 'c'));
  ASSERT_TRUE(v.save("one", big).ok());
  auto refused = v.save("two", big);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text,
            "There is no room for more views of this table; remove one first");
  EXPECT_EQ(v.names().size(), 2u) << "a refused save changes nothing";
}

TEST(NamedViews, DamagedBytesKeepTheWholeViewsBeforeTheDamage) {
  ViewList views{{"a", view("1", "2")}, {"b", view("3", "4")}};
  std::string good = formatViews(views);
  EXPECT_EQ(parseViews(good), views);
  std::string first = formatViews({{"a", view("1", "2")}});
  // Every cut of the bytes gives the views wholly before the cut, never a part of one.
  for (size_t n = 0; n < good.size(); ++n) {
    ViewList got = parseViews(std::string_view(good).substr(0, n));
    EXPECT_EQ(got.size(), n >= first.size() ? 1u : 0u) << n;
  }
  struct Case {
    const char* what;
    std::string bytes;
    size_t views;
  };
  const Case cases[] = {
      {"zero-length name", first + std::string("\0", 1) + "x", 1},
      {"name over 64 bytes", first + std::string(1, char(65)) + std::string(65, 'n'), 1},
      {"length past the end", first + std::string("\x01z\xff\xff", 4) + "abc", 1},
      {"map that does not end with its last field",
       first + std::string("\x01z\x02\x00\x01", 5) + "k", 1},
      {"repeated name keeps the first",
       good + first.substr(0, 2) + formatViews({{"a", view("", "")}}).substr(2), 2},
  };
  for (const Case& c : cases) {
    ViewList got = parseViews(c.bytes);
    EXPECT_EQ(got.size(), c.views) << c.what;
    EXPECT_EQ(got.at("a"), view("1", "2")) << c.what;
  }
}

} // namespace
} // namespace kestel
