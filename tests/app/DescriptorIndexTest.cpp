// The index, the checksum records, the progress texts and the pruning rule: table-driven, with
// libc's calendar (mktime) as the oracle for dates across month and year ends.
#include "app/CacheFolders.h"
#include "app/DescriptorCache.h"
#include "app/DownloadProgress.h"
#include "util/Log.h"

#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace kestel {
namespace {

std::vector<std::string> namesOf(const std::string& index) {
  Expected<std::vector<IndexEntry>> r = parseIndex(asBytes(index));
  if (!r)
    return {"error: " + r.error().text};
  std::vector<std::string> names;
  for (const IndexEntry& e : *r)
    names.push_back(e.name + (e.compressed ? "" : " (plain)"));
  return names;
}

TEST(DescriptorIndex, EdgeCases) {
  const std::string main = "{name:\"nimblux.jg\",size:10,crc:7,version:\"7.15\"},";
  struct Case {
    std::string index;
    std::vector<std::string> names;
  } cases[] = {
      {"", {}},
      {"{name:\"nimblux.jg\"}", {}}, // no comma: no entries
      {main + " \n\t", {"nimblux.jg"}},
      {main + "{name:\"icons.png\",size:3},", {"nimblux.jg", "icons.png (plain)"}},
      {main + "{name:\"ICONS.PNG\",size:3},", {"nimblux.jg"}}, // suffixes are exact
      {main + "{name:\"a.jg\",size:3},", {"nimblux.jg"}},      // a document needs a version
      {main + "{name:\"a.jg\",size:0,version:\"1\"},", {"nimblux.jg"}}, // size 0
      {main + "{name:\"a.txt\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{names:\"b.jg\",sizes:3,versions:\"1\"},", {"nimblux.jg", "b.jg"}},
      // Names that would leave the cache folder, or name no single file, are refused.
      {main + "{name:\"../x.jg\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{name:\"a/b.jg\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{name:\"a\\\\b.jg\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{name:\"c:b.png\",size:3},", {"nimblux.jg"}},
      {main + "{name:\"a\x01.jg\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{name:\"a" + std::string(1, '\0') + "b.jg\",size:3,version:\"1\"},", {"nimblux.jg"}},
      {main + "{name:\"nimblux.jg\",size:10,version:\"..\"},", {"error: corrupted list.gum file"}},
      {"{name:\"nimblux.jg\",size:10,version:\"a/b\"},", {"error: corrupted list.gum file"}},
      {"{name:\"x.jg\" size:1},", {"error: corrupted list.gum file"}},
      {"]{},", {"error: corrupted list.gum file"}},
      {"{name:\"x.jg\"", {}},
  };
  CaptureLogSink log;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(namesOf(c.index), c.names);
  }
  EXPECT_TRUE(log.contains("WARN: unsupported index file:a.txt"));
}

TEST(DescriptorIndex, FolderAndChecksumRecords) {
  test::TempFolder app;
  Reference<DescriptorCache> cache = makeRef<DescriptorCache>(app.path());
  EXPECT_EQ(cache->parseIndex(asBytes("{name:\"tools.jg\",size:3,version:\"1\"},")),
            "no nimblux.jg found");
  std::string index = "{name:\"nimblux.jg\",size:10,crc:42,version:\"7.15\"},"
                      "{name:\"tools.jg\",size:3,crc:42,version:\"7.15\"},"
                      "{name:\"icons.png\",size:5,crc:9},";
  ASSERT_EQ(cache->parseIndex(asBytes(index)), "");
  EXPECT_EQ(cache->folder(), app.path() + "/7.15-42");
  struct Case {
    const char* record; // null: none written
    bool upToDate;
  } cases[] = {{"42\n", true},   {"  42", true},       {"42 \r\n", true}, {"042", true},
               {"43\n", false},  {"4 2", false},       {"", false},       {"x42", false},
               {nullptr, false}, {"4294967338", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record ? c.record : "(none)");
    std::filesystem::remove(cache->folder() + "/tools.crc");
    test::writeWhole(cache->folder() + "/tools.jg", "abc");
    if (c.record)
      test::writeWhole(cache->folder() + "/tools.crc", c.record);
    cache->decide();
    EXPECT_EQ(cache->entries()[1].upToDate, c.upToDate);
    EXPECT_EQ(cache->total(), 10u + 5u + (c.upToDate ? 0u : 3u));
  }
}

