// FixedText formats numbers as snprintf does and never writes past its buffer.
#include "util/FixedText.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

namespace kestel {
namespace {

std::string text(const FixedText& t) { return std::string(t.data(), t.size()); }

TEST(FixedText, NumbersMatchSnprintf) {
  const uint64_t values[] = {
      0, 1, 9, 10, 0xf, 0x10, 0xdeadbeef, 0x7fffffffffffffff, 0x8000000000000000, UINT64_MAX};
  for (uint64_t v : values) {
    char buffer[128], expected[128];
    FixedText t(buffer, sizeof buffer);
    t.hex(v, 16).add(' ').hex(v, 8).add(' ').hex(v).add(' ').decimal(v).add(' ').signedDecimal(
        int64_t(v));
    std::snprintf(expected, sizeof expected,
                  "%016" PRIx64 " %08" PRIx64 " 0x%" PRIx64 " %" PRIu64 " %" PRId64, v,
                  v & 0xffffffff, v, v, int64_t(v));
    EXPECT_EQ(text(t), expected) << v;
  }
}

TEST(FixedText, AppendsPastTheEndAreCutAndRemembered) {
  char buffer[8] = {};
  char guard = 'g';
  FixedText t(buffer, 6);
  t.add("abcd");
  EXPECT_FALSE(t.truncated());
  t.add("efgh").hex(0x12345678, 8);
  EXPECT_EQ(text(t), "abcdef");
  EXPECT_TRUE(t.truncated());
  EXPECT_EQ(buffer[6], '\0'); // nothing beyond the capacity given
  EXPECT_EQ(guard, 'g');
  t.clear();
  EXPECT_FALSE(t.truncated());
  t.add(nullptr).add("xy", 1);
  EXPECT_EQ(text(t), "x");
}

} // namespace
} // namespace kestel
