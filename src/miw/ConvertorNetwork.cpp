#include "miw/ConvertorNetwork.h"

#include "miw/ConvertorText.h"

#include <algorithm>
#include <charconv>

namespace kestel {

namespace {

Error described(const IConvertor& c) { return makeError(c.describe()); }

// A decimal number of at most `digits` digits filling all of `text`, at most `max`.
bool readDecimal(std::string_view text, uint32_t max, uint32_t& out) {
  if (text.empty() || text.size() > 10)
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  uint64_t v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  if (v > max)
    return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// Splits "address<sep>number" at the last `sep`; `number` is empty when there is none.
void splitLast(std::string_view text, char sep, std::string_view& address, std::string_view& number,
               bool& hasNumber) {
  const size_t at = text.rfind(sep);
  hasNumber = at != std::string_view::npos;
  address = hasNumber ? text.substr(0, at) : text;
  number = hasNumber ? text.substr(at + 1) : std::string_view();
}

class AddressAndPortConvertor final : public IConvertor {
public:
  explicit AddressAndPortConvertor(uint32_t defaultPort) : defaultPort_(defaultPort) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Ipv4Pair>(&value);
    return v ? ipv4Text(v->address) + strPrintf(":%u", v->second) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    std::string_view address, port;
    bool hasPort = false;
    splitLast(text, ':', address, port, hasPort);
    Ipv4Pair v{0, defaultPort_};
    if (!parseIpv4(address, v.address) || (hasPort && !readDecimal(port, 65535, v.second)))
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override { return "ip address and port"; }

private:
  uint32_t defaultPort_;
};

// Whether the bits of `bytes` (network order) past the first `length` are all zero.
template <size_t N> bool hostBitsZero(const std::array<uint8_t, N>& bytes, uint32_t length) {
  for (size_t i = 0; i < N; ++i) {
    const uint32_t first = static_cast<uint32_t>(i) * 8;
    uint8_t hostMask = 0;
    if (first >= length)
      hostMask = 0xFF;
    else if (length - first < 8)
      hostMask = static_cast<uint8_t>(0xFF >> (length - first));
    if (bytes[i] & hostMask)
      return false;
  }
  return true;
}

// Host-bit and zero rules shared by both families.
template <size_t N>
bool networkAcceptable(const NetworkShape& shape, const std::array<uint8_t, N>& bytes,
                       uint32_t length) {
  // A full-length prefix (a single host) has no host part to be zero.
  if (shape.host == HostBits::NonZero && length < N * 8 && hostBitsZero(bytes, length))
    return false;
  return !(shape.zero == ZeroAddress::Invalid && hostBitsZero(bytes, 0));
}

std::string networkWords(const NetworkShape& shape, const char* family) {
  std::string words = shape.zero == ZeroAddress::Invalid ? "non zero " : "";
  words += family;
  return words + (shape.host == HostBits::Any ? " network" : " address with non zero host part");
}

class Ipv4NetworkConvertor final : public IConvertor {
public:
  explicit Ipv4NetworkConvertor(const NetworkShape& shape) : shape_(shape) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Ipv4Pair>(&value);
    if (!v)
      return {};
    const int length = ipv4MaskLength(v->second);
    return ipv4Text(v->address) + "/" +
           (length < 0 ? ipv4Text(v->second) : strPrintf("%d", length));
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    std::string_view address, mask;
    bool hasMask = false;
    splitLast(text, '/', address, mask, hasMask);
    Ipv4Pair v{0, shape_.defaultMask};
    uint32_t length = 0;
    if (!parseIpv4(address, v.address))
      return described(*this);
    if (hasMask && readDecimal(mask, 32, length))
      v.second = ipv4Netmask(length);
    else if (hasMask && !parseIpv4(mask, v.second))
      return described(*this);
    const int bits = ipv4MaskLength(v.second);
    std::array<uint8_t, 4> bytes;
    for (size_t i = 0; i < 4; ++i)
      bytes[i] = static_cast<uint8_t>(v.address >> (8 * i)); // first octet in the lowest byte
    if (bits < 0 || !networkAcceptable(shape_, bytes, static_cast<uint32_t>(bits)))
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override { return networkWords(shape_, "ip"); }

private:
  NetworkShape shape_;
};

class Ipv6NetworkConvertor final : public IConvertor {
public:
  explicit Ipv6NetworkConvertor(const NetworkShape& shape) : shape_(shape) {}

  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Ipv6Prefix>(&value);
    return v ? ipv6Text(v->address, Ipv4InIpv6::No) + strPrintf("/%u", v->length) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    std::string_view address, length;
    bool hasLength = false;
    splitLast(text, '/', address, length, hasLength);
    Ipv6Prefix v{{}, shape_.defaultLength};
    if (!parseIpv6(address, v.address) || (hasLength && !readDecimal(length, 128, v.length)) ||
        v.length > 128 || !networkAcceptable(shape_, v.address, v.length))
      return described(*this);
    return FieldValue(v);
  }
  std::string describe() const override { return networkWords(shape_, "ipv6"); }

private:
  NetworkShape shape_;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

class RawConvertor final : public IConvertor {
public:
  std::string format(const FieldValue& value) const override {
    const auto* v = std::get_if<Bytes>(&value);
    return v ? rawText(*v) : std::string();
  }
  Expected<FieldValue> parse(std::string_view text) const override {
    Bytes b;
    if (!parseRaw(text, b))
      return described(*this);
    return FieldValue(std::move(b));
  }
  std::string describe() const override { return "hexadecimal bytes"; }
};

} // namespace

uint32_t ipv4Netmask(uint32_t length) {
  const uint32_t ordered = length == 0 ? 0 : 0xFFFFFFFFu << (32 - std::min(length, 32u));
  return __builtin_bswap32(ordered);
}

int ipv4MaskLength(uint32_t mask) {
  const uint32_t ordered = __builtin_bswap32(mask);
  const int ones = ordered == 0xFFFFFFFF ? 32 : __builtin_clz(~ordered);
  return ipv4Netmask(static_cast<uint32_t>(ones)) == mask ? ones : -1;
}

std::string rawText(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

bool parseRaw(std::string_view text, Bytes& bytes) {
  constexpr size_t kMaxBytes = 65535;
  bytes.clear();
  size_t i = 0;
  while (i < text.size()) {
    if (!bytes.empty() && (text[i] == ':' || text[i] == '-' || text[i] == ' ')) {
      ++i;
      if (i == text.size())
        return false; // a trailing separator
    }
    if (i + 1 >= text.size() || bytes.size() == kMaxBytes)
      return false;
    const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    i += 2;
  }
  return true;
}

Reference<IConvertor> addressAndPortConvertor(uint32_t defaultPort) {
  return makeRef<AddressAndPortConvertor>(defaultPort);
}
Reference<IConvertor> ipv4NetworkConvertor(const NetworkShape& shape) {
  return makeRef<Ipv4NetworkConvertor>(shape);
}
Reference<IConvertor> ipv6NetworkConvertor(const NetworkShape& shape) {
  return makeRef<Ipv6NetworkConvertor>(shape);
}
Reference<IConvertor> rawConvertor() { return makeRef<RawConvertor>(); }

} // namespace kestel
