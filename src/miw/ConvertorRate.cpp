#include "miw/ConvertorRate.h"

#include "miw/ConvertorText.h"

#include <cstdlib>

namespace kestel {

namespace {

Error described(const IConvertor& c) { return makeError(c.describe()); }

const UnitWord kEventRateUnits[] = {{"", 1},           {"/s", 1},           {"k", 1000},
                                    {"k/s", 1000},     {"M", 1000000},      {"M/s", 1000000},
                                    {"G", 1000000000}, {"G/s", 1000000000}, {nullptr, 0}};

bool rateValue(const FieldValue& value, NumberWidth width, uint64_t& out) {
  if (width == NumberWidth::Bits32) {
    const auto* v = std::get_if<uint32_t>(&value);
    if (v)
      out = *v;
    return v != nullptr;
  }
  const auto* v = std::get_if<uint64_t>(&value);
  if (v)
    out = *v;
  return v != nullptr;
}

class ChangeRateConvertor final : public IConvertor {
public:
  ChangeRateConvertor(NumberWidth width, RateOf what) : width_(width), what_(what) {}

  std::string format(const FieldValue& value) const override {
    uint64_t v = 0;
    if (!rateValue(value, width_, v))
      return {};
    return what_ == RateOf::Bits ? bitRateText(v) : eventRateText(v);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    uint64_t v = 0;
    if (!scanScaled(text, what_ == RateOf::Bits ? kBitRateUnits : kEventRateUnits, v))
      return described(*this);
    if (width_ == NumberWidth::Bits64)
      return FieldValue(v);
    if (v > 0xFFFFFFFF)
      return described(*this);
    return FieldValue(static_cast<uint32_t>(v));
  }
  std::string describe() const override {
    return what_ == RateOf::Bits ? "bit rate" : "rate per second";
  }
  uint32_t magnitude(const FieldValue& value) const override {
    uint64_t v = 0;
    return rateValue(value, width_, v) ? bitRateClass(v) : 0xFFFFFFFF;
  }
  std::string magnitudeLabel(uint32_t c) const override { return bitRateClassLabel(c); }

private:
  NumberWidth width_;
  RateOf what_;
};

uint64_t power10(unsigned n) {
  uint64_t p = 1;
  while (n-- > 0)
    p *= 10;
  return p;
}

// Decimals one step of 1/scale needs (see the header).
unsigned stepDecimals(uint32_t scale) {
  for (unsigned d = 0; d <= 9; ++d)
    if (power10(d) % scale == 0)
      return d;
  unsigned digits = 0;
  for (uint64_t s = scale; s > 0; s /= 10)
    ++digits;
  return digits + 1;
}

class FixedPointConvertor final : public IConvertor {
public:
  explicit FixedPointConvertor(const FixedPointShape& shape)
      : shape_(shape), decimals_(stepDecimals(shape_.scale == 0 ? 1 : shape_.scale)) {
    if (shape_.scale == 0)
      shape_.scale = 1;
  }

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    if (!v)
      return {};
    const int64_t shown = static_cast<int64_t>(*v) - shape_.offset;
    const uint64_t magnitude = static_cast<uint64_t>(shown < 0 ? -shown : shown);
    const uint64_t whole = magnitude / shape_.scale;
    const uint64_t rest = magnitude % shape_.scale;
    // The fraction cut off at the shown decimals: rest / scale × 10^decimals.
    const uint64_t fraction = rest * power10(decimals_) / shape_.scale;
    std::string text = strPrintf("%s%llu", shown < 0 ? "-" : "", (unsigned long long)whole);
    if (decimals_ == 0)
      return text;
    std::string digits =
        strPrintf("%0*llu", static_cast<int>(decimals_), (unsigned long long)fraction);
    if (shape_.trimZeros) {
      while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
      if (digits.empty())
        return text;
    }
    return text + "." + digits;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
      negative = true;
      text.remove_prefix(1);
    }
    // Whole part and up to 18 fraction digits, each at most 18 digits, so products stay in range
    // of unsigned 128-bit arithmetic done in two steps below.
    size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      ++i;
    if (i == 0 || i > 12)
      return described(*this);
    uint64_t whole = std::strtoull(std::string(text.substr(0, i)).c_str(), nullptr, 10);
    text.remove_prefix(i);
    uint64_t fraction = 0;
    unsigned fractionDigits = 0;
    if (!text.empty() && text.front() == '.') {
      text.remove_prefix(1);
      size_t n = 0;
      while (n < text.size() && text[n] >= '0' && text[n] <= '9')
        ++n;
      if (n == 0 || n > 12)
        return described(*this);
      fraction = std::strtoull(std::string(text.substr(0, n)).c_str(), nullptr, 10);
      fractionDigits = static_cast<unsigned>(n);
      text.remove_prefix(n);
    }
    if (!text.empty())
      return described(*this);
    // steps = round((whole + fraction / 10^digits) × scale); whole ≤ 10^12 and scale < 2^32 keep
    // whole × scale below 2^73, so the whole part is checked against the word first.
    const uint64_t limit = uint64_t{0xFFFFFFFF} + static_cast<uint64_t>(std::abs(shape_.offset));
    if (whole > limit)
      return described(*this);
    const unsigned __int128 wholeSteps = static_cast<unsigned __int128>(whole) * shape_.scale;
    const uint64_t unit = power10(fractionDigits);
    const unsigned __int128 fractionSteps =
        (static_cast<unsigned __int128>(fraction) * shape_.scale * 2 + unit) / (2 * unit);
    const unsigned __int128 steps = wholeSteps + fractionSteps;
    if (steps > limit)
      return described(*this);
    const int64_t signedSteps =
        negative ? -static_cast<int64_t>(steps) : static_cast<int64_t>(steps);
    const int64_t stored = signedSteps + shape_.offset;
    if (stored < shape_.min || stored > shape_.max)
      return described(*this);
    return FieldValue(static_cast<uint32_t>(stored));
  }

  std::string describe() const override {
    if (shape_.min == 0 && shape_.max == 0xFFFFFFFF && shape_.offset == 0)
      return "fixed point number";
    return "fixed point number in range [" + format(FieldValue(shape_.min)) + ";" +
           format(FieldValue(shape_.max)) + "]";
  }

private:
  FixedPointShape shape_;
  unsigned decimals_;
};

} // namespace

std::string eventRateText(uint64_t v) {
  using ull = unsigned long long;
  if (v < 2000)
    return strPrintf("%llu/s", ull(v));
  if (v < 2000000)
    return strPrintf("%llu.%1lluk/s", ull(v / 1000), ull(v / 100 % 10));
  if (v <= 1999999999)
    return strPrintf("%llu.%1lluM/s", ull(v / 1000000), ull(v / 100000 % 10));
  return strPrintf("%llu.%1lluG/s", ull(v / 1000000000), ull(v / 100000000 % 10));
}

Reference<IConvertor> changeRateConvertor(NumberWidth width, RateOf what) {
  return makeRef<ChangeRateConvertor>(width, what);
}

Reference<IConvertor> fixedPointConvertor(const FixedPointShape& shape) {
  return makeRef<FixedPointConvertor>(shape);
}

} // namespace kestel
