#include "miw/ConvertorText.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace kestel {

std::string strPrintf(const char* format, ...) {
  char small[128];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0)
    return {};
  if (static_cast<size_t>(n) < sizeof small)
    return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  out.resize(static_cast<size_t>(n));
  return out;
}

namespace {

template <typename T> bool scanWhole(std::string_view text, unsigned radix, T& out) {
  if (text.empty() || radix < 2 || radix > 36)
    return false;
  // from_chars takes a sign only for signed types; a leading "+" is never a digit either.
  T value{};
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, static_cast<int>(radix));
  if (ec != std::errc() || end != text.data() + text.size())
    return false;
  out = value;
  return true;
}

} // namespace

bool scanU32(std::string_view text, unsigned radix, uint32_t& out) {
  return scanWhole(text, radix, out);
}

bool scanU64(std::string_view text, unsigned radix, uint64_t& out) {
  return scanWhole(text, radix, out);
}

bool scanI32(std::string_view text, int32_t& out) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-')
      return false;
  }
  return scanWhole(text, 10, out);
}

bool takeU32(std::string_view& text, uint32_t& out) {
  size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9')
    ++n;
  if (n == 0 || !scanU32(text.substr(0, n), 10, out))
    return false;
  text.remove_prefix(n);
  return true;
}

bool takePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix))
    return false;
  text.remove_prefix(prefix.size());
  return true;
}

std::string number2string(uint32_t value, unsigned radix) {
  return radix == 16 ? strPrintf("%x", value) : strPrintf("%u", value);
}

std::string numberInRadix(uint32_t value, unsigned radix) {
  if (radix < 2 || radix > 36)
    radix = 10;
  char buf[33];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, static_cast<int>(radix));
  (void)ec; // 32 binary digits always fit
  return std::string(buf, end);
}

std::string integer2string(int32_t value) { return strPrintf("%d", value); }

std::string bitRateText(uint64_t v) {
  using ull = unsigned long long;
  if (v < 2000)
    return strPrintf("%llu bps", ull(v));
  if (v < 2000000)
    return strPrintf("%llu.%1llu kbps", ull(v / 1000), ull(v / 100 % 10));
  if (v <= 1999999999)
    return strPrintf("%llu.%1llu Mbps", ull(v / 1000000), ull(v / 100000 % 10));
  return strPrintf("%llu.%1llu Gbps", ull(v / 1000000000), ull(v / 100000000 % 10));
}

uint32_t bitRateClass(uint64_t v) {
  if (v <= 1000)
    return 1000;
  if (v <= 1000000)
    return 1000000;
  if (v <= 1000000000)
    return 1000000000;
  return 0xFFFFFFFF;
}

std::string bitRateClassLabel(uint32_t rateClass) {
  switch (rateClass) {
  case 1000:
    return "1k";
  case 1000000:
    return "1M";
  case 1000000000:
    return "1G";
  default:
    return "10G";
  }
}

std::string prefixedRateText(std::string_view label, uint32_t rate) {
  if (rate == 0)
    return {};
  const int len = static_cast<int>(label.size());
  if (rate < 2048)
    return strPrintf("%.*s%u bps", len, label.data(), rate);
  // Hundredths rounded to the nearest, carried into the whole part (2.999 shows 3.00, not 2.00).
  const bool mega = rate > 0x1FFFFF;
  const uint64_t unit = mega ? 1048576 : 1024;
  const uint64_t hundredths = (uint64_t(rate) * 100 + unit / 2) / unit;
  return strPrintf("%.*s%llu.%02llu %s", len, label.data(),
                   static_cast<unsigned long long>(hundredths / 100),
                   static_cast<unsigned long long>(hundredths % 100), mega ? "Mbps" : "kbps");
}

std::string unitText(uint64_t v) {
  using ull = unsigned long long;
  if (v > 999999999 && v % 1000000000 == 0)
    return strPrintf("%lluG", ull(v / 1000000000));
  if (v > 999999 && v % 1000000 == 0)
    return strPrintf("%lluM", ull(v / 1000000));
  if (v > 999 && v % 1000 == 0)
    return strPrintf("%lluk", ull(v / 1000));
  return strPrintf("%llu", ull(v));
}

