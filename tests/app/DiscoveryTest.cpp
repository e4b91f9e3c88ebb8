#include "app/Discovery.h"

#include "api/net/PollReactor.h"
#include "api/wire/Vocabulary.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace kestel {
namespace {

// Records what the handler does with its sockets and lets the test deliver datagrams.
struct FakeNet {
  std::vector<std::string> calls; // "open@t", "send@t", "close@t"
  int failOpens = 0;
  DiscoveryTransport::Receive receive;
};

class FakeTransport final : public DiscoveryTransport {
public:
  FakeTransport(FakeNet& net, PollReactor& reactor) : net_(net), reactor_(reactor) {}
  Expected<void> open(Receive onReceive) override {
    note("open");
    if (net_.failOpens > 0) {
      --net_.failOpens;
      return makeError("bind 98");
    }
    net_.receive = std::move(onReceive);
    return {};
  }
  void send(ByteSpan request) override {
    EXPECT_EQ(Bytes(request.begin(), request.end()), Bytes(4, 0));
    note("send");
  }
  void close() override {
    if (net_.receive)
      note("close");
    net_.receive = nullptr;
  }

private:
  void note(const char* what) {
    net_.calls.push_back(what + ("@" + std::to_string(reactor_.now())));
  }
  FakeNet& net_;
  PollReactor& reactor_;
};

sockaddr_storage v4(const char* text) {
  sockaddr_storage s{};
  auto* in = reinterpret_cast<sockaddr_in*>(&s);
  in->sin_family = AF_INET;
  ::inet_pton(AF_INET, text, &in->sin_addr);
  return s;
}

sockaddr_storage v6(const char* text, uint32_t scope) {
  sockaddr_storage s{};
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&s);
  in6->sin6_family = AF_INET6;
  ::inet_pton(AF_INET6, text, &in6->sin6_addr);
  in6->sin6_scope_id = scope;
  return s;
}

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

Datagram answer(sockaddr_storage from, Bytes mac, const char* identity,
                std::vector<std::pair<uint16_t, Bytes>> more = {}) {
  std::vector<std::pair<uint16_t, Bytes>> fields{{kDiscoveryMac, std::move(mac)},
                                                 {kDiscoveryIdentity, text(identity)}};
  fields.insert(fields.end(), more.begin(), more.end());
  return Datagram{buildDiscoveryPacket(fields), from};
}

const Bytes kMacA{0x02, 0, 0, 0, 0, 0x0A};
const Bytes kMacB{0x02, 0, 0, 0, 0, 0x0B};

class DiscoveryTest : public ::testing::Test {
protected:
  PollReactor reactor{PollReactor::Clock::Manual};
  FakeNet net;
  NeighbourTable table;
  std::unique_ptr<Discovery> discovery = std::make_unique<Discovery>(
      reactor, std::make_unique<FakeTransport>(net, reactor), table, [] { return 4321u; });

  void deliver(std::vector<Datagram> datagrams) {
    ASSERT_TRUE(net.receive) << "no scan is collecting";
    net.receive(datagrams);
  }
};

TEST_F(DiscoveryTest, ScanSendsThriceCollectsFor2400MsAndRescansAfter30sPlusJitter) {
  discovery->start();
  reactor.advance(2400 + 30000 + 1321 - 1);
  EXPECT_EQ(net.calls,
            (std::vector<std::string>{"open@0", "send@0", "send@100", "send@200", "close@2400"}));
  reactor.advance(1);
  EXPECT_EQ(net.calls.back(), "send@33721");
  EXPECT_TRUE(discovery->scanning());
}

TEST_F(DiscoveryTest, BindFailureRetriesAfterHalfASecondWithoutSending) {
  net.failOpens = 2;
  discovery->start();
  reactor.advance(1000);
  EXPECT_EQ(net.calls, (std::vector<std::string>{"open@0", "open@500", "open@1000", "send@1000"}));
}

TEST_F(DiscoveryTest, StopAndRefreshCancelWhatIsPending) {
  discovery->start();
  reactor.advance(150);
  discovery->stop();
  EXPECT_EQ(reactor.timerCount(), 0u);
  EXPECT_EQ(net.calls.back(), "close@150");
  reactor.advance(60000);
  EXPECT_EQ(net.calls.back(), "close@150");

  discovery->refresh();  // starts again, at 60150
  reactor.advance(5000); // in the wait before the next scan
  net.calls.clear();
  discovery->refresh();
  EXPECT_EQ(net.calls, (std::vector<std::string>{"open@65150", "send@65150"}));
  discovery.reset();
  EXPECT_EQ(reactor.timerCount(), 0u);
}

