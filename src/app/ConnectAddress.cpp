#include "app/ConnectAddress.h"

#include "miw/ConvertorAddress.h"

namespace kestel {

namespace {

bool parsePort(std::string_view digits, uint32_t& port) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  uint32_t value = 0;
  for (char c : digits)
    value = value * 10 + uint32_t(c - '0');
  if (value < 1 || value > 65535)
    return false;
  port = value;
  return true;
}

// "<ipv6>" or "<ipv6>%<decimal scope>".
bool validBracketed(std::string_view inside) {
  size_t percent = inside.find('%');
  Addr6 address{};
  if (!parseIpv6(inside.substr(0, percent), address))
    return false;
  if (percent == std::string_view::npos)
    return true;
  std::string_view scope = inside.substr(percent + 1);
  return !scope.empty() && scope.size() <= 10 &&
         scope.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

Expected<ConnectAddress> parseConnectAddress(std::string_view text) {
  Error invalid = makeError("invalid address - " + std::string(text));
  ConnectAddress out;
  Bytes mac;
  if (parseMac(text, mac)) {
    out.transport = ConnectAddress::Transport::Mac;
    out.host = std::string(text);
    return out;
  }
  std::string_view rest;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos || !validBracketed(text.substr(1, close - 1)))
      return invalid;
    out.host = std::string(text.substr(1, close - 1));
    rest = text.substr(close + 1);
  } else {
    size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
      return invalid; // IPv6 without brackets
    out.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos)
      rest = text.substr(colon);
  }
  if (out.host.empty())
    return invalid;
  if (rest.empty())
    return out;
  if (rest[0] != ':' || !parsePort(rest.substr(1), out.port))
    return invalid;
  return out;
}

} // namespace kestel
