// Terminal sessions end to end over TCP on loopback: the client's session and emulator against
// the simulator's console in the same process, one manual-clock reactor driving both. Opening
// each kind, typing and seeing the echo and the output, the window size and the terminal's own
// cursor report, a flood that only finishes when acknowledgements flow, a long paste arriving
// whole, the full-screen view, and the three ways a session ends.
#include "LoopbackRouter.h"
#include "api/term/TerminalText.h"
#include "api/wire/Vocabulary.h"
#include "app/TerminalConsole.h"

#include <zlib.h>

namespace kestel {
namespace {

class TerminalExchangeTest : public test::LoopbackRouterTest {
protected:
  TerminalExchangeTest() {
    onClosed = [this](const std::string&) {
      if (terminal)
        terminal->session().connectionLost();
    };
  }
  ~TerminalExchangeTest() override {
    terminal.reset();
    reactor.advance(TerminalSession::kOpenTimeoutMs); // sessions dropped while opening
    reactor.runOnce(0);
  }

  std::string screen() const { return terminalScreenText(terminal->screen()); }
  bool shows(const std::string& text) const { return screen().find(text) != std::string::npos; }
  // Opens a terminal of 80×24 to `target` and waits for the prompt.
  void open(const TerminalTarget& target = {}, const std::string& prompt = "[admin@Nimbalux] >") {
    terminal = std::make_unique<TerminalConsole>(reactor, "Terminal", 80, 24);
    terminal->open("admin", target);
    ASSERT_TRUE(drive([&] { return shows(prompt); })) << screen();
  }
  void type(const std::string& text) { terminal->session().input(text); }

