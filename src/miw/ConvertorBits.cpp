#include "miw/ConvertorBits.h"

#include "miw/ConvertorAddress.h"

namespace kestel {
namespace {

// Bits from this number on are never stored: an enumeration value must not size a byte string.
constexpr uint32_t kBitLimit = 32768;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  return s;
}

bool bitOf(const Bytes& bytes, uint32_t bit) {
  return bit / 8 < bytes.size() && (bytes[bit / 8] >> (bit % 8) & 1) != 0;
}

void setBit(Bytes& bytes, uint32_t bit) {
  if (bit / 8 >= bytes.size())
    bytes.resize(bit / 8 + 1, 0);
  bytes[bit / 8] = uint8_t(bytes[bit / 8] | 1u << (bit % 8));
}

class BitEntryConvertor final : public IConvertor {
public:
  BitEntryConvertor(IEnum* bits, BitEntry form) : bits_(bits), form_(form) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<MaskedBytes>(&value);
    std::string out;
    for (size_t i = 0; v && bits_ && i < bits_->count(); ++i) {
      const uint32_t bit = bits_->valueAt(i);
      const bool set = bitOf(v->value, bit);
      if (form_ == BitEntry::Plain ? !set : !bitOf(v->mask, bit))
        continue;
      if (!out.empty())
        out += ',';
      if (!set)
        out += '!';
      out += bits_->nameAt(i);
    }
    return out;
  }

  Expected<FieldValue> parse(std::string_view text) const override {
    MaskedBytes out;
    if (form_ == BitEntry::Plain)
      for (size_t i = 0; bits_ && i < bits_->count(); ++i)
        if (bits_->valueAt(i) < kBitLimit)
          setBit(out.mask, bits_->valueAt(i));
    Bytes named;
    text = trimmed(text);
    while (!text.empty()) {
      const size_t comma = text.find(',');
      std::string_view name = trimmed(text.substr(0, comma));
      const bool cleared = form_ == BitEntry::Tristate && !name.empty() && name.front() == '!';
      if (cleared)
        name = trimmed(name.substr(1));
      uint32_t bit = 0;
      if (!bits_ || !bits_->valueOf(name, bit) || bit >= kBitLimit || bitOf(named, bit))
        return Error{describe()};
      setBit(named, bit);
      setBit(out.mask, bit);
      if (!cleared)
        setBit(out.value, bit);
      if (comma == std::string_view::npos)
        break;
      text.remove_prefix(comma + 1);
      if (trimmed(text).empty())
        return Error{describe()}; // a trailing ","
    }
    out.value.resize(out.mask.size(), 0); // both cover the same bits
    return FieldValue(std::move(out));
  }

  std::string describe() const override {
    return form_ == BitEntry::Plain ? "list of names" : "list of names, each may be preceded by !";
  }

private:
  Reference<IEnum> bits_;
  BitEntry form_;
};

class TristateElementConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Bytes>(&value);
    if (!v || v->empty())
      return {};
    return v->front() ? "true" : "false";
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    text = trimmed(text);
    if (text.empty())
      return FieldValue(Bytes{});
    if (text == "true" || text == "false")
      return FieldValue(Bytes(1, text == "true" ? 1 : 0));
    return Error{describe()};
  }
  std::string describe() const override { return "true, false or nothing"; }
};

class MacNetworkConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<MaskedBytes>(&value);
    if (!v)
      return {};
    std::string out = macText(v->value, MacForm::Full);
    if (v->mask != Bytes(6, 0xFF))
      out += "/" + macText(v->mask, MacForm::Full);
    return out;
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    text = trimmed(text);
    const size_t slash = text.find('/');
    MaskedBytes out;
    out.mask = Bytes(6, 0xFF);
    if (!parseMac(trimmed(text.substr(0, slash)), out.value) ||
        (slash != std::string_view::npos && !parseMac(trimmed(text.substr(slash + 1)), out.mask)))
      return Error{describe()};
    return FieldValue(std::move(out));
  }
  std::string describe() const override { return "mac network"; }
};

} // namespace

Reference<IConvertor> bitEntryConvertor(IEnum* bits, BitEntry form) {
  return Reference<IConvertor>(new BitEntryConvertor(bits, form));
}

Reference<IConvertor> tristateElementConvertor() {
  return Reference<IConvertor>(new TristateElementConvertor());
}

Reference<IConvertor> macNetworkConvertor() {
  return Reference<IConvertor>(new MacNetworkConvertor());
}

} // namespace kestel
