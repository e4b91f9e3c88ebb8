#include "app/OpenTableValues.h"

#include "miw/TableColumns.h"

#include <algorithm>

namespace kestel {

void OpenTableValues::add(const TableIndex& index, std::string menu) {
  remove(index);
  tables_.push_back({&index, std::move(menu)});
}

void OpenTableValues::remove(const TableIndex& index) {
  std::erase_if(tables_, [&](const Table& t) { return t.index == &index; });
}

void OpenTableValues::forEachValue(const std::function<bool(const TableValue&)>& visit) const {
  TableValue value;
  for (const Table& table : tables_) {
    const TableIndex& index = *table.index;
    value.map = &index.map();
    value.menu = table.menu;
    std::vector<const TableField*> fields;
    for (size_t c = kSystemColumns; index.field(c); ++c)
      fields.push_back(index.field(c).get());
    for (size_t row = 0; row < index.size(); ++row) {
      const IObject* object = index.object(row);
      if (!object)
        continue;
      value.id = index.id(row);
      for (const TableField* field : fields) {
        value.column = field->title();
        value.text = field->text(*object);
        if (!value.text.empty() && !visit(value))
          return;
      }
    }
  }
}

} // namespace kestel
