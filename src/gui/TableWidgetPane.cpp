// The map's header first: it declares emit(), which Qt's keyword of that name would break.
#include "api/container/ObjectMap.h"
#include "miw/TableField.h"

#include "gui/TableWidgetPane.h"

#include "gui/TableBars.h"

namespace kestel::gui {
namespace {

// Named views of the widget; lives as long as the widget does.
class WidgetViewState final : public QObject, public ITableViewState {
public:
  WidgetViewState(TableWidget* table, TableFilterBar* bar)
      : QObject(table), table_(table), bar_(bar) {}
  StringMap saveView() const override { return table_->saveView(); }
  void loadView(const StringMap& view) override {
    table_->loadView(view);
    bar_->showRows();
  }

private:
  TableWidget* table_;
  TableFilterBar* bar_;
};

} // namespace

TablePane* createTablePane(Reference<ObjectMap> map, const CType* type, bool withCommands,
                           bool bare, QWidget* parent) {
  auto* pane = new TablePane(map, type, withCommands, bare, parent);
  auto* table = new TableWidget(map, type ? typeColumns(*type) : std::vector<TableColumn>{});
  auto* bar = new TableFilterBar(table);
  pane->addBar(bar);
  pane->setView(table, new WidgetViewState(table, bar));
  pane->setFilterHook([table, bar](bool shown) {
    if (!shown)
      table->setFilterRows({});
    if (shown && table->filterRows().empty())
      bar->addRow();
    else
      bar->showRows();
  });
  pane->setFreezeHook([table](bool frozen) { table->tableModel().setFrozen(frozen); });
  return pane;
}

} // namespace kestel::gui
