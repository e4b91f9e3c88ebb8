#include "miw/ConvertorNumber.h"

#include "miw/ConvertorText.h"

#include <climits>

namespace kestel {

std::string radixName(unsigned radix) {
  switch (radix) {
  case 10:
    return "decimal";
  case 16:
    return "hexadecimal";
  case 2:
    return "binary";
  default:
    return strPrintf("%u base", radix);
  }
}

std::string describeNumber(const char* radixWord, uint64_t min, uint64_t max, uint64_t full) {
  using ull = unsigned long long;
  const std::string prefix = radixWord ? std::string(radixWord) + " " : std::string();
  if (min == 0 && max == full)
    return prefix + "number";
  if (max == full)
    return prefix + strPrintf("number greater than %llu", ull(min - 1));
  return prefix + strPrintf("number in range [%llu;%llu]", ull(min), ull(max));
}

namespace {

Error described(const IConvertor& c) { return makeError(c.describe()); }

// A u32 or u64 value widened; false for other kinds.
bool wideValue(const FieldValue& value, uint64_t& out) {
  if (const auto* v = std::get_if<uint32_t>(&value)) {
    out = *v;
    return true;
  }
  if (const auto* v = std::get_if<uint64_t>(&value)) {
    out = *v;
    return true;
  }
  return false;
}

FieldValue narrowed(uint64_t v, NumberWidth width) {
  return width == NumberWidth::Bits32 ? FieldValue(static_cast<uint32_t>(v)) : FieldValue(v);
}

uint64_t widthMax(NumberWidth width) {
  return width == NumberWidth::Bits32 ? 0xFFFFFFFFull : ~uint64_t{0};
}

class NumberConvertor final : public IConvertor {
public:
  NumberConvertor(const NumberShape& shape, RadixWords words) : shape_(shape), words_(words) {
    if (shape_.radix < 2 || shape_.radix > 36)
      shape_.radix = 10;
  }

  std::string format(const FieldValue& value) const override {
    const auto* p = std::get_if<uint32_t>(&value);
    if (!p)
      return {};
    uint32_t v = *p;
    if (v == shape_.def && (v < shape_.min || v > shape_.max))
      v = shape_.min;
    return shape_.radix == 16 ? number2string(v, 16) : numberInRadix(v, shape_.radix);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    if (shape_.radix == 16 && !takePrefix(text, "0x"))
      (void)takePrefix(text, "0X");
    uint32_t v = 0;
    if (!scanU32(text, shape_.radix, v) || v < shape_.min || v > shape_.max)
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override {
    const std::string name = radixName(shape_.radix);
    return describeNumber(words_ == RadixWords::Named ? name.c_str() : nullptr, shape_.min,
                          shape_.max, 0xFFFFFFFF);
  }

private:
  NumberShape shape_;
  RadixWords words_;
};

class BigNumberConvertor final : public IConvertor {
public:
  BigNumberConvertor(uint64_t min, uint64_t max) : min_(min), max_(max) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint64_t>(&value);
    return v ? groupedDigits(*v) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    // Digit groups may be separated by single blanks, as they are shown.
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool blankBetween = text[i] == ' ' && i > 0 && i + 1 < text.size() &&
                                text[i - 1] != ' ' && text[i + 1] != ' ';
      if (!blankBetween)
        digits += text[i];
    }
    uint64_t v = 0;
    if (!scanU64(digits, 10, v) || v < min_ || v > max_)
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override {
    return describeNumber(nullptr, min_, max_, ~uint64_t{0});
  }

private:
  uint64_t min_, max_;
};

class IntegerConvertor final : public IConvertor {
public:
  IntegerConvertor(int min, int max, int special)
      : min_(min), max_(max), special_(special == INT_MAX ? min : special) {}

  std::string format(const FieldValue& value) const override {
    const auto* p = std::get_if<uint32_t>(&value);
    if (!p)
      return {};
    int32_t v = static_cast<int32_t>(*p);
    if (v == special_)
      v = v < min_ ? min_ : (v > max_ ? max_ : v);
    return integer2string(v);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    int32_t v = 0;
    if (!scanI32(text, v) || v < min_ || v > max_)
      return described(*this);
    return FieldValue(static_cast<uint32_t>(v));
  }
  std::string describe() const override {
    if (min_ == INT_MIN && max_ == INT_MAX)
      return "integer";
    if (max_ == INT_MAX)
      return strPrintf("integer greater than %d", min_ - 1);
    return strPrintf("ingeger in range [%d;%d]", min_, max_);
  }
  uint32_t magnitude(const FieldValue& value) const override {
    const auto* p = std::get_if<uint32_t>(&value);
    return p ? numberMagnitude(static_cast<int32_t>(*p)) : 0xFFFFFFFF;
  }
  int compare(const FieldValue& a, const FieldValue& b) const override {
    const auto* x = std::get_if<uint32_t>(&a);
    const auto* y = std::get_if<uint32_t>(&b);
    if (!x || !y)
      return IConvertor::compare(a, b);
    const auto sx = static_cast<int32_t>(*x), sy = static_cast<int32_t>(*y);
    return sx < sy ? -1 : (sy < sx ? 1 : 0);
  }

private:
  int min_, max_, special_;
};

// Numbers of ranges and lists: read, printed and compared as signed or unsigned 32-bit values.
class Numbers {
public:
  Numbers(uint32_t min, uint32_t max, Signedness sign) : min_(min), max_(max), sign_(sign) {}

