// The terminal session against a stand-in session layer on the manual clock: the open request of
// each kind, failures, the hand-over timer with its acknowledgements, window sizes, input held
// until the session id is known, long pastes cut into bounded messages, the router's close, and
// the emulator's replies going back to the router.
#include "app/TerminalSession.h"
#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/TerminalConsole.h"
#include "app/TerminalEntries.h"
#include "util/Log.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

using U32s = std::vector<uint32_t>;

struct FakeRouterSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

struct RecordingClient final : TerminalSessionClient {
  void output(std::string_view bytes) override {
    text += bytes;
    ++outputs;
  }
  void stateChanged() override { ++changes; }
  std::string text;
  int outputs = 0, changes = 0;
};

std::string bytesOf(const nv::message& m) {
  auto raw = m.get(kTerminalBytes);
  return std::string(raw.begin(), raw.end());
}

class TerminalSessionTest : public ::testing::Test {
protected:
  TerminalSessionTest() {
    resetLooper();
    router = makeRef<FakeRouterSession>();
    getLooper()->setSession(router.get());
    connection = createConnection(reactor); // idle: enough to count as a router connection
    setRouterConnection(connection.get());
  }
  ~TerminalSessionTest() override {
    // Sessions dropped while opening keep their handler until the open time-out.
    reactor.advance(TerminalSession::kOpenTimeoutMs);
    reactor.runOnce(0);
    reactor.runOnce(0);
    resetLooper();
  }

  // The messages posted since the last call.
  std::vector<nv::message> take() { return std::exchange(router->posted, {}); }

  // A message from the router's terminal handler to the session's handler.
  void fromRouter(const TerminalSession& s, uint32_t command, nv::message m) {
    m.set(SYS_TO, U32s{0, s.handlerId()});
    m.set(SYS_FROM, U32s{kTerminalHandler});
    m.set(SYS_CMD, command);
    getLooper()->deliver(m);
  }
  void data(const TerminalSession& s, std::string_view bytes, uint32_t id = 42) {
    nv::message m;
    m.set(STD_ID, id);
    m.set(kTerminalBytes, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    fromRouter(s, kTerminalData, std::move(m));
  }
  // Answers the open request the session posted last.
  void answerOpen(const TerminalSession& s, const nv::message& request, uint32_t id = 42) {
    nv::message reply;
    reply.set(SYS_TO, U32s{0, s.handlerId()});
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, request.get(SYS_REQID));
    reply.set(STD_ID, id);
    getLooper()->deliver(reply);
  }
  // Opens a console session of 80×24 and answers it with session id 42.
  void openSession(TerminalSession& s) {
    s.open("admin", TerminalTarget{}, 80, 24);
    auto sent = take();
    ASSERT_EQ(sent.size(), 1u);
    answerOpen(s, sent[0]);
    ASSERT_EQ(s.state(), TerminalSession::State::Open);
  }

  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  Reference<FakeRouterSession> router;
  Reference<Connection> connection;
  RecordingClient client;
  CaptureLogSink log;
};

