#include "miw/ConvertorValue.h"

#include <cstdio>

namespace kestel {
namespace {

std::string hexText(const uint8_t* data, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", data[i]);
    out += two;
  }
  return out;
}

struct Plain {
  std::string operator()(std::monostate) const { return {}; }
  std::string operator()(bool v) const { return v ? "true" : "false"; }
  std::string operator()(uint32_t v) const { return std::to_string(v); }
  std::string operator()(uint64_t v) const { return std::to_string(v); }
  std::string operator()(const Addr6& v) const { return hexText(v.data(), v.size()); }
  std::string operator()(const std::string& v) const { return v; }
  std::string operator()(const Bytes& v) const { return hexText(v.data(), v.size()); }
  std::string operator()(const NumberRange& v) const {
    return std::to_string(v.low) + "-" + std::to_string(v.high);
  }
  std::string operator()(const AddressValue& v) const { return v.name; }
  std::string operator()(const Ipv4Pair& v) const {
    return std::to_string(v.address) + "/" + std::to_string(v.second);
  }
  std::string operator()(const Ipv6Prefix& v) const {
    return (*this)(v.address) + "/" + std::to_string(v.length);
  }
  std::string operator()(const MaskedBytes& v) const {
    return hexText(v.value.data(), v.value.size()) + "/" + hexText(v.mask.data(), v.mask.size());
  }
  // A nested message has no plain form short enough for a cell: its field count stands in.
  std::string operator()(const nv::message& v) const { return std::to_string(v.size()); }
  std::string operator()(const TupleRow& v) const {
    std::string out;
    for (size_t i = 0; i < v.cells.size(); ++i)
      out += (i ? " " : "") + std::visit(*this, v.cells[i]);
    return out;
  }
  template <typename T> std::string operator()(const std::vector<T>& v) const {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i)
      out += (i ? "," : "") + (*this)(v[i]);
    return out;
  }
};

} // namespace

std::string plainText(const FieldValue& value) { return std::visit(Plain{}, value); }

} // namespace kestel
