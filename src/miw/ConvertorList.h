// Lists of values shown on one line: the elements formatted by an element convertor and joined
// with ","; reading splits at "," (blanks around an element are dropped) and reads each element
// with the element convertor. The multi-value kinds use it for tables and read-only forms; their
// editors edit one element per row with the element convertor (element()).
#pragma once

#include "miw/Convertor.h"

namespace kestel {

inline constexpr unsigned int kListConvertorInterface = 3001;

// The element values of a list: u32, text, IPv6 address, IPv4 network (Ipv4Pair), IPv6 network
// (Ipv6Prefix), byte string, masked byte string (bit sets and MAC networks) or tuple row.
enum class ListElements {
  Numbers,
  Texts,
  Ipv6Addresses,
  Ipv4Networks,
  Ipv6Networks,
  ByteStrings,
  MaskedByteStrings,
  Rows
};

class IListConvertor : public IConvertor {
public:
  virtual Reference<IConvertor> element() const = 0;
  // The number of elements a value of this list always has, or 0 when the count is free (rows
  // that the user adds and removes).
  virtual size_t fixedCount() const { return 0; }
};

// Described as "list of " and the element's words. An element text that contains `separator`
// cannot be read back from the joined form: such a list formats, but only a row editor can change
// it. The lists whose elements are name lists themselves (bit sets) are joined with ";".
Reference<IConvertor> elementListConvertor(Reference<IConvertor> element, ListElements kind,
                                           char separator = ',');

// Number ranges kept in one u32 array as (low, high) pairs: "7" for a pair with equal ends,
// "1..5" otherwise, joined with ","; reading refuses a range whose low end is above its high end
// or that leaves [min, max]. A stray last word (an odd array) is not shown.
Reference<IConvertor> rangeListConvertor(uint32_t min, uint32_t max);

} // namespace kestel
