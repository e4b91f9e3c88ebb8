#include "miw/ConvertorAddress.h"

#include "miw/ConvertorText.h"

#include <algorithm>

namespace kestel {

namespace {

constexpr Addr6 kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

Error described(const IConvertor& c) { return makeError(c.describe()); }

bool isMapped(const Addr6& a) {
  return std::equal(a.begin(), a.begin() + 12, kMappedPrefix.begin());
}

Addr6 mapped(uint32_t ipv4) {
  Addr6 a = kMappedPrefix;
  for (int i = 0; i < 4; ++i)
    a[static_cast<size_t>(12 + i)] = static_cast<uint8_t>(ipv4 >> (8 * i));
  return a;
}

uint32_t lowIpv4(const Addr6& a) {
  return uint32_t{a[12]} | uint32_t{a[13]} << 8 | uint32_t{a[14]} << 16 | uint32_t{a[15]} << 24;
}

// One IPv4 part in automatic base.
bool ipv4Part(std::string_view part, uint32_t& out) {
  unsigned radix = 10;
  if (takePrefix(part, "0x") || takePrefix(part, "0X"))
    radix = 16;
  else if (part.size() > 1 && part[0] == '0')
    radix = 8;
  // scanU32 would accept a sign-free number only; refuse anything it would not read as digits.
  return scanU32(part, radix, out) && out <= 255;
}

// The strict dotted quad of an IPv6 tail: four decimal parts, no leading zeros.
bool dottedQuad(std::string_view text, uint32_t& out) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && !takePrefix(text, "."))
      return false;
    size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9')
      ++n;
    uint32_t octet = 0;
    if (n == 0 || (n > 1 && text[0] == '0') || !scanU32(text.substr(0, n), 10, octet) ||
        octet > 255)
      return false;
    v |= octet << (8 * i);
    text.remove_prefix(n);
  }
  if (!text.empty())
    return false;
  out = v;
  return true;
}

// Hex groups separated by ":", the last may be a dotted quad when `tailAllowed`.
bool groups(std::string_view text, bool tailAllowed, std::vector<uint16_t>& words) {
  while (!text.empty()) {
    const size_t colon = text.find(':');
    const std::string_view part = text.substr(0, colon);
    const bool last = colon == std::string_view::npos;
    uint32_t v = 0;
    if (last && tailAllowed && part.find('.') != std::string_view::npos) {
      if (!dottedQuad(part, v))
        return false;
      words.push_back(static_cast<uint16_t>((v & 0xFF) << 8 | (v >> 8 & 0xFF)));
      words.push_back(static_cast<uint16_t>((v >> 16 & 0xFF) << 8 | v >> 24));
    } else {
      if (part.empty() || part.size() > 4 || !scanU32(part, 16, v))
        return false;
      words.push_back(static_cast<uint16_t>(v));
    }
    if (last)
      return true;
    text.remove_prefix(colon + 1);
    if (text.empty())
      return false; // a trailing single ":"
  }
  return true;
}

} // namespace

std::string ipv4Text(uint32_t a) {
  return strPrintf("%u.%u.%u.%u", a & 0xFF, a >> 8 & 0xFF, a >> 16 & 0xFF, a >> 24);
}

bool parseIpv4(std::string_view text, uint32_t& address) {
  uint32_t parts[4] = {};
  size_t count = 0;
  while (true) {
    const size_t dot = text.find('.');
    if (count == 4 || !ipv4Part(text.substr(0, dot), parts[count]))
      return false;
    ++count;
    if (dot == std::string_view::npos)
      break;
    text.remove_prefix(dot + 1);
  }
  if (count < 2)
    return false;
  uint32_t v = parts[count - 1] << 24;
  for (size_t i = 0; i + 1 < count; ++i)
    v |= parts[i] << (8 * i);
  address = v;
  return true;
}

