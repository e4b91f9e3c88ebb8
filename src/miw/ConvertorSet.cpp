#include "miw/ConvertorSet.h"

namespace kestel {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  return s;
}

class SetConvertor final : public IConvertor {
public:
  SetConvertor(IEnum* bits, SetWords words) : bits_(bits), words_(words) {}

  std::string format(const FieldValue& value) const override {
    std::vector<uint32_t> words;
    if (const uint32_t* w = std::get_if<uint32_t>(&value); w && words_ == SetWords::One)
      words.push_back(*w);
    else if (const auto* a = std::get_if<std::vector<uint32_t>>(&value);
             a && words_ == SetWords::Array)
      words = *a;
    std::string out;
    for (size_t i = 0; i < bits_->count(); ++i) {
      const uint32_t bit = bits_->valueAt(i);
      if (bit / 32 >= words.size() || !(words[bit / 32] >> (bit % 32) & 1))
        continue;
      if (!out.empty())
        out += ',';
      out += bits_->nameAt(i);
    }
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    std::vector<uint32_t> words(words_ == SetWords::One ? 1 : 0);
    text = trimmed(text);
    while (!text.empty()) {
      const size_t comma = text.find(',');
      uint32_t bit = 0;
      const std::string_view name = trimmed(text.substr(0, comma));
      if (!bits_->valueOf(name, bit) || (words_ == SetWords::One && bit >= 32) || bit >= 32 * 1024)
        return Error{describe()};
      if (bit / 32 >= words.size())
        words.resize(bit / 32 + 1, 0);
      if (words[bit / 32] >> (bit % 32) & 1)
        return Error{describe()}; // named twice
      words[bit / 32] |= 1u << (bit % 32);
      if (comma == std::string_view::npos)
        break;
      text.remove_prefix(comma + 1);
      if (trimmed(text).empty())
        return Error{describe()}; // a trailing ","
    }
    if (words_ == SetWords::One)
      return FieldValue(words[0]);
    return FieldValue(std::move(words));
  }

  std::string describe() const override { return "list of names"; }

private:
  Reference<IEnum> bits_;
  SetWords words_;
};

} // namespace

Reference<IConvertor> setConvertor(IEnum* bits, SetWords words) {
  return Reference<IConvertor>(new SetConvertor(bits, words));
}

} // namespace kestel
