#include "miw/ConvertorTime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>

namespace kestel {
namespace {

TEST(ConvertorTime, IntervalTexts) {
  const struct {
    uint32_t value, divisor;
    const char* text;
  } cases[] = {{0, 1, "00:00:00"},
               {59, 1, "00:00:59"},
               {86399, 1, "23:59:59"},
               {86400, 1, "1d 00:00:00"},
               {90061, 1, "1d 01:01:01"},
               {1500, 1000, "00:00:01.500"},
               {1000, 1000, "00:00:01"},
               {7, 1000, "00:00:00.007"},
               {0xFFFFFFFF, 1, "49710d 06:28:15"},
               {0xFFFFFFFF, 1000, "49d 17:02:47.295"},
               {15, 10, "00:00:01.5"}};
  for (const auto& c : cases)
    EXPECT_EQ(intervalText(c.value, c.divisor), c.text) << c.value;
}

TEST(ConvertorTime, IntervalInputForms) {
  const struct {
    const char* text;
    uint32_t divisor;
    bool ok;
    uint32_t value;
  } cases[] = {{"90", 1, true, 90},
               {"1.5", 1000, true, 1500},
               {"1.05", 1000, true, 1050},
               {"1.5", 1, false, 0},       // no fraction without a divisor
               {"1.0005", 1000, false, 0}, // more digits than the divisor has
               {"-0", 1000, true, 0},
               {"-0.000", 1000, true, 0},
               {"-1", 1, false, 0}, // negative results are refused
               {"-0.5", 1000, false, 0},
               {"1d 01:01:01", 1, true, 90061},
               {"1d01:01:01", 1, true, 90061},
               {"1d  01:01:01.25", 100, true, 9006125},
               {"01:01:01", 1, true, 3661},
               {"0:90:00", 1, true, 5400},
               {"00:00:01.500", 1000, true, 1500},
               {"4294967295", 1, true, 0xFFFFFFFF},
               {"4294967296", 1, false, 0},
               {"4294967.296", 1000, false, 0},
               {"49710d 06:28:15", 1, true, 0xFFFFFFFF},
               {"49710d 06:28:16", 1, false, 0},
               {"4294967295d 00:00:00", 1, false, 0}, // huge day counts do not wrap
               {"0d 4294967295:00:00", 1, false, 0},
               {"1:2", 1, false, 0},
               {"1d", 1, false, 0},
               {"01:01:01 ", 1, false, 0},
               {"", 1, false, 0},
               {"-1d 00:00:00", 1, false, 0}};
  for (const auto& c : cases) {
    uint32_t v = 12345;
    EXPECT_EQ(parseInterval(c.text, c.divisor, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ConvertorTime, IntervalDescriptions) {
  EXPECT_EQ(intervalConvertor(0, 0xFFFFFFFF, 1)->describe(), "time interval");
  EXPECT_EQ(intervalConvertor(10, 0xFFFFFFFF, 1)->describe(),
            "timer interval greater than 00:00:09");
  EXPECT_EQ(intervalConvertor(0, 90061, 1)->describe(),
            "time interval in range [00:00:00;1d 01:01:01]");
  auto c = intervalConvertor(1000, 60000, 1000);
  EXPECT_FALSE(c->check("0.999"));
  EXPECT_TRUE(c->check("1"));
  EXPECT_FALSE(c->check("00:01:00.001"));
}

TEST(ConvertorTime, TimeZones) {
  const struct {
    int32_t seconds;
    const char* text;
  } cases[] = {{-3600, "-01:00"}, {-59, "+00:00"},   {-60, "-00:01"},
               {0, "+00:00"},     {19800, "+05:30"}, {INT32_MIN, "-596523:14"}};
  for (const auto& c : cases)
    EXPECT_EQ(timeZoneText(c.seconds), c.text) << c.seconds;
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } inputs[] = {{"-01:00", true, -3600},
                {"+05:30", true, 19800},
                {"5:30", true, 19800},
                {"5:30x", false, 0},
                {"5", false, 0},
                {"+-1:00", false, 0},
                {"596523:14", true, 2147483640},
                {"596524:00", false, 0}};
  for (const auto& c : inputs) {
    int32_t v = 0;
    EXPECT_EQ(parseTimeZone(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

std::string strftimeUtc(uint32_t seconds, const char* format) {
  const time_t t = seconds;
  struct tm tm {};
  gmtime_r(&t, &tm);
  char buf[64];
  const size_t n = strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

// Formatting against strftime in UTC (C locale month names), parsing against timegm.
TEST(ConvertorTime, DatesAgreeWithTheCLibrary) {
  std::mt19937 random(11);
  auto dateTime = dateAndTimeConvertor(DatePart::DateAndTime, ShowTime::Always);
  auto date = dateAndTimeConvertor(DatePart::Date, ShowTime::UnlessMidnight);
  auto clock = dateAndTimeConvertor(DatePart::TimeOfDay, ShowTime::UnlessMidnight);
  const uint32_t last2105 = 4291747199u; // Dec/31/2105 23:59:59
  for (int i = 0; i < 5000; ++i) {
    const uint32_t s = i < 3 ? (i == 0 ? 0 : i == 1 ? last2105 : 951782400u) : random();
    EXPECT_EQ(dateTime->format(s), strftimeUtc(s, "%b/%d/%Y %H:%M:%S"));
    EXPECT_EQ(date->format(s), strftimeUtc(s, "%b/%d/%Y"));
    EXPECT_EQ(clock->format(s), strftimeUtc(s, "%H:%M:%S"));
    struct tm tm {};
    const time_t t = s;
    gmtime_r(&t, &tm);
    auto back = dateTime->parse(dateTime->format(s));
    if (tm.tm_year + 1900 > 2105) {
      EXPECT_FALSE(back.ok());
      continue;
    }
    ASSERT_TRUE(back.ok()) << dateTime->format(s);
    EXPECT_EQ(std::get<uint32_t>(*back), static_cast<uint32_t>(timegm(&tm)));
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    EXPECT_EQ(std::get<uint32_t>(*date->parse(date->format(s))),
              static_cast<uint32_t>(timegm(&tm)));
    EXPECT_EQ(std::get<uint32_t>(*clock->parse(clock->format(s))), s % 86400);
  }
}

TEST(ConvertorTime, DateForms) {
  EXPECT_EQ(dateTimeText(86400 * 3, ShowTime::UnlessMidnight), "Jan/04/1970");
  EXPECT_EQ(dateTimeText(86400 * 3, ShowTime::Always), "Jan/04/1970 00:00:00");
  EXPECT_EQ(dateTimeText(0xFFFFFFFF, ShowTime::Always), "Feb/07/2106 06:28:15");
  const struct {
    const char* text;
    bool ok;
    uint32_t value;
  } inputs[] = {{"jan/1/1970", true, 0},   {"FEB/29/2000", true, 951782400},
                {"Feb/29/2001", false, 0}, // no such day: refused, not moved to March
                {"Apr/31/2020", false, 0}, {"Jan/0/2020", false, 0},
                {"Jan/32/2020", false, 0}, {"Dec/31/1969", false, 0},
                {"Jan/1/2106", false, 0},  {"Dec/31/2105", true, 4291660800u},
                {"Jan/1/2020x", false, 0}, {"Jan/1/4294967297", false, 0},
                {"Janu/1/2020", false, 0}, {"Jan/1/2020 ", false, 0}};
  for (const auto& c : inputs) {
    uint32_t v = 0;
    EXPECT_EQ(parseDate(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  uint32_t v = 0;
  EXPECT_TRUE(parseTimeOfDay("23:59:59", v));
  EXPECT_EQ(v, 86399u);
  for (const char* bad : {"24:00:00", "00:60:00", "00:00:60", "1:2", "1:2:3x", "1:2:3 "})
    EXPECT_FALSE(parseTimeOfDay(bad, v)) << bad;
  auto dt = dateAndTimeConvertor(DatePart::DateAndTime, ShowTime::UnlessMidnight);
  EXPECT_TRUE(dt->check("Jan/2/1970"));
  EXPECT_TRUE(dt->check("Jan/2/1970  10:00:00"));
  EXPECT_FALSE(dt->check("Jan/2/1970 "));
  EXPECT_FALSE(
      dateAndTimeConvertor(DatePart::Date, ShowTime::Always)->check("Jan/2/1970 10:00:00"));
}

// parse(format(v)) == v over seeded values and the ends of the range.
TEST(ConvertorTime, RoundTrips) {
  std::mt19937 random(5);
  for (uint32_t divisor : {1u, 10u, 1000u, 1000000000u}) {
    auto c = intervalConvertor(0, 0xFFFFFFFF, divisor);
    for (int i = 0; i < 3000; ++i) {
      const uint32_t v = i == 0 ? 0 : i == 1 ? 0xFFFFFFFF : random() >> (random() % 32);
      auto back = c->parse(c->format(v));
      ASSERT_TRUE(back.ok()) << c->format(v);
      EXPECT_EQ(std::get<uint32_t>(*back), v) << c->format(v);
    }
  }
  auto zone = timeZoneConvertor();
  for (int i = 0; i < 3000; ++i) {
    const int32_t minutes = static_cast<int32_t>(random() % 3000) - 1500;
    const auto v = static_cast<uint32_t>(minutes * 60);
    EXPECT_EQ(std::get<uint32_t>(*zone->parse(zone->format(v))), v) << minutes;
  }
}

} // namespace
} // namespace kestel