std::string ipv6Text(const Addr6& a, Ipv4InIpv6 ipv4) {
  if (ipv4 == Ipv4InIpv6::Yes && isMapped(a))
    return "::ffff:" + ipv4Text(lowIpv4(a));
  uint16_t w[8];
  for (size_t i = 0; i < 8; ++i)
    w[i] = static_cast<uint16_t>(a[2 * i] << 8 | a[2 * i + 1]);
  size_t bestBase = 8, bestLen = 0;
  for (size_t i = 0; i < 8;) {
    size_t j = i;
    while (j < 8 && w[j] == 0)
      ++j;
    if (j - i > bestLen && j - i >= 2) {
      bestBase = i;
      bestLen = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string text;
  for (size_t i = 0; i < 8; ++i) {
    if (i == bestBase) {
      text += "::";
      i += bestLen - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':')
      text += ':';
    text += strPrintf("%x", w[i]);
  }
  return text;
}

bool parseIpv6(std::string_view text, Addr6& address) {
  std::vector<uint16_t> head, tail;
  const size_t gap = text.find("::");
  bool ok = false;
  if (gap == std::string_view::npos) {
    ok = groups(text, true, head) && head.size() == 8;
  } else {
    const std::string_view after = text.substr(gap + 2);
    ok = after.find("::") == std::string_view::npos && groups(text.substr(0, gap), false, head) &&
         groups(after, true, tail) && head.size() + tail.size() <= 7;
  }
  if (!ok)
    return false;
  Addr6 a{};
  for (size_t i = 0; i < head.size(); ++i) {
    a[2 * i] = static_cast<uint8_t>(head[i] >> 8);
    a[2 * i + 1] = static_cast<uint8_t>(head[i]);
  }
  for (size_t i = 0, at = 8 - tail.size(); i < tail.size(); ++i, ++at) {
    a[2 * at] = static_cast<uint8_t>(tail[i] >> 8);
    a[2 * at + 1] = static_cast<uint8_t>(tail[i]);
  }
  address = a;
  return true;
}

std::string macText(const Bytes& m, MacForm form) {
  if (m.size() != 6)
    return form == MacForm::Full ? "XX:XX:XX:XX:XX:XX" : "XX:XX:XX...";
  if (form == MacForm::Short)
    return strPrintf("%2.2X:%2.2X:%2.2X...", m[0], m[1], m[2]);
  return strPrintf("%2.2X:%2.2X:%2.2X:%2.2X:%2.2X:%2.2X", m[0], m[1], m[2], m[3], m[4], m[5]);
}

bool parseMac(std::string_view text, Bytes& mac) {
  const char separator = text.find('-') != std::string_view::npos ? '-' : ':';
  Bytes out;
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && (text.empty() || text[0] != separator))
      return false;
    if (i > 0)
      text.remove_prefix(1);
    size_t n = std::min(text.find(separator), text.size());
    uint32_t v = 0;
    if (n == 0 || n > 2 || !scanU32(text.substr(0, n), 16, v))
      return false;
    out.push_back(static_cast<uint8_t>(v));
    text.remove_prefix(n);
  }
  if (!text.empty())
    return false;
  mac = std::move(out);
  return true;
}

namespace {

class Ipv4Convertor final : public IConvertor {
public:
  explicit Ipv4Convertor(ZeroAddress zero) : zero_(zero) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<uint32_t>(&value);
    return v ? ipv4Text(*v) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    uint32_t v = 0;
    if (!parseIpv4(text, v) || (v == 0 && zero_ == ZeroAddress::Invalid))
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override {
    return zero_ == ZeroAddress::Invalid ? "non zero ip address" : "ip address";
  }
  int compare(const FieldValue& a, const FieldValue& b) const override {
    const auto* x = std::get_if<uint32_t>(&a);
    const auto* y = std::get_if<uint32_t>(&b);
    if (!x || !y)
      return IConvertor::compare(a, b);
    const uint32_t hx = __builtin_bswap32(*x), hy = __builtin_bswap32(*y); // octet order
    return hx < hy ? -1 : (hy < hx ? 1 : 0);
  }

private:
  ZeroAddress zero_;
};

class Ipv6Convertor final : public IConvertor {
public:
  Ipv6Convertor(ZeroAddress zero, Ipv4InIpv6 ipv4) : zero_(zero), ipv4_(ipv4) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Addr6>(&value);
    return v ? ipv6Text(*v, ipv4_) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    Addr6 a{};
    uint32_t v4 = 0;
    if (ipv4_ == Ipv4InIpv6::Yes && parseIpv4(text, v4))
      a = mapped(v4);
    else if (!parseIpv6(text, a))
      return described(*this);
    if (zero_ == ZeroAddress::Invalid && a == Addr6{})
      return described(*this);
    return FieldValue(a);
  }
  std::string describe() const override {
    return zero_ == ZeroAddress::Invalid ? "non zero ipv6 address" : "ipv6 address";
  }

private:
  ZeroAddress zero_;
  Ipv4InIpv6 ipv4_;
};

