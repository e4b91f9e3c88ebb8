#include "api/net/MacConnection.h"

#include "NetTestSupport.h"
#include "support/Hex.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <random>

namespace kestel {
namespace {

using test::Collector;
using test::RecordingListener;

TEST(MacPacket, HeaderFieldsAreBigEndianAndTheVersionIsChecked) {
  Bytes wire = test::fromHex("01"
                             "01"
                             "0a0b0c0d0e0f"
                             "112233445566"
                             "abcd"
                             "0f90"
                             "00010203"
                             "6869");
  auto p = parseMacPacket(wire);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->type, 1);
  EXPECT_EQ(p->source, (MacAddress{0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}));
  EXPECT_EQ(p->destination, (MacAddress{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  EXPECT_EQ(p->sourcePort, 0xabcd);
  EXPECT_EQ(p->destinationPort, kMacRouterPort);
  EXPECT_EQ(p->number, 0x00010203u);
  EXPECT_EQ(Bytes(p->payload.begin(), p->payload.end()), (Bytes{'h', 'i'}));
  EXPECT_EQ(buildMacPacket(*p), wire);

  EXPECT_FALSE(parseMacPacket(ByteSpan(wire).first(21)).ok());
  wire[0] = 2;
  EXPECT_FALSE(parseMacPacket(wire).ok());
}

// ---- the stream -------------------------------------------------------------------------

struct Sent {
  char kind; // 'D' data, 'A' acknowledgement
  uint32_t number;
  size_t length;
  bool operator==(const Sent&) const = default;
};

class MacStreamTest : public test::ReactorTest {
protected:
  std::vector<Sent> sent;
  Bytes delivered;
  int drained = 0;
  bool timedOut = false;
  MacStream stream{
      reactor, MacStream::Hooks{
                   [this](uint32_t o, ByteSpan p) {
                     sent.push_back({'D', o, p.size()});
                   },
                   [this](uint32_t n) {
                     sent.push_back({'A', n, 0});
                   },
                   [this](ByteSpan b) { delivered.insert(delivered.end(), b.begin(), b.end()); },
                   [this] { ++drained; },
                   [this] { timedOut = true; },
               }};
};

TEST_F(MacStreamTest, SegmentsCumulativeAcksAndTheWindow) {
  stream.queue(Bytes(3024, 'x'));
  EXPECT_TRUE(sent.empty()) << "output waits for the window timer";
  reactor.advance(1);
  EXPECT_EQ(sent, (std::vector<Sent>{{'D', 0, 1450}, {'D', 1450, 1450}, {'D', 2900, 124}}));
  sent.clear();
  stream.onAck(2900); // the end of the second: the first two go at once
  EXPECT_EQ(stream.unacknowledged(), 1u);
  EXPECT_EQ(stream.queuedBytes(), 124u);
  stream.onAck(2900); // repeated: nothing more to send
  stream.onAck(17);   // matches nothing
  EXPECT_TRUE(sent.empty());
  stream.onAck(3024);
  EXPECT_EQ(drained, 1);
  EXPECT_TRUE(stream.idle());

  stream.queue(Bytes(kMacMaxSegment * 20, 'y'));
  reactor.advance(1);
  EXPECT_EQ(sent.size(), kMacWindow) << "at most 16 segments unacknowledged";
  stream.onAck(3024 + kMacMaxSegment);
  EXPECT_EQ(sent.size(), kMacWindow + 1);
  EXPECT_EQ(sent.back().number, 3024 + kMacMaxSegment * 16);
}

TEST_F(MacStreamTest, ResendsEvery100MsAndGivesUpAtThe31st) {
  stream.queue(Bytes(2000, 'x'));
  reactor.advance(1);
  sent.clear();
  reactor.advance(100);
  EXPECT_EQ(sent, (std::vector<Sent>{{'D', 0, 1450}, {'D', 1450, 550}}));
  stream.onAck(1450); // progress restarts the count
  sent.clear();
  reactor.advance(100 * 30);
  EXPECT_EQ(sent.size(), 30u);
  EXPECT_FALSE(timedOut);
  reactor.advance(100);
  EXPECT_TRUE(timedOut);
}

TEST_F(MacStreamTest, InOrderDataOnlyRepeatsAckedAgainFutureIgnored) {
  stream.onData(0, Bytes(10, 'a'));
  stream.onData(0, Bytes(10, 'a')); // repeated
  stream.onData(20, Bytes(5, 'c')); // from the future
  stream.onData(10, Bytes(10, 'b'));
  EXPECT_EQ(sent, (std::vector<Sent>{{'A', 10, 0}, {'A', 10, 0}, {'A', 20, 0}}));
  Bytes expected(10, 'a');
  expected.resize(20, 'b');
  EXPECT_EQ(delivered, expected);
}

// Two streams joined by a wire that loses, reorders and duplicates packets (seeded): every
// byte arrives once and in order, whatever the wire does, or the sender gives up.
TEST(MacStreamWire, LossReorderAndDuplicationDeliverEveryByteOnceInOrder) {
  struct Packet {
    bool toB;
    bool data;
    uint32_t number;
    Bytes payload;
  };
  for (int percent : {0, 5, 20}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE("loss/reorder/duplicate % " + std::to_string(percent) + " seed " +
                   std::to_string(seed));
      PollReactor reactor(PollReactor::Clock::Manual);
      std::mt19937 random(seed);
      std::vector<Packet> inFlight;
      auto wire = [&](Packet p) {
        if (int(random() % 100) < percent)
          return; // lost
        if (int(random() % 100) < percent)
          inFlight.push_back(p); // duplicated
        size_t at = inFlight.size();
        if (int(random() % 100) < percent && at > 0)
          at = random() % at; // overtakes earlier packets
        inFlight.insert(inFlight.begin() + at, std::move(p));
      };
      Bytes gotB, gotA;
      bool gaveUp = false;
      MacStream* aPtr = nullptr;
      MacStream* bPtr = nullptr;
      auto hooks = [&](bool fromA, Bytes& got) {
        return MacStream::Hooks{
            [&, fromA](uint32_t o, ByteSpan p) {
              wire({fromA, true, o, Bytes(p.begin(), p.end())});
            },
            [&, fromA](uint32_t n) {
              wire({fromA, false, n, {}});
            },
            [&](ByteSpan b) { got.insert(got.end(), b.begin(), b.end()); },
            [] {},
            [&] { gaveUp = true; },
        };
      };
      MacStream a(reactor, hooks(true, gotA));
      MacStream b(reactor, hooks(false, gotB));
      aPtr = &a;
      bPtr = &b;
      Bytes fromA(100000), fromB(30 * 1024);
      for (size_t i = 0; i < fromA.size(); ++i)
        fromA[i] = uint8_t(random());
      for (size_t i = 0; i < fromB.size(); ++i)
        fromB[i] = uint8_t(random());
      a.queue(fromA);
      b.queue(fromB);
      for (int step = 0; step < 100000 && !gaveUp; ++step) {
        if (gotB.size() == fromA.size() && gotA.size() == fromB.size() && a.idle() && b.idle())
          break;
        if (inFlight.empty()) {
          reactor.advance(1);
          continue;
        }
        Packet p = std::move(inFlight.front());
        inFlight.erase(inFlight.begin());
        MacStream* to = p.toB ? bPtr : aPtr;
        if (p.data)
          to->onData(p.number, p.payload);
        else
          to->onAck(p.number);
      }
      EXPECT_FALSE(gaveUp);
      EXPECT_EQ(gotB, fromA);
      EXPECT_EQ(gotA, fromB);
    }
  }
}

// ---- the connection ---------------------------------------------------------------------

struct LinkLog {
  std::vector<std::string> events; // "open <iface>@t", "send <type> to <addr>@t", "close"
  std::vector<MacPacket> packets;
  std::vector<Bytes> raw;
  MacLink::Receive receive;
};

class FakeLink final : public MacLink {
public:
  FakeLink(LinkLog& log, PollReactor& reactor) : log_(log), reactor_(reactor) {}
  bool open(const NetInterface& i, Receive onReceive, Failure) override {
    log_.events.push_back("open " + i.name + "@" + std::to_string(reactor_.now()));
    log_.receive = std::move(onReceive);
    return true;
  }
  void send(ByteSpan datagram, uint32_t broadcast) override {
    log_.raw.emplace_back(datagram.begin(), datagram.end());
    auto p = parseMacPacket(log_.raw.back());
    ASSERT_TRUE(p.ok());
    log_.packets.push_back(*p);
    log_.events.push_back("send " + std::to_string(p->type) + " to " +
                          std::to_string(ntohl(broadcast) & 0xFF) + "@" +
                          std::to_string(reactor_.now()));
  }
  void close() override { log_.events.push_back("close"); }
  int descriptor() const override { return 42; }
  int release() override { return 42; }
  bool adopt(int fd, Receive onReceive, Failure) override {
    if (fd != 42)
      return false;
    log_.receive = std::move(onReceive);
    return true;
  }

private:
  LinkLog& log_;
  PollReactor& reactor_;
};

const MacAddress kRouter{0x02, 0, 0, 0, 0, 0x99};

NetInterface iface(const char* name, uint8_t last, uint32_t broadcastLow) {
  NetInterface i;
  i.name = name;
  i.mac = {0x02, 0, 0, 0, 0, last};
  i.ipv4.push_back({htonl(0xC6120001), htonl(0xC6120000 | broadcastLow)});
  return i;
}

class MacConnectionTest : public test::ReactorTest {
protected:
  LinkLog link;
  Reference<MacConnection> connection;
  Reference<RecordingListener> listener{new RecordingListener};
  Collector collector;

  void SetUp() override {
    MacConnectionOptions o;
    o.interfaces = [] {
      NetInterface lo;
      lo.name = "lo";
      lo.loopback = true;
      lo.mac = Bytes(6, 0);
      return std::vector<NetInterface>{lo, iface("a", 1, 255), iface("b", 2, 127)};
    };
    o.link = std::make_unique<FakeLink>(link, reactor);
    o.randomPort = [] { return uint16_t(0x1234); };
    connection = createMacConnection(reactor, std::move(o));
    connection->addListener(listener.get());
    connection->addReceiver(6, &collector);
  }
  void TearDown() override { connection->close(CloseMode::Now); }

  // A packet from the router to the client on interface `last`.
  void fromRouter(MacPacketType type, uint32_t number, Bytes payload = {}, uint8_t last = 1,
                  uint16_t port = 0x1234) {
    MacPacket p;
    p.type = uint8_t(type);
    p.source = kRouter;
    p.destination = {0x02, 0, 0, 0, 0, last};
    p.sourcePort = kMacRouterPort;
    p.destinationPort = port;
    p.number = number;
    p.payload = payload;
    link.receive({buildMacPacket(p)});
  }
};

TEST_F(MacConnectionTest, TriesEachInterfaceAndBroadcastModeThenGivesUp) {
  connection->connect("02:00:00:00:00:99", 0);
  reactor.advance(399);
  EXPECT_EQ(link.events,
            (std::vector<std::string>{"open a@0", "send 0 to 255@0", "open b@100",
                                      "send 0 to 255@100", "open a@200", "send 0 to 255@200",
                                      "open b@300", "send 0 to 127@300"}));
  EXPECT_EQ(link.packets[0].destination, kRouter);
  EXPECT_EQ(link.packets[0].sourcePort, 0x1234);
  EXPECT_EQ(link.packets[0].destinationPort, kMacRouterPort);
  reactor.advance(2000 - 399 - 1);
  EXPECT_TRUE(listener->connection.empty());
  reactor.advance(1);
  ASSERT_EQ(listener->connection.size(), 1u);
  EXPECT_EQ(listener->connection[0].second, "Could not connect");
}

TEST_F(MacConnectionTest, ComesUpOnAckZeroAndCarriesChunks) {
  connection->connect("02-00-00-00-00-99", 0);
  connection->send(6, Bytes(600, 'q').data(), 600); // before it is up: kept for later
  fromRouter(MacPacketType::Ack, 0, {}, 2);         // addressed to another interface
  fromRouter(MacPacketType::Ack, 0, {}, 1, 0x4321); // to another client's port
  EXPECT_FALSE(connection->isUp());
  fromRouter(MacPacketType::Ack, 0);
  ASSERT_TRUE(connection->isUp());
  reactor.advance(1);
  ASSERT_EQ(link.packets.back().type, uint8_t(MacPacketType::Data));
  EXPECT_EQ(link.packets.back().payload.size(), 606u) << "600 bytes in three chunks";

  Bytes chunk{3, 6, 'a', 'b', 'c'};
  fromRouter(MacPacketType::Data, 0, chunk);
  fromRouter(MacPacketType::Data, 0, chunk); // repeated: acknowledged, not delivered again
  EXPECT_EQ(collector.bytes, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(link.packets.back().type, uint8_t(MacPacketType::Ack));
  EXPECT_EQ(link.packets.back().number, 5u);

  auto description = connection->describe();
  EXPECT_TRUE(description.get(nv::bool_id(4)));
  EXPECT_EQ(description.get(nv::u32_id(8)), 5u);
  EXPECT_EQ(description.get(nv::u32_id(9)), 0x1234u);
  EXPECT_EQ(connection->textDescription(false)[0].second, "42,606,5,4660");
}

TEST_F(MacConnectionTest, ABadAddressClosesAtOnce) {
  connection->connect("02:00:00:00:99", 0);
  ASSERT_EQ(listener->connection.size(), 1u);
  EXPECT_EQ(listener->connection[0].second, "bad router address");
}

TEST_F(MacConnectionTest, HandsOverAndResumesTheStreamWhereItWas) {
  connection->connect("02:00:00:00:00:99", 0);
  fromRouter(MacPacketType::Ack, 0);
  fromRouter(MacPacketType::Data, 0, Bytes{3, 6, 'a', 'b', 'c'});
  connection->send(6, Bytes(10, 'z').data(), 10);
  reactor.advance(1);
  fromRouter(MacPacketType::Ack, 12);
  nv::message description = connection->describe();
  EXPECT_EQ(description.get(nv::raw_id(5)), Bytes(kRouter.begin(), kRouter.end()));
  EXPECT_EQ(description.get(nv::raw_id(6)), (Bytes{2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(description.get(nv::u32_id(7)), 12u);

  auto pairs = connection->textDescription(true);
  EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"srcaddr", "02:00:00:00:00:01"}));
  EXPECT_TRUE(connection->isClosed());
  size_t sentBefore = link.packets.size();
  connection->send(6, Bytes(3, 'x').data(), 3);
  reactor.advance(1000);
  EXPECT_EQ(link.packets.size(), sentBefore) << "a released connection sends nothing";

  MacConnectionOptions o;
  o.interfaces = [] { return std::vector<NetInterface>{iface("a", 1, 255)}; };
  o.link = std::make_unique<FakeLink>(link, reactor);
  auto adopted = createMacConnection(reactor, std::move(o));
  Collector more;
  adopted->addReceiver(6, &more);
  nv::message wrongSocket = description;
  wrongSocket.set(nv::u64_id(3), uint64_t(7));
  EXPECT_FALSE(adopted->adopt(wrongSocket));
  ASSERT_TRUE(adopted->adopt(description));
  EXPECT_TRUE(adopted->isUp());
  fromRouter(MacPacketType::Data, 5, Bytes{1, 6, 'd'}); // the stream goes on at offset 5
  EXPECT_EQ(more.bytes, (Bytes{'d'}));
  adopted->send(6, Bytes(2, 'y').data(), 2);
  reactor.advance(1);
  EXPECT_EQ(link.packets.back().number, 12u) << "new data continues at the send offset";
  adopted->removeReceiver(6, &more);
  adopted->close(CloseMode::Now);
}

} // namespace
} // namespace kestel
