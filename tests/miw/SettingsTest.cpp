#include "miw/Settings.h"

#include "miw/SafeFile.h"
#include "support/Constants.h"
#include "support/Hex.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

namespace kestel {
namespace {

using test::fromHex;
using test::toHex;

TEST(SettingsRegistry, IdsAreTheFirstFreeFromTheNextAndWrapPastTheLast) {
  SettingsRegistry r;
  EXPECT_EQ(r.registerSettings({}, 0), 1u);
  EXPECT_EQ(r.registerSettings({}, 0), 2u);
  r.removeSettings(1);
  EXPECT_EQ(r.registerSettings({}, 0), 3u) << "the search starts from the next id";
  uint32_t id = 0;
  ASSERT_NE(r.getSettings(0xFFFFFFFE, &id, 5), nullptr);
  EXPECT_EQ(id, 4u);
  EXPECT_EQ(r.flagsOf(4), 5u);
  EXPECT_EQ(r.getSettings(77, nullptr, 0), nullptr);
}

TEST(SettingsFile, HandMadeFileReadsAndWritesByteForByte) {
  // id 0 with "pos", id 7 with "addr"; each record carries "id" in key order.
  const std::string hex = "0700"
                          "026964"
                          "00000000"
                          "0c00"
                          "03706f73"
                          "0100020003000400"
                          "0000"
                          "0900"
                          "0461646472"
                          "31302e30"
                          "0700"
                          "026964"
                          "07000000"
                          "0000";
  auto maps = parseSettingsFile(fromHex(hex));
  ASSERT_EQ(maps.size(), 2u);
  EXPECT_EQ(maps[7].get("addr"), "10.0");
  EXPECT_EQ(toHex(formatSettingsFile(maps)), hex);
}

TEST(SettingsFile, RecordsWithoutIdAreDroppedAndIdZeroAlwaysExists) {
  // A record with no "id", one with a 3-byte id, then a good id 5.
  const std::string hex = "0300"
                          "0161"
                          "62"
                          "0000"
                          "0600"
                          "026964"
                          "010203"
                          "0000"
                          "0700"
                          "026964"
                          "05000000"
                          "0000";
  CaptureLogSink log;
  auto maps = parseSettingsFile(fromHex(hex));
  EXPECT_EQ(maps.size(), 2u);
  EXPECT_TRUE(maps.count(0));
  EXPECT_TRUE(maps.count(5));
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"WARNING: bad message id", "WARNING: bad message id"}));
}

TEST(SettingsFile, TruncatedFileKeepsTheWholeRecordsBeforeTheBreak) {
  StringMap a, b;
  a.set("x", "1");
  b.set("y", std::string(100, 'z'));
  Bytes file = formatSettingsFile({{3u, a}, {4u, b}});
  for (size_t cut = 0; cut < file.size(); ++cut) {
    CaptureLogSink log;
    auto maps = parseSettingsFile(ByteSpan(file.data(), cut));
    size_t firstEnd = 9 + 5 + 2; // "id", "x" and the terminator
    EXPECT_EQ(maps.count(3), cut >= firstEnd ? 1u : 0u) << cut;
    EXPECT_EQ(maps.count(4), 0u) << cut;
    EXPECT_EQ(log.lines().size(), cut == 0 || cut == firstEnd ? 0u : 1u) << cut;
  }
}

TEST(SettingsFile, SeededRandomRegistriesRoundTripThroughTheFile) {
  std::mt19937 rng(test::kSeed);
  test::TempFolder dir;
  for (int round = 0; round < 20; ++round) {
    SettingsRegistry r;
    std::map<uint32_t, StringMap> expected;
    for (int n = int(rng() % 10); n > 0; --n) {
      StringMap m;
      for (int f = int(rng() % 6); f > 0; --f)
        m.set("k" + std::to_string(rng() % 50), std::string(rng() % 40, char(rng())));
      uint32_t id = r.registerSettings(m, 0);
      m.set("id", packData(id));
      expected[id] = m;
    }
    ASSERT_TRUE(r.saveSettings(dir.file("sub/dir/r.viw"))) << "missing folders are made";
    SettingsRegistry back;
    ASSERT_TRUE(back.loadSettings(dir.file("sub/dir/r.viw")));
    expected.try_emplace(0);
    for (auto& [id, m] : expected) {
      StringMap* got = back.getSettings(id, nullptr, 0);
      ASSERT_NE(got, nullptr) << id;
      EXPECT_EQ(*got, m) << id;
    }
  }
}

class Saver final : public IPersistent {
public:
  void loadState(const StringMap& s) override { loaded = s.get("state").value_or(""); }
  void saveState(StringMap& s, uint32_t flags) override {
    s.set("state", "saved" + std::to_string(flags));
  }
  std::string loaded;
};

TEST(SettingsRegistry, MainWindowStateGoesThroughIdZero) {
  test::TempFolder dir;
  SettingsRegistry r;
  Saver saver;
  int window = 0;
  r.registerPersistent(&window, &saver);
  r.setMainWindow(&window);
  CaptureLogSink log;
  ASSERT_TRUE(r.saveSettings(dir.file("m.viw")));
  EXPECT_TRUE(log.contains("App::saveAllSettings done"));
  EXPECT_TRUE(log.contains("settings saved"));
  SettingsRegistry back;
  ASSERT_TRUE(back.loadSettings(dir.file("m.viw")));
  back.registerPersistent(&window, &saver);
  back.setMainWindow(&window);
  back.loadAllSettings();
  EXPECT_EQ(saver.loaded, "saved0");
  EXPECT_EQ(back.flagsOf(0), kMainWindowSettingsFlags);
}

TEST(SettingsRegistry, SaveIsPrivateAndAFailedSaveKeepsTheOldFile) {
  test::TempFolder dir;
  SettingsRegistry r;
  r.registerSettings({}, 0);
  EXPECT_FALSE(r.saveSettings()) << "no path given or remembered";
  ASSERT_TRUE(r.saveSettings(dir.file("s.viw")));
  struct stat st;
  ASSERT_EQ(::stat(dir.file("s.viw").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  auto before = readWholeFile(dir.file("s.viw"));
  ASSERT_TRUE(before.ok());
  r.registerSettings({}, 0);
  setSaveWriteHookForTesting([](size_t) { return false; }, 0); // the disk refuses the write
  CaptureLogSink log;
  bool saved = r.saveSettings();
  setSaveWriteHookForTesting({}, 0);
  EXPECT_FALSE(saved);
  EXPECT_TRUE(log.contains("ERROR: could not save settings"));
  EXPECT_EQ(*readWholeFile(dir.file("s.viw")), *before);
}

TEST(SettingsRegistry, MissingFileYieldsIdZeroSilently) {
  test::TempFolder dir;
  SettingsRegistry r;
  r.registerSettings({}, 0);
  CaptureLogSink log;
  EXPECT_FALSE(r.loadSettings(dir.file("none.viw")));
  EXPECT_EQ(r.size(), 1u);
  EXPECT_NE(r.getSettings(0, nullptr, 0), nullptr);
  EXPECT_TRUE(log.lines().empty());
}

} // namespace
} // namespace kestel
