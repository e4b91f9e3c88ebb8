// Address-and-port, IPv4 and IPv6 networks and raw bytes. Addresses and prefixes are checked
// against inet_pton/inet_ntop, the C library's own reading and writing of addresses.
#include "miw/ConvertorNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

namespace kestel {
namespace {

// The address as the router holds it (first octet in the lowest byte), read by inet_pton.
uint32_t heldIpv4(const char* text) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
  uint32_t held = 0;
  std::memcpy(&held, &a, 4); // network order in memory is exactly the held layout
  return held;
}

Addr6 ipv6(const char* text) {
  Addr6 a{};
  EXPECT_EQ(inet_pton(AF_INET6, text, a.data()), 1) << text;
  return a;
}

std::string ntop6(const Addr6& a) {
  char buf[INET6_ADDRSTRLEN];
  return inet_ntop(AF_INET6, a.data(), buf, sizeof buf);
}

TEST(NetworkConvertors, ReadAndShowAgainstTheLibrary) {
  NetworkShape plain;
  plain.defaultMask = ipv4Netmask(24);
  NetworkShape host = plain;
  host.host = HostBits::NonZero;
  NetworkShape nonZero;
  nonZero.zero = ZeroAddress::Invalid;
  Reference<IConvertor> net4 = ipv4NetworkConvertor(plain);
  Reference<IConvertor> host4 = ipv4NetworkConvertor(host);
  Reference<IConvertor> zero4 = ipv4NetworkConvertor(nonZero);
  const struct {
    IConvertor* conv;
    const char* text;
    const char* address; // for inet_pton; null: refused
    uint32_t length;
    const char* shown;
  } cases[] = {
      {net4.get(), "192.0.2.0/24", "192.0.2.0", 24, "192.0.2.0/24"},
      {net4.get(), "192.168.88.1/24", "192.168.88.1", 24, "192.168.88.1/24"},
      {net4.get(), "198.18.0.0/255.254.0.0", "198.18.0.0", 15, "198.18.0.0/15"},
      {net4.get(), "198.18.0.7", "198.18.0.7", 24, "198.18.0.7/24"}, // default mask
      {net4.get(), "0.0.0.0/0", "0.0.0.0", 0, "0.0.0.0/0"},
      {net4.get(), "10.1/32", "10.0.0.1", 32, "10.0.0.1/32"},
      {net4.get(), "192.0.2.0/33", nullptr, 0, ""},
      {net4.get(), "192.0.2.0/255.0.255.0", nullptr, 0, ""}, // not contiguous
      {net4.get(), "192.0.2.0/", nullptr, 0, ""},
      {net4.get(), "192.0.2.0/-1", nullptr, 0, ""},
      {net4.get(), "192.0.2.0/24 ", nullptr, 0, ""},
      {net4.get(), "192.0.2.256/24", nullptr, 0, ""},
      {host4.get(), "192.0.2.1/24", "192.0.2.1", 24, "192.0.2.1/24"},
      {host4.get(), "192.0.2.0/24", nullptr, 0, ""},
      {host4.get(), "192.0.2.255/32", "192.0.2.255", 32, "192.0.2.255/32"},
      {host4.get(), "192.0.2.0/32", "192.0.2.0", 32, "192.0.2.0/32"}, // a single host
      {host4.get(), "192.0.2.128/25", nullptr, 0, ""},
      {zero4.get(), "0.0.0.0/0", nullptr, 0, ""},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = c.conv->parse(c.text);
    ASSERT_EQ(v.ok(), c.address != nullptr) << c.text;
    if (!c.address) {
      EXPECT_EQ(v.error().text, c.conv->describe()) << c.text;
      continue;
    }
    const auto& pair = std::get<Ipv4Pair>(v.value());
    EXPECT_EQ(pair.address, heldIpv4(c.address)) << c.text;
    EXPECT_EQ(ipv4MaskLength(pair.second), static_cast<int>(c.length)) << c.text;
    EXPECT_EQ(c.conv->format(v.value()), c.shown);
  }
  // A mask stored by someone else that is not contiguous shows dotted and does not read back.
  EXPECT_EQ(net4->format(Ipv4Pair{heldIpv4("192.0.2.0"), heldIpv4("255.0.255.0")}),
            "192.0.2.0/255.0.255.0");
  EXPECT_EQ(net4->describe(), "ip network");
  EXPECT_EQ(host4->describe(), "ip address with non zero host part");
  EXPECT_EQ(zero4->describe(), "non zero ip network");
}

TEST(NetworkConvertors, NetmasksOfEveryLengthMatchTheLibrary) {
  for (uint32_t n = 0; n <= 32; ++n) {
    const uint32_t ordered = n == 0 ? 0 : 0xFFFFFFFFu << (32 - n);
    in_addr a{};
    a.s_addr = htonl(ordered);
    char buf[INET_ADDRSTRLEN];
    const uint32_t mask = ipv4Netmask(n);
    EXPECT_EQ(ipv4Text(mask), inet_ntop(AF_INET, &a, buf, sizeof buf)) << n;
    EXPECT_EQ(ipv4MaskLength(mask), static_cast<int>(n));
  }
  EXPECT_EQ(ipv4MaskLength(heldIpv4("255.255.0.255")), -1);
  EXPECT_EQ(ipv4MaskLength(heldIpv4("0.255.255.255")), -1);
}

TEST(NetworkConvertors, Ipv6PrefixesAgainstTheLibrary) {
  NetworkShape plain;
  plain.defaultLength = 64;
  NetworkShape host = plain;
  host.host = HostBits::NonZero;
  Reference<IConvertor> net6 = ipv6NetworkConvertor(plain);
  Reference<IConvertor> host6 = ipv6NetworkConvertor(host);
  const struct {
    IConvertor* conv;
    const char* text;
    const char* address;
    uint32_t length;
  } cases[] = {
      {net6.get(), "2001:db8::/32", "2001:db8::", 32},
      {net6.get(), "2001:DB8:0:0:1::/80", "2001:db8::1:0:0:0", 80},
      {net6.get(), "fe80::1", "fe80::1", 64},
      {net6.get(), "::/0", "::", 0},
      {net6.get(), "2001:db8::/129", nullptr, 0},
      {net6.get(), "2001:db8::/", nullptr, 0},
      {net6.get(), "2001:db8:::/64", nullptr, 0},
      {net6.get(), "192.0.2.0/24", nullptr, 0},
      {host6.get(), "2001:db8::1/64", "2001:db8::1", 64},
      {host6.get(), "2001:db8::/64", nullptr, 0},
      {host6.get(), "2001:db8:0:0:8000::/65", nullptr, 0}, // bit 64 is inside the prefix
      {host6.get(), "2001:db8:0:0:8000::/64", "2001:db8:0:0:8000::", 64},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = c.conv->parse(c.text);
    ASSERT_EQ(v.ok(), c.address != nullptr) << c.text;
    if (!c.address)
      continue;
    const auto& prefix = std::get<Ipv6Prefix>(v.value());
    EXPECT_EQ(prefix.address, ipv6(c.address)) << c.text;
    EXPECT_EQ(prefix.length, c.length) << c.text;
    EXPECT_EQ(c.conv->format(v.value()),
              ntop6(prefix.address) + "/" + std::to_string(prefix.length));
  }
}

TEST(NetworkConvertors, AddressAndPort) {
  Reference<IConvertor> c = addressAndPortConvertor(80);
  const struct {
    const char* text;
    const char* address;
    uint32_t port;
  } cases[] = {
      {"192.0.2.1:8080", "192.0.2.1", 8080}, {"192.0.2.1", "192.0.2.1", 80},
      {"192.0.2.1:0", "192.0.2.1", 0},       {"192.0.2.1:65535", "192.0.2.1", 65535},
      {"192.0.2.1:65536", nullptr, 0},       {"192.0.2.1:", nullptr, 0},
      {"192.0.2.1:8o", nullptr, 0},          {":80", nullptr, 0},
      {"192.0.2.1:80:80", nullptr, 0},       {"192.0.2.1:99999999999", nullptr, 0},
  };
  for (const auto& t : cases) {
    Expected<FieldValue> v = c->parse(t.text);
    ASSERT_EQ(v.ok(), t.address != nullptr) << t.text;
    if (!t.address) {
      EXPECT_EQ(v.error().text, "ip address and port");
      continue;
    }
    EXPECT_EQ(v.value(), FieldValue(Ipv4Pair{heldIpv4(t.address), t.port})) << t.text;
    EXPECT_EQ(c->parse(c->format(v.value())).value(), v.value());
  }
  EXPECT_EQ(c->format(Ipv4Pair{heldIpv4("198.18.0.1"), 53}), "198.18.0.1:53");
}

TEST(NetworkConvertors, RawBytes) {
  Reference<IConvertor> c = rawConvertor();
  const struct {
    const char* text;
    bool ok;
    Bytes bytes;
  } cases[] = {
      {"", true, {}},
      {"01abff", true, {0x01, 0xAB, 0xFF}},
      {"01:AB:ff", true, {0x01, 0xAB, 0xFF}},
      {"01-ab ff", true, {0x01, 0xAB, 0xFF}},
      {"1ab", false, {}},
      {"01:", false, {}},
      {":01", false, {}},
      {"01::ab", false, {}},
      {"0g", false, {}},
  };
  for (const auto& t : cases) {
    Expected<FieldValue> v = c->parse(t.text);
    ASSERT_EQ(v.ok(), t.ok) << t.text;
    if (!t.ok) {
      EXPECT_EQ(v.error().text, "hexadecimal bytes");
      continue;
    }
    EXPECT_EQ(v.value(), FieldValue(t.bytes)) << t.text;
  }
  // Every byte value shows as two lower-case digits (checked with printf) and reads back.
  Bytes all(256);
  std::string expected;
  for (int i = 0; i < 256; ++i) {
    all[size_t(i)] = static_cast<uint8_t>(i);
    char two[3];
    std::snprintf(two, sizeof two, "%02x", i);
    expected += two;
  }
  EXPECT_EQ(c->format(all), expected);
  EXPECT_EQ(c->parse(expected).value(), FieldValue(all));
  // No more bytes than a message field holds.
  EXPECT_TRUE(c->check(std::string(65535 * 2, 'a')));
  EXPECT_FALSE(c->check(std::string(65536 * 2, 'a')));
}

} // namespace
} // namespace kestel
