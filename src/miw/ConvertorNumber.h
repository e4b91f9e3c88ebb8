// Convertors of the number kinds: unsigned numbers with a radix, 64-bit numbers with digit
// grouping, signed integers, ranges, lists of numbers, bit rates, compact units and byte counts.
// Bounds are inclusive; every parse refuses numbers that do not fit instead of wrapping them.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

// Whether a description names the radix ("decimal number") or not ("number").
enum class RadixWords { Named, Plain };
// How the bounds and values of ranges and lists read: as unsigned or as signed 32-bit numbers.
enum class Signedness { Unsigned, Signed };
enum class NumberWidth { Bits32, Bits64 };
enum class ByteUnit { Bytes, KBytes, BigBytes };

// Unsigned 32-bit number (u32 value). Format shows min instead of the default when the default
// lies outside [min, max]; radix 16 is lower-case hexadecimal (read with or without "0x"), other
// radices print and read in that radix so that a shown text reads back to the same value.
struct NumberShape {
  unsigned radix = 10;
  uint32_t min = 0;
  uint32_t max = 0xFFFFFFFF;
  uint32_t def = 0;
};
Reference<IConvertor> numberConvertor(const NumberShape& shape, RadixWords words);
// 64-bit number (u64 value) shown with digit grouping; reads digits with single blanks between.
Reference<IConvertor> bigNumberConvertor(uint64_t min, uint64_t max);
// Signed 32-bit integer (u32 value holding the two's complement). A value equal to `special`
// (0x7FFFFFFF standing for min) is clamped into [min, max] before it is shown.
Reference<IConvertor> integerConvertor(int min, int max, int special);
// Range (NumberRange value): "low" or "low..high", low not above high, both ends in [min, max].
Reference<IConvertor> rangeConvertor(uint32_t min, uint32_t max, Signedness sign);
// List of numbers (u32 array value) joined with ","; counts outside [minCount, maxCount] are
// refused (maxCount 0xFFFFFFFF: no limit).
Reference<IConvertor> numberListConvertor(uint32_t min, uint32_t max, Signedness sign,
                                          uint32_t minCount, uint32_t maxCount);
// Bit rate (u32 or u64 value): shows "2.0 kbps"; reads a number with an optional fraction and one
// of bps, kbps, Mbps, Gbps, k, M, G.
Reference<IConvertor> bitRateConvertor(NumberWidth width);
// Compact unit (u32 or u64 value): "10k", "3M", "2G" for exact multiples; reads the same forms.
Reference<IConvertor> unitConvertor(NumberWidth width);
// Byte counts: bytes and kbytes hold u32, bigbytes u64; reads a number with an optional fraction
// and unit (B, KiB, MiB, GiB).
Reference<IConvertor> bytesConvertor(ByteUnit unit);

// "number", "number greater than <min-1>", "number in range [<min>;<max>]" with an optional
// radix name in front; bounds in decimal.
std::string describeNumber(const char* radixName, uint64_t min, uint64_t max, uint64_t full);
// "decimal", "hexadecimal", "binary", or "<radix> base".
std::string radixName(unsigned radix);

} // namespace kestel