TEST_F(TerminalSessionTest, OpenRequestOfEveryKind) {
  struct Case {
    TerminalTarget target;
    bool relayed;
    bool guest;
  };
  const Case cases[] = {
      {{TerminalKind::Console, "", "", 0}, false, false},
      {{TerminalKind::Telnet, "198.18.0.7", "root", 0}, true, false},
      {{TerminalKind::MacTelnet, "02:00:5e:10:00:01", "admin", 0}, true, false},
      {{TerminalKind::Guest, "", "", 3}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<uint32_t>(c.target.kind));
    TerminalSession s(reactor, client, "t");
    s.open("admin", c.target, 132, 43);
    auto sent = take();
    ASSERT_EQ(sent.size(), 1u);
    const nv::message& m = sent[0];
    EXPECT_EQ(m.get(SYS_TO), U32s{kTerminalHandler});
    EXPECT_EQ(m.get(SYS_FROM), (U32s{0, s.handlerId()}));
    EXPECT_EQ(m.get(SYS_CMD), kTerminalOpen);
    EXPECT_TRUE(m.get(SYS_REPLYEXP));
    EXPECT_EQ(m.get(kTerminalLogin), "admin");
    EXPECT_EQ(m.get(kTerminalType), "vt102");
    EXPECT_EQ(m.get(kTerminalColumns), 132u);
    EXPECT_EQ(m.get(kTerminalRows), 43u);
    EXPECT_EQ(m.get(kTerminalKind), static_cast<uint32_t>(c.target.kind));
    EXPECT_EQ(m.has(kTerminalTargetAddress), c.relayed);
    EXPECT_EQ(m.get(kTerminalTargetAddress), c.target.address);
    EXPECT_EQ(m.get(kTerminalTargetUser), c.target.user);
    EXPECT_EQ(m.has(kTerminalOptions), c.guest);
    EXPECT_EQ(m.get(kTerminalOptions).get(kTerminalGuestLink), c.target.guestLink);
    EXPECT_EQ(s.state(), TerminalSession::State::Opening);
  }
  EXPECT_TRUE(log.contains("sending login msg"));
}

TEST_F(TerminalSessionTest, OpenFailuresAndTimeOut) {
  TerminalSession refused(reactor, client, "t");
  refused.open("admin", {}, 80, 24);
  nv::message reply;
  reply.set(SYS_TO, U32s{0, refused.handlerId()});
  reply.set(SYS_TYPE, TYPE_REPLY);
  reply.set(SYS_REQID, take()[0].get(SYS_REQID));
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, ERROR_NOTALLOWED);
  getLooper()->deliver(reply);
  EXPECT_EQ(refused.state(), TerminalSession::State::Failed);
  EXPECT_TRUE(log.contains("ERROR: could not login (" + std::to_string(ERROR_NOTALLOWED) + ")"));
  EXPECT_FALSE(refused.error().empty());

  TerminalSession silent(reactor, client, "t");
  silent.open("admin", {}, 80, 24);
  take();
  reactor.advance(TerminalSession::kOpenTimeoutMs);
  reactor.runOnce(0);
  EXPECT_EQ(silent.state(), TerminalSession::State::Failed);
  EXPECT_TRUE(log.contains("ERROR: could not login (" + std::to_string(ERROR_TIMEOUT) + ")"));
  silent.input("lost");
  silent.resize(100, 30);
  EXPECT_TRUE(take().empty());
}

TEST_F(TerminalSessionTest, HandOverAfterTenMillisecondsThenAcknowledge) {
  TerminalSession s(reactor, client, "t");
  openSession(s);
  EXPECT_TRUE(log.contains("login reply"));
  data(s, "hello ");
  reactor.advance(4);
  reactor.runOnce(0);
  data(s, "world");
  nv::message ack; // the router's own acknowledgement: shows nothing
  ack.set(STD_ID, 42u);
  ack.set(kTerminalReceived, 7u);
  fromRouter(s, kTerminalData, ack);
  reactor.advance(5);
  reactor.runOnce(0);
  EXPECT_EQ(client.outputs, 0);
  EXPECT_EQ(s.queued(), 11u);
  reactor.advance(1);
  reactor.runOnce(0);
  EXPECT_EQ(client.text, "hello world");
  EXPECT_EQ(client.outputs, 1);
  auto sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get(SYS_CMD), kTerminalData);
  EXPECT_EQ(sent[0].get(STD_ID), 42u);
  EXPECT_EQ(sent[0].get(kTerminalReceived), 11u);
  EXPECT_FALSE(sent[0].has(kTerminalBytes));
  data(s, "!");
  reactor.advance(10);
  reactor.runOnce(0);
  sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get(kTerminalReceived), 12u);
  EXPECT_EQ(s.received(), 12u);
}

