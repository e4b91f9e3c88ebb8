// The table pane's tools over the table widget, against the simulator on loopback: copied rules
// pasted back arrive as new rules with the same fields (and only this process's copies of this
// table kind are taken), the Filter and Freeze buttons follow the table whoever changed it, the
// find field in the toolbar finds with F3, inline comments show each rule's comment under its
// row; and, over a local map, the icon and colour-mark columns answer their roles.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/PackerElements.h"
#include "app/MenuCatalog.h"
#include "gen/CType.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/CopiedRows.h"
#include "miw/SlotConvertors.h"
#include "miw/TablePaneActions.h"
#include "support/SimClient.h"

namespace kestel::gui {
namespace {

struct Mark {
  std::string name;
};

// An object with a colour of its own.
class MarkedObject final : public RecordObject<Mark> {
public:
  explicit MarkedObject(ObjectColor colour) : colour_(colour) {}
  ObjectColor getColor() const override { return colour_; }

private:
  ObjectColor colour_;
};

// A map filled by the test (before Qt's headers: it announces through emit()).
class LocalMap final : public MapBase {
public:
  LocalMap() : MapBase(true, "marks") {}
  void open() override {}
  void put(uint32_t id, Reference<IObject> object) {
    adopt(id, object);
    emit(MapEventKind::Added, id, object.get(), false);
  }
};

} // namespace
} // namespace kestel::gui

#include "gui/TableBars.h"
#include "gui/TableColumnsDialog.h"
#include "gui/TableRoles.h"
#include "gui/TableWidgetPane.h"
#include "gui/TableWindow.h"

