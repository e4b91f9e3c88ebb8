#include "app/AppPaths.h"

#include "miw/SafeFile.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

void write(const std::string& path, const std::string& text) {
  ASSERT_TRUE(saveFileAtomically(path, asBytes(text), "kstl").ok());
}

TEST(AppPaths, PathFilesGiveTheirFirstLineTrimmedAndRefuseOverLongOnes) {
  test::TempFolder dir;
  const std::string p = dir.file("path");
  struct Case {
    std::string content, line;
  };
  const Case cases[] = {
      {"  /data/book.cdb \r\nsecond line\n", "/data/book.cdb"},
      {"\n/ignored\n", ""},
      {"", ""},
      {"/" + std::string(258, 'a'), "/" + std::string(258, 'a')}, // 259: the longest kept
      {"/" + std::string(299, 'a') + "\n", ""},                   // 300: refused, not cut
  };
  for (const auto& c : cases) {
    write(p, c.content);
    CaptureLogSink log;
    EXPECT_EQ(readPathFile(p), c.line) << c.content.size();
    EXPECT_EQ(log.contains("ERROR:"), c.content.size() > 260) << c.content.size();
  }
  EXPECT_EQ(readPathFile(dir.file("missing")), "");
}

TEST(AppPaths, TheBookComesFromTheCommandLineThenThePathFileThenTheDefault) {
  test::TempFolder dir;
  EXPECT_EQ(chooseAddressBook(dir.path(), "/given.cdb"), "/given.cdb");
  EXPECT_EQ(chooseAddressBook(dir.path(), ""), dir.file("Addresses.cdb"));
  ASSERT_TRUE(writePathFile(dir.file("path"), "/chosen.cdb"));
  EXPECT_EQ(chooseAddressBook(dir.path(), ""), "/chosen.cdb");
  write(dir.file("path"), std::string(300, 'x'));
  CaptureLogSink log;
  EXPECT_EQ(chooseAddressBook(dir.path(), ""), dir.file("Addresses.cdb"));
  EXPECT_EQ(*readWholeFile(dir.file("path")), Bytes(300, 'x')) << "the user's file stays";
}

TEST(AppPaths, SessionsFolderDefaultsAndMoves) {
  test::TempFolder dir;
  EXPECT_EQ(sessionsFolder(dir.path()), dir.file("sessions"));
  EXPECT_TRUE(isFolder(dir.file("sessions")));
  write(dir.file("sessions/r1.viw"), "x");
  ASSERT_TRUE(moveSessionsFolder(dir.path(), dir.file("elsewhere")));
  EXPECT_EQ(sessionsFolder(dir.path()), dir.file("elsewhere"));
  EXPECT_TRUE(isRegularFile(dir.file("elsewhere/r1.viw")));
}

} // namespace
} // namespace kestel