TEST_F(TerminalSessionTest, AFloodIsHandedOverBeforeTheQueuePassesItsBound) {
  TerminalSession s(reactor, client, "t");
  openSession(s);
  std::string piece(64 * 1024, 'x');
  for (size_t sent = 0; sent <= TerminalSession::kMaxQueued; sent += piece.size()) {
    data(s, piece);
    EXPECT_LE(s.queued(), TerminalSession::kMaxQueued);
  }
  EXPECT_EQ(client.outputs, 1);
  EXPECT_EQ(client.text.size(), TerminalSession::kMaxQueued + piece.size());
}

TEST_F(TerminalSessionTest, WindowSizeOnlyWithASessionIdAndWhenItChanged) {
  TerminalSession s(reactor, client, "t");
  s.open("admin", {}, 80, 24);
  auto open = take()[0];
  s.resize(100, 30); // no session id yet: nothing now, the new size once the id is known
  EXPECT_TRUE(take().empty());
  answerOpen(s, open);
  auto sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get(SYS_CMD), kTerminalWindowSize);
  EXPECT_EQ(sent[0].get(STD_ID), 42u);
  EXPECT_EQ(sent[0].get(kTerminalColumns), 100u);
  EXPECT_EQ(sent[0].get(kTerminalRows), 30u);
  EXPECT_TRUE(log.contains("sending winch 100x30"));
  s.resize(100, 30);
  EXPECT_TRUE(take().empty());
  s.resize(0, -5); // a window shrunk to nothing still has one cell
  sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get(kTerminalColumns), 1u);
  EXPECT_EQ(sent[0].get(kTerminalRows), 1u);
}

TEST_F(TerminalSessionTest, InputHeldUntilOpenAndLongPastesGoOutWhole) {
  TerminalSession s(reactor, client, "t");
  s.open("admin", {}, 80, 24);
  auto open = take()[0];
  s.input("ls\r");
  EXPECT_TRUE(take().empty());
  answerOpen(s, open);
  auto sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(bytesOf(sent[0]), "ls\r");

  std::string paste;
  for (int i = 0; paste.size() < 100000; ++i)
    paste += "line " + std::to_string(i) + "\n";
  paste.resize(100000);
  s.input(paste);
  std::string arrived;
  for (const nv::message& m : take()) {
    EXPECT_EQ(m.get(SYS_CMD), kTerminalData);
    EXPECT_EQ(m.get(STD_ID), 42u);
    EXPECT_LE(m.get(kTerminalBytes).size(), TerminalSession::kMaxDataBytes);
    arrived += bytesOf(m);
  }
  EXPECT_EQ(arrived, paste);
}

TEST_F(TerminalSessionTest, RouterCloseShowsWhatCameBeforeAndStopsInput) {
  TerminalSession s(reactor, client, "Terminal 198.18.0.1");
  openSession(s);
  data(s, "other session", 7); // not ours
  data(s, "bye\r\n");
  nv::message close;
  close.set(STD_ID, 42u);
  fromRouter(s, kTerminalClose, close);
  EXPECT_EQ(client.text, "bye\r\n");
  EXPECT_EQ(s.title(), "Terminal 198.18.0.1 (Disconnected)");
  EXPECT_EQ(s.state(), TerminalSession::State::Disconnected);
  EXPECT_TRUE(take().empty()); // no acknowledgement to a closed session
  s.input("x");
  s.resize(90, 20);
  fromRouter(s, 0xA0099, nv::message());
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(log.contains("WARNING: Terminal unknown cmd recvd"));
  EXPECT_TRUE(log.contains("session 7 which is not open"));
}

