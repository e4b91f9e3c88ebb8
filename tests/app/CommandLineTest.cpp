// The command line as a table: each row is an argument list, the parameters it must give (as a
// dump of the message) or the exit code, and the log line it must write. Then the raw upgrade
// forms, "-" with the parameters it reads, and the wiping of a password argument.
#include "app/CommandLine.h"
#include "app/Startup.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace kestel {
namespace {

// Owns writable copies of the arguments, as main receives them.
struct Args {
  explicit Args(std::vector<std::string> list) : text(std::move(list)) {
    text.insert(text.begin(), "kestel");
    for (std::string& a : text)
      pointers.push_back(a.data());
  }
  std::span<char*> span() { return pointers; }
  std::vector<std::string> text;
  std::vector<char*> pointers;
};

nv::message expected(const std::function<void(nv::message&)>& fill) {
  nv::message m;
  fill(m);
  return m;
}

TEST(CommandLine, ArgumentTable) {
  test::TempFolder folder;
  std::string book = folder.file("book.cdb");
  std::ofstream(book) << "x";
  using namespace param;
  struct Row {
    std::vector<std::string> args;
    std::optional<int> exit;
    nv::message parameters;
    const char* logged;
  };
  nv::message hop;
  hop.set(kAddress, "10.0.0.9");
  const std::vector<Row> rows = {
      {{}, {}, {}, nullptr},
      {{"198.51.100.1", "admin", "pw"},
       {},
       expected([](nv::message& m) {
         m.set(kAddress, "198.51.100.1");
         m.set(kLogin, "admin");
         m.set(kPassword, "pw");
       }),
       nullptr},
      {{"198.51.100.1", "admin", "", "office"},
       {},
       expected([](nv::message& m) {
         m.set(kAddress, "198.51.100.1");
         m.set(kLogin, "admin");
         m.set(kPassword, "");
         m.set(kCommandLineSession, "office");
       }),
       nullptr},
      {{book, "198.51.100.1", "admin"},
       {},
       expected([&](nv::message& m) {
         m.set(kAddressBook, book);
         m.set(kAddress, "198.51.100.1");
         m.set(kLogin, "admin");
       }),
       nullptr},
      {{"a", "b", "c", "d", "e"}, 1, {}, "unknown argument - e"},
      {{"a", "--nosecure", "b"},
       {},
       expected([](nv::message& m) {
         m.set(kAddress, "a");
         m.set(kSecure, false);
         m.set(kLogin, "b");
       }),
       nullptr},
      {{"--hoplink", "10.0.0.9", "a"},
       {},
       expected([&](nv::message& m) {
         m.set(kHoplink, hop);
         m.set(kAddress, "a");
       }),
       nullptr},
      {{"a", "--", "x.jg", "--help", "b"},
       {},
       expected([](nv::message& m) {
         m.set(kAddress, "a");
         m.set(kDocuments, std::vector<std::string>{"x.jg", "--help", "b"});
       }),
       nullptr},
      {{"--"}, {}, expected([](nv::message& m) { m.set(kDocuments, {}); }), nullptr},
      {{"a", "--help"}, 0, {}, kUsageText},
      {{"-?"}, 0, {}, kUsageText},
      {{"-h", "a", "b", "c", "d", "e"}, 0, {}, kUsageText},
      {{"--hoplink"}, 1, {}, "unknown argument - --hoplink"},
  };
  for (const Row& row : rows) {
    std::string joined;
    for (const auto& a : row.args)
      joined += a + " ";
    SCOPED_TRACE(joined);
    CaptureLogSink log;
    Args args(row.args);
    CommandLine line = parseCommandLine(args.span(), nullptr);
    EXPECT_EQ(line.exitCode, row.exit);
    if (!row.exit) {
      std::string got, want;
      line.parameters.dump(got);
      row.parameters.dump(want);
      EXPECT_EQ(got, want);
    }
    if (row.logged) {
      EXPECT_TRUE(log.contains(row.logged));
    }
  }
}

TEST(CommandLine, StandardInputReplacesWhatCameBeforeAndParsingGoesOn) {
  nv::message piped;
  piped.set(param::kAddress, "piped");
  piped.set(param::kLogin, "pipe-user");
  int reads = 0;
  Args args({"first", "x", "-", "--nosecure"});
  CommandLine line = parseCommandLine(args.span(), [&] {
    ++reads;
    return piped;
  });
  EXPECT_EQ(1, reads);
  EXPECT_EQ(line.parameters.get(param::kAddress), "piped");
  EXPECT_EQ(line.parameters.get(param::kLogin), "pipe-user");
  EXPECT_FALSE(line.parameters.get(param::kSecure, true));
}

TEST(CommandLine, PasswordArgumentIsWipedOnceRead) {
  Args args({"a", "b", "secret", "s"});
  CommandLine line = parseCommandLine(args.span(), nullptr);
  EXPECT_EQ(line.parameters.get(param::kPassword), "secret");
  EXPECT_EQ(std::string(args.pointers[3], 6), std::string(6, '\0'));
  EXPECT_STREQ(args.pointers[4], "s");
}

TEST(CommandLine, RawUpgradeForms) {
  struct Row {
    std::vector<std::string> args;
    RawForm::Kind kind;
    std::string path;
  };
  const std::vector<Row> rows = {
      {{"\\c /opt/kestel/kestel.new"}, RawForm::Kind::FinishUpgrade, "/opt/kestel/kestel.new"},
      {{"\\c", "/opt/my apps/kestel"}, RawForm::Kind::FinishUpgrade, "/opt/my apps/kestel"},
      {{"\\d", "/tmp/old kestel"}, RawForm::Kind::DeleteFile, "/tmp/old kestel"},
      {{"\\x", "/tmp/a"}, RawForm::Kind::None, ""},
      {{"\\c"}, RawForm::Kind::None, ""},
      {{"a", "\\c", "b"}, RawForm::Kind::None, ""},
      {{}, RawForm::Kind::None, ""},
  };
  for (const Row& row : rows) {
    Args args(row.args);
    RawForm form = parseRawForm(args.span());
    EXPECT_EQ(int(form.kind), int(row.kind)) << args.text.back();
    EXPECT_EQ(form.path, row.path);
  }
}

TEST(Startup, DecisionFollowsTheRawFormsTheCommandLineAndAHandedOverSession) {
  {
    Args args({"\\d", "/tmp/old", "a", "b", "c", "d", "e"}); // never parsed as arguments
    StartupDecision d = decideStartup(args.span(), -1);
    EXPECT_EQ(int(d.kind), int(StartupDecision::Kind::Loader));
    EXPECT_EQ(d.path, "/tmp/old a b c d e");
    EXPECT_TRUE(d.parameters.empty());
  }
  {
    Args args({"\\c", "/tmp/new"});
    StartupDecision d = decideStartup(args.span(), -1);
    EXPECT_EQ(int(d.kind), int(StartupDecision::Kind::FinishUpgrade));
    EXPECT_EQ(d.path, "/tmp/new");
  }
  {
    Args args({"a", "b", "c", "d", "e"});
    StartupDecision d = decideStartup(args.span(), -1);
    EXPECT_EQ(int(d.kind), int(StartupDecision::Kind::Exit));
    EXPECT_EQ(d.exitCode, 1);
  }
  {
    Args args({"-"});
    StartupDecision d = decideStartup(args.span(), -1); // nothing to read: empty parameters
    EXPECT_EQ(int(d.kind), int(StartupDecision::Kind::Loader));
    EXPECT_TRUE(d.parameters.empty());
  }
}

} // namespace
} // namespace kestel
