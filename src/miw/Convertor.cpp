#include "miw/Convertor.h"

#include "miw/ConvertorText.h"
#include "miw/Version.h"
#include "util/Assert.h"

#include <algorithm>
#include <compare>

namespace kestel {

namespace {

template <typename T> int order(const T& a, const T& b) {
  if (a < b)
    return -1;
  return b < a ? 1 : 0;
}

struct Orderer {
  int operator()(const NumberRange& a, const NumberRange& b) const {
    int c = order(a.low, b.low);
    return c != 0 ? c : order(a.high, b.high);
  }
  int operator()(const AddressValue& a, const AddressValue& b) const {
    int c = order(a.hasAddress, b.hasAddress);
    if (c == 0)
      c = order(a.address, b.address);
    if (c == 0)
      c = order(a.name, b.name);
    return c != 0 ? c : order(a.prefix, b.prefix);
  }
  // Nested messages order by their field count, then by their diagnostic text.
  int operator()(const nv::message& a, const nv::message& b) const {
    int c = order(a.size(), b.size());
    if (c != 0)
      return c;
    std::string da, db;
    a.dump(da);
    b.dump(db);
    return order(da, db);
  }
  int operator()(const TupleRow& a, const TupleRow& b) const {
    for (size_t i = 0; i < a.cells.size() && i < b.cells.size(); ++i)
      if (int c = values(a.cells[i], b.cells[i]); c != 0)
        return c;
    return order(a.cells.size(), b.cells.size());
  }
  int operator()(const std::vector<TupleRow>& a, const std::vector<TupleRow>& b) const {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (int c = (*this)(a[i], b[i]); c != 0)
        return c;
    return order(a.size(), b.size());
  }
  template <typename T> int operator()(const T& a, const T& b) const { return order(a, b); }

  int values(const FieldValue& a, const FieldValue& b) const {
    if (a.index() != b.index())
      return order(a.index(), b.index());
    return std::visit(
        [&](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          return (*this)(x, std::get<T>(b));
        },
        a);
  }
};

Error described(const IConvertor& c) { return makeError(c.describe()); }

size_t codePoints(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char ch) { return (ch & 0xC0) != 0x80; }));
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

} // namespace

uint32_t numberMagnitude(int64_t value) {
  for (int64_t limit : {10, 100, 1000, 10000})
    if (value <= limit)
      return static_cast<uint32_t>(limit);
  return 0xFFFFFFFF;
}

uint32_t IConvertor::magnitude(const FieldValue& value) const {
  if (const auto* v = std::get_if<uint32_t>(&value))
    return numberMagnitude(*v);
  if (const auto* v = std::get_if<uint64_t>(&value))
    return numberMagnitude(*v > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<int64_t>(*v));
  return 0xFFFFFFFF;
}

std::string IConvertor::magnitudeLabel(uint32_t magnitudeClass) const {
  if (magnitudeClass == 0xFFFFFFFF)
    return "more than 10000";
  return strPrintf("%u", magnitudeClass);
}

int IConvertor::compare(const FieldValue& a, const FieldValue& b) const {
  return Orderer{}.values(a, b);
}

std::string inputErrorTitle(std::string_view field) { return "Wrong " + std::string(field); }

std::string inputErrorText(std::string_view field, const IConvertor& convertor) {
  return "Error in " + std::string(field) + " - " + convertor.describe() + " expected!";
}

std::string addressErrorText(std::string_view field) {
  return "Error in " + std::string(field) + " - ip address expected!";
}

std::string emptyListErrorText(std::string_view field) {
  return "Erron in " + std::string(field) + " - at least one entry expected!";
}

namespace {

class EnumConvertor final : public IConvertor {
public:
  EnumConvertor(IEnum* values, unsigned radix, bool strict)
      : values_(values), radix_(radix < 2 || radix > 36 ? 10 : radix), strict_(strict) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    if (!v)
      return {};
    std::string name;
    if (values_ && values_->nameOf(*v, name))
      return name;
    return strict_ ? std::string() : numberInRadix(*v, radix_);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    unsigned value = 0;
    if (string2enum(std::string(text), values_.get(), &value))
      return FieldValue(uint32_t{value});
    uint32_t number = 0;
    if (!strict_ && scanU32(text, radix_, number))
      return FieldValue(number);
    return described(*this);
  }
  std::string describe() const override {
    std::string words = "one of ";
    const size_t n = values_ ? values_->count() : 0;
    for (size_t i = 0; i < n; ++i)
      words += (i ? ", " : "") + values_->nameAt(i);
    if (!strict_)
      words += n ? " or a number" : "a number";
    return words;
  }

private:
  Reference<IEnum> values_;
  unsigned radix_;
  bool strict_;
};

class AltConvertor final : public IConvertor {
public:
  explicit AltConvertor(std::vector<Reference<IConvertor>> alternatives)
      : alternatives_(std::move(alternatives)) {}

  std::string format(const FieldValue& value) const override {
    for (const auto& c : alternatives_)
      if (std::string text = c->format(value); !text.empty())
        return text;
    return {};
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    const int choice = altChoice(alternatives_, text);
    if (choice < 0)
      return described(*this);
    return alternatives_[static_cast<size_t>(choice)]->parse(text);
  }
  std::string describe() const override {
    std::string words;
    for (const auto& c : alternatives_)
      words += (words.empty() ? "" : " or ") + c->describe();
    return words;
  }
  uint32_t magnitude(const FieldValue& value) const override {
    return alternatives_.empty() ? 0xFFFFFFFF : alternatives_.back()->magnitude(value);
  }

private:
  std::vector<Reference<IConvertor>> alternatives_;
};