  std::unique_ptr<TerminalConsole> terminal;
};

TEST_F(TerminalExchangeTest, TypeSeeTheEchoAndTheOutputThenQuit) {
  open();
  type("echo hello there\r");
  ASSERT_TRUE(drive([&] { return shows("\nhello there\n[admin@Nimbalux] >"); })) << screen();
  EXPECT_TRUE(shows("[admin@Nimbalux] > echo hello there\n"));
  type("box Kestel\r");
  ASSERT_TRUE(drive([&] { return shows("\u2502Kestel"); })) << screen();
  EXPECT_TRUE(shows("\u250C\u2500\u2500")); // the top-left corner and the line, from "lq"
  EXPECT_EQ(terminal->screen().characterSet(0), CharacterSet::Ascii); // "ESC ( B" at the end
  type("colors\r");
  ASSERT_TRUE(drive([&] { return shows("reverse\n[admin@Nimbalux] >"); })) << screen();
  type("clear\r");
  ASSERT_TRUE(drive([&] { return screen() == "[admin@Nimbalux] >\n"; })) << screen();
  type("echo   \r"); // a command followed by nothing but spaces
  ASSERT_TRUE(drive([&] { return shows("> echo\n\n[admin@Nimbalux] >"); })) << screen();
  type("nonsense\r");
  ASSERT_TRUE(drive([&] { return shows("nonsense: no such command"); })) << screen();
  type("quit\r");
  ASSERT_TRUE(
      drive([&] { return terminal->session().state() == TerminalSession::State::Disconnected; }));
  EXPECT_TRUE(shows("bye"));
  EXPECT_EQ(terminal->session().title(), "Terminal (Disconnected)");
  reactor.advance(1000);
  EXPECT_TRUE(drive([&] { return console.sessionCount() == 0; }));
}

TEST_F(TerminalExchangeTest, WindowSizeAndTheTerminalsOwnCursorReport) {
  open();
  terminal->resize(100, 30);
  type("size\r");
  ASSERT_TRUE(drive([&] { return shows("window 100x30, terminal reports 100x30"); })) << screen();
  ASSERT_TRUE(console.windowSize(terminal->session().sessionId()).has_value());
  EXPECT_EQ(*console.windowSize(terminal->session().sessionId()), std::make_pair(100, 30));
}

TEST_F(TerminalExchangeTest, AFloodFinishesOnlyThroughAcknowledgements) {
  open();
  const uint32_t flood = 3 * sim::Console::kWindowBytes; // three windows of output
  type("flood " + std::to_string(flood) + "\r");
  ASSERT_TRUE(drive([&] {
    return terminal->session().received() > flood && shows("[admin@Nimbalux] >");
  })) << screen();
  type("echo done\r");
  EXPECT_TRUE(drive([&] { return shows("\ndone\n"); })) << screen();
}

TEST_F(TerminalExchangeTest, APasteOfAHundredThousandCharactersArrivesWhole) {
  open();
  std::string paste;
  for (int i = 0; paste.size() < 100000; ++i)
    paste += "echo " + std::to_string(i) + "\r";
  paste.resize(99990);
  paste += "echo end\r";
  paste.resize(100000, ' ');
  uint64_t before = console.bytesTyped();
  uint32_t crcBefore = console.typedChecksum();
  type(paste);
  ASSERT_TRUE(drive([&] { return console.bytesTyped() == before + paste.size(); }));
  uint32_t expected = uint32_t(
      ::crc32(crcBefore, reinterpret_cast<const Bytef*>(paste.data()), uInt(paste.size())));
  EXPECT_EQ(console.typedChecksum(), expected);
}

TEST_F(TerminalExchangeTest, FullScreenViewOnTheAlternateScreen) {
  open();
  type("top\r");
  ASSERT_TRUE(drive([&] { return shows("top - tick 0, 80x24"); })) << screen();
  EXPECT_TRUE(terminal->screen().alternateActive());
  EXPECT_EQ(terminal->screen().scrollTop(), 2);
  reactor.advance(sim::Console::kTopPeriodMs);
  ASSERT_TRUE(drive([&] { return shows("top - tick 1"); })) << screen();
  type("q");
  ASSERT_TRUE(drive([&] { return !terminal->screen().alternateActive(); }));
  EXPECT_TRUE(shows("[admin@Nimbalux] > top\n"));
}

TEST_F(TerminalExchangeTest, RelayedKindsAndGuestsAnswerWithABanner) {
  open({TerminalKind::Telnet, "198.18.0.7", "root", 0}, "[root@198.18.0.7] >");
  EXPECT_TRUE(shows("Trying 198.18.0.7...\nConnected to 198.18.0.7."));
  open({TerminalKind::MacTelnet, "02:00:5e:10:00:01", "admin", 0}, "[admin@02:00:5e:10:00:01] >");
  open({TerminalKind::Guest, "", "", 4}, "[admin@guest-4] >");
  EXPECT_TRUE(shows("console of guest <4>"));

  terminal = std::make_unique<TerminalConsole>(reactor, "Telnet", 80, 24);
  terminal->open("admin", {TerminalKind::Telnet, "", "", 0}); // no address
  ASSERT_TRUE(drive([&] { return terminal->session().state() == TerminalSession::State::Failed; }));
}

TEST_F(TerminalExchangeTest, ClosingTheWindowAndLosingTheConnection) {
  open();
  terminal->session().close();
  reactor.advance(1000);
  EXPECT_TRUE(drive([&] { return console.sessionCount() == 0; }));

  open();
  server.dropAll();
  ASSERT_TRUE(
      drive([&] { return terminal->session().state() == TerminalSession::State::Disconnected; }));
  EXPECT_EQ(terminal->session().title(), "Terminal (Disconnected)");
}

// The router may read the client's first input in the same turn as its open request (the
// client sends it as soon as the reply arrives); the banner and the first prompt still come
// first, and a "quit" typed at once does not swallow them.
TEST(TerminalConsoleOrder, InputInTheOpeningTurnFindsTheSessionStarted) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::Console console(reactor);
  std::string shown;
  auto peer = std::make_shared<sim::RouterPeer>([&](const nv::message& m) {
    if (m.get(SYS_CMD) == kTerminalData && m.has(kTerminalBytes)) {
      std::vector<uint8_t> bytes = m.get(kTerminalBytes);
      shown.append(bytes.begin(), bytes.end());
    }
  });
  sim::SimUser user;
  user.login.name = "admin";
  std::vector<uint32_t> path{kTerminalHandler};
  nv::message open;
  open.set(SYS_CMD, kTerminalOpen);
  open.set(SYS_FROM, std::vector<uint32_t>{7});
  auto reply = console.serve({open, user, false, peer, path});
  ASSERT_TRUE(reply);
  nv::message typed;
  typed.set(SYS_CMD, kTerminalData);
  typed.set(STD_ID, reply->get(STD_ID));
  std::string quit = "quit\r";
  typed.set(kTerminalBytes, std::vector<uint8_t>(quit.begin(), quit.end()));
  console.serve({typed, user, false, peer, path});
  reactor.runOnce(0);
  EXPECT_EQ(shown.find("\x1b[1mNimbalux\x1b[0m router console"), 0u) << shown;
  EXPECT_NE(shown.find("[admin@Nimbalux] > quit\r\nbye\r\n"), std::string::npos) << shown;
}

} // namespace
} // namespace kestel