class MacConvertor final : public IConvertor {
public:
  MacConvertor(MacForm form, ZeroAddress zero) : form_(form), zero_(zero) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Bytes>(&value);
    return v ? macText(*v, form_) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    Bytes mac;
    if (!parseMac(text, mac) || (zero_ == ZeroAddress::Invalid && mac == Bytes(6, 0)))
      return described(*this);
    return FieldValue(std::move(mac));
  }
  std::string describe() const override {
    return zero_ == ZeroAddress::Invalid ? "non zero mac address" : "mac address";
  }

private:
  MacForm form_;
  ZeroAddress zero_;
};

} // namespace

std::string addressText(const AddressValue& v, unsigned bits, IEnum* interfaces, IEnum* tables) {
  std::string text;
  if ((bits & allow::kName) && !v.name.empty())
    text = v.name;
  else if ((bits & allow::kPrefix) || v.hasAddress)
    text = (bits & allow::kIpv6)
               ? ipv6Text(v.address, (bits & allow::kIpv4) ? Ipv4InIpv6::Yes : Ipv4InIpv6::No)
               : ipv4Text(lowIpv4(v.address));
  else if ((bits & allow::kMac) && !v.mac.empty())
    text = macText(v.mac, MacForm::Full);
  if ((bits & allow::kPrefix) && v.prefix < 65535)
    text += strPrintf("/%u", v.prefix);
  std::string name;
  if ((bits & (allow::kIface | allow::kZone)) && v.iface != AddressValue::kNone)
    text +=
        interfaces && interfaces->nameOf(v.iface, name) ? "%" + name : strPrintf("*%u", v.iface);
  if ((bits & allow::kTable) && v.table < 65535)
    text += "@" + (tables && tables->nameOf(v.table, name) ? name : std::string("main"));
  if ((bits & allow::kExtra) && !v.extra.empty())
    text += (bits == allow::kExtra ? "" : "&") + v.extra;
  if ((bits & allow::kIpv4) && text == "::")
    return {};
  return text;
}

