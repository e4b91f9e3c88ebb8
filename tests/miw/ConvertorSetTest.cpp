// Bit sets named by an enumeration, in one word and in an array of words.
#include "miw/ConvertorSet.h"

#include "gen/Enumerations.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

const MapEntry kBits[] = {{0, "read"}, {1, "write"}, {5, "test"}, {33, "sniff"}, {0, nullptr}};

TEST(SetConvertor, NamesOfTheSetBitsBothWays) {
  Reference<IEnum> bits = createEnum(kBits);
  Reference<IConvertor> one = setConvertor(bits.get(), SetWords::One);
  Reference<IConvertor> array = setConvertor(bits.get(), SetWords::Array);
  const struct {
    IConvertor* conv;
    const char* text;
    bool ok;
    FieldValue value;
    const char* shown;
  } cases[] = {
      {one.get(), "write, read", true, uint32_t(3), "read,write"},
      {one.get(), "", true, uint32_t(0), ""},
      {one.get(), "test", true, uint32_t(32), "test"},
      {one.get(), "sniff", false, {}, ""}, // bit 33 does not fit one word
      {one.get(), "read,read", false, {}, ""},
      {one.get(), "read,", false, {}, ""},
      {one.get(), "execute", false, {}, ""},
      {array.get(), "sniff,read", true, std::vector<uint32_t>{1, 2}, "read,sniff"},
      {array.get(), "", true, std::vector<uint32_t>{}, ""},
  };
  for (const auto& c : cases) {
    Expected<FieldValue> v = c.conv->parse(c.text);
    ASSERT_EQ(v.ok(), c.ok) << c.text;
    if (!c.ok)
      continue;
    EXPECT_EQ(v.value(), c.value) << c.text;
    EXPECT_EQ(c.conv->format(v.value()), c.shown) << c.text;
  }
  EXPECT_EQ(one->format(uint32_t(0xFFFFFFFF)), "read,write,test") << "unnamed bits are not shown";
  EXPECT_EQ(one->format(std::vector<uint32_t>{1}), "") << "the other form";
}

} // namespace
} // namespace kestel
