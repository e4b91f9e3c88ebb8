// Convertors of per-second change rates and of fixed-point numbers.
//
// A change rate is the per-second growth of a counter the router reports, already scaled by the
// slot (a "scale" of 8 turns a byte counter into bits). Rates of bits show as bit rates ("1999
// bps", "2.0 kbps", "10.0 Mbps", "2.0 Gbps"); rates of anything else (packets, errors) show with
// the same thresholds and cut-off digit as "1999/s", "2.0k/s", "10.0M/s", "2.0G/s". Both read a
// number with an optional fraction and an optional unit word.
//
// A fixed-point number is a u32 word holding (shown value × scale) + offset. It is shown with as
// many decimals as one step (1 ÷ scale) needs: the exact count when the scale divides a power of
// ten (16 gives 4: 0.0625), else one digit more than the scale has; with "trimzeros" trailing
// zeros of the fraction (and a bare point) are dropped. Reading takes a decimal number with an
// optional "-" and fraction, rounds it to the nearest step and refuses what falls outside the
// word or the slot's [min, max].
#pragma once

#include "miw/Convertor.h"
#include "miw/ConvertorNumber.h"

namespace kestel {

enum class RateOf { Bits, Events };
// u32 or u64 value (by `width`).
Reference<IConvertor> changeRateConvertor(NumberWidth width, RateOf what);
// "1999/s", "2.0k/s", "1999.9k/s", "2.0M/s", "2.0G/s": the shown digit is cut off.
std::string eventRateText(uint64_t perSecond);

struct FixedPointShape {
  uint32_t scale = 1; // steps per unit; 0 is taken as 1
  int64_t offset = 0; // stored = shown × scale + offset
  bool trimZeros = false;
  uint32_t min = 0; // bounds of the stored word
  uint32_t max = 0xFFFFFFFF;
};
Reference<IConvertor> fixedPointConvertor(const FixedPointShape& shape);

} // namespace kestel