TEST_F(DiscoveryTest, AnswersBecomeOneNeighbourPerMacAndSender) {
  discovery->start();
  deliver({
      answer(v4("198.18.0.11"), kMacA, "one",
             {{kDiscoveryVersion, text("7.15")},
              {kDiscoveryBoard, text("sim")},
              {kDiscoveryUptime, {0x10, 0x0E, 0, 0}}}),
      answer(v6("fe80::a", 4), kMacA, "one"),                  // same MAC, other sender
      answer(v4("198.18.0.12"), {1, 2, 3, 4, 5}, "short mac"), // skipped alone
      {discoveryRequest(), v4("198.18.0.1")},                  // a request names no router
      {Bytes{0, 0, 0, 0, 0, 1, 0, 9}, v4("198.18.0.13")},      // does not parse
      answer(v4("198.18.0.12"), kMacB, "two", {{kDiscoveryUptime, {1, 2, 3}}}),
  });
  ASSERT_EQ(table.list().size(), 3u);
  const Neighbour& a = table.list()[0];
  EXPECT_EQ(neighbourColumnTexts(a),
            (std::vector<std::string>{"02:00:00:00:00:0A", "198.18.0.11", "one", "7.15", "sim",
                                      "01:00:00", "0", "no", "IPv4 only"}));
  EXPECT_EQ(neighbourColumnTexts(table.list()[1])[1], "fe80::a");
  EXPECT_EQ(table.list()[1].type, 1u);
  EXPECT_EQ(table.list()[1].interfaceIndex, 4u);
  EXPECT_FALSE(table.list()[2].uptime.has_value()) << "an uptime of 3 bytes is no uptime";

  // The same router again, renamed, in a later signal: updated in place with its id kept.
  uint32_t id = a.id;
  deliver({answer(v4("198.18.0.11"), kMacA, "renamed")});
  ASSERT_EQ(table.list().size(), 3u);
  EXPECT_EQ(table.find(id)->identity, "renamed");

  nv::message record = neighbourRecord(*table.find(id));
  EXPECT_EQ(record.get(STD_ID), id);
  EXPECT_EQ(record.get(neighbour_key::kMac), kMacA);
  EXPECT_EQ(record.get(neighbour_key::kIdentity), "renamed");
  EXPECT_EQ(record.get(neighbour_key::kAddress)[10], 0xFF) << "IPv4-mapped";
}

struct Recorder : NeighbourListener {
  std::vector<std::string> seen;
  void neighbourAdded(const Neighbour& n) override { seen.push_back("+" + n.identity); }
  void neighbourChanged(const Neighbour& n) override { seen.push_back("~" + n.identity); }
};

TEST(NeighbourTable, CapsNewEntriesButKeepsUpdatingKnownOnes) {
  NeighbourTable table(2);
  Recorder r;
  table.addListener(&r);
  auto n = [](uint8_t last, const char* identity) {
    Neighbour x;
    x.mac = {2, 0, 0, 0, 0, last};
    x.identity = identity;
    return x;
  };
  EXPECT_EQ(table.apply(n(1, "a")), NeighbourTable::Update::Added);
  EXPECT_EQ(table.apply(n(2, "b")), NeighbourTable::Update::Added);
  EXPECT_EQ(table.apply(n(3, "c")), NeighbourTable::Update::Dropped);
  EXPECT_EQ(table.apply(n(1, "a")), NeighbourTable::Update::Unchanged);
  EXPECT_EQ(table.apply(n(2, "b2")), NeighbourTable::Update::Changed);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"+a", "+b", "~b2"}));
  EXPECT_EQ(table.list()[1].id, 2u);
  table.removeListener(&r);
}

TEST(Neighbour, ConnectTextFollowsKavoAddressFamilyAndKnownAddress) {
  DiscoveryPacket plain;
  plain.fields[kDiscoveryMac] = kMacA;
  DiscoveryPacket kavo = plain;
  kavo.fields[kDiscoveryKavo] = Bytes{};
  struct Case {
    const DiscoveryPacket* packet;
    sockaddr_storage from;
    const char* expected;
  } cases[] = {
      {&plain, v4("198.18.0.11"), "198.18.0.11"},
      {&plain, v6("2001:db8::11", 0), "[2001:db8::11%0]"},
      {&plain, v6("fe80::11", 7), "[fe80::11%7]"},
      {&plain, v4("0.0.0.0"), "02:00:00:00:00:0A"},
      {&plain, v6("::", 3), "02:00:00:00:00:0A"},
      {&kavo, v4("198.18.0.11"), "http://198.18.0.11/"},
      {&kavo, v6("2001:db8::11", 0), "http://[2001:db8::11]/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    auto n = neighbourFromAnswer(*c.packet, c.from);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(neighbourConnectText(*n), c.expected);
  }
  sockaddr_storage unix{};
  unix.ss_family = AF_UNIX;
  EXPECT_FALSE(neighbourFromAnswer(plain, unix).has_value());
}

TEST(Discovery, EnvironmentOverridesTheSettingOnlyWithZeroOrOne) {
  EXPECT_TRUE(discoveryEnabled("1", false));
  EXPECT_FALSE(discoveryEnabled("0", true));
  EXPECT_FALSE(discoveryEnabled(nullptr, false));
  EXPECT_TRUE(discoveryEnabled(nullptr, true));
  EXPECT_FALSE(discoveryEnabled("yes", false));
  EXPECT_TRUE(discoveryEnabled("", true));
}

} // namespace
} // namespace kestel
