#include "util/Bytes.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

TEST(ByteReader, ReadsBothByteOrdersAndStopsAtTheEnd) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  ByteReader r(data, sizeof data);
  uint16_t a = 0, b = 0;
  uint32_t c = 0xDEADBEEF;
  ASSERT_TRUE(r.u16le(a));
  ASSERT_TRUE(r.u16be(b));
  EXPECT_EQ(a, 0x0201);
  EXPECT_EQ(b, 0x0304);
  // Three bytes remain: a four-byte read fails and moves nothing.
  EXPECT_FALSE(r.u32le(c));
  EXPECT_EQ(c, 0xDEADBEEFu);
  EXPECT_EQ(r.remaining(), 3u);
  ByteSpan s;
  EXPECT_FALSE(r.span(4, s));
  ASSERT_TRUE(r.span(3, s));
  EXPECT_EQ(s[2], 0x07);
  EXPECT_TRUE(r.atEnd());
  uint8_t u = 0;
  EXPECT_FALSE(r.u8(u));
}

TEST(ByteWriter, RoundTripsThroughReader) {
  Bytes out;
  ByteWriter w(out);
  w.u32le(0x324D1234);
  w.u64be(0x0102030405060708ull);
  w.u16be(0xBEEF);
  w.bytes("ok");
  ByteReader r(out);
  uint32_t x;
  uint64_t y;
  uint16_t z;
  ASSERT_TRUE(r.u32le(x) && r.u64be(y) && r.u16be(z));
  EXPECT_EQ(x, 0x324D1234u);
  EXPECT_EQ(y, 0x0102030405060708ull);
  EXPECT_EQ(z, 0xBEEF);
  EXPECT_EQ(out[0], 0x34);
  EXPECT_EQ(out[4], 0x01);
  EXPECT_EQ(r.remaining(), 2u);
}

} // namespace
} // namespace kestel
