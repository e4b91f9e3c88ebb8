// The values convertors show and read: one router field (or the pair of fields of a range and the
// parts of a combined address) held in a small variant. Convertors never touch object records;
// the slot that owns the storage moves values between the record and this variant.
#pragma once

#include "api/wire/Message.h"
#include "util/Bytes.h"

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kestel {

// An IPv6 address in network order, laid out like the message's addr6 field.
using Addr6 = std::array<uint8_t, 16>;

// Low and high end of a number range (two u32 fields of one object).
struct NumberRange {
  uint32_t low = 0;
  uint32_t high = 0;
  bool operator==(const NumberRange&) const = default;
};

// An IPv4 address with a second number kept beside it: the prefix length of a network or the
// port of an address-and-port field.
struct Ipv4Pair {
  uint32_t address = 0;
  uint32_t second = 0;
  auto operator<=>(const Ipv4Pair&) const = default;
};

// An IPv6 address with its prefix length.
struct Ipv6Prefix {
  Addr6 address{};
  uint32_t length = 0;
  auto operator<=>(const Ipv6Prefix&) const = default;
};

// The parts of a combined address field; absent parts hold their "none" marker.
struct AddressValue {
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  bool hasAddress = false;
  Addr6 address{};         // an IPv4 address is kept as ::ffff:a.b.c.d
  std::string name;        // empty: no name
  uint32_t prefix = kNone; // shown only below 65535
  uint32_t iface = kNone;  // interface id
  uint32_t table = kNone;  // routing table id, shown only below 65535
  Bytes mac;               // empty: no MAC address
  std::string extra;       // empty: no extra text
  bool operator==(const AddressValue&) const = default;
};

// A byte string with a mask of the same layout: one entry of a list of bit sets (bit n in byte
// n / 8, bit n % 8; the mask marks the bits the entry speaks about), or a MAC address with its
// mask.
struct MaskedBytes {
  Bytes value;
  Bytes mask;
  auto operator<=>(const MaskedBytes&) const = default;
};

struct TupleRow;

// One value as convertors see it. Signed integers and time-zone offsets travel in the u32 field
// the router uses for them (two's complement); monostate is "unset" (tristate convertors). The
// lists of addresses, networks, byte strings, masked bit sets and tuple rows are the values of the
// multi-value kinds; a nested message is the value of the message and object kinds.
using FieldValue =
    std::variant<std::monostate, bool, uint32_t, uint64_t, Addr6, std::string, Bytes,
                 std::vector<uint32_t>, std::vector<std::string>, NumberRange, AddressValue,
                 Ipv4Pair, Ipv6Prefix, std::vector<Addr6>, std::vector<Ipv4Pair>,
                 std::vector<Ipv6Prefix>, std::vector<Bytes>, MaskedBytes, std::vector<MaskedBytes>,
                 nv::message, TupleRow, std::vector<TupleRow>>;

// One row of a list of tuples: one cell per column (the inner slots of a multi-value container).
struct TupleRow {
  std::vector<FieldValue> cells;
  bool operator==(const TupleRow&) const = default;
};

// The plain text of a value without convertor: numbers in decimal, bytes and IPv6 addresses in
// hex, list elements joined with ",", tuple cells with " ".
std::string plainText(const FieldValue& value);

} // namespace kestel
