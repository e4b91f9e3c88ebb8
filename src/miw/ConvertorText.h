// Text forms of numbers shared by the convertors and the download progress line: whole-text number
// scanning that refuses overflow instead of wrapping, radix printing, bit rates, byte counts,
// compact unit texts and digit grouping. Pure functions; no locale is consulted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestel {

// printf into a string sized to fit the result; nothing is ever written past a buffer.
std::string strPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads the whole text as an unsigned number in `radix` (2..36); false on an empty text, any
// other character, or a number that does not fit.
bool scanU32(std::string_view text, unsigned radix, uint32_t& out);
bool scanU64(std::string_view text, unsigned radix, uint64_t& out);
// Reads the whole text as a decimal signed 32-bit number with an optional "+" or "-"; false on
// anything else or on overflow.
bool scanI32(std::string_view text, int32_t& out);
// Takes the leading decimal digits off `text`; false (text untouched) when there are none or the
// number does not fit in 32 bits.
bool takeU32(std::string_view& text, uint32_t& out);
// Takes `prefix` off the front of `text`; false (text untouched) when it is not there.
bool takePrefix(std::string_view& text, std::string_view prefix);

// Radix 16 prints lower-case hexadecimal without prefix; every other radix prints decimal.
std::string number2string(uint32_t value, unsigned radix);
// Prints `value` in `radix` (2..36, lower-case digits); used where the text is read back in it.
std::string numberInRadix(uint32_t value, unsigned radix);
std::string integer2string(int32_t value);

// "1999 bps", "2.0 kbps", "1999.9 kbps", "2.0 Gbps": the shown digit is cut off.
std::string bitRateText(uint64_t bitsPerSecond);
// Column-width class of a bit rate: 1000, 1000000, 1000000000, or 0xFFFFFFFF beyond; its label
// "1k", "1M", "1G" or "10G".
uint32_t bitRateClass(uint64_t bitsPerSecond);
std::string bitRateClassLabel(uint32_t rateClass);
// Label plus a 1024-based rate with two-digit hundredths ("%s%u bps", "... kbps", "... Mbps");
// a rate of 0 gives the empty text.
std::string prefixedRateText(std::string_view label, uint32_t rate);
// "%lluG", "%lluM", "%lluk" for exact multiples above 999999999, 999999 and 999; else "%llu".
std::string unitText(uint64_t value);
// Byte counts: "%u B", "%.1f KiB", "%.1f MiB" (and GiB for the kbytes and 64-bit forms).
std::string bytesText(uint32_t bytes);
std::string kbytesText(uint32_t kibibytes);
std::string bigBytesText(uint64_t bytes);
// "%u", "%u %3.3u", "%u %3.3u %3.3u"; the signed form puts "-" before negative values.
std::string groupedDigits(uint64_t value);
std::string groupedDigits(int64_t value);

// Reads a decimal number with an optional fraction and an optional unit word (matched after
// optional blanks) from `units`, a table ending with a null word; the fraction is cut off at the
// unit's resolution. False on anything else or a result that does not fit in 64 bits.
struct UnitWord {
  const char* word;
  uint64_t factor;
};
bool scanScaled(std::string_view text, const UnitWord* units, uint64_t& out);
// Unit tables for bit rates ("bps", "kbps", "Mbps", "Gbps", "k", "M", "G"), byte counts ("B",
// "KiB", "MiB", "GiB") and compact unit texts ("k", "M", "G").
extern const UnitWord kBitRateUnits[];
extern const UnitWord kByteUnits[];
extern const UnitWord kCompactUnits[];

// Download progress: a byte count ("%u B" below 5000, "%.1f KiB" below 5000000, else "%.1f MiB").
std::string byteCountText(uint32_t bytes);
// Transfer rate over an interval: bytes × 10 ÷ (milliseconds ÷ 100), i.e. bytes per second,
// which the progress line shows with the "bps" words; 0 when the interval is shorter than
// 100 ms; capped at 0xFFFFFFFF.
uint32_t downloadRate(uint64_t bytes, uint64_t milliseconds);
// "Downloading descriptors %s of %s%s", the last part " at " + rate (left out for a rate of 0).
std::string downloadProgressText(uint32_t bytesSoFar, uint32_t total, uint32_t rate);

} // namespace kestel
