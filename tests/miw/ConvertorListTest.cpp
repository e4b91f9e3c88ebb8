// Lists on one line: elements through their convertor, joined and split at ",", the element's
// words in the description, and lists of the wrong kind refused.
#include "miw/ConvertorList.h"

#include "miw/ConvertorAddress.h"

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