  int64_t key(uint32_t v) const {
    return sign_ == Signedness::Signed ? static_cast<int32_t>(v) : static_cast<int64_t>(v);
  }
  std::string text(uint32_t v) const {
    return sign_ == Signedness::Signed ? integer2string(static_cast<int32_t>(v))
                                       : strPrintf("%u", v);
  }
  bool read(std::string_view t, uint32_t& out) const {
    int32_t s = 0;
    uint32_t u = 0;
    if (sign_ == Signedness::Signed ? !scanI32(t, s) : !scanU32(t, 10, u))
      return false;
    const uint32_t v = sign_ == Signedness::Signed ? static_cast<uint32_t>(s) : u;
    if (key(v) < key(min_) || key(v) > key(max_))
      return false;
    out = v;
    return true;
  }
  bool full() const {
    return sign_ == Signedness::Signed ? min_ == 0x80000000u && max_ == 0x7FFFFFFFu
                                       : min_ == 0 && max_ == 0xFFFFFFFFu;
  }
  bool openTop() const { return max_ == (sign_ == Signedness::Signed ? 0x7FFFFFFFu : ~0u); }
  // "<what>", "<what> greater than <min-1>" or "<what><inWord> [<min>;<max>]".
  std::string describe(const char* what, const char* inWord) const {
    if (full())
      return what;
    if (openTop())
      return std::string(what) + " greater than " + text(min_ - 1);
    return std::string(what) + inWord + " [" + text(min_) + ";" + text(max_) + "]";
  }

private:
  uint32_t min_, max_;
  Signedness sign_;
};

class RangeConvertor final : public IConvertor {
public:
  RangeConvertor(uint32_t min, uint32_t max, Signedness sign) : numbers_(min, max, sign) {}

  std::string format(const FieldValue& value) const override {
    const auto* r = std::get_if<NumberRange>(&value);
    if (!r)
      return {};
    if (r->low == r->high)
      return numbers_.text(r->low);
    return numbers_.text(r->low) + ".." + numbers_.text(r->high);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    const size_t dots = text.find("..");
    NumberRange r;
    if (!numbers_.read(text.substr(0, dots), r.low))
      return described(*this);
    r.high = r.low;
    if (dots != std::string_view::npos && (!numbers_.read(text.substr(dots + 2), r.high) ||
                                           numbers_.key(r.high) < numbers_.key(r.low)))
      return described(*this);
    return FieldValue(r);
  }
  std::string describe() const override { return numbers_.describe("range", " in"); }

private:
  Numbers numbers_;
};

class NumberListConvertor final : public IConvertor {
public:
  NumberListConvertor(uint32_t min, uint32_t max, Signedness sign, uint32_t minCount,
                      uint32_t maxCount)
      : numbers_(min, max, sign), minCount_(minCount), maxCount_(maxCount) {}

