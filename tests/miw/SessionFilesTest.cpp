#include "miw/SessionFiles.h"

#include "miw/SafeFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(SessionFiles, NamesBecomeFilesAsTheRulesSay) {
  struct Case {
    std::string name, address;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {"<none>", "198.18.0.1", std::nullopt},
      {"", "198.18.0.1", std::nullopt},
      {"<own>", "198.18.0.1", "/s/198.18.0.1.viw"},
      {"<own>", "fe80::1", "/s/fe80%%1.viw"},
      {"a:b", "", "/s/a%b.viw"},
      {"C:\\x\\y", "", "C%\\x\\y.viw"}, // a path; its colon cleaned as any other
      {"dir/name", "", "dir/name.viw"},
      {std::string("q\"*<>|?\x01\x1f:z", 11), "", "/s/q........%z.viw"},
      {"caf\xC3\xA9", "", "/s/caf\xC3\xA9.viw"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sessionFilePath(c.name, c.address, "/s"), c.path) << c.name;
}

TEST(SessionFiles, ListNamesTheSessionFilesBackAndAddsTheTwoChoices) {
  test::TempFolder dir;
  for (const char* f : {"a%b.viw", "Upper.VIW", "settings.cfg.viw", "notes.txt", ".viw"})
    ASSERT_TRUE(saveFileAtomically(dir.file(f), {}, "viw").ok());
  ASSERT_TRUE(makeFolders(dir.file("folder.viw")).ok());
  EXPECT_EQ(listSessions(dir.path()),
            (std::vector<std::string>{"", "Upper", "a:b", "<none>", "<own>"}));
  EXPECT_EQ(listSessions(dir.file("missing")), (std::vector<std::string>{"<none>", "<own>"}));
}

TEST(SessionFiles, MoveTakesOnlySessionFilesAndReplaces) {
  test::TempFolder dir;
  ASSERT_TRUE(makeFolders(dir.file("old")).ok());
  ASSERT_TRUE(makeFolders(dir.file("new")).ok());
  const Bytes one{1}, two{2};
  ASSERT_TRUE(saveFileAtomically(dir.file("old/s.viw"), one, "viw").ok());
  ASSERT_TRUE(saveFileAtomically(dir.file("old/settings.cfg.viw"), one, "viw").ok());
  ASSERT_TRUE(saveFileAtomically(dir.file("new/s.viw"), two, "viw").ok());
  EXPECT_EQ(moveSessionFiles(dir.file("old"), dir.file("new")), 1u);
  EXPECT_EQ(*readWholeFile(dir.file("new/s.viw")), one);
  EXPECT_TRUE(isRegularFile(dir.file("old/settings.cfg.viw")));
  EXPECT_FALSE(isRegularFile(dir.file("old/s.viw")));
}

} // namespace
} // namespace kestel