// A convertor that changes how another one reads or shows its text and leaves describing,
// magnitudes and ordering to it.
class WrappingConvertor : public IConvertor {
public:
  explicit WrappingConvertor(IConvertor* inner) : inner_(inner) {}

  std::string describe() const override { return inner_->describe(); }
  uint32_t magnitude(const FieldValue& value) const override { return inner_->magnitude(value); }
  std::string magnitudeLabel(uint32_t c) const override { return inner_->magnitudeLabel(c); }
  int compare(const FieldValue& a, const FieldValue& b) const override {
    return inner_->compare(a, b);
  }

protected:
  Reference<IConvertor> inner_;
};

class TristateConvertor final : public WrappingConvertor {
public:
  using WrappingConvertor::WrappingConvertor;

  std::string format(const FieldValue& value) const override {
    return std::holds_alternative<std::monostate>(value) ? std::string() : inner_->format(value);
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    if (text.empty())
      return FieldValue();
    return inner_->parse(text);
  }
};

class PostfixConvertor final : public WrappingConvertor {
public:
  PostfixConvertor(IConvertor* inner, std::string postfix)
      : WrappingConvertor(inner), postfix_(std::move(postfix)) {}

  std::string format(const FieldValue& value) const override {
    std::string text = inner_->format(value);
    return text.empty() ? text : text + postfix_;
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    std::string_view bare = trimBlanks(postfix_);
    if (!bare.empty() && text.ends_with(bare)) {
      text.remove_suffix(bare.size());
      while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    }
    return inner_->parse(text);
  }

private:
  std::string postfix_;
};

class BoolConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<bool>(&value);
    return v ? (*v ? "true" : "false") : "";
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    if (text == "true" || text == "false")
      return FieldValue(text == "true");
    return described(*this);
  }
  std::string describe() const override { return "true or false"; }
};

class TextConvertor final : public IConvertor {
public:
  TextConvertor(uint32_t minLength, uint32_t maxLength) : min_(minLength), max_(maxLength) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<std::string>(&value);
    return v ? *v : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    const size_t n = codePoints(text);
    if (n < min_ || n > max_)
      return described(*this);
    return FieldValue(std::string(text));
  }
  std::string describe() const override {
    const bool capped = max_ != 0xFFFFFFFF;
    if (min_ == 0)
      return capped ? strPrintf("text with maximum %u symbols", max_) : "text";
    if (!capped)
      return strPrintf("text with at least %u symbols", min_);
    return strPrintf("text with at least %u and maximum %u symbols", min_, max_);
  }

private:
  uint32_t min_, max_;
};

class VersionConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<std::string>(&value);
    return v ? *v : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    if (routerVersion(text) == 0)
      return described(*this);
    return FieldValue(std::string(text));
  }
  std::string describe() const override { return "version"; }
  int compare(const FieldValue& a, const FieldValue& b) const override {
    const auto* x = std::get_if<std::string>(&a);
    const auto* y = std::get_if<std::string>(&b);
    if (!x || !y)
      return IConvertor::compare(a, b);
    return order(routerVersion(*x), routerVersion(*y));
  }
};

class ArrayAccessor final : public IAccessor {
public:
  explicit ArrayAccessor(unsigned index) : index_(index) {}

  FieldValue get(const FieldValue& array) const override {
    if (const auto* a = std::get_if<std::vector<uint32_t>>(&array); a && index_ < a->size())
      return (*a)[index_];
    if (const auto* a = std::get_if<std::vector<std::string>>(&array); a && index_ < a->size())
      return (*a)[index_];
    return {};
  }
  bool set(FieldValue& array, const FieldValue& element) const override {
    if (index_ >= kMaxElements)
      return false;
    return store<uint32_t>(array, element) || store<std::string>(array, element);
  }

private:
  template <typename T> bool store(FieldValue& array, const FieldValue& element) const {
    auto* a = std::get_if<std::vector<T>>(&array);
    const auto* e = std::get_if<T>(&element);
    if (!a || !e)
      return false;
    if (a->size() <= index_)
      a->resize(size_t{index_} + 1);
    (*a)[index_] = *e;
    return true;
  }
  // Arrays in messages hold at most this many elements; a larger index is never stored.
  static constexpr unsigned kMaxElements = 65535;
  unsigned index_;
};

} // namespace

int altChoice(const std::vector<Reference<IConvertor>>& alternatives, std::string_view text) {
  for (size_t i = 0; i < alternatives.size(); ++i)
    if (alternatives[i]->check(text))
      return static_cast<int>(i);
  return -1;
}

Reference<IConvertor> enumConvertor(IEnum* values, unsigned int radix, bool strict) {
  return makeRef<EnumConvertor>(values, radix, strict);
}
Reference<IConvertor> altConvertor(std::vector<Reference<IConvertor>> alternatives) {
  return makeRef<AltConvertor>(std::move(alternatives));
}
Reference<IConvertor> tristateConvertor(IConvertor* inner) {
  KESTEL_ASSERT(inner, "miw/convertor");
  return makeRef<TristateConvertor>(inner);
}
Reference<IConvertor> postfixConvertor(IConvertor* inner, const std::string& postfix) {
  KESTEL_ASSERT(inner, "miw/convertor");
  return makeRef<PostfixConvertor>(inner, postfix);
}
Reference<IConvertor> boolConvertor() { return makeRef<BoolConvertor>(); }
Reference<IConvertor> textConvertor(uint32_t minLength, uint32_t maxLength) {
  return makeRef<TextConvertor>(minLength, maxLength);
}
Reference<IConvertor> versionConvertor() { return makeRef<VersionConvertor>(); }
Reference<IAccessor> arrayAccessor(unsigned int index) { return makeRef<ArrayAccessor>(index); }

} // namespace kestel
