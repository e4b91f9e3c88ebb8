// Lists on one line: elements through their convertor, joined and split at ",", the element's
// words in the description, and lists of the wrong kind refused.
#include "miw/ConvertorList.h"

#include "miw/ConvertorAddress.h"
#include "miw/ConvertorNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(ListConvertor, ReadsAndWritesElementsThroughTheirConvertor) {
  Reference<IConvertor> ips =
      elementListConvertor(ipv4Convertor(ZeroAddress::Invalid), ListElements::Numbers);
  Reference<IConvertor> texts = elementListConvertor(textConvertor(1, 3), ListElements::Texts);
  const uint32_t a = 0x350012C6, b = 0x0100000A; // 198.18.0.53, 10.0.0.1
  const struct {
    IConvertor* conv;
    const char* text;
    bool ok;
    FieldValue value;
    const char* shown;
  } cases[] = {
      {ips.get(), "198.18.0.53, 10.1", true, std::vector<uint32_t>{a, b}, "198.18.0.53,10.0.0.1"},
      {ips.get(), "", true, std::vector<uint32_t>{}, ""},
      {ips.get(), "198.18.0.53,", false, {}, ""},
      {ips.get(), "0.0.0.0", false, {}, ""},
      {texts.get(), "ab,c", true, std::vector<std::string>{"ab", "c"}, "ab,c"},
      {texts.get(), "abcd", false, {}, ""},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = c.conv->parse(c.text);
    ASSERT_EQ(v.ok(), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(v.error().text, c.conv->describe());
      continue;
    }
    EXPECT_EQ(v.value(), c.value) << c.text;
    EXPECT_EQ(c.conv->format(v.value()), c.shown);
  }
  EXPECT_EQ(ips->describe(), "list of non zero ip address");
  EXPECT_EQ(ips->format(std::vector<std::string>{"x"}), "") << "a list of the other kind";
  auto* list = static_cast<IListConvertor*>(ips->cast(kListConvertorInterface));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->element()->format(a), "198.18.0.53");
}

Addr6 pton6(const char* text) {
  Addr6 a{};
  EXPECT_EQ(inet_pton(AF_INET6, text, a.data()), 1) << text;
  return a;
}

uint32_t pton4(const char* text) { // first octet in the lowest byte, as the router keeps it
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
  return a.s_addr;
}

std::string ntop6(const Addr6& a) {
  char text[INET6_ADDRSTRLEN];
  EXPECT_TRUE(inet_ntop(AF_INET6, a.data(), text, sizeof text));
  return text;
}

