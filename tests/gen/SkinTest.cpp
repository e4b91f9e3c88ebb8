#include "gen/Skin.h"

#include "util/Log.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

using Lines = std::vector<std::string>;

const char kSample[] = R"({
  "System": {"Users": [], "Clock": "x"},
  "Interfaces": {"name": "Links", "ro": 1, "separator": 1,
    "&": {"title": "Link list", "reset": 0, "cmd2": {"name": "Go", "ro": 0}},
    "Ethernet": {"note": "wired", "mtu": 0, "show": 1, "tab": "General"}},
  "IP": 0,
  "Empty": {"name": ""}
})";

TEST(Skin, LogDumpOfSampleIsExact) {
  CaptureLogSink log;
  Skin skin;
  skin.load(kSample);
  Lines expect = {
      "",
      "    Empty: ",
      "    IP: HIDDEN ",
      "    Interfaces: RO NAME=<Links> TITLE=<Link list> ",
      "    CMDS: ",
      "            cmd2: NAME=<Go> ",
      "            reset: HIDDEN ",
      "        Ethernet: NOTE=<wired> ",
      "            mtu: HIDDEN ",
      "    System: ",
      "        Clock: ",
      "        Users: ",
  };
  EXPECT_EQ(log.lines(), expect);
}

TEST(Skin, LookupsAndFlags) {
  CaptureLogSink log;
  Skin skin;
  skin.load(kSample);
  EXPECT_TRUE(skin.lookupTop("IP").hidden);
  EXPECT_EQ(&skin.lookupTop("ip"), &Skin::empty()); // names compare as bytes
  SkinEntry& ifs = skin.lookupTop("Interfaces");
  EXPECT_TRUE(ifs.readOnly);
  EXPECT_TRUE(ifs.separator);
  SkinEntry& eth = skin.lookup(ifs, "Ethernet");
  EXPECT_TRUE(eth.show);
  EXPECT_EQ(Skin::tabOr(eth, "Tab"), "General");
  EXPECT_EQ(Skin::nameOr(eth, "Ethernet label"), "Ethernet label");
  EXPECT_EQ(Skin::titleOr(ifs, "t"), "Link list");
  EXPECT_EQ(Skin::nameOr(skin.lookupTop("Empty"), "Own"), "Own");
  EXPECT_TRUE(skin.lookup(eth, "mtu").hidden);
  EXPECT_FALSE(skin.lookup(eth, "mru").hidden);
  EXPECT_FALSE(ifs.commands->child("cmd2")->readOnly);
  EXPECT_EQ(&skin.lookup(Skin::empty(), "x"), &Skin::empty());
}

TEST(Skin, SelectRedirectsLookups) {
  CaptureLogSink log;
  Skin skin;
  skin.load(R"({"W": {"a": {"x": {"name": "from a"}}, "b": {"x": {"name": "from b"}},
                      "x": {"name": "own"}}})");
  SkinEntry& w = skin.lookupTop("W");
  EXPECT_EQ(skin.lookup(w, "x").name, "own");
  skin.select(w, "b");
  EXPECT_EQ(skin.lookup(w, "x").name, "from b");
  skin.select(*w.redirect, "nothing"); // clears b's own redirect only
  EXPECT_EQ(skin.lookup(w, "x").name, "from b");
  skin.select(w, "missing");
  EXPECT_EQ(skin.lookup(w, "x").name, "own");
  skin.select(w, "a");
  skin.clearRedirect(w);
  EXPECT_EQ(skin.lookup(w, "x").name, "own");
  skin.select(Skin::empty(), "x");
  EXPECT_EQ(Skin::empty().redirect, nullptr);
}

TEST(Skin, ParseErrorLogsTextAndLeavesEmptyTree) {
  CaptureLogSink log;
  Skin skin;
  skin.load(R"({"IP": 0})");
  log.clear();
  skin.load("{\"IP\": 0,\n bad}");
  EXPECT_EQ(log.lines(), (Lines{"!!! ERROR PARSING SKIN", "SKIN:", "{\"IP\": 0,", " bad}", ""}));
  EXPECT_FALSE(skin.lookupTop("IP").hidden);
  skin.load("[1,2]");
  EXPECT_EQ(skin.root().children.size(), 0u);
}

// The loader reads one complete value and stops: what follows it is never read, so it is not a
// syntax error. A value that does not complete is one.
TEST(Skin, BytesAfterTheCompleteValueAreNotRead) {
  struct Case {
    const char* text;
    bool error;
    bool hidden; // entry "a" of the tree that was applied
  } cases[] = {
      {"{a:0} x", false, true},    {"{a:0}]", false, true},   {"{a:0}}", false, true},
      {"{a:0}{b:1}", false, true}, {"{a:0} \n", false, true}, {"{a:0", true, false},
      {"{a:}", true, false},       {"", true, false},
  };
  for (const Case& c : cases) {
    CaptureLogSink log;
    Skin skin;
    skin.load(c.text);
    EXPECT_EQ(log.contains("!!! ERROR PARSING SKIN"), c.error) << c.text;
    EXPECT_EQ(skin.lookupTop("a").hidden, c.hidden) << c.text;
    EXPECT_TRUE(skin.lookupTop("b").children.empty()) << c.text;
  }
}

TEST(Skin, EntriesOfEarlierTreesStayValid) {
  CaptureLogSink log;
  Skin skin;
  skin.load(R"({"A": {"name": "first"}})");
  SkinEntry& held = skin.lookupTop("A");
  skin.load(R"({"A": {"name": "second"}})");
  EXPECT_EQ(held.name, "first");
  EXPECT_EQ(skin.lookupTop("A").name, "second");
}

} // namespace
} // namespace kestel
