// A table pane on screen: any item view (the table widget, or any QAbstractItemView whose model
// answers ObjectIdRole) with the pane's toolbar, context menu, keyboard commands and status bar,
// over one object map. The decisions live in miw (TablePaneCommands, TablePaneActions,
// TablePaneState, TableExport, NamedViews); this class wires them to Qt. When the map has a
// status text (a fetch that failed, "too many objects to show") the text stands in place of the
// table until the map is healthy again.
#pragma once

#include "gui/Toolkit.h"
#include "miw/NamedViews.h"
#include "miw/TablePaneCommands.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemView;
class QAction;
class QLabel;
class QMenu;
class QStackedWidget;
class QStatusBar;
class QToolBar;
class QToolButton;

namespace kestel {
// Not included here: the map's header declares emit(), which Qt's keyword of that name breaks
// in every file that includes Qt first (moc's output among them).
class ObjectMap;
class TablePaneActions;
class IObjectEditorOpener;
struct AddVariant;
} // namespace kestel

namespace kestel::gui {

inline constexpr const char* kTablePaneName = "nimbalux_tablepane";

// A view's columns, sort and filters as a named view stores them.
class ITableViewState {
public:
  virtual ~ITableViewState() = default;
  virtual StringMap saveView() const = 0;
  virtual void loadView(const StringMap& view) = 0;
};

// An extra command of the map's descriptor, shown after the pane's own in the context menu.
struct ExtraCommand {
  std::string label;
  std::function<void()> run;
};

enum class ExportFormat { Csv, Json };

class TablePane final : public QWidget, public ICopyHooks, public IPasteHooks {
  Q_OBJECT
public:
  // `type` is the map's descriptor type (null: none, so no Enable, Disable or Comment);
  // `withCommands`: toolbar, keyboard commands and command menu entries; `bare`: no status bar.
  TablePane(Reference<ObjectMap> map, const CType* type, bool withCommands, bool bare,
            QWidget* parent = nullptr);
  ~TablePane() override;

  // Shows `view` (the pane takes it); its model's rows carry ObjectIdRole. `state` is how named
  // views read and set its layout (null: a QTableView's or QTreeView's header, else none).
  void setView(QAbstractItemView* view, ITableViewState* state = nullptr);
  QAbstractItemView* view() const { return view_; }
  // Shows `bar` (a filter bar, a find field) between the toolbar and the view; the pane takes it.
  void addBar(QWidget* bar);
  ObjectMap& map() const;
  TablePaneActions& actions() { return *actions_; }

  void setOpener(IObjectEditorOpener* opener);
  void setAddVariants(std::vector<AddVariant> variants);
  void setExtraCommands(std::vector<ExtraCommand> commands);
  // The table's filter row and freezing; the commands are offered only when set. `state` tells
  // whether the filter row is shown (the table is frozen) now: the table is the one place that
  // knows, so the toggle buttons follow it whoever changed it (call tableStateChanged() then).
  // Without it the pane keeps what its own commands set.
  void setFilterHook(std::function<void(bool shown)> hook, std::function<bool()> state = {});
  void setFreezeHook(std::function<void(bool frozen)> hook, std::function<bool()> state = {});
  // The table's filter rows, freezing or view flags changed: the buttons and status bar follow.
  void tableStateChanged() { refresh(); }
  // Shows the table's find field at the end of the toolbar (above the table in a pane without
  // commands); the pane takes it.
  void addFindField(QWidget* field);
  // The session-wide inline-comments preference, for tables that show comments (a table may
  // override it with its own choice).
  void setInlineComments(bool on);
  // The table kind named views are kept under (default: the map's type text, else its path).
  void setViewKind(std::string kind);

  // Runs a command as its button, key or menu entry does.
  void run(PaneCommand command, size_t variant = 0);
  PaneFacts facts() const;
  // The object ids of the selected rows, in display order.
  std::vector<uint32_t> selectedIds() const;
  void selectObject(uint32_t id);

  QToolBar* toolBar() const { return toolBar_; }
  QAction* action(PaneCommand command) const;
  // The context menu as it would open now (the caller owns it).
  QMenu* contextMenu();
  // The status bar's texts joined by " | " (empty parts left out); "" for a bare pane.
  QString statusText() const;
  // The map's status text shown in place of the table, "" while the table is shown.
  QString mapStatusShown() const;

  // Writes the visible rows; on failure the message box shows why and false is returned.
  bool exportTo(const QString& path, ExportFormat format);
  // Named views of this pane's table kind.
  NamedViews namedViews() const;
  Expected<void> saveNamedView(const std::string& name);
  bool recallNamedView(const std::string& name);

  // The pane's record: "sel" (the current or first selected object).
  void saveState(StringMap& settings) const;
  // Selects the object "sel" names now, or when its row arrives.
  void loadState(const StringMap& settings);

  // Copy: the selected rows as tab-separated text and, for Paste, as objects of this table kind.
  void fillData(QMimeData& data) override;
  // Paste takes rows of this table kind copied by this process: field ids of a kind may mean
  // other things on another router, so rows of another process are not taken.
  bool canPaste(const QMimeData& data) override;
  void paste(const QMimeData& data, bool localCopy) override;

signals:
  void commandsChanged();

private:
  class MapListener;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void buildToolBar();
  void refresh();
  void readClipboard();
  void showContextMenu(const QPoint& at);
  void askExportPath();
  void rebuildViewsMenu();
  void applyPendingSelection();
  size_t selectedCount() const;

  Reference<ObjectMap> map_;
  const CType* type_;
  bool withCommands_;
  bool bare_;
  std::unique_ptr<TablePaneActions> actions_;
  Reference<MapListener> listener_;
  QAbstractItemView* view_ = nullptr;
  ITableViewState* viewState_ = nullptr;
  std::unique_ptr<ITableViewState> headerState_;
  QStackedWidget* stack_;
  QLabel* mapStatus_;
  QToolBar* toolBar_ = nullptr;
  QToolButton* viewsButton_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QLabel* items_ = nullptr;
  QLabel* state_ = nullptr;
  QLabel* operation_ = nullptr;
  std::map<PaneCommand, QAction*> actionsByCommand_;
  std::vector<ExtraCommand> extras_;
  std::function<void(bool)> filterHook_;
  std::function<void(bool)> freezeHook_;
  std::function<bool()> filterState_;
  std::function<bool()> freezeState_;
  bool filterShown_ = false;
  bool frozen_ = false;
  std::string viewKind_;
  uint32_t pendingSelection_ = kNoId;
  bool pasteReady_ = false; // the clipboard holds rows this pane takes
  bool inlineComments_ = false;
};

} // namespace kestel::gui
