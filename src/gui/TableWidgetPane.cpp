// The map's header first: it declares emit(), which Qt's keyword of that name would break.
#include "api/container/ObjectMap.h"
#include "miw/TableField.h"
#include "miw/TablePaneCommands.h"

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
  PaneFacts members;
  readTypeMembers(type, members);
  TableFeatures features;
  features.comments = members.hasComment;
  if (type)
    features.comment = commentField(*type);
  features.find = !bare;
  auto* table =
      new TableWidget(map, type ? typeColumns(*type) : std::vector<TableColumn>{}, features);
  auto* bar = new TableFilterBar(table);
  pane->addBar(bar);
  pane->setView(table, new WidgetViewState(table, bar));
  // The bar is shown exactly while the table has filter rows (its last line removed hides it),
  // so the table's rows are the Filter button's state.
  pane->setFilterHook(
      [table, bar](bool shown) {
        if (!shown)
          table->setFilterRows({});
        if (shown && table->filterRows().empty())
          bar->addRow();
        else
          bar->showRows();
      },
      [table] { return !table->filterRows().empty(); });
  pane->setFreezeHook([table](bool frozen) { table->tableModel().setFrozen(frozen); },
                      [table] { return table->tableModel().frozen(); });
  QObject::connect(table, &TableWidget::filtersChanged, pane, &TablePane::tableStateChanged);
  QObject::connect(&table->tableModel(), &TableModel::frozenChanged, pane,
                   &TablePane::tableStateChanged);
  if (features.find)
    pane->addFindField(new TableFindField(table));
  return pane;
}

} // namespace kestel::gui
