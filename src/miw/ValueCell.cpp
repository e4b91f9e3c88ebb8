#include "miw/ValueCell.h"

#include "gen/CType.h"
#include "gen/Slot.h"
#include "miw/ViewChoice.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace kestel {
namespace {

template <typename T> struct IsList : std::false_type {};
template <typename E> struct IsList<std::vector<E>> : std::true_type {};
template <> struct IsList<Bytes> : std::false_type {}; // one byte string, not a list

bool isBooleanKind(const std::string& kind) { return kind == "bool" || kind == "flag"; }

// Ranges keep their low and high end in two u32 fields.
bool isRangeKind(const Slot& slot) {
  const std::string& k = slot.kind();
  return (k == "numberrange" || k == "integerrange" || k == "community") &&
         slot.fields().size() > 1 && slot.fields()[0].store() == Store::U32 &&
         slot.fields()[1].store() == Store::U32;
}

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

// Bit-set lists and MAC networks: a byte string (or a list of them) in the first field, the masks
// in the second.
bool isMaskedKind(const Slot& slot) {
  if (slot.fields().size() < 2)
    return false;
  const Store first = slot.fields()[0].store(), second = slot.fields()[1].store();
  if (slot.kind() == "macnetwork")
    return first == Store::Raw && second == Store::Raw;
  return (slot.kind() == "multibits" || slot.kind() == "multitristate" ||
          slot.kind() == "multimacnetwork") &&
         first == Store::RawList && second == Store::RawList;
}

bool isMessageKind(const Slot& slot) {
  return (slot.kind() == "message" || slot.kind() == "object") && !slot.fields().empty() &&
         slot.fields()[0].store() == Store::Message;
}

Bytes& rawAt(std::byte* part, const SlotField& f) {
  return *reinterpret_cast<Bytes*>(part + f.offset);
}
std::vector<Bytes>& rawListAt(std::byte* part, const SlotField& f) {
  return *reinterpret_cast<std::vector<Bytes>*>(part + f.offset);
}

FieldValue readMasked(const Slot& slot, std::byte* part) {
  const SlotField &values = slot.fields()[0], &masks = slot.fields()[1];
  if (values.store() == Store::Raw)
    return MaskedBytes{rawAt(part, values), rawAt(part, masks)};
  const std::vector<Bytes>& v = rawListAt(part, values);
  const std::vector<Bytes>& m = rawListAt(part, masks);
  std::vector<MaskedBytes> out(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    out[i] = {v[i], i < m.size() ? m[i] : Bytes()}; // a missing mask speaks about no bit
  return out;
}

bool writeMasked(const Slot& slot, std::byte* part, const FieldValue& value) {
  const SlotField &values = slot.fields()[0], &masks = slot.fields()[1];
  if (values.store() == Store::Raw) {
    const auto* v = std::get_if<MaskedBytes>(&value);
    if (!v)
      return false;
    rawAt(part, values) = v->value;
    rawAt(part, masks) = v->mask;
    return true;
  }
  const auto* v = std::get_if<std::vector<MaskedBytes>>(&value);
  if (!v)
    return false;
  std::vector<Bytes>& out = rawListAt(part, values);
  std::vector<Bytes>& outMasks = rawListAt(part, masks);
  out.resize(v->size());
  outMasks.resize(v->size());
  for (size_t i = 0; i < v->size(); ++i) {
    out[i] = (*v)[i].value;
    outMasks[i] = (*v)[i].mask;
  }
  return true;
}

// The containers of tuple rows: each inner slot is a column, a list column (a multi-value kind)
// gives element i to row i, a single-valued column gives its value to the only row.
bool isRowsKind(const Slot& slot) {
  return (slot.kind() == "multi" || slot.kind() == "multituple") && !slot.inner().empty();
}

FieldValue readRows(const Slot& slot, std::byte* part) {
  std::vector<FieldValue> columns;
  size_t rows = 0;
  for (size_t j = 0; j < slot.inner().size(); ++j) {
    const Slot& inner = *slot.inner()[j];
    columns.push_back(RecordCell(inner, part + slot.innerOffsets()[j]).get());
    rows = std::max(rows, isMultiKind(inner.kind()) ? listSize(columns.back()) : 1);
  }
  std::vector<TupleRow> out(rows);
  for (size_t j = 0; j < columns.size(); ++j) {
    FieldValue blank = columns[j]; // an empty element of the column's kind fills short columns
    while (listSize(blank) > 0)
      (void)removeListElement(blank, 0);
    (void)insertListElement(blank, 0);
    for (size_t i = 0; i < rows; ++i) {
      if (!isMultiKind(slot.inner()[j]->kind()))
        out[i].cells.push_back(columns[j]);
      else
        out[i].cells.push_back(i < listSize(columns[j]) ? listElement(columns[j], i)
                                                        : listElement(blank, 0));
    }
  }
  return out;
}

bool writeRows(const Slot& slot, std::byte* part, const FieldValue& value) {
  const auto* rows = std::get_if<std::vector<TupleRow>>(&value);
  if (!rows)
    return false;
  // Every column is made first, so a refused value leaves the record untouched.
  std::vector<FieldValue> columns;
  for (size_t j = 0; j < slot.inner().size(); ++j) {
    RecordCell cell(*slot.inner()[j], part + slot.innerOffsets()[j]);
    FieldValue column = cell.get();
    if (!isMultiKind(slot.inner()[j]->kind())) {
      if (rows->size() != 1 || j >= (*rows)[0].cells.size() ||
          (*rows)[0].cells[j].index() != column.index())
        return false;
      columns.push_back((*rows)[0].cells[j]);
      continue;
    }
    while (listSize(column) > 0)
      (void)removeListElement(column, 0);
    for (size_t i = 0; i < rows->size(); ++i)
      if (j >= (*rows)[i].cells.size() || !insertListElement(column, i) ||
          !setListElement(column, i, (*rows)[i].cells[j]))
        return false;
    columns.push_back(std::move(column));
  }
  for (size_t j = 0; j < columns.size(); ++j)
    if (!RecordCell(*slot.inner()[j], part + slot.innerOffsets()[j]).set(columns[j]))
      return false;
  return true;
}

} // namespace

std::byte* slotPart(const IObject& object, const Slot& slot) {
  const CType* type = object.getCType();
  SlotFieldInfo first;
  if (!type || slot.fields().empty() || !type->slotField(&slot, first) ||
      first.offset < slot.fields()[0].offset)
    return nullptr;
  size_t base = first.offset - slot.fields()[0].offset;
  std::span<std::byte> record = object.record();
  if (base + slot.partSize() > record.size())
    return nullptr;
  return record.data() + base;
}

FieldValue RecordCell::get() const {
  if (isRowsKind(slot_))
    return readRows(slot_, part_);
  if (slot_.fields().empty())
    return {};
  if (isMaskedKind(slot_))
    return readMasked(slot_, part_);
  if (isMessageKind(slot_))
    return *at<nv::message>(part_, slot_);
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
  if (isRangeKind(slot_))
    return NumberRange{*at<uint32_t>(part_, slot_), *second(part_, slot_)};
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
  if (isRowsKind(slot_))
    return writeRows(slot_, part_, value);
  if (slot_.fields().empty())
    return false;
  if (isMaskedKind(slot_))
    return writeMasked(slot_, part_, value);
  if (isMessageKind(slot_)) {
    const auto* v = std::get_if<nv::message>(&value);
    if (v)
      *at<nv::message>(part_, slot_) = *v;
    return v != nullptr;
  }
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
  if (isRangeKind(slot_)) {
    const auto* v = std::get_if<NumberRange>(&value);
    if (v) {
      *at<uint32_t>(part_, slot_) = v->low;
      *second(part_, slot_) = v->high;
    }
    return v != nullptr;
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
