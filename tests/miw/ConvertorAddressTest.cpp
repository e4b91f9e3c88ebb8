#include "miw/ConvertorAddress.h"
#include "gen/Enumerations.h"

#include "miw/ConvertorText.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace kestel {
namespace {

const MapEntry kInterfaces[] = {{1, "ether1"}, {2, "bridge"}, {0, nullptr}};
const MapEntry kTables[] = {{10, "vpn"}, {11, "guest"}, {0, nullptr}};

TEST(ConvertorAddress, Ipv4Forms) {
  const struct {
    const char* text;
    bool ok;
    const char* shown;
  } cases[] = {{"10.1", true, "10.0.0.1"},
               {"10.1.2", true, "10.1.0.2"},
               {"1.2.3.4", true, "1.2.3.4"},
               {"0x0A.010.0.0xff", true, "10.8.0.255"},
               {"255.255.255.255", true, "255.255.255.255"},
               {"10", false, ""},
               {"1.2.3.4.5", false, ""},
               {"256.1", false, ""},
               {"10.256", false, ""},
               {"08.1", false, ""},
               {"0x.1", false, ""},
               {"1..2", false, ""},
               {"1.2.", false, ""},
               {" 1.2", false, ""},
               {"1.2 ", false, ""},
               {"1.99999999999999999999", false, ""}};
  for (const auto& c : cases) {
    uint32_t v = 0;
    EXPECT_EQ(parseIpv4(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(ipv4Text(v), c.shown) << c.text;
    }
  }
  EXPECT_EQ(ipv4Convertor(ZeroAddress::Invalid)->describe(), "non zero ip address");
  EXPECT_FALSE(ipv4Convertor(ZeroAddress::Invalid)->check("0.0"));
  EXPECT_TRUE(ipv4Convertor(ZeroAddress::Valid)->check("0.0"));
}

std::string randomIpv4Part(std::mt19937& random) {
  static const char* const kOdd[] = {
      "",     "0x", "0X1f", "08", "09", "00",         "0377",
      "0400", "x",  "-1",   "+1", "1a", "4294967296", "99999999999999"};
  switch (random() % 5) {
  case 0:
    return std::to_string(random() % 300);
  case 1:
    return "0" + strPrintf("%o", static_cast<unsigned>(random() % 300));
  case 2:
    return "0x" + strPrintf("%x", static_cast<unsigned>(random() % 300));
  case 3:
    return std::to_string(random() % 70000);
  default:
    return kOdd[random() % (sizeof kOdd / sizeof *kOdd)];
  }
}

// Our reading agrees with inet_aton wherever both take a text; inet_aton also takes a single
// part, last parts above 255 (the whole rest of the address) and a bare "0x", which we refuse.
TEST(ConvertorAddress, Ipv4AgreesWithInetAton) {
  std::mt19937 random(3);
  int both = 0;
  for (int i = 0; i < 20000; ++i) {
    const int parts = 1 + static_cast<int>(random() % 5);
    std::string text;
    std::vector<std::string> pieces;
    for (int p = 0; p < parts; ++p) {
      pieces.push_back(randomIpv4Part(random));
      text += (p ? "." : "") + pieces.back();
    }
    uint32_t ours = 0;
    in_addr theirs{};
    const bool ok = parseIpv4(text, ours);
    const bool atonOk = inet_aton(text.c_str(), &theirs) != 0;
    if (ok) {
      ASSERT_TRUE(atonOk) << text;
      uint8_t bytes[4];
      std::memcpy(bytes, &theirs.s_addr, 4);
      EXPECT_EQ(ipv4Text(ours), strPrintf("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]))
          << text;
      ++both;
      continue;
    }
    if (!atonOk)
      continue;
    bool explained = parts < 2 || parts > 4;
    for (const std::string& piece : pieces) {
      uint32_t v = 0;
      explained = explained || piece == "0x" || piece == "0X" ||
                  (parseIpv4(piece + ".0", v) == false && !piece.empty());
    }
    EXPECT_TRUE(explained) << text;
  }
  EXPECT_GT(both, 2000);
}

std::string randomIpv6Text(std::mt19937& random) {
  std::string text;
  const int groups = static_cast<int>(random() % 10);
  const int gap = static_cast<int>(random() % 12);
  for (int g = 0; g < groups; ++g) {
    if (g == gap)
      text += "::";
    else if (g)
      text += ":";
    const int digits = static_cast<int>(random() % 6) - (random() % 8 == 0 ? 1 : 0);
    for (int d = 0; d < digits; ++d)
      text += "0123456789abcdefABCDEF"[random() % 22];
  }
  if (gap == groups)
    text += "::";
  switch (random() % 8) {
  case 0:
    text += (text.empty() || text.back() == ':' ? "" : ":") +
            strPrintf("%u.%u.%u.%u", unsigned(random() % 300), unsigned(random() % 256),
                      unsigned(random() % 256), unsigned(random() % 256));
    break;
  case 1:
    text += ":";
    break;
  case 2:
    text += "::";
    break;
  case 3:
    text += ":01.2.3.4";
    break;
  default:
    break;
  }
  return text;
}

// Reading agrees with inet_pton on every generated text.
TEST(ConvertorAddress, Ipv6ReadingAgreesWithInetPton) {
  std::mt19937 random(9);
  int accepted = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string text = randomIpv6Text(random);
    Addr6 ours{};
    uint8_t theirs[16] = {};
    const bool ok = parseIpv6(text, ours);
    ASSERT_EQ(ok, inet_pton(AF_INET6, text.c_str(), theirs) == 1) << text;
    if (ok) {
      EXPECT_EQ(0, std::memcmp(ours.data(), theirs, 16)) << text;
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 1000);
}

// Printing agrees with inet_ntop, except that the old IPv4-compatible form (::a.b.c.d) prints
// in hex, and the mapped form prints dotted only when IPv4 is wanted.
TEST(ConvertorAddress, Ipv6PrintingAgreesWithInetNtop) {
  std::mt19937 random(4);
  for (int i = 0; i < 20000; ++i) {
    Addr6 a{};
    for (size_t w = 0; w < 8; ++w)
      if (random() % 2) {
        a[2 * w] = static_cast<uint8_t>(random() % 4 == 0 ? random() : 0);
        a[2 * w + 1] = static_cast<uint8_t>(random());
      }
    if (i % 10 == 0)
      std::fill(a.begin(), a.begin() + 10, 0), a[10] = a[11] = 0xFF;
    char buf[INET6_ADDRSTRLEN];
    ASSERT_TRUE(inet_ntop(AF_INET6, a.data(), buf, sizeof buf));
    const bool zeros96 = std::all_of(a.begin(), a.begin() + 12, [](uint8_t b) { return b == 0; });
    const bool compat = zeros96 && (a[12] | a[13]) != 0;
    const bool mapped = std::all_of(a.begin(), a.begin() + 10, [](uint8_t b) { return b == 0; }) &&
                        a[10] == 0xFF && a[11] == 0xFF;
    const std::string hex = ipv6Text(a, Ipv4InIpv6::No);
    if (mapped) {
      EXPECT_EQ(ipv6Text(a, Ipv4InIpv6::Yes), buf);
    } else if (!compat) {
      EXPECT_EQ(hex, buf);
    }
    Addr6 back{};
    ASSERT_TRUE(parseIpv6(hex, back)) << hex;
    EXPECT_TRUE(back == a) << hex;
    ASSERT_TRUE(parseIpv6(ipv6Text(a, Ipv4InIpv6::Yes), back));
    EXPECT_TRUE(back == a) << buf;
  }
}

TEST(ConvertorAddress, Ipv6Convertor) {
  auto c = ipv6Convertor(ZeroAddress::Invalid, Ipv4InIpv6::Yes);
  EXPECT_EQ(c->describe(), "non zero ipv6 address");
  EXPECT_EQ(ipv6Convertor(ZeroAddress::Valid, Ipv4InIpv6::No)->describe(), "ipv6 address");
  EXPECT_FALSE(c->check("::"));
  auto v4 = c->parse("10.1");
  ASSERT_TRUE(v4.ok());
  EXPECT_EQ(c->format(*v4), "::ffff:10.0.0.1");
  EXPECT_FALSE(ipv6Convertor(ZeroAddress::Valid, Ipv4InIpv6::No)->check("10.1"));
}

TEST(ConvertorAddress, MacAddresses) {
  const Bytes mac{0x00, 0x0c, 0x42, 0xAB, 0xcd, 0xef};
  EXPECT_EQ(macText(mac, MacForm::Full), "00:0C:42:AB:CD:EF");
  EXPECT_EQ(macText(mac, MacForm::Short), "00:0C:42...");
  EXPECT_EQ(macText(Bytes(5, 1), MacForm::Full), "XX:XX:XX:XX:XX:XX");
  EXPECT_EQ(macText(Bytes(7, 1), MacForm::Full), "XX:XX:XX:XX:XX:XX");
  Bytes out;
  for (const char* ok : {"00:0C:42:AB:CD:EF", "0:c:42:ab:cd:ef", "00-0C-42-AB-CD-EF"}) {
    EXPECT_TRUE(parseMac(ok, out)) << ok;
    EXPECT_EQ(out, mac) << ok;
  }
  for (const char* bad : {"00:0C:42:AB:CD", "00:0C:42:AB:CD:EF:01", "00:0C:42:AB:CD:EFF",
                          "00:0C-42:AB:CD:EF", "00:0C:42:AB:CD:", "g0:0C:42:AB:CD:EF", ""})
    EXPECT_FALSE(parseMac(bad, out)) << bad;
  EXPECT_FALSE(macConvertor(MacForm::Full, ZeroAddress::Invalid)->check("0:0:0:0:0:0"));
}

AddressValue v4Address(uint32_t ip) {
  AddressValue v;
  v.hasAddress = true;
  v.address = Addr6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  for (size_t i = 0; i < 4; ++i)
    v.address[12 + i] = static_cast<uint8_t>(ip >> (8 * i));
  return v;
}

TEST(ConvertorAddress, CombinedAddressTexts) {
  Reference<IEnum> ifaceRef = createEnum(kInterfaces), tableRef = createEnum(kTables);
  IEnum &ifaces = *ifaceRef, &tables = *tableRef;
  AddressValue v = v4Address(0x0100000A); // 10.0.0.1
  v.prefix = 24;
  v.iface = 2;
  v.table = 10;
  v.extra = "x";
  v.name = "gw";
  v.mac = {1, 2, 3, 4, 5, 6};
  const struct {
    unsigned bits;
    const char* text;
  } cases[] = {{allow::kIpv4, "10.0.0.1"},
               {allow::kIpv4 | allow::kPrefix, "10.0.0.1/24"},
               {allow::kIpv6, "::ffff:a00:1"},
               {allow::kIpv6 | allow::kIpv4, "::ffff:10.0.0.1"},
               {allow::kName | allow::kPrefix, "gw/24"},
               {allow::kIface, "10.0.0.1%bridge"},
               {allow::kZone | allow::kTable, "10.0.0.1%bridge@vpn"},
               {allow::kExtra, "10.0.0.1x"},
               {allow::kExtra | allow::kIpv4, "10.0.0.1&x"}};
  for (const auto& c : cases)
    EXPECT_EQ(addressText(v, c.bits, &ifaces, &tables), c.text) << c.bits;
  v.iface = 7;
  v.table = 99;
  EXPECT_EQ(addressText(v, allow::kIface | allow::kTable, &ifaces, &tables), "10.0.0.1*7@main");
  v.table = 65535;
  EXPECT_EQ(addressText(v, allow::kTable, &ifaces, &tables), "10.0.0.1");
  AddressValue none;
  EXPECT_EQ(addressText(none, allow::kIpv4, &ifaces, &tables), "");
  EXPECT_EQ(addressText(none, allow::kIpv6 | allow::kPrefix, &ifaces, &tables), "::");
  EXPECT_EQ(addressText(none, allow::kIpv4 | allow::kIpv6 | allow::kPrefix, &ifaces, &tables), "");
  none.mac = v.mac;
  EXPECT_EQ(addressText(none, allow::kMac, &ifaces, &tables), "01:02:03:04:05:06");
}

TEST(ConvertorAddress, CombinedAddressReading) {
  Reference<IEnum> ifaceRef = createEnum(kInterfaces), tableRef = createEnum(kTables);
  IEnum &ifaces = *ifaceRef, &tables = *tableRef;
  auto c = addressConvertor(allow::kIpv4 | allow::kIpv6 | allow::kPrefix | allow::kIface |
                                allow::kTable | allow::kExtra,
                            &ifaces, &tables);
  for (const char* ok : {"10.1", "10.0.0.1/24", "fe80::1%ether1", "::1*5", "1.2.3.4@vpn",
                         "1.2.3.4@main", "1.2.3.4&text", "::/0", ""})
    EXPECT_TRUE(c->check(ok)) << ok;
  for (const char* bad : {"10.0.0.1/33", "fe80::1/129", "1.2.3.4%eth9", "1.2.3.4@nope", "/24", "gw",
                          "1.2.3.4*4294967295", "1.2.3.4/99999999999"})
    EXPECT_FALSE(c->check(bad)) << bad;
  // A field with prefixes always shows an address, so an empty one reads as the zero address.
  auto extraOnly = c->parse("&x");
  ASSERT_TRUE(extraOnly.ok());
  EXPECT_EQ(c->format(*extraOnly), "::&x");
  EXPECT_TRUE(*c->parse(c->format(*extraOnly)) == *extraOnly);
  // A MAC address is read only where it can be shown: not in fields with prefixes.
  auto mac = addressConvertor(allow::kIpv6 | allow::kMac, &ifaces, &tables);
  ASSERT_TRUE(mac->check("A:8:f:1:3:1"));
  EXPECT_EQ(mac->format(*mac->parse("A:8:f:1:3:1")), "0A:08:0F:01:03:01");
  EXPECT_FALSE(addressConvertor(allow::kIpv6 | allow::kPrefix | allow::kMac, &ifaces, &tables)
                   ->check("A:8:f:1:3:1")); // A name holding a suffix separator would read back as
                                            // another name: refused.
  auto named = addressConvertor(allow::kName | allow::kTable | allow::kExtra, &ifaces, &tables);
  EXPECT_TRUE(named->check("gw.example@vpn&x"));
  EXPECT_FALSE(named->check("a@main@main"));
  EXPECT_TRUE(named->check("a/24&b&c"));
  EXPECT_FALSE(addressConvertor(allow::kName | allow::kPrefix, &ifaces, &tables)->check("a/b/24"));
  EXPECT_TRUE(addressConvertor(allow::kName, &ifaces, &tables)->check("a@b&c/d"));
}

// parse(format(v)) == v for the address kinds.
TEST(ConvertorAddress, RoundTrips) {
  Reference<IEnum> ifaceRef = createEnum(kInterfaces), tableRef = createEnum(kTables);
  IEnum &ifaces = *ifaceRef, &tables = *tableRef;
  std::mt19937 random(21);
  auto v4 = ipv4Convertor(ZeroAddress::Valid);
  auto v6 = ipv6Convertor(ZeroAddress::Valid, Ipv4InIpv6::Yes);
  auto mac = macConvertor(MacForm::Full, ZeroAddress::Valid);
  const unsigned bits = allow::kIpv4 | allow::kIpv6 | allow::kPrefix | allow::kIface |
                        allow::kTable | allow::kExtra | allow::kName;
  auto combined = addressConvertor(bits, &ifaces, &tables);
  for (int i = 0; i < 5000; ++i) {
    const uint32_t ip = i == 0 ? 0 : i == 1 ? 0xFFFFFFFF : static_cast<uint32_t>(random());
    EXPECT_EQ(std::get<uint32_t>(*v4->parse(v4->format(ip))), ip);
    Addr6 a{};
    for (auto& b : a)
      b = random() % 3 ? 0 : static_cast<uint8_t>(random());
    EXPECT_TRUE(std::get<Addr6>(*v6->parse(v6->format(a))) == a) << v6->format(a);
    Bytes m(6);
    for (auto& b : m)
      b = static_cast<uint8_t>(random());
    EXPECT_EQ(std::get<Bytes>(*mac->parse(mac->format(m))), m);
    AddressValue v;
    v.hasAddress = true;
    v.address = a;
    v.address[15] |= 1; // "::" alone shows as no address at all
    if (i % 2)
      v = v4Address(ip);
    v.prefix = random() % 3 ? static_cast<uint32_t>(random() % 33) : AddressValue::kNone;
    v.iface = random() % 3 ? 1 + static_cast<uint32_t>(random() % 2) : AddressValue::kNone;
    v.table = random() % 3 ? 10 : AddressValue::kNone;
    v.extra = random() % 2 ? "a&b@c" : "";
    const FieldValue value(v);
    auto back = combined->parse(combined->format(value));
    ASSERT_TRUE(back.ok()) << combined->format(value);
    EXPECT_TRUE(*back == value) << combined->format(value);
  }
}

} // namespace
} // namespace kestel
