// The values of the session's open tables, for the launcher's search: the session window adds a
// table's row index when the table opens and removes it when the table closes. The values are
// the texts the table shows, row by row in display order, one per column of its own (the system
// columns are left out; hidden columns count), with the column's title; empty texts are skipped.
#pragma once

#include "app/LauncherSearch.h"
#include "miw/TableIndex.h"

#include <string>
#include <vector>

namespace kestel {

class OpenTableValues final : public ITableValues {
public:
  // `menu` names the table for the reader ("IP/Firewall").
  void add(const TableIndex& index, std::string menu);
  void remove(const TableIndex& index);
  size_t size() const { return tables_.size(); }

  void forEachValue(const std::function<bool(const TableValue&)>& visit) const override;

private:
  struct Table {
    const TableIndex* index;
    std::string menu;
  };
  std::vector<Table> tables_;
};

} // namespace kestel