std::string bytesText(uint32_t v) {
  if (v < 5000)
    return strPrintf("%u B", v);
  if (v > 4999999)
    return strPrintf("%.1f MiB", v / 1048576.0);
  return strPrintf("%.1f KiB", v / 1024.0);
}

std::string kbytesText(uint32_t v) {
  if (v < 5000)
    return strPrintf("%u KiB", v);
  if (v > 4999999)
    return strPrintf("%.1f GiB", v / 1048576.0);
  return strPrintf("%.1f MiB", v / 1024.0);
}

std::string bigBytesText(uint64_t v) {
  if (v < 5000)
    return strPrintf("%u B", static_cast<unsigned>(v));
  if (v < 5000000)
    return strPrintf("%.1f KiB", static_cast<double>(v) / 1024.0);
  if (v > 4999999999ULL)
    return strPrintf("%.1f GiB", static_cast<double>(v) / 1073741824.0);
  return strPrintf("%.1f MiB", static_cast<double>(v) / 1048576.0);
}

namespace {

std::string grouped(const char* sign, uint64_t v) {
  using ull = unsigned long long;
  if (v <= 999)
    return strPrintf("%s%llu", sign, ull(v));
  if (v <= 999999)
    return strPrintf("%s%llu %3.3llu", sign, ull(v / 1000), ull(v % 1000));
  return strPrintf("%s%llu %3.3llu %3.3llu", sign, ull(v / 1000000), ull(v / 1000 % 1000),
                   ull(v % 1000));
}

} // namespace

std::string groupedDigits(uint64_t value) { return grouped("", value); }

std::string groupedDigits(int64_t value) {
  if (value >= 0)
    return grouped("", static_cast<uint64_t>(value));
  return grouped("-", 0 - static_cast<uint64_t>(value)); // no overflow for the smallest value
}

const UnitWord kBitRateUnits[] = {{"", 1},           {"bps", 1},           {"k", 1000},
                                  {"kbps", 1000},    {"M", 1000000},       {"Mbps", 1000000},
                                  {"G", 1000000000}, {"Gbps", 1000000000}, {nullptr, 0}};
const UnitWord kByteUnits[] = {
    {"", 1}, {"B", 1}, {"KiB", 1024}, {"MiB", 1048576}, {"GiB", 1073741824}, {nullptr, 0}};
const UnitWord kCompactUnits[] = {
    {"", 1}, {"k", 1000}, {"M", 1000000}, {"G", 1000000000}, {nullptr, 0}};

bool scanScaled(std::string_view text, const UnitWord* units, uint64_t& out) {
  size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    ++i;
  uint64_t whole = 0;
  if (i == 0 || !scanU64(text.substr(0, i), 10, whole))
    return false;
  text.remove_prefix(i);
  uint64_t fraction = 0, scale = 1;
  if (takePrefix(text, ".")) {
    size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9')
      ++n;
    if (n == 0 || n > 18)
      return false;
    for (size_t k = 0; k < n; ++k) {
      fraction = fraction * 10 + static_cast<uint64_t>(text[k] - '0');
      scale *= 10;
    }
    text.remove_prefix(n);
  }
  while (!text.empty() && text[0] == ' ')
    text.remove_prefix(1);
  for (const UnitWord* u = units; u->word; ++u) {
    if (text != u->word)
      continue;
    unsigned __int128 v = static_cast<unsigned __int128>(whole) * u->factor +
                          static_cast<unsigned __int128>(fraction) * u->factor / scale;
    if (v > std::numeric_limits<uint64_t>::max())
      return false;
    out = static_cast<uint64_t>(v);
    return true;
  }
  return false;
}

std::string byteCountText(uint32_t bytes) { return bytesText(bytes); }

uint32_t downloadRate(uint64_t bytes, uint64_t milliseconds) {
  const uint64_t tenths = milliseconds / 100;
  if (tenths == 0)
    return 0;
  const unsigned __int128 rate = static_cast<unsigned __int128>(bytes) * 10 / tenths;
  return rate > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(rate);
}

std::string downloadProgressText(uint32_t bytesSoFar, uint32_t total, uint32_t rate) {
  return "Downloading descriptors " + byteCountText(bytesSoFar) + " of " + byteCountText(total) +
         prefixedRateText(" at ", rate);
}

} // namespace kestel
