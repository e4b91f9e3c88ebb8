#include "app/ConnectAddress.h"

#include "api/net/MacPacket.h"
#include "miw/ConvertorAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace kestel {
namespace {

using Transport = ConnectAddress::Transport;

TEST(ConnectAddress, PicksTheTransportAndReadsThePort) {
  struct Case {
    const char* text;
    bool ok;
    Transport transport;
    const char* host;
    uint32_t port;
  } cases[] = {
      {"02:00:00:00:00:0A", true, Transport::Mac, "02:00:00:00:00:0A", 0},
      {"2-0-0-0-0-a", true, Transport::Mac, "2-0-0-0-0-a", 0},
      {"198.18.0.11", true, Transport::Tcp, "198.18.0.11", 0},
      {"198.18.0.11:8729", true, Transport::Tcp, "198.18.0.11", 8729},
      {"router.example", true, Transport::Tcp, "router.example", 0},
      {"[2001:db8::1]", true, Transport::Tcp, "2001:db8::1", 0},
      {"[fe80::1%3]:8291", true, Transport::Tcp, "fe80::1%3", 8291},
      {"[fe80::1%3]:", false, Transport::Tcp, "", 0},
      {"fe80::1", false, Transport::Tcp, "", 0},        // IPv6 outside brackets
      {"02:00:00:00:00", false, Transport::Tcp, "", 0}, // five groups: not a MAC either
      {"198.18.0.11:0", false, Transport::Tcp, "", 0},
      {"198.18.0.11:65536", false, Transport::Tcp, "", 0},
      {"198.18.0.11:65535", true, Transport::Tcp, "198.18.0.11", 65535},
      {"198.18.0.11:+80", false, Transport::Tcp, "", 0},
      {"[2001:db8::1]x", false, Transport::Tcp, "", 0},
      {"[2001:db8::g]", false, Transport::Tcp, "", 0},
      {"[2001:db8::1%]", false, Transport::Tcp, "", 0},
      {"[2001:db8::1", false, Transport::Tcp, "", 0},
      {":80", false, Transport::Tcp, "", 0},
      {"", false, Transport::Tcp, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto a = parseConnectAddress(c.text);
    ASSERT_EQ(a.ok(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(a.error().text, std::string("invalid address - ") + c.text);
      continue;
    }
    EXPECT_EQ(a->transport, c.transport);
    EXPECT_EQ(a->host, c.host);
    EXPECT_EQ(a->port, c.port);
  }
}

// Bracketed addresses are accepted exactly when inet_pton accepts them.
TEST(ConnectAddress, BracketedIpv6AgreesWithInetPton) {
  for (const char* v6 :
       {"::", "::1", "2001:db8::", "2001:db8:0:0:0:0:0:1", "::ffff:198.18.0.1", "2001:db8:::1",
        "1:2:3:4:5:6:7:8:9", "12345::", "2001:db8::1::", "::ffff:198.18.0.256", "g::"}) {
    SCOPED_TRACE(v6);
    in6_addr oracle{};
    bool expected = ::inet_pton(AF_INET6, v6, &oracle) == 1;
    EXPECT_EQ(parseConnectAddress(std::string("[") + v6 + "]").ok(), expected);
  }
}

// The transport reads the MAC address itself (it may not use the convertors); both readers
// must agree on what a MAC address is and on its bytes.
TEST(ConnectAddress, TheTransportsMacReaderAgreesWithTheConvertor) {
  for (const char* text :
       {"02:00:00:00:00:0A", "2:0:0:0:0:a", "02-00-00-00-00-0a", "ff:FF:fF:00:01:10",
        "02:00:00:00:00", "02:00:00:00:00:00:00", "02:00-00:00:00:00", "002:00:00:00:00:00",
        "02:00:00:00:00:0g", "", ":::::", "02:00:00:00:00:0A ", " 02:00:00:00:00:0A"}) {
    SCOPED_TRACE(text);
    Bytes convertor;
    MacAddress transport{};
    bool a = parseMac(text, convertor);
    bool b = parseMacAddress(text, transport);
    ASSERT_EQ(a, b);
    if (a) {
      EXPECT_EQ(convertor, Bytes(transport.begin(), transport.end()));
    }
  }
}

} // namespace
} // namespace kestel
