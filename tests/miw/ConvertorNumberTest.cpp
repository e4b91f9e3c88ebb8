#include "miw/ConvertorNumber.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>

namespace kestel {
namespace {

struct DescribeCase {
  Reference<IConvertor> convertor;
  const char* words;
};

TEST(ConvertorNumber, Descriptions) {
  const DescribeCase cases[] = {
      {numberConvertor({10, 0, 0xFFFFFFFF, 0}, RadixWords::Named), "decimal number"},
      {numberConvertor({16, 5, 0xFFFFFFFF, 5}, RadixWords::Named),
       "hexadecimal number greater than 4"},
      {numberConvertor({2, 0, 255, 0}, RadixWords::Named), "binary number in range [0;255]"},
      {numberConvertor({8, 1, 7, 1}, RadixWords::Named), "8 base number in range [1;7]"},
      {numberConvertor({10, 0, 0xFFFFFFFE, 0}, RadixWords::Plain),
       "number in range [0;4294967294]"},
      {numberConvertor({10, 68, 0xFFFFFFFF, 68}, RadixWords::Plain), "number greater than 67"},
      {bigNumberConvertor(0, UINT64_MAX), "number"},
      {bigNumberConvertor(10, UINT64_MAX), "number greater than 9"},
      {bigNumberConvertor(0, 1ull << 40), "number in range [0;1099511627776]"},
      {integerConvertor(INT_MIN, INT_MAX, 0), "integer"},
      {integerConvertor(1, 0x7FFFFFFF, 0), "integer greater than 0"},
      {integerConvertor(-10, 10, 0), "ingeger in range [-10;10]"},
      {rangeConvertor(0, 0xFFFFFFFF, Signedness::Unsigned), "range"},
      {rangeConvertor(1, 0xFFFFFFFF, Signedness::Unsigned), "range greater than 0"},
      {rangeConvertor(1, 4094, Signedness::Unsigned), "range in [1;4094]"},
      {rangeConvertor(0x80000000, 0x7FFFFFFF, Signedness::Signed), "range"},
      {rangeConvertor(uint32_t(-5), 5, Signedness::Signed), "range in [-5;5]"},
      {numberListConvertor(0, 0xFFFFFFFF, Signedness::Unsigned, 0, 0xFFFFFFFF), "list of numbers"},
      {numberListConvertor(3, 0xFFFFFFFF, Signedness::Unsigned, 1, 0xFFFFFFFF),
       "list of numbers greater than 2 with at least 1 elements"},
      {numberListConvertor(0, 9, Signedness::Unsigned, 0, 4),
       "list of numbers in range [0;9] with at most 4 elements"},
      {numberListConvertor(uint32_t(-3), 3, Signedness::Signed, 2, 4),
       "list of numbers in range [-3;3] with at least 2 and at most 4 elements"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.convertor->describe(), c.words);
}

struct ParseCase {
  const char* text;
  bool ok;
  FieldValue value;
};

void expectParses(const IConvertor& c, std::initializer_list<ParseCase> cases) {
  for (const auto& p : cases) {
    auto r = c.parse(p.text);
    EXPECT_EQ(r.ok(), p.ok) << p.text;
    EXPECT_EQ(c.check(p.text), p.ok) << p.text;
    if (r.ok() && p.ok) {
      EXPECT_TRUE(*r == p.value) << p.text;
    }
    if (!r.ok()) {
      EXPECT_EQ(r.error().text, c.describe());
    }
  }
}

TEST(ConvertorNumber, UnsignedNumbersReadTheirRadixAndRange) {
  expectParses(*numberConvertor({16, 0, 0xFFFFFFFF, 0}, RadixWords::Named),
               {{"ff", true, 255u},
                {"0xFF", true, 255u},
                {"ffffffff", true, 0xFFFFFFFFu},
                {"100000000", false, {}},
                {"0x", false, {}},
                {"g", false, {}}});
  expectParses(*numberConvertor({10, 5, 10, 5}, RadixWords::Named), {{"5", true, 5u},
                                                                     {"10", true, 10u},
                                                                     {"4", false, {}},
                                                                     {"11", false, {}},
                                                                     {"-5", false, {}},
                                                                     {"99999999999", false, {}},
                                                                     {"", false, {}}});
  expectParses(*numberConvertor({2, 0, 0xFFFFFFFF, 0}, RadixWords::Named),
               {{"101", true, 5u}, {"2", false, {}}});
}

TEST(ConvertorNumber, DefaultOutsideTheRangeShowsMin) {
  auto c = numberConvertor({10, 5, 10, 0}, RadixWords::Plain);
  EXPECT_EQ(c->format(0u), "5");
  EXPECT_EQ(c->format(7u), "7");
  EXPECT_EQ(numberConvertor({16, 0, 0xFFFFFFFF, 0}, RadixWords::Plain)->format(0xABu), "ab");
  // A binary slot shows binary digits, so the shown text reads back to the same value.
  EXPECT_EQ(numberConvertor({2, 0, 0xFFFFFFFF, 0}, RadixWords::Plain)->format(5u), "101");
}

TEST(ConvertorNumber, IntegersAreSignedAndClampTheSpecialValue) {
  auto c = integerConvertor(-10, 10, -100);
  expectParses(*c, {{"-10", true, uint32_t(-10)},
                    {"+3", true, 3u},
                    {"11", false, {}},
                    {"-2147483649", false, {}},
                    {"1.0", false, {}}});
  EXPECT_EQ(c->format(uint32_t(-100)), "-10");
  EXPECT_EQ(c->format(uint32_t(-50)), "-50"); // only the special value is clamped
  EXPECT_EQ(integerConvertor(3, 9, INT_MAX)->format(3u), "3");
  EXPECT_LT(c->compare(uint32_t(-1), 1u), 0);
  EXPECT_EQ(c->magnitude(uint32_t(-1)), 10u);
}

TEST(ConvertorNumber, MagnitudeClassesAndLabels) {
  auto c = numberConvertor({}, RadixWords::Plain);
  const struct {
    uint32_t value;
    uint32_t cls;
    const char* label;
  } cases[] = {{0, 10, "10"},           {10, 10, "10"},
               {11, 100, "100"},        {1000, 1000, "1000"},
               {10000, 10000, "10000"}, {10001, 0xFFFFFFFF, "more than 10000"}};
  for (const auto& m : cases) {
    EXPECT_EQ(c->magnitude(m.value), m.cls);
    EXPECT_EQ(c->magnitudeLabel(c->magnitude(m.value)), m.label);
  }
}

TEST(ConvertorNumber, RangesAndLists) {
  auto range = rangeConvertor(1, 4094, Signedness::Unsigned);
  EXPECT_EQ(range->format(NumberRange{7, 7}), "7");
  EXPECT_EQ(range->format(NumberRange{7, 9}), "7..9");
  expectParses(*range, {{"7", true, NumberRange{7, 7}},
                        {"7..9", true, NumberRange{7, 9}},
                        {"9..7", false, {}},
                        {"0..3", false, {}},
                        {"7..", false, {}},
                        {"1..2..3", false, {}},
                        {"4095", false, {}}});
  auto signedRange = rangeConvertor(uint32_t(-5), 5, Signedness::Signed);
  expectParses(*signedRange,
               {{"-5..-1", true, NumberRange{uint32_t(-5), uint32_t(-1)}}, {"-1..-5", false, {}}});
  auto list = numberListConvertor(0, 9, Signedness::Unsigned, 1, 3);
  EXPECT_EQ(list->format(std::vector<uint32_t>{1, 2, 3}), "1,2,3");
  expectParses(*list, {{"1, 2 ,3", true, std::vector<uint32_t>{1, 2, 3}},
                       {"", false, {}},
                       {"1,2,3,4", false, {}},
                       {"1,", false, {}},
                       {"1,,2", false, {}},
                       {"10", false, {}}});
}

TEST(ConvertorNumber, UnitsBytesAndRates) {
  expectParses(
      *unitConvertor(NumberWidth::Bits32),
      {{"10k", true, 10000u}, {"4G", true, 4000000000u}, {"5G", false, {}}, {"1.5k", true, 1500u}});
  expectParses(*bitRateConvertor(NumberWidth::Bits64),
               {{"2.5 Gbps", true, uint64_t{2500000000}}, {"7 bps", true, uint64_t{7}}});
  expectParses(*bytesConvertor(ByteUnit::KBytes), {{"2 MiB", true, 2048u}});
  auto rate = bitRateConvertor(NumberWidth::Bits32);
  EXPECT_EQ(rate->format(2000u), "2.0 kbps");
  EXPECT_EQ(rate->magnitudeLabel(rate->magnitude(5000u)), "1M");
  EXPECT_EQ(bigNumberConvertor(0, UINT64_MAX)->format(uint64_t{1234567}), "1 234 567");
}

// parse(format(v)) == v for every lossless number kind, over seeded values and the range ends.
TEST(ConvertorNumber, RoundTrips) {
  std::mt19937_64 random(7);
  struct Kind {
    Reference<IConvertor> convertor;
    std::function<FieldValue(uint64_t)> make;
  };
  const uint32_t lo = 3, hi = 0xFFFFFFF0;
  const std::vector<Kind> kinds = {
      {numberConvertor({10, lo, hi, lo}, RadixWords::Plain),
       [&](uint64_t r) { return FieldValue(uint32_t(lo + r % (uint64_t(hi) - lo + 1))); }},
      {numberConvertor({16, 0, 0xFFFFFFFF, 0}, RadixWords::Plain),
       [](uint64_t r) { return FieldValue(uint32_t(r)); }},
      {numberConvertor({2, 0, 0xFFFFFFFF, 0}, RadixWords::Plain),
       [](uint64_t r) { return FieldValue(uint32_t(r)); }},
      {bigNumberConvertor(0, UINT64_MAX), [](uint64_t r) { return FieldValue(r); }},
      {integerConvertor(INT_MIN, INT_MAX, 0), [](uint64_t r) { return FieldValue(uint32_t(r)); }},
      {unitConvertor(NumberWidth::Bits64), [](uint64_t r) { return FieldValue(r); }},
      {rangeConvertor(0, 0xFFFFFFFF, Signedness::Unsigned),
       [](uint64_t r) {
         uint32_t a = uint32_t(r), b = uint32_t(r >> 32);
         return FieldValue(NumberRange{std::min(a, b), std::max(a, b)});
       }},
      {rangeConvertor(0x80000000, 0x7FFFFFFF, Signedness::Signed),
       [](uint64_t r) {
         int32_t a = int32_t(r), b = int32_t(r >> 32);
         return FieldValue(NumberRange{uint32_t(std::min(a, b)), uint32_t(std::max(a, b))});
       }},
      {numberListConvertor(0x80000000, 0x7FFFFFFF, Signedness::Signed, 0, 0xFFFFFFFF),
       [](uint64_t r) {
         return FieldValue(std::vector<uint32_t>{uint32_t(r), uint32_t(r >> 32), uint32_t(r >> 7)});
       }},
  };
  const uint64_t ends[] = {0,          1,          2,          3,           0x7FFFFFFF,
                           0x80000000, 0xFFFFFFF0, 0xFFFFFFFF, 0x100000000, UINT64_MAX};
  for (const Kind& k : kinds) {
    auto trip = [&](uint64_t r) {
      const FieldValue v = k.make(r);
      auto back = k.convertor->parse(k.convertor->format(v));
      ASSERT_TRUE(back.ok()) << k.convertor->format(v);
      EXPECT_TRUE(*back == v) << k.convertor->format(v);
    };
    for (uint64_t e : ends)
      trip(e);
    for (int i = 0; i < 2000; ++i)
      trip(i % 2 ? random() : random() >> (random() % 64));
  }
}

} // namespace
} // namespace kestel