  std::string format(const FieldValue& value) const override {
    const auto* list = std::get_if<std::vector<uint32_t>>(&value);
    if (!list)
      return {};
    std::string text;
    for (uint32_t v : *list)
      text += (text.empty() ? "" : ",") + numbers_.text(v);
    return text;
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    std::vector<uint32_t> list;
    while (!text.empty() && list.size() < kMaxElements) {
      const size_t comma = text.find(',');
      std::string_view item = text.substr(0, comma);
      while (!item.empty() && item.front() == ' ')
        item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ')
        item.remove_suffix(1);
      uint32_t v = 0;
      if (!numbers_.read(item, v))
        return described(*this);
      list.push_back(v);
      text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
      if (comma != std::string_view::npos && text.empty())
        return described(*this); // a trailing comma leaves an empty element
    }
    if (!text.empty() || list.size() < minCount_ || list.size() > maxCount_)
      return described(*this);
    return FieldValue(std::move(list));
  }
  std::string describe() const override {
    std::string words = numbers_.describe("list of numbers", " in range");
    const bool atLeast = minCount_ > 0, atMost = maxCount_ != 0xFFFFFFFF;
    if (!atLeast && !atMost)
      return words;
    words += " with";
    if (atLeast)
      words += strPrintf(" at least %u", minCount_);
    if (atLeast && atMost)
      words += " and";
    if (atMost)
      words += strPrintf(" at most %u", maxCount_);
    return words + " elements";
  }

private:
  // Arrays in messages hold at most this many elements.
  static constexpr size_t kMaxElements = 65535;
  Numbers numbers_;
  uint32_t minCount_, maxCount_;
};

// Convertors that read a number with a unit word and show it in one of the unit forms.
class ScaledConvertor : public IConvertor {
public:
  ScaledConvertor(NumberWidth width, const UnitWord* units) : width_(width), units_(units) {}

  Expected<FieldValue> parse(std::string_view text) const override {
    uint64_t v = 0;
    if (!scanScaled(text, units_, v) || v > widthMax(width_))
      return described(*this);
    return narrowed(v, width_);
  }

protected:
  NumberWidth width_;

private:
  const UnitWord* units_;
};

class BitRateConvertor final : public ScaledConvertor {
public:
  explicit BitRateConvertor(NumberWidth width) : ScaledConvertor(width, kBitRateUnits) {}

  std::string format(const FieldValue& value) const override {
    uint64_t v = 0;
    return wideValue(value, v) ? bitRateText(v) : std::string();
  }
  std::string describe() const override { return "bit rate"; }
  uint32_t magnitude(const FieldValue& value) const override {
    uint64_t v = 0;
    return wideValue(value, v) ? bitRateClass(v) : 0xFFFFFFFF;
  }
  std::string magnitudeLabel(uint32_t c) const override { return bitRateClassLabel(c); }
};

class UnitConvertor final : public ScaledConvertor {
public:
  explicit UnitConvertor(NumberWidth width) : ScaledConvertor(width, kCompactUnits) {}

  std::string format(const FieldValue& value) const override {
    uint64_t v = 0;
    return wideValue(value, v) ? unitText(v) : std::string();
  }
  std::string describe() const override { return "number"; }
};

const UnitWord kKiloByteUnits[] = {
    {"", 1}, {"KiB", 1}, {"MiB", 1024}, {"GiB", 1048576}, {nullptr, 0}};

class BytesConvertor final : public ScaledConvertor {
public:
  explicit BytesConvertor(ByteUnit unit)
      : ScaledConvertor(unit == ByteUnit::BigBytes ? NumberWidth::Bits64 : NumberWidth::Bits32,
                        unit == ByteUnit::KBytes ? kKiloByteUnits : kByteUnits),
        unit_(unit) {}

  std::string format(const FieldValue& value) const override {
    uint64_t v = 0;
    if (!wideValue(value, v))
      return {};
    if (unit_ == ByteUnit::BigBytes)
      return bigBytesText(v);
    if (v > 0xFFFFFFFF)
      return {};
    const auto v32 = static_cast<uint32_t>(v);
    return unit_ == ByteUnit::KBytes ? kbytesText(v32) : bytesText(v32);
  }
  std::string describe() const override { return "number"; }

private:
  ByteUnit unit_;
};

} // namespace

Reference<IConvertor> numberConvertor(const NumberShape& shape, RadixWords words) {
  return makeRef<NumberConvertor>(shape, words);
}
Reference<IConvertor> bigNumberConvertor(uint64_t min, uint64_t max) {
  return makeRef<BigNumberConvertor>(min, max);
}
Reference<IConvertor> integerConvertor(int min, int max, int special) {
  return makeRef<IntegerConvertor>(min, max, special);
}
Reference<IConvertor> rangeConvertor(uint32_t min, uint32_t max, Signedness sign) {
  return makeRef<RangeConvertor>(min, max, sign);
}
Reference<IConvertor> numberListConvertor(uint32_t min, uint32_t max, Signedness sign,
                                          uint32_t minCount, uint32_t maxCount) {
  return makeRef<NumberListConvertor>(min, max, sign, minCount, maxCount);
}
Reference<IConvertor> bitRateConvertor(NumberWidth width) {
  return makeRef<BitRateConvertor>(width);
}
Reference<IConvertor> unitConvertor(NumberWidth width) { return makeRef<UnitConvertor>(width); }
Reference<IConvertor> bytesConvertor(ByteUnit unit) { return makeRef<BytesConvertor>(unit); }

} // namespace kestel