TEST(ListConvertor, AddressNetworkAndByteStringLists) {
  NetworkShape shape;
  Reference<IConvertor> ip6s = elementListConvertor(
      ipv6Convertor(ZeroAddress::Invalid, Ipv4InIpv6::No), ListElements::Ipv6Addresses);
  Reference<IConvertor> nets =
      elementListConvertor(ipv4NetworkConvertor(shape), ListElements::Ipv4Networks);
  Reference<IConvertor> nets6 =
      elementListConvertor(ipv6NetworkConvertor(shape), ListElements::Ipv6Networks);
  Reference<IConvertor> raws = elementListConvertor(rawConvertor(), ListElements::ByteStrings);
  const Addr6 doc = pton6("2001:db8::1"), ula = pton6("fd00:1:2::");
  const struct {
    IConvertor* conv;
    const char* text;
    bool ok;
    FieldValue value;
    const char* shown;
  } cases[] = {
      {ip6s.get(), "2001:db8::1, fd00:1:2::", true, std::vector<Addr6>{doc, ula},
       "2001:db8::1,fd00:1:2::"},
      {ip6s.get(), "", true, std::vector<Addr6>{}, ""},
      {ip6s.get(), "2001:db8::1,::", false, {}, ""},
      {ip6s.get(), "2001:db8::1,,fd00::", false, {}, ""},
      {ip6s.get(), "198.18.0.1", false, {}, ""},
      {nets.get(), "198.18.0.0/15 ,10.1.2.3", true,
       std::vector<Ipv4Pair>{{pton4("198.18.0.0"), pton4("255.254.0.0")},
                             {pton4("10.1.2.3"), 0xFFFFFFFF}},
       "198.18.0.0/15,10.1.2.3/32"},
      {nets.get(), "10.0.0.0/255.255.0.0", true,
       std::vector<Ipv4Pair>{{pton4("10.0.0.0"), pton4("255.255.0.0")}}, "10.0.0.0/16"},
      {nets.get(), "10.0.0.0/33", false, {}, ""},
      {nets.get(), "10.0.0.0/255.0.255.0", false, {}, ""},
      {nets6.get(), "2001:db8::/32,fd00:1:2::", true,
       std::vector<Ipv6Prefix>{{pton6("2001:db8::"), 32}, {ula, 128}},
       "2001:db8::/32,fd00:1:2::/128"},
      {nets6.get(), "2001:db8::/129", false, {}, ""},
      {raws.get(), "01a2ff, 00:FF", true, std::vector<Bytes>{{0x01, 0xa2, 0xff}, {0x00, 0xff}},
       "01a2ff,00ff"},
      {raws.get(), ",ff", true, std::vector<Bytes>{{}, {0xff}}, ",ff"},
      {raws.get(), "01a,ff", false, {}, ""},
      {raws.get(), "zz", false, {}, ""},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = c.conv->parse(c.text);
    ASSERT_EQ(v.ok(), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(v.error().text, c.conv->describe()) << c.text;
      continue;
    }
    EXPECT_EQ(v.value(), c.value) << c.text;
    EXPECT_EQ(c.conv->format(v.value()), c.shown) << c.text;
    Expected<FieldValue> again = c.conv->parse(c.conv->format(v.value()));
    ASSERT_TRUE(again.ok()) << c.shown;
    EXPECT_EQ(again.value(), v.value()) << c.shown;
  }
  // Every element shows as the system's own IPv6 text does.
  const char* texts[] = {"fd00::1:0:0:1", "2001:db8:0:1:1:1:1:1", "fe80::a:b", "1::"};
  std::vector<Addr6> many;
  std::string joined;
  for (const char* t : texts) {
    many.push_back(pton6(t));
    joined += (joined.empty() ? "" : ",") + ntop6(many.back());
  }
  EXPECT_EQ(ip6s->format(many), joined);
  EXPECT_EQ(ip6s->describe(), "list of non zero ipv6 address");
  EXPECT_EQ(nets->format(std::vector<Addr6>{doc}), "") << "a list of the other kind";
  EXPECT_EQ(nets6->format(std::vector<Ipv4Pair>{{1, 2}}), "") << "a list of the other kind";
}

TEST(RangeListConvertor, PairsOfEndsBothWays) {
  Reference<IConvertor> tables = rangeListConvertor(0, 255);
  const struct {
    const char* text;
    bool ok;
    std::vector<uint32_t> value;
    const char* shown;
  } cases[] = {
      {"0..255", true, {0, 255}, "0..255"},
      {" 7 , 10..12", true, {7, 7, 10, 12}, "7,10..12"},
      {"", true, {}, ""},
      {"12..10", false, {}, ""},
      {"0..256", false, {}, ""},
      {"1..", false, {}, ""},
      {"1,", false, {}, ""},
      {"x", false, {}, ""},
      {"99999999999", false, {}, ""},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = tables->parse(c.text);
    ASSERT_EQ(v.ok(), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(v.error().text, "list of ranges in [0;255]");
      continue;
    }
    EXPECT_EQ(v.value(), FieldValue(c.value)) << c.text;
    EXPECT_EQ(tables->format(v.value()), c.shown) << c.text;
  }
  EXPECT_EQ(tables->format(std::vector<uint32_t>{1, 2, 9}), "1..2") << "a stray word";
  EXPECT_EQ(rangeListConvertor(0, 0xFFFFFFFF)->describe(), "list of ranges");
}

} // namespace
} // namespace kestel
