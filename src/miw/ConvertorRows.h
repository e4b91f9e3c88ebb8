// Lists of tuple rows: the values of the multi-value containers ("multi", "multituple"), one
// column per inner slot. A row shows its cells through the columns' convertors joined with a
// blank; rows are joined with ",". Reading a row splits it at blanks: every cell but the last
// takes one word, the last takes the rest (so only the last column may hold blanks).
#pragma once

#include "miw/ConvertorList.h"

namespace kestel {

// One row (TupleRow); described as the columns' words joined with " followed by ".
Reference<IConvertor> tupleRowConvertor(std::vector<Reference<IConvertor>> columns);

// The rows (a vector of TupleRow) as an IListConvertor whose element() is the row convertor.
// With `fixedCount` above 0 a value has exactly that many rows (a container over single values
// holds one row): reading refuses any other count, and the words end with " with at least N and
// at most N elements".
Reference<IConvertor> tupleRowsConvertor(std::vector<Reference<IConvertor>> columns,
                                         size_t fixedCount);

} // namespace kestel
