#include "miw/ConvertorText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kestel {
namespace {

struct U64Case {
  uint64_t value;
  const char* text;
};

TEST(ConvertorText, BitRatesCutTheShownDigit) {
  const U64Case cases[] = {{0, "0 bps"},
                           {1999, "1999 bps"},
                           {2000, "2.0 kbps"},
                           {2099, "2.0 kbps"},
                           {1999999, "1999.9 kbps"},
                           {2000000, "2.0 Mbps"},
                           {1999999999, "1999.9 Mbps"},
                           {2000000000, "2.0 Gbps"},
                           {4294967295, "4.2 Gbps"},
                           {123456789012ull, "123.4 Gbps"}};
  for (const auto& c : cases)
    EXPECT_EQ(bitRateText(c.value), c.text) << c.value;
}

TEST(ConvertorText, BitRateWidthClasses) {
  const struct {
    uint64_t value;
    const char* label;
  } cases[] = {{0, "1k"},       {1000, "1k"},        {1001, "1M"},
               {1000000, "1M"}, {1000000001, "10G"}, {1000000000, "1G"}};
  for (const auto& c : cases)
    EXPECT_EQ(bitRateClassLabel(bitRateClass(c.value)), c.label) << c.value;
}

TEST(ConvertorText, PrefixedRatesRoundHundredthsAndCarry) {
  const struct {
    uint32_t rate;
    const char* text;
  } cases[] = {{0, ""},
               {1, " at 1 bps"},
               {2047, " at 2047 bps"},
               {2048, " at 2.00 kbps"},
               {2560, " at 2.50 kbps"},
               {2058, " at 2.01 kbps"}, // 2.0097 rounds up
               {3071, " at 3.00 kbps"}, // carries into the whole part
               {0x1FFFFF, " at 2048.00 kbps"},
               {0x200000, " at 2.00 Mbps"},
               {3 * 1048576 - 1, " at 3.00 Mbps"},
               {0xFFFFFFFF, " at 4096.00 Mbps"}};
  for (const auto& c : cases)
    EXPECT_EQ(prefixedRateText(" at ", c.rate), c.text) << c.rate;
}

TEST(ConvertorText, CompactUnitsOnlyForExactMultiples) {
  const U64Case cases[] = {
      {0, "0"},           {999, "999"},       {1000, "1k"},
      {1500, "1500"},     {999000, "999k"},   {1000000, "1M"},
      {2000000000, "2G"}, {1001000, "1001k"}, {18000000000000000000ull, "18000000000G"}};
  for (const auto& c : cases)
    EXPECT_EQ(unitText(c.value), c.text) << c.value;
}

TEST(ConvertorText, ByteCounts) {
  EXPECT_EQ(bytesText(4999), "4999 B");
  EXPECT_EQ(bytesText(5000), "4.9 KiB");
  EXPECT_EQ(bytesText(4999999), "4882.8 KiB");
  EXPECT_EQ(bytesText(5000000), "4.8 MiB");
  EXPECT_EQ(kbytesText(4999), "4999 KiB");
  EXPECT_EQ(kbytesText(5000), "4.9 MiB");
  EXPECT_EQ(kbytesText(5000000), "4.8 GiB");
  EXPECT_EQ(bigBytesText(4999), "4999 B");
  EXPECT_EQ(bigBytesText(5000), "4.9 KiB");
  EXPECT_EQ(bigBytesText(5000000), "4.8 MiB");
  EXPECT_EQ(bigBytesText(4999999999ull), "4768.4 MiB");
  EXPECT_EQ(bigBytesText(5000000000ull), "4.7 GiB");
}

TEST(ConvertorText, DigitGrouping) {
  EXPECT_EQ(groupedDigits(uint64_t{999}), "999");
  EXPECT_EQ(groupedDigits(uint64_t{1000}), "1 000");
  EXPECT_EQ(groupedDigits(uint64_t{999999}), "999 999");
  EXPECT_EQ(groupedDigits(uint64_t{1000000}), "1 000 000");
  EXPECT_EQ(groupedDigits(uint64_t{1234567890123}), "1234567 890 123");
  EXPECT_EQ(groupedDigits(int64_t{-1005}), "-1 005");
  EXPECT_EQ(groupedDigits(int64_t{-7}), "-7");
  EXPECT_EQ(groupedDigits(INT64_MIN), "-9223372036854 775 808");
}

TEST(ConvertorText, ScanningRefusesOverflowAndStrayCharacters) {
  uint32_t v = 7;
  EXPECT_TRUE(scanU32("4294967295", 10, v));
  EXPECT_EQ(v, 4294967295u);
  for (const char* bad : {"4294967296", "99999999999999999999", "", " 1", "1 ", "+1", "-1", "1a"})
    EXPECT_FALSE(scanU32(bad, 10, v)) << bad;
  EXPECT_TRUE(scanU32("ffffffff", 16, v));
  EXPECT_FALSE(scanU32("100000000", 16, v));
  int32_t s = 0;
  EXPECT_TRUE(scanI32("-2147483648", s));
  EXPECT_EQ(s, INT32_MIN);
  EXPECT_TRUE(scanI32("+2147483647", s));
  for (const char* bad : {"2147483648", "-2147483649", "+-1", "--1", "+"})
    EXPECT_FALSE(scanI32(bad, s)) << bad;
}

TEST(ConvertorText, ScaledNumbers) {
  const struct {
    const char* text;
    const UnitWord* units;
    bool ok;
    uint64_t value;
  } cases[] = {{"2.0 kbps", kBitRateUnits, true, 2000},
               {"1999.9 kbps", kBitRateUnits, true, 1999900},
               {"10M", kBitRateUnits, true, 10000000},
               {"1.5Gbps", kBitRateUnits, true, 1500000000},
               {"4.9 KiB", kByteUnits, true, 5017},
               {"1 B", kByteUnits, true, 1},
               {"3k", kCompactUnits, true, 3000},
               {"18446744073709551615", kCompactUnits, true, UINT64_MAX},
               {"18446744073709551616", kCompactUnits, false, 0},
               {"18446744073709552k", kCompactUnits, false, 0},
               {"1.", kCompactUnits, false, 0},
               {".5k", kCompactUnits, false, 0},
               {"5 kb", kBitRateUnits, false, 0},
               {"0.1234567890123456789k", kCompactUnits, false, 0}};
  for (const auto& c : cases) {
    uint64_t v = 0;
    EXPECT_EQ(scanScaled(c.text, c.units, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ConvertorText, DownloadProgressLine) {
  EXPECT_EQ(downloadRate(1000, 50), 0u);
  EXPECT_EQ(downloadRate(51200, 501), 102400u); // 51200 bytes in 0.5 s
  EXPECT_EQ(downloadRate(UINT64_MAX, 100), 0xFFFFFFFFu);
  EXPECT_EQ(downloadProgressText(4096, 6000000, 0), "Downloading descriptors 4096 B of 5.7 MiB");
  EXPECT_EQ(downloadProgressText(10000, 20000, 102400),
            "Downloading descriptors 9.8 KiB of 19.5 KiB at 100.00 kbps");
}

TEST(ConvertorText, RadixPrinting) {
  EXPECT_EQ(number2string(255, 16), "ff");
  EXPECT_EQ(number2string(255, 2), "255");
  EXPECT_EQ(numberInRadix(5, 2), "101");
  EXPECT_EQ(numberInRadix(0xFFFFFFFF, 2), std::string(32, '1'));
  EXPECT_EQ(integer2string(INT32_MIN), "-2147483648");
}

} // namespace
} // namespace kestel