TEST(DownloadProgress, Texts) {
  struct Count {
    uint64_t bytes;
    const char* text;
  } counts[] = {{0, "0 B"},
                {4999, "4999 B"},
                {5000, "4.9 KiB"},
                {4999999, "4882.8 KiB"},
                {5000000, "4.8 MiB"}};
  for (const Count& c : counts)
    EXPECT_EQ(formatByteCount(c.bytes), c.text);
  struct Rate {
    uint64_t rate;
    const char* text;
  } rates[] = {{0, ""},
               {2047, " at 2047 bps"},
               {2048, " at 2.00 kbps"},
               {1024 * 3 + 51, " at 3.04 kbps"},
               {2097151, " at 2047.99 kbps"},
               {2097152, " at 2.00 Mbps"}};
  for (const Rate& r : rates)
    EXPECT_EQ(formatRate(r.rate), r.text);

  DownloadProgress p;
  p.begin(1000, 0);
  EXPECT_FALSE(p.update(1500, 100, 1000)); // exactly 500 ms: not yet
  EXPECT_EQ(p.update(1501, 2000, 10000), "Downloading descriptors 2000 B of 9.8 KiB at 3.90 kbps");
  EXPECT_FALSE(p.update(1700, 3000, 10000));
  EXPECT_FALSE(p.update(3000, 3000, 0)); // nothing to download
}

// Sets the last-write time of `path` to noon of a local calendar date.
void writtenOn(const std::string& path, int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::time_t noonOn(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(CachePruning, KeepsThirtyOneCalendarDaysAcrossMonthAndYearEnds) {
  struct Case {
    int written[3];
    int today[3];
    bool kept;
  } cases[] = {
      {{2025, 12, 31}, {2026, 1, 1}, true},  // a packed-date subtraction would read 1 day as years
      {{2026, 1, 31}, {2026, 2, 1}, true},   // and this one as 70 days
      {{2026, 1, 1}, {2026, 2, 1}, true},    // 31 days
      {{2025, 12, 31}, {2026, 2, 1}, false}, // 32 days
      {{2024, 2, 28}, {2024, 3, 30}, true},  // leap year: 31 days
      {{2024, 2, 28}, {2024, 3, 31}, false},
      {{2026, 3, 1}, {2026, 2, 1}, true}, // written "in the future": kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.written[0] << "-" << c.written[1] << "-" << c.written[2] << " on "
                 << c.today[0] << "-" << c.today[1] << "-" << c.today[2]);
    test::TempFolder app;
    std::string folder = app.path() + "/7.15-1";
    std::filesystem::create_directories(folder + "/skins");
    test::writeWhole(folder + "/nimblux.jg", "[]");
    test::writeWhole(folder + "/nimblux.crc", "1\n");
    test::writeWhole(folder + "/skins/a.json", "{}");
    test::writeWhole(folder + "/.keep", "");
    writtenOn(folder + "/nimblux.crc", c.written[0], c.written[1], c.written[2]);
    std::vector<std::string> emptied =
        pruneCache(app.path(), false, noonOn(c.today[0], c.today[1], c.today[2]));
    EXPECT_EQ(emptied.empty(), c.kept);
    auto left = test::snapshot(app.path());
    EXPECT_EQ(left.size(), c.kept ? 4u : 1u); // emptying spares dot files
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/skins"));
  }
}

TEST(CachePruning, ClearAllEmptiesOnlyVersionFolders) {
  test::TempFolder app;
  for (const char* name : {"7.15-1", "6.49.1-2", "notes", "3.x-1"}) {
    std::filesystem::create_directories(app.path() + "/" + name);
    test::writeWhole(app.path() + "/" + name + "/system.crc", "1");
  }
  test::writeWhole(app.path() + "/7.16-3", "a file, not a folder");
  EXPECT_EQ(pruneCache(app.path(), false, std::time(nullptr)).size(), 0u);
  EXPECT_EQ(pruneCache(app.path(), true, std::time(nullptr)).size(), 2u);
  EXPECT_EQ(test::snapshot(app.path()),
            (std::map<std::string, std::string>{{"3.x-1/system.crc", "1"},
                                                {"7.16-3", "a file, not a folder"},
                                                {"notes/system.crc", "1"}}));
  // A version folder without any age record is kept.
  std::filesystem::create_directories(app.path() + "/7.1-9");
  test::writeWhole(app.path() + "/7.1-9/x.jg", "[]");
  EXPECT_EQ(pruneCache(app.path(), false, noonOn(2099, 1, 1)).size(), 0u);
}

TEST(CacheFolders, ApplicationDataFolder) {
  test::TempFolder home;
  struct Case {
    const char* kestelHome;
    const char* xdg;
    std::string expected;
  } cases[] = {
      {nullptr, nullptr, home.path() + "/.local/share/Halvorne/Kestel"},
      {nullptr, "/xdg", home.path() + "/xdg/Halvorne/Kestel"},
      {"/own", "/xdg", home.path() + "/own"},
  };
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const Case& c : cases) {
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("KESTEL_HOME");
    ::unsetenv("XDG_DATA_HOME");
    if (c.kestelHome)
      ::setenv("KESTEL_HOME", (home.path() + c.kestelHome).c_str(), 1);
    if (c.xdg)
      ::setenv("XDG_DATA_HOME", (home.path() + c.xdg).c_str(), 1);
    EXPECT_EQ(appDataFolder(), c.expected);
    EXPECT_TRUE(std::filesystem::is_directory(c.expected));
  }
  ::setenv("HOME", oldHome.c_str(), 1);
  ::unsetenv("KESTEL_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace kestel
