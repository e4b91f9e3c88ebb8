#include "miw/ValueCell.h"

#include "gen/Slot.h"

#include <cstring>
#include <type_traits>

namespace kestel {
namespace {

template <typename T> struct IsList : std::false_type {};
template <typename E> struct IsList<std::vector<E>> : std::true_type {};
template <> struct IsList<Bytes> : std::false_type {}; // one byte string, not a list

bool isBooleanKind(const std::string& kind) { return kind == "bool" || kind == "flag"; }

template <typename T> T* at(std::byte* part, const Slot& slot) {
  return reinterpret_cast<T*>(part + slot.fields()[0].offset);
}

// Kinds whose value is an address with a second u32 field beside it (prefix length or port).
bool isAddressPairKind(const Slot& slot) {
  return slot.fields().size() >= 2 && slot.fields()[1].store() == Store::U32 &&
         (slot.kind() == "network" || slot.kind() == "network6" || slot.kind() == "ipaddrandport");
}

uint32_t* second(std::byte* part, const Slot& slot) {
  return reinterpret_cast<uint32_t*>(part + slot.fields()[1].offset);
}

// Lists of networks: the addresses in the first field, their masks (IPv4, held like the address)
// or prefix lengths (IPv6) in the u32 list of the second. A mask missing from a shorter second
// list reads as a single host.
bool isNetworkListKind(const Slot& slot) {
  return slot.fields().size() >= 2 && slot.fields()[1].store() == Store::U32List &&
         (slot.kind() == "multinetwork" || slot.kind() == "multinetwork6");
}

std::vector<uint32_t>& masks(std::byte* part, const Slot& slot) {
  return *reinterpret_cast<std::vector<uint32_t>*>(part + slot.fields()[1].offset);
}

uint32_t& maskOf(Ipv4Pair& n) { return n.second; }
uint32_t& maskOf(Ipv6Prefix& n) { return n.length; }

template <typename Pair, typename Address>
std::vector<Pair> readNetworks(const std::vector<Address>& addresses,
                               const std::vector<uint32_t>& masks, uint32_t single) {
  std::vector<Pair> out(addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) {
    out[i].address = addresses[i];
    maskOf(out[i]) = i < masks.size() ? masks[i] : single;
  }
  return out;
}

template <typename Pair, typename Address>
void writeNetworks(std::vector<Pair> networks, std::vector<Address>& addresses,
                   std::vector<uint32_t>& masks) {
  addresses.resize(networks.size());
  masks.resize(networks.size());
  for (size_t i = 0; i < networks.size(); ++i) {
    addresses[i] = networks[i].address;
    masks[i] = maskOf(networks[i]);
  }
}

} // namespace

FieldValue RecordCell::get() const {
  if (slot_.fields().empty())
    return {};
  if (isAddressPairKind(slot_)) {
    if (slot_.fields()[0].store() == Store::Addr6) {
      Ipv6Prefix v;
      std::memcpy(v.address.data(), at<std::byte>(part_, slot_), v.address.size());
      v.length = *second(part_, slot_);
      return v;
    }
    return Ipv4Pair{*at<uint32_t>(part_, slot_), *second(part_, slot_)};
  }
  if (isNetworkListKind(slot_)) {
    if (slot_.fields()[0].store() == Store::Addr6List)
      return readNetworks<Ipv6Prefix>(*at<std::vector<Addr6>>(part_, slot_), masks(part_, slot_),
                                      128);
    if (slot_.fields()[0].store() == Store::U32List)
      return readNetworks<Ipv4Pair>(*at<std::vector<uint32_t>>(part_, slot_), masks(part_, slot_),
                                    0xFFFFFFFF);
    return {};
  }
  switch (slot_.fields()[0].store()) {
  case Store::U32: {
    uint32_t v = *at<uint32_t>(part_, slot_);
    if (isBooleanKind(slot_.kind()))
      return v != 0;
    return v;
  }
  case Store::U64:
    return *at<uint64_t>(part_, slot_);
  case Store::Text:
    return *at<std::string>(part_, slot_);
  case Store::Raw:
    return *at<Bytes>(part_, slot_);
  case Store::U32List:
    return *at<std::vector<uint32_t>>(part_, slot_);
  case Store::TextList:
    return *at<std::vector<std::string>>(part_, slot_);
  case Store::Addr6: {
    Addr6 a;
    std::memcpy(a.data(), at<std::byte>(part_, slot_), a.size());
    return a;
  }
  case Store::Addr6List:
    return *at<std::vector<Addr6>>(part_, slot_);
  case Store::RawList:
    return *at<std::vector<Bytes>>(part_, slot_);
  default:
    return {};
  }
}

bool RecordCell::set(const FieldValue& value) {
  if (slot_.fields().empty())
    return false;
  if (isAddressPairKind(slot_)) {
    if (const auto* v = std::get_if<Ipv6Prefix>(&value);
        v && slot_.fields()[0].store() == Store::Addr6) {
      std::memcpy(at<std::byte>(part_, slot_), v->address.data(), v->address.size());
      *second(part_, slot_) = v->length;
      return true;
    }
    if (const auto* v = std::get_if<Ipv4Pair>(&value);
        v && slot_.fields()[0].store() == Store::U32) {
      *at<uint32_t>(part_, slot_) = v->address;
      *second(part_, slot_) = v->second;
      return true;
    }
    return false;
  }
  if (isNetworkListKind(slot_)) {
    if (const auto* v = std::get_if<std::vector<Ipv6Prefix>>(&value);
        v && slot_.fields()[0].store() == Store::Addr6List) {
      writeNetworks(*v, *at<std::vector<Addr6>>(part_, slot_), masks(part_, slot_));
      return true;
    }
    if (const auto* v = std::get_if<std::vector<Ipv4Pair>>(&value);
        v && slot_.fields()[0].store() == Store::U32List) {
      writeNetworks(*v, *at<std::vector<uint32_t>>(part_, slot_), masks(part_, slot_));
      return true;
    }
    return false;
  }
  switch (slot_.fields()[0].store()) {
  case Store::U32:
    if (const bool* b = std::get_if<bool>(&value); b && isBooleanKind(slot_.kind())) {
      *at<uint32_t>(part_, slot_) = *b ? 1 : 0;
      return true;
    }
    if (const uint32_t* v = std::get_if<uint32_t>(&value)) {
      *at<uint32_t>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::U64:
    if (const uint64_t* v = std::get_if<uint64_t>(&value)) {
      *at<uint64_t>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::Text:
    if (const std::string* v = std::get_if<std::string>(&value)) {
      *at<std::string>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::Raw:
    if (const Bytes* v = std::get_if<Bytes>(&value)) {
      *at<Bytes>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::U32List:
    if (const auto* v = std::get_if<std::vector<uint32_t>>(&value)) {
      *at<std::vector<uint32_t>>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::TextList:
    if (const auto* v = std::get_if<std::vector<std::string>>(&value)) {
      *at<std::vector<std::string>>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::Addr6:
    if (const Addr6* v = std::get_if<Addr6>(&value)) {
      std::memcpy(at<std::byte>(part_, slot_), v->data(), v->size());
      return true;
    }
    return false;
  case Store::Addr6List:
    if (const auto* v = std::get_if<std::vector<Addr6>>(&value)) {
      *at<std::vector<Addr6>>(part_, slot_) = *v;
      return true;
    }
    return false;
  case Store::RawList:
    if (const auto* v = std::get_if<std::vector<Bytes>>(&value)) {
      *at<std::vector<Bytes>>(part_, slot_) = *v;
      return true;
    }
    return false;
  default:
    return false;
  }
}

FieldValue ElementCell::get() const { return listElement(list_.get(), index_); }

bool ElementCell::set(const FieldValue& value) {
  FieldValue list = list_.get();
  return setListElement(list, index_, value) && list_.set(list);
}

namespace {

// Calls f with the list vector `list` holds; false when it holds no list.
template <typename V, typename F> bool withList(V& list, F&& f) {
  return std::visit(
      [&](auto& v) {
        using T = std::remove_cvref_t<decltype(v)>;
        if constexpr (IsList<T>::value) {
          f(v);
          return true;
        } else
          return false;
      },
      list);
}

} // namespace

size_t listSize(const FieldValue& list) {
  size_t n = 0;
  (void)withList(list, [&](const auto& v) { n = v.size(); });
  return n;
}

FieldValue listElement(const FieldValue& list, size_t index) {
  FieldValue out;
  (void)withList(list, [&](const auto& v) {
    if (index < v.size())
      out = v[index];
  });
  return out;
}

bool insertListElement(FieldValue& list, size_t index) {
  bool done = false;
  (void)withList(list, [&](auto& v) {
    if (index <= v.size()) {
      v.insert(v.begin() + std::ptrdiff_t(index),
               typename std::remove_cvref_t<decltype(v)>::value_type{});
      done = true;
    }
  });
  return done;
}

bool removeListElement(FieldValue& list, size_t index) {
  bool done = false;
  (void)withList(list, [&](auto& v) {
    if (index < v.size()) {
      v.erase(v.begin() + std::ptrdiff_t(index));
      done = true;
    }
  });
  return done;
}

bool setListElement(FieldValue& list, size_t index, const FieldValue& element) {
  bool done = false;
  (void)withList(list, [&](auto& v) {
    using T = typename std::remove_cvref_t<decltype(v)>::value_type;
    const T* e = std::get_if<T>(&element);
    if (e && index < v.size()) {
      v[index] = *e;
      done = true;
    }
  });
  return done;
}

} // namespace kestel
