// Change rates and fixed-point numbers. Fixed-point texts are checked against strtod: what a text
// reads to, divided by the scale, is the double strtod reads, to within half a step.
#include "miw/ConvertorRate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace kestel {
namespace {

TEST(ChangeRate, BitsAndEventsWithTheirThresholds) {
  Reference<IConvertor> bits = changeRateConvertor(NumberWidth::Bits32, RateOf::Bits);
  Reference<IConvertor> events = changeRateConvertor(NumberWidth::Bits64, RateOf::Events);
  const struct {
    uint64_t value;
    const char* bitText;
    const char* eventText;
  } cases[] = {
      {0, "0 bps", "0/s"},
      {1999, "1999 bps", "1999/s"},
      {2000, "2.0 kbps", "2.0k/s"},
      {1999999, "1999.9 kbps", "1999.9k/s"},
      {10000000, "10.0 Mbps", "10.0M/s"},
      {1999999999, "1999.9 Mbps", "1999.9M/s"},
      {2000000000, "2.0 Gbps", "2.0G/s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bits->format(static_cast<uint32_t>(c.value)), c.bitText);
    EXPECT_EQ(events->format(c.value), c.eventText);
    // What is shown reads back to a value that shows the same.
    EXPECT_EQ(bits->format(bits->parse(c.bitText).value()), c.bitText);
    EXPECT_EQ(events->format(events->parse(c.eventText).value()), c.eventText);
  }
  EXPECT_EQ(events->format(uint64_t{50000000000}), "50.0G/s"); // beyond 32 bits
  EXPECT_EQ(bits->parse("1.5 Mbps").value(), FieldValue(uint32_t{1500000}));
  EXPECT_EQ(events->parse("1.5k").value(), FieldValue(uint64_t{1500}));
  EXPECT_EQ(events->parse("12").value(), FieldValue(uint64_t{12}));
  for (const char* bad : {"", "1.5 Mbps/s", "fast", "5 Tbps", "-1 bps", "5000000000 bps"})
    EXPECT_FALSE(bits->check(bad)) << bad;
  EXPECT_FALSE(events->check("1.5 kbps"));
  EXPECT_EQ(bits->describe(), "bit rate");
  EXPECT_EQ(events->describe(), "rate per second");
  EXPECT_EQ(bits->format(uint64_t{5}), ""); // not the width it holds
}

TEST(FixedPoint, ShownWithTheDecimalsOfOneStep) {
  const struct {
    FixedPointShape shape;
    uint32_t value;
    const char* shown;
  } cases[] = {
      {{16, 0, false}, 17, "1.0625"},     {{16, 0, false}, 32, "2.0000"},
      {{16, 0, true}, 32, "2"},           {{16, 0, true}, 24, "1.5"},
      {{100, 0, false}, 12345, "123.45"}, {{1, 0, false}, 7, "7"},
      {{3, 0, false}, 1, "0.33"},     // 1/3 needs no exact count: one digit more than "3" has
      {{10, 100, false}, 95, "-0.5"}, // stored = shown × scale + offset
      {{10, 100, false}, 100, "0.0"},     {{1000, 0, true}, 0xFFFFFFFF, "4294967.295"},
  };
  for (const auto& c : cases) {
    Reference<IConvertor> conv = fixedPointConvertor(c.shape);
    EXPECT_EQ(conv->format(c.value), c.shown) << c.value;
    Expected<FieldValue> back = conv->parse(c.shown);
    ASSERT_TRUE(back.ok()) << c.shown;
    EXPECT_EQ(back.value(), FieldValue(c.value)) << c.shown;
  }
}

TEST(FixedPoint, ReadsToTheNearestStepAgainstStrtod) {
  const FixedPointShape shapes[] = {
      {16, 0, true}, {100, 0, false}, {3, 0, false}, {10, 100, false}};
  const char* texts[] = {"0",   "1",     "1.0625", "1.06",      "2.5",      "0.03125", "-0.5",
                         "-10", "7.999", "42.1",   "123.45678", "0.000001", "65535",   "1000.5"};
  for (const FixedPointShape& shape : shapes) {
    Reference<IConvertor> conv = fixedPointConvertor(shape);
    for (const char* text : texts) {
      const double expected = std::strtod(text, nullptr) * shape.scale + double(shape.offset);
      Expected<FieldValue> v = conv->parse(text);
      if (expected < -0.5) {
        EXPECT_FALSE(v.ok()) << text; // below the word
        continue;
      }
      ASSERT_TRUE(v.ok()) << text << " scale " << shape.scale;
      const double got = std::get<uint32_t>(v.value());
      EXPECT_LE(std::fabs(got - expected), 0.5 + 1e-9) << text << " scale " << shape.scale;
      // And what it shows reads back to the same word.
      EXPECT_EQ(conv->parse(conv->format(v.value())).value(), v.value()) << text;
    }
  }
}

TEST(FixedPoint, RefusesWhatDoesNotFit) {
  FixedPointShape bounded{16, 0, true, 16, 32};
  Reference<IConvertor> conv = fixedPointConvertor(bounded);
  EXPECT_TRUE(conv->check("1"));
  EXPECT_TRUE(conv->check("2"));
  EXPECT_FALSE(conv->check("2.0625"));
  EXPECT_FALSE(conv->check("0.9375"));
  EXPECT_EQ(conv->describe(), "fixed point number in range [1;2]");
  Reference<IConvertor> full = fixedPointConvertor({1000, 0, false});
  EXPECT_EQ(full->describe(), "fixed point number");
  for (const char* bad : {"", "-", ".5", "5.", "1.2.3", "1e3", " 1", "1 ", "4294967.296",
                          "99999999999999", "1.0000000000001", "+1", "--1"})
    EXPECT_FALSE(full->check(bad)) << bad;
  EXPECT_TRUE(full->check("4294967.295"));
  EXPECT_EQ(full->format(FieldValue(uint64_t{1})), "");
}

} // namespace
} // namespace kestel
