#include "miw/ConvertorList.h"

namespace kestel {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  return s;
}

template <typename T> class ListConvertor final : public IListConvertor {
public:
  ListConvertor(Reference<IConvertor> element, char separator)
      : element_(std::move(element)), separator_(separator) {}

  IBase* cast(unsigned int id) override { return id == kListConvertorInterface ? this : nullptr; }
  Reference<IConvertor> element() const override { return element_; }

  std::string format(const FieldValue& value) const override {
    std::string out;
    if (const auto* v = std::get_if<std::vector<T>>(&value))
      for (size_t i = 0; i < v->size(); ++i) // an empty element still gets its comma
        out += (i ? std::string(1, separator_) : std::string()) + element_->format((*v)[i]);
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    std::vector<T> out;
    if (!trimmed(text).empty()) {
      for (;;) {
        size_t comma = text.find(separator_);
        Expected<FieldValue> e = element_->parse(trimmed(text.substr(0, comma)));
        if (!e)
          return Error{describe()};
        const T* element = std::get_if<T>(&e.value());
        if (!element)
          return Error{describe()};
        out.push_back(*element);
        if (comma == std::string_view::npos)
          break;
        text.remove_prefix(comma + 1);
      }
    }
    return FieldValue(std::move(out));
  }

  std::string describe() const override { return "list of " + element_->describe(); }

private:
  Reference<IConvertor> element_;
  char separator_;
};

class RangeListConvertor final : public IConvertor {
public:
  RangeListConvertor(uint32_t min, uint32_t max) : min_(min), max_(max) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<std::vector<uint32_t>>(&value);
    std::string out;
    for (size_t i = 0; v && i + 1 < v->size(); i += 2) {
      if (!out.empty())
        out += ',';
      out += std::to_string((*v)[i]);
      if ((*v)[i + 1] != (*v)[i])
        out += ".." + std::to_string((*v)[i + 1]);
    }
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    std::vector<uint32_t> out;
    text = trimmed(text);
    while (!text.empty()) {
      const size_t comma = text.find(',');
      std::string_view part = trimmed(text.substr(0, comma));
      const size_t dots = part.find("..");
      uint32_t low = 0, high = 0;
      if (!number(part.substr(0, dots), low) ||
          !number(dots == std::string_view::npos ? part : part.substr(dots + 2), high) ||
          low > high || low < min_ || high > max_)
        return Error{describe()};
      out.push_back(low);
      out.push_back(high);
      if (comma == std::string_view::npos)
        break;
      text.remove_prefix(comma + 1);
      if (trimmed(text).empty())
        return Error{describe()};
    }
    return FieldValue(std::move(out));
  }

  std::string describe() const override {
    if (min_ == 0 && max_ == 0xFFFFFFFF)
      return "list of ranges";
    return "list of ranges in [" + std::to_string(min_) + ";" + std::to_string(max_) + "]";
  }

private:
  // A whole decimal u32.
  static bool number(std::string_view s, uint32_t& out) {
    s = trimmed(s);
    if (s.empty() || s.size() > 10)
      return false;
    uint64_t v = 0;
    for (char c : s) {
      if (c < '0' || c > '9')
        return false;
      v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFF)
      return false;
    out = uint32_t(v);
    return true;
  }

  uint32_t min_, max_;
};

} // namespace

Reference<IConvertor> rangeListConvertor(uint32_t min, uint32_t max) {
  return Reference<IConvertor>(new RangeListConvertor(min, max));
}

Reference<IConvertor> elementListConvertor(Reference<IConvertor> element, ListElements kind,
                                           char separator) {
  auto make = [&](auto* type) {
    using T = std::remove_pointer_t<decltype(type)>;
    return Reference<IConvertor>(new ListConvertor<T>(std::move(element), separator));
  };
  switch (kind) {
  case ListElements::Numbers:
    return make(static_cast<uint32_t*>(nullptr));
  case ListElements::Texts:
    return make(static_cast<std::string*>(nullptr));
  case ListElements::Ipv6Addresses:
    return make(static_cast<Addr6*>(nullptr));
  case ListElements::Ipv4Networks:
    return make(static_cast<Ipv4Pair*>(nullptr));
  case ListElements::Ipv6Networks:
    return make(static_cast<Ipv6Prefix*>(nullptr));
  case ListElements::MaskedByteStrings:
    return make(static_cast<MaskedBytes*>(nullptr));
  case ListElements::Rows:
    return make(static_cast<TupleRow*>(nullptr));
  case ListElements::ByteStrings:
    break;
  }
  return make(static_cast<Bytes*>(nullptr));
}

} // namespace kestel
