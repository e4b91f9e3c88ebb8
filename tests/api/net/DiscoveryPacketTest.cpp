#include "api/net/DiscoveryPacket.h"

#include "support/Hex.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

// Hand-written datagrams: the header, then [type BE][length BE][value].
TEST(DiscoveryPacket, ParsesFieldsBigEndianAndKeepsTheLastOfAType) {
  struct Case {
    const char* name;
    const char* hex;
    bool ok;
    int type;             // a field to look at (-1: none)
    const char* valueHex; // its expected value, nullptr for absent
  } cases[] = {
      {"request", "00000000", true, 1, nullptr},
      {"short header", "000000", false, -1, nullptr},
      {"empty", "", false, -1, nullptr},
      {"mac",
       "00000000"
       "00010006"
       "0a0b0c0d0e0f",
       true, 1, "0a0b0c0d0e0f"},
      {"type 13 empty",
       "00000000"
       "000d0000",
       true, 13, ""},
      {"later replaces earlier",
       "00000000"
       "00050001"
       "41"
       "00050002"
       "4243",
       true, 5, "4243"},
      {"unknown type skipped",
       "00000000"
       "000e0002"
       "ffff"
       "00070001"
       "37",
       true, 7, "37"},
      {"type high byte counts",
       "00000000"
       "01050001"
       "41",
       true, 5, nullptr},
      {"length past the end",
       "00000000"
       "00050005"
       "41",
       false, -1, nullptr},
      {"half a field header",
       "00000000"
       "0005",
       false, -1, nullptr},
      {"length high byte counts",
       "00000000"
       "00050100"
       "41",
       false, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = parseDiscoveryPacket(test::fromHex(c.hex));
    ASSERT_EQ(p.ok(), c.ok);
    if (!c.ok || c.type < 0)
      continue;
    const auto& f = p->fields[c.type];
    if (!c.valueHex) {
      EXPECT_FALSE(f.has_value());
      continue;
    }
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(test::toHex(*f), c.valueHex);
  }
}

TEST(DiscoveryPacket, BuiltAnswerParsesBack) {
  Bytes big(1400, 'x');
  Bytes packet = buildDiscoveryPacket({{kDiscoveryMac, {1, 2, 3, 4, 5, 6}},
                                       {kDiscoveryIdentity, {'r', '1'}},
                                       {kDiscoveryBoard, big}});
  EXPECT_EQ(test::toHex(ByteSpan(packet).first(14)), "00000000"
                                                     "00010006"
                                                     "010203040506");
  auto p = parseDiscoveryPacket(packet);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p->field(kDiscoveryBoard), big);
  EXPECT_EQ(discoveryRequest(), Bytes(4, 0));
}

} // namespace
} // namespace kestel
