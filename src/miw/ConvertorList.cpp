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

class ListConvertor final : public IListConvertor {
public:
  ListConvertor(Reference<IConvertor> element, ListElements kind)
      : element_(std::move(element)), kind_(kind) {}

  IBase* cast(unsigned int id) override { return id == kListConvertorInterface ? this : nullptr; }
  Reference<IConvertor> element() const override { return element_; }

  std::string format(const FieldValue& value) const override {
    std::string out;
    auto add = [&](const FieldValue& e) {
      if (!out.empty())
        out += ',';
      out += element_->format(e);
    };
    if (const auto* v = std::get_if<std::vector<uint32_t>>(&value);
        v && kind_ == ListElements::Numbers)
      for (uint32_t e : *v)
        add(e);
    if (const auto* v = std::get_if<std::vector<std::string>>(&value);
        v && kind_ == ListElements::Texts)
      for (const std::string& e : *v)
        add(e);
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    std::vector<uint32_t> numbers;
    std::vector<std::string> texts;
    if (!trimmed(text).empty()) {
      for (;;) {
        size_t comma = text.find(',');
        Expected<FieldValue> e = element_->parse(trimmed(text.substr(0, comma)));
        if (!e)
          return Error{describe()};
        if (kind_ == ListElements::Numbers) {
          const uint32_t* n = std::get_if<uint32_t>(&e.value());
          if (!n)
            return Error{describe()};
          numbers.push_back(*n);
        } else {
          const std::string* t = std::get_if<std::string>(&e.value());
          if (!t)
            return Error{describe()};
          texts.push_back(*t);
        }
        if (comma == std::string_view::npos)
          break;
        text.remove_prefix(comma + 1);
      }
    }
    if (kind_ == ListElements::Numbers)
      return FieldValue(std::move(numbers));
    return FieldValue(std::move(texts));
  }

  std::string describe() const override { return "list of " + element_->describe(); }

private:
  Reference<IConvertor> element_;
  ListElements kind_;
};

} // namespace

Reference<IConvertor> elementListConvertor(Reference<IConvertor> element, ListElements kind) {
  return Reference<IConvertor>(new ListConvertor(std::move(element), kind));
}

} // namespace kestel
