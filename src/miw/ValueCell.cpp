#include "miw/ValueCell.h"

#include "gen/Slot.h"

#include <cstring>

namespace kestel {
namespace {

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
  default:
    return false;
  }
}

FieldValue ElementCell::get() const { return listElement(list_.get(), index_); }

bool ElementCell::set(const FieldValue& value) {
  FieldValue list = list_.get();
  return setListElement(list, index_, value) && list_.set(list);
}

size_t listSize(const FieldValue& list) {
  if (const auto* v = std::get_if<std::vector<uint32_t>>(&list))
    return v->size();
  if (const auto* v = std::get_if<std::vector<std::string>>(&list))
    return v->size();
  return 0;
}

FieldValue listElement(const FieldValue& list, size_t index) {
  if (const auto* v = std::get_if<std::vector<uint32_t>>(&list); v && index < v->size())
    return (*v)[index];
  if (const auto* v = std::get_if<std::vector<std::string>>(&list); v && index < v->size())
    return (*v)[index];
  return {};
}

bool insertListElement(FieldValue& list, size_t index) {
  if (auto* v = std::get_if<std::vector<uint32_t>>(&list); v && index <= v->size()) {
    v->insert(v->begin() + std::ptrdiff_t(index), 0u);
    return true;
  }
  if (auto* v = std::get_if<std::vector<std::string>>(&list); v && index <= v->size()) {
    v->insert(v->begin() + std::ptrdiff_t(index), std::string());
    return true;
  }
  return false;
}

bool removeListElement(FieldValue& list, size_t index) {
  if (auto* v = std::get_if<std::vector<uint32_t>>(&list); v && index < v->size()) {
    v->erase(v->begin() + std::ptrdiff_t(index));
    return true;
  }
  if (auto* v = std::get_if<std::vector<std::string>>(&list); v && index < v->size()) {
    v->erase(v->begin() + std::ptrdiff_t(index));
    return true;
  }
  return false;
}

bool setListElement(FieldValue& list, size_t index, const FieldValue& element) {
  if (auto* v = std::get_if<std::vector<uint32_t>>(&list); v && index < v->size()) {
    const uint32_t* e = std::get_if<uint32_t>(&element);
    if (!e)
      return false;
    (*v)[index] = *e;
    return true;
  }
  if (auto* v = std::get_if<std::vector<std::string>>(&list); v && index < v->size()) {
    const std::string* e = std::get_if<std::string>(&element);
    if (!e)
      return false;
    (*v)[index] = *e;
    return true;
  }
  return false;
}

} // namespace kestel