#include "GuiTest.h"
#include "SampleModel.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace kestel::gui {
namespace {

using test::SampleModel;

// The firewall's filter rules from a simulator holding `rows` of them.
struct Rules {
  explicit Rules(int rows)
      : client(reactor, KESTEL_SIM_PATH, {"--rows", std::to_string(rows), "--table", "firewall"}) {
    settingsRegistry().loadSettings("/nonexistent/kestel-test/settings.viw"); // record 0
    setUserPolicy(0xFFFFFFFF);                                                // admin: may add
    Expected<MenuRef> menu = findMenu("Firewall");
    type = menu ? static_cast<CMap*>(menu->type) : nullptr;
    if (!type || !client.started())
      return;
    map = createContainer(*type);
    map->open();
    client.turnUntil([&] { return map->size() >= size_t(rows); });
  }
  PollReactor reactor;
  ReactorScope scope{reactor};
  SampleModel model;
  test::SimClient client;
  CMap* type = nullptr;
  Reference<ObjectMap> map;
};

struct NoEditors final : IObjectEditorOpener {
  void openObjectEditor(ObjectMap&, IObject&, bool) override {}
  void openCommentEditor(ObjectMap&, IObject&) override {}
};

TableWidget* tableOf(TablePane& pane) { return qobject_cast<TableWidget*>(pane.view()); }

size_t columnNamed(const TableWidget& table, const char* name) {
  return table.tableLayout().find(name);
}

// The texts of `column` on every row.
QStringList columnTexts(const TableWidget& table, size_t column) {
  QStringList texts;
  for (int r = 0; r < table.model()->rowCount(); ++r)
    texts << table.model()->index(r, int(column)).data().toString();
  return texts;
}

void selectRows(TableWidget& table, std::initializer_list<int> rows) {
  table.selectionModel()->clearSelection();
  for (int r : rows)
    table.selectionModel()->select(table.model()->index(r, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

class TablePaneToolsTest : public QObject {
  Q_OBJECT
private slots:
  void pastedRowsComeBackAsNewObjects() {
    Rules rules(8);
    QVERIFY(rules.map && rules.map->size() == 8);
    std::unique_ptr<TablePane> pane(createTablePane(rules.map, rules.type));
    TableWidget* table = tableOf(*pane);
    table->tableModel().applyWaiting();
    size_t comment = columnNamed(*table, "comment");
    QVERIFY(comment < table->tableLayout().count());
    QAction* paste = pane->action(PaneCommand::Paste);
    QVERIFY(paste->isVisible());
    QApplication::clipboard()->clear();
    QVERIFY(!paste->isEnabled());

    selectRows(*table, {1, 3});
    QStringList copied = {table->model()->index(1, int(comment)).data().toString(),
                          table->model()->index(3, int(comment)).data().toString()};
    QVERIFY(!copied[0].isEmpty() && copied[0] != copied[1]);
    pane->run(PaneCommand::Copy);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data->hasFormat(kCopiedRowsFormat) && isLocalCopy(*data));
    QVERIFY(data->text().contains(copied[1])); // the text stays for other programs
    QVERIFY(paste->isEnabled());

    std::vector<uint32_t> before = rules.map->ids();
    QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(pane->statusText().endsWith("Pasting 2 items"));
    QVERIFY(rules.client.turnUntil([&] { return pane->statusText().endsWith("Pasted 2 items"); }));
    QCOMPARE(rules.map->size(), size_t(10));
    table->tableModel().applyWaiting();
    QStringList pasted;
    for (uint32_t id : rules.map->ids())
      if (std::find(before.begin(), before.end(), id) == before.end())
        pasted << table->model()
                      ->index(int(table->tableModel().rows().rowOf(id)), int(comment))
                      .data()
                      .toString();
    pasted.sort();
    copied.sort();
    QCOMPARE(pasted, copied);

    // Rows another process put on the clipboard, or rows of another table, are not taken.
    QMimeData foreign;
    foreign.setData(kCopiedRowsFormat, data->data(kCopiedRowsFormat));
    QVERIFY(!pane->canPaste(foreign));
    std::vector<IObject*> objects{rules.map->find(before[0])};
    std::vector<uint8_t> other = writeCopiedRows("Interfaces", objects);
    auto* mine = createDataObject(*pane);
    mine->setData(kCopiedRowsFormat,
                  QByteArray(reinterpret_cast<const char*>(other.data()), qsizetype(other.size())));
    QApplication::clipboard()->setMimeData(mine);
    QVERIFY(!paste->isEnabled());
    mine = createDataObject(*pane);
    mine->setData(kCopiedRowsFormat, "not rows at all");
    QApplication::clipboard()->setMimeData(mine);
    QVERIFY(!paste->isEnabled());
    pane->run(PaneCommand::Paste);
    QCOMPARE(rules.map->size(), size_t(10));
  }

  // The Filter and Freeze buttons show the table's state, also when the filter bar closed by
  // its own button, a named view brought filter rows, or the model was frozen directly.
  void buttonsFollowTheTable() {
    Rules rules(6);
    QVERIFY(rules.map && rules.map->size() == 6);
    std::unique_ptr<TablePane> pane(createTablePane(rules.map, rules.type));
    pane->show();
    TableWidget* table = tableOf(*pane);
    auto* bar = pane->findChild<TableFilterBar*>();
    QAction* filter = pane->action(PaneCommand::Filter);
    QAction* freeze = pane->action(PaneCommand::Freeze);
    QVERIFY(pane->saveNamedView("plain").ok());

    filter->trigger();
    QVERIFY(filter->isChecked() && !bar->isHidden());
    QVERIFY(pane->saveNamedView("filtered").ok());
    QToolButton* removeLine = nullptr;
    for (auto* b : bar->findChildren<QToolButton*>())
      if (b->text() == "-")
        removeLine = b;
    QVERIFY(removeLine);
    removeLine->click();
    QVERIFY(bar->isHidden());
    QVERIFY(!filter->isChecked());

    QVERIFY(pane->recallNamedView("filtered"));
    QVERIFY(filter->isChecked() && !bar->isHidden());
    QVERIFY(pane->recallNamedView("plain"));
    QVERIFY(!filter->isChecked() && bar->isHidden());
    table->setFilterRows({{columnNamed(*table, "comment"), FilterOp::Contains, "a"}});
    QVERIFY(filter->isChecked());
    filter->trigger(); // off: the rows go
    QVERIFY(table->filterRows().empty() && !filter->isChecked());

    table->tableModel().setFrozen(true);
    QVERIFY(freeze->isChecked());
    QVERIFY(pane->statusText().contains("Frozen"));
    freeze->trigger();
    QVERIFY(!table->tableModel().frozen() && !freeze->isChecked());
  }

  void findFieldInTheToolbar() {
    Rules rules(12);
    QVERIFY(rules.map && rules.map->size() == 12);
    std::unique_ptr<TablePane> pane(createTablePane(rules.map, rules.type));
    pane->resize(800, 400);
    pane->show();
    TableWidget* table = tableOf(*pane);
    table->tableModel().applyWaiting();
    auto* find = pane->findChild<TableFindField*>();
    QVERIFY(find);
    QCOMPARE(find->parentWidget(), pane->toolBar());
    QCOMPARE(find->placeholderText(), QString("F3 - Find Next"));

    size_t comment = columnNamed(*table, "comment");
    QStringList comments = columnTexts(*table, comment);
    QString wanted = comments[7];
    QTest::keyClicks(find, wanted.toUpper()); // find ignores case
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(table->currentIndex().row(), int(comments.indexOf(wanted)));
    QCOMPARE(pane->selectedIds(), std::vector<uint32_t>{table->tableModel().rows().id(
                                      size_t(comments.indexOf(wanted)))});

    find->clear();
    QTest::keyClicks(find, "rule");
    QTest::keyClick(find, Qt::Key_F3);
    int first = table->currentIndex().row();
    QTest::keyClick(table, Qt::Key_F3); // the table's F3 goes on from the current row
    QVERIFY(table->currentIndex().row() != first);
    QTest::keyClick(table, Qt::Key_F, Qt::ControlModifier); // Ctrl+F selects the find text
    QCOMPARE(find->selectedText(), QString("rule"));

    std::unique_ptr<TablePane> bare(createTablePane(rules.map, rules.type, false, true));
    QVERIFY(!bare->findChild<TableFindField*>());
  }

  void inlineCommentsUnderTheRows() {
    Rules rules(8);
    QVERIFY(rules.map && rules.map->size() == 8);
    std::unique_ptr<TablePane> pane(createTablePane(rules.map, rules.type));
    NoEditors editors; // as in a session: Add and Comment are offered
    pane->setOpener(&editors);
    pane->resize(760, 330);
    pane->show();
    TableWidget* table = tableOf(*pane);
    table->tableModel().applyWaiting();
    size_t comment = columnNamed(*table, "comment");
    QStringList comments = columnTexts(*table, comment);
    for (int r = 0; r < comments.size(); ++r)
      QCOMPARE(table->model()->index(r, 0).data(CommentRole).toString(), comments[r]);
    int line = table->rowHeight(0);
    QVERIFY(!table->inlineCommentsShown());
    QVERIFY(!table->isColumnHidden(int(comment)));

    pane->setInlineComments(true); // the session's preference
    QVERIFY(table->inlineCommentsShown());
    QCOMPARE(table->rowHeight(0), 2 * line);
    QVERIFY(table->isColumnHidden(int(comment)));
    QCOMPARE(table->model()->index(0, int(comment) - 1).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignLeft | Qt::AlignTop));
    selectRows(*table, {2});
    test::saveShot(*pane, "tablepane-inline-comments");

    table->runCommand(kCmdInlineComments); // this table chooses otherwise
    QVERIFY(!table->inlineCommentsShown());
    QCOMPARE(table->rowHeight(0), line);
    QVERIFY(!table->isColumnHidden(int(comment)));
    pane->setInlineComments(false); // the table's choice stays
    QVERIFY(!table->inlineCommentsShown());
    table->runCommand(kCmdInlineComments);
    QVERIFY(table->inlineCommentsShown());

    // A table window hands the preference to its panes, also to those added later.
    TableWindow window("Firewall");
    window.setInlineComments(true);
    window.addPane(createTablePane(rules.map, rules.type), "Filter");
    QVERIFY(tableOf(*window.pane(0))->inlineCommentsShown());
    window.setInlineComments(false);
    QVERIFY(!tableOf(*window.pane(0))->inlineCommentsShown());

    // The table's choice goes with its saved state.
    StringMap settings;
    SettingsRegistry registry;
    table->saveState(settings, registry);
    std::unique_ptr<TablePane> again(createTablePane(rules.map, rules.type));
    tableOf(*again)->loadState(settings, registry);
    QVERIFY(tableOf(*again)->inlineCommentsShown());
    QVERIFY(tableOf(*again)->isColumnHidden(int(comment)));
  }

  void iconAndColourMarkColumns() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    auto map = makeRef<LocalMap>();
    QPalette palette = QGuiApplication::palette();
    const std::vector<std::pair<ObjectColor, QVariant>> colours = {
        {ObjectColor{}, QVariant()}, // the default marks nothing
        {{ObjectColor::Kind::Rgb, 0x0000FF}, QColor(255, 0, 0)},
        {{ObjectColor::Kind::Rgb, 0x80FF00}, QColor(0, 255, 128)},
        {{ObjectColor::Kind::System, 13}, palette.color(QPalette::Highlight)},
        {{ObjectColor::Kind::System, 99}, palette.color(QPalette::WindowText)},
    };
    for (size_t i = 0; i < colours.size(); ++i)
      map->put(uint32_t(i + 1), Reference<IObject>(new MarkedObject(colours[i].first)));
    QPixmap dot(16, 16);
    dot.fill(Qt::blue);
    TableFeatures features;
    features.marks = true;
    features.icons = [dot](const IObject& o) { return o.getID() % 2 ? QIcon(dot) : QIcon(); };
    TableWidget table(Reference<MapBase>(map.get()), {}, features);
    table.tableModel().applyWaiting();
    QCOMPARE(table.model()->rowCount(), int(colours.size()));
    QVERIFY(!table.isColumnHidden(2) && !table.isColumnHidden(3));
    for (int r = 0; r < int(colours.size()); ++r) {
      QCOMPARE(table.model()->index(r, 3).data(Qt::BackgroundRole), colours[size_t(r)].second);
      QIcon icon = table.model()->index(r, 2).data(Qt::DecorationRole).value<QIcon>();
      QCOMPARE(icon.isNull(), r % 2 == 1);
    }
    TableWidget plain(Reference<MapBase>(map.get()), {});
    QVERIFY(plain.isColumnHidden(2) && plain.isColumnHidden(3));
    QVERIFY(!plain.model()->index(0, 2).data(Qt::DecorationRole).isValid());
  }

  // Up to 20 columns the header menu lists them; beyond, "Show Columns..." opens the dialog,
  // where columns are reordered and hidden and OK shows the choice.
  void columnsDialog() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    auto map = makeRef<LocalMap>();
    map->put(1, Reference<IObject>(new MarkedObject(ObjectColor{})));
    std::vector<TableColumn> columns;
    for (int i = 0; i < 21; ++i) {
      std::string name = i == 3 ? "Comment" : "Column " + std::to_string(i);
      columns.push_back({{name, 60, i != 5}, memberField(name, memberOf(&Mark::name))});
    }
    TableWidget wide(Reference<MapBase>(map.get()), columns);
    std::unique_ptr<QMenu> menu(wide.headerMenu(nullptr));
    QCOMPARE(menu->actions()[1]->text(), QString("Show Columns")); // 20 offered: still listed
    columns.push_back({{"Column 21", 60, true}, memberField("Column 21", memberOf(&Mark::name))});
    TableWidget wider(Reference<MapBase>(map.get()), columns);
    menu.reset(wider.headerMenu(nullptr));
    QCOMPARE(menu->actions()[1]->text(), QString("Show Columns..."));
    QVERIFY(!menu->actions()[1]->menu());

    wider.resize(700, 300);
    wider.show();
    menu->actions()[1]->trigger();
    auto* dialog = wider.findChild<TableColumnsDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Columns"));
    QListWidget* list = dialog->list();
    QCOMPARE(list->count(), 21); // not "Comment"
    QCOMPARE(list->item(5)->text(), QString("Column 6"));
    QCOMPARE(list->item(4)->checkState(), Qt::Unchecked); // "Column 5" starts hidden
    test::saveShot(*dialog, "table-columns-dialog");
    list->setCurrentRow(0);
    dialog->moveSelected(1);
    dialog->moveSelected(1);  // "Column 0" now third
    dialog->moveSelected(-5); // too far: stays
    list->item(4)->setCheckState(Qt::Checked);
    list->item(0)->setCheckState(Qt::Unchecked);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    size_t c0 = kSystemColumns, c1 = kSystemColumns + 1, c2 = kSystemColumns + 2;
    std::vector<size_t> order = wider.tableLayout().order();
    QCOMPARE(std::vector<size_t>(order.begin() + kSystemColumns, order.begin() + 8),
             (std::vector<size_t>{c1, c2, c0, kSystemColumns + 3}));
    QVERIFY(wider.isColumnHidden(int(c1)));
    QVERIFY(!wider.isColumnHidden(int(kSystemColumns + 5)));
    QCOMPARE(wider.horizontalHeader()->visualIndex(int(c0)), int(kSystemColumns) + 2);
  }
};

KESTEL_GUI_TEST(TablePaneToolsTest)

} // namespace kestel::gui

#include "TablePaneToolsTest.moc"