TEST_F(TerminalSessionTest, ClosingTellsTheRouterEvenBeforeItsReply) {
  {
    TerminalSession s(reactor, client, "t");
    openSession(s);
    s.close();
    auto sent = take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].get(SYS_CMD), kTerminalClose);
    EXPECT_EQ(sent[0].get(STD_ID), 42u);
  }
  EXPECT_TRUE(take().empty()); // closed once
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy);
    auto s = std::make_unique<TerminalSession>(reactor, client, "t");
    s->open("admin", {}, 80, 24);
    nv::message open = take()[0];
    uint32_t handler = s->handlerId();
    if (destroy)
      s.reset();
    else
      s->close();
    EXPECT_TRUE(take().empty());
    nv::message reply;
    reply.set(SYS_TO, U32s{0, handler});
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, open.get(SYS_REQID));
    reply.set(STD_ID, 9u);
    getLooper()->deliver(reply);
    auto sent = take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].get(SYS_CMD), kTerminalClose);
    EXPECT_EQ(sent[0].get(STD_ID), 9u);
    reactor.runOnce(0); // the orphaned handler goes
  }
  EXPECT_EQ(getLooper()->tableSize(), 0u);
}

TEST_F(TerminalSessionTest, EmulatorRepliesGoBackToTheRouter) {
  TerminalConsole console(reactor, "t", 80, 24);
  console.open("admin", {});
  answerOpen(console.session(), take()[0]);
  data(console.session(), "ab\x1b[6n\x1b[c");
  reactor.advance(10);
  reactor.runOnce(0);
  std::string replies;
  uint32_t acknowledged = 0;
  for (const nv::message& m : take()) {
    replies += bytesOf(m);
    if (!m.has(kTerminalBytes))
      acknowledged = m.get(kTerminalReceived);
  }
  EXPECT_EQ(replies, "\x1b[1;3R\x1b[?1;2c");
  EXPECT_EQ(acknowledged, 9u);
  EXPECT_EQ(console.screen().cell(1, 0).ch, 'b');
  console.resize(10000, 0); // clamped by the emulator; the router learns the real size
  auto sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].get(kTerminalColumns), uint32_t(TerminalScreen::kMaxColumns));
  EXPECT_EQ(sent[0].get(kTerminalRows), 1u);
}

TEST(TerminalEntries, FourKindsAndTheGuestList) {
  auto plain = terminalEntries({});
  ASSERT_EQ(plain.size(), 4u);
  EXPECT_EQ(plain[0].title, "Terminal");
  EXPECT_EQ(plain[1].title, "Telnet");
  EXPECT_EQ(plain[1].asks, (std::vector<std::string>{"addr", "user"}));
  EXPECT_EQ(plain[2].title, "MAC Telnet");
  EXPECT_EQ(plain[2].asks, (std::vector<std::string>{"addr", "user"}));
  EXPECT_EQ(plain[3].title, "Nestvisor");
  EXPECT_TRUE(plain[3].children.empty());

  const nv::string_id name{1};
  const nv::u32_id link{2};
  std::vector<nv::message> rows(3);
  rows[0].set(name, "edge-1");
  rows[0].set(link, 4u);
  rows[1].set(link, 5u); // no name
  rows[2].set(name, "lab");
  rows[2].set(link, 12u);
  auto entries = terminalEntries(guestRouters(rows, name, link));
  ASSERT_EQ(entries[3].children.size(), 2u);
  EXPECT_EQ(entries[3].children[0].title, "edge-1 <4>");
  EXPECT_EQ(entries[3].children[1].title, "lab <12>");
  TerminalTarget guest = terminalTarget(entries[3].children[1]);
  EXPECT_EQ(guest.kind, TerminalKind::Guest);
  EXPECT_EQ(guest.guestLink, 12u);
  TerminalTarget telnet = terminalTarget(entries[1], "198.18.0.9", "root");
  EXPECT_EQ(telnet.address, "198.18.0.9");
  EXPECT_EQ(terminalTitle(telnet, "gw"), "Telnet 198.18.0.9 via gw");
  EXPECT_TRUE(terminalTarget(entries[0], "ignored", "x").address.empty());
}

} // namespace
} // namespace kestel