namespace {

class AddressConvertor final : public IConvertor {
public:
  AddressConvertor(unsigned bits, IEnum* interfaces, IEnum* tables)
      : bits_(bits), interfaces_(interfaces), tables_(tables) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<AddressValue>(&value);
    return v ? addressText(*v, bits_, interfaces_.get(), tables_.get()) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    AddressValue v;
    if (!readSuffixes(text, v) || !readMain(text, v))
      return described(*this);
    return FieldValue(std::move(v));
  }
  std::string describe() const override { return "ip address"; }

private:
  // Takes "&extra" (from the first "&"), then "@table", "%iface" or "*id", and "/prefix" (each
  // from the last separator) off the end.
  bool readSuffixes(std::string_view& text, AddressValue& v) const {
    if (bits_ == allow::kExtra) {
      v.extra = std::string(text);
      text = {};
      return true;
    }
    if (const size_t amp = text.find('&'); (bits_ & allow::kExtra) && amp != text.npos) {
      v.extra = std::string(text.substr(amp + 1));
      text = text.substr(0, amp);
    }
    std::string_view part;
    if ((bits_ & allow::kTable) && cut(text, '@', part) && !readTable(part, v))
      return false;
    if ((bits_ & (allow::kIface | allow::kZone)) && !readIface(text, v))
      return false;
    if ((bits_ & allow::kPrefix) && cut(text, '/', part) &&
        (!scanU32(part, 10, v.prefix) || v.prefix > 128))
      return false;
    return true;
  }
  // A table name; "main" without an entry of that name is the main table (no id).
  bool readTable(std::string_view name, AddressValue& v) const {
    unsigned found = 0;
    if (string2enum(std::string(name), tables_.get(), &found)) {
      v.table = found;
      return found < 65535;
    }
    return name == "main";
  }
  bool readIface(std::string_view& text, AddressValue& v) const {
    std::string_view part;
    unsigned found = 0;
    if (cut(text, '%', part)) {
      if (!string2enum(std::string(part), interfaces_.get(), &found))
        return false;
      v.iface = found;
      return true;
    }
    if (cut(text, '*', part))
      return scanU32(part, 10, v.iface) && v.iface != AddressValue::kNone;
    return true;
  }
  // The address, MAC address or name left at the front; empty text is no address at all (or the
  // zero address where a prefix may be given).
  bool readMain(std::string_view text, AddressValue& v) const {
    const bool hasPrefix = v.prefix != AddressValue::kNone;
    if (text.empty()) {
      // Fields with prefixes always show an address: the empty text is the zero address.
      if (bits_ & allow::kPrefix) {
        v.hasAddress = true;
        v.address = (bits_ & allow::kIpv6) ? Addr6{} : mapped(0);
      }
      return !hasPrefix;
    }
    uint32_t v4 = 0;
    if (((bits_ & allow::kIpv4) || !(bits_ & allow::kIpv6)) && parseIpv4(text, v4)) {
      v.hasAddress = true;
      v.address = mapped(v4);
      return !hasPrefix || v.prefix <= 32;
    }
    if ((bits_ & allow::kIpv6) && parseIpv6(text, v.address)) {
      v.hasAddress = true;
      return true;
    }
    // A field with prefixes shows an address even when it holds a MAC address: none is read.
    if ((bits_ & allow::kMac) && !(bits_ & allow::kPrefix) && parseMac(text, v.mac))
      return true;
    if (!(bits_ & allow::kName) || text.find_first_of(suffixSeparators()) != text.npos)
      return false;
    v.name = std::string(text);
    return true;
  }
  // A name may not hold a character that starts a suffix of this field: suffixes are cut from the
  // last separator, so such a name would read back as a different name and suffix. ("&" needs no
  // rule: the extra text starts at the first one.)
  std::string suffixSeparators() const {
    std::string separators;
    if (bits_ & allow::kTable)
      separators += '@';
    if (bits_ & (allow::kIface | allow::kZone))
      separators += "%*";
    if (bits_ & allow::kPrefix)
      separators += '/';
    return separators;
  }
  // Splits `text` at the last `separator`: the part after it goes to `part`.
  static bool cut(std::string_view& text, char separator, std::string_view& part) {
    const size_t at = text.rfind(separator);
    if (at == std::string_view::npos)
      return false;
    part = text.substr(at + 1);
    text = text.substr(0, at);
    return true;
  }

  unsigned bits_;
  Reference<IEnum> interfaces_, tables_;
};

} // namespace

Reference<IConvertor> ipv4Convertor(ZeroAddress zero) { return makeRef<Ipv4Convertor>(zero); }
Reference<IConvertor> ipv6Convertor(ZeroAddress zero, Ipv4InIpv6 ipv4) {
  return makeRef<Ipv6Convertor>(zero, ipv4);
}
Reference<IConvertor> macConvertor(MacForm form, ZeroAddress zero) {
  return makeRef<MacConvertor>(form, zero);
}
Reference<IConvertor> addressConvertor(unsigned allowBits, IEnum* interfaces, IEnum* tables) {
  return makeRef<AddressConvertor>(allowBits, interfaces, tables);
}

} // namespace kestel
