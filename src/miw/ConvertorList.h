// Lists of values shown on one line: the elements formatted by an element convertor and joined
// with ","; reading splits at "," (blanks around an element are dropped) and reads each element
// with the element convertor. The multi-value kinds use it for tables and read-only forms; their
// editors edit one element per row with the element convertor (element()).
#pragma once

#include "miw/Convertor.h"

namespace kestel {

inline constexpr unsigned int kListConvertorInterface = 3001;

enum class ListElements { Numbers, Texts }; // u32 lists or text lists

class IListConvertor : public IConvertor {
public:
  virtual Reference<IConvertor> element() const = 0;
};

// Described as "list of " and the element's words. An element text that contains "," cannot be
// read back from the joined form: such a list formats, but only a row editor can change it.
Reference<IConvertor> elementListConvertor(Reference<IConvertor> element, ListElements kind);

} // namespace kestel
