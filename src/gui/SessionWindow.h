// The session window ("nimbalux_main"): one per logged-in router. It owns the session's link
// to the router from the loader on, and holds the launcher (the descriptor services as a tree
// beside the desktop), the MDI desktop with its window manager and every window opened from the
// launcher, the title and status bar fed from the router, safe mode, Undo and Redo, the session
// file and the change log that windows opened in the session commit through.
//
// What it decides without a screen lives in app/ (Launcher, SessionServices, SessionState,
// SessionTexts, SessionEnd, SafeMode, RouterIdentity, StatusFeed, DefaultConfig); this class
// wires those to Qt. Windows of kinds other than tables and terminals are made by openers the
// program registers (setTypeOpener); a kind without one tells the user so.
#pragma once

// Only light core headers here: the model's and the maps' headers cannot follow Qt's (its
// keyword macros), and moc compiles this header after others.
#include "api/net/Reactor.h"
#include "api/wire/Message.h"
#include "app/SessionState.h"
#include "gui/Icons.h"
#include "gui/SessionDesktop.h"
#include "gui/WindowContext.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace kestel {
class CService;
class CType;
class CMap;
class ChangeLog;
class DefaultConfig;
class RouterIdentity;
class SafeMode;
class SessionLink;
class StatusBar;
class StatusFeed;
class UndoRedo;
enum class ConnectionLoss;
enum class TypeKind;
struct DefaultConfigNote;
struct LauncherEntry;
struct SearchHit;
struct SessionTitle;
class OpenTableValues;
} // namespace kestel

namespace kestel::gui {

class Desktop;
class LauncherSearchBox;
class TablePane;

// Command numbers of the session window's menus and toolbar.
namespace session_cmd {
inline constexpr int kOpen = 100, kSave = 101, kSaveAs = 102, kAutosave = 104;
inline constexpr int kInlineComments = 105, kHidePasswords = 106, kZoomIn = 108, kZoomOut = 109;
inline constexpr int kExit = 111, kDisconnect = 112, kSession = 113, kCloseAll = 115;
inline constexpr int kSafeMode = 416, kUndo = 417, kRedo = 418;
inline constexpr int kChanges = 116;   // the session's change list
inline constexpr int kDashboard = 117; // the monitor applets
} // namespace session_cmd

// The login reply's flag that asks the user to change the password; the loader copies it into
// the session parameters under the same key.
inline constexpr nv::bool_id kPasswordChangeDue{38};

class SessionWindow final : public QMainWindow, public IPersistent {
  Q_OBJECT
public:
  using TypeOpener = std::function<QWidget*(CType& type, const WindowContext& context)>;
  // Starts a program (the hand-back to a new loader, "New Kestel"); `parameters` null: none.
  using ProcessStarter =
      std::function<bool(const std::vector<std::string>& arguments, const nv::message* parameters)>;

  SessionWindow(nv::message parameters, std::unique_ptr<SessionLink> link,
                QWidget* parent = nullptr);
  ~SessionWindow() override;

  // Who makes the windows of item, action, query, doit and setup types.
  void setTypeOpener(TypeKind kind, TypeOpener opener);
  void setEditorOpener(IObjectEditorOpener* opener);
  // Replaces starting this program again (tests); by default the program's own executable runs.
  void setProcessStarter(ProcessStarter starter) { starter_ = std::move(starter); }

  // The layout above and around the launcher tree: a search box goes in with insertWidget(0,…).
  QVBoxLayout* launcherArea() const { return launcherArea_; }
  QTreeWidget* launcherTree() const { return launcher_; }
  // Above the launcher: finds menus, fields and the values of open tables.
  LauncherSearchBox* searchBox() const { return searchBox_; }
  QMenu* sessionMenu() const { return sessionMenu_; }
  QMenu* settingsMenu() const { return settingsMenu_; }
  // The action of a command number (session_cmd); null for an unknown number.
  QAction* action(int command) const;
  Desktop& desktop() const { return desktop_->desktop(); }
  SessionDesktop& sessionDesktop() const { return *desktop_; }
  ChangeLog& changeLog() { return *changes_; }
  WindowContext context() const;
  SafeMode& safeMode() { return *safeMode_; }
  SettingsRegistry& settings() { return settings_; }

  const SessionFlags& flags() const { return flags_; }
  bool inlineComments() const { return flags_.inlineComments; }
  bool hidePasswords() const { return flags_.hidePasswords; }
  bool autosave() const { return autosave_; }
  // Tells every change of Inline Comments (the open tables follow it).
  void setInlineCommentsListener(std::function<void(bool)> listener) {
    inlineListener_ = std::move(listener);
  }
  const std::string& sessionPath() const { return sessionPath_; }
  // The status bar's field texts ("Time", "Date", "CPU Load", "Free Memory", "Uptime") and the
  // connection status line.
  QString statusField(const std::string& name) const;
  QString connectionStatus() const;

  // Builds the launcher again from the services, the router's facts and the skin.
  void rebuildLauncher();
  // Opens the window of a launcher line (what a click does).
  void openEntry(const LauncherEntry& entry);
  // The window of `service`, raised when open; `pane` selects a tab of a table window.
  QWidget* openService(CService& service, size_t pane = 0);

  // Session files: open, save (to the current file; Save As when there is none), save as.
  bool loadSession(const std::string& path);
  bool saveSession(const std::string& path = {});
  void openSessionDialog();
  void saveSessionAsDialog();

  // Disconnect (112): the user ends the session and gets a loader that waits.
  void disconnectSession();

  void saveState(StringMap& settings, uint32_t flags) override;
  void loadState(const StringMap& settings) override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  class QuitAnswer;

  void buildMenus();
  void buildLauncherPanel();
  void buildStatusBar();
  QAction* addCommand(QMenu* menu, int command, const QString& text);
  void startServices();
  void askRouter();
  void showDefaultConfig(const DefaultConfigNote& note);
  void promptPasswordChange();
  void updateTitle(const SessionTitle& title);
  void updateStatusFields();
  void setZoomStep(int step);
  void applyFlags();
  void refreshSessionChoice();
  void chooseSession(int index);
  QWidget* makeServiceContent(const std::string& key, QString& title);
  void onSearchHit(const SearchHit& hit);
  // A table pane's rows join the values the search box finds until the pane goes.
  void searchTable(TablePane& pane, const std::string& key, size_t index, const std::string& menu);
  // Asks which value of the pane's selected object to follow, then adds its monitor to the
  // dashboard.
  void addToDashboard(TablePane& pane, const CMap& type);
  void onConnectionLost(const std::string& reason);
  void endSession(ConnectionLoss loss);
  // The session is over: the holders, the timer, the windows and the link go.
  void stopSession();
  int64_t nowSeconds() const;

  nv::message parameters_;
  std::unique_ptr<SessionLink> link_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unique_ptr<ChangeLog> changes_;
  std::unique_ptr<SafeMode> safeMode_;
  std::unique_ptr<UndoRedo> undoRedo_;
  std::unique_ptr<RouterIdentity> identity_;
  std::unique_ptr<StatusBar> statusBar_;
  std::unique_ptr<StatusFeed> statusFeed_;
  std::unique_ptr<DefaultConfig> defaultConfig_;
  IconProvider icons_;
  SettingsRegistry settings_; // the session file's records; the desktop's windows keep theirs here
  std::unique_ptr<SessionDesktop> desktop_;
  Reactor::TimerId uptimeTimer_ = 0;
  QMenu* sessionMenu_ = nullptr;
  QMenu* settingsMenu_ = nullptr;
  QMenu* windowsMenu_ = nullptr;
  QVBoxLayout* launcherArea_ = nullptr;
  QTreeWidget* launcher_ = nullptr;
  LauncherSearchBox* searchBox_ = nullptr;
  std::unique_ptr<OpenTableValues> tableValues_;
  struct OpenTable {
    std::string key; // the service window's key
    size_t pane = 0;
  };
  std::map<const void*, OpenTable> openTables_; // by the pane's map
  QComboBox* sessionChoice_ = nullptr;
  std::vector<LauncherEntry> launcherEntries_; // item data indexes into it (complete in .cpp)
  std::map<int, QAction*> actions_;
  std::map<std::string, QLabel*> fields_;
  QLabel* connectionLabel_ = nullptr;
  std::map<TypeKind, TypeOpener> typeOpeners_;
  IObjectEditorOpener* editors_ = nullptr;
  size_t pendingPane_ = 0; // the tab an alias asked for, while its window is made
  ProcessStarter starter_;
  std::function<void(bool)> inlineListener_;
  SessionFlags flags_;
  bool autosave_ = true;
  std::string sessionPath_;
  std::string sessionName_;
  bool established_ = false;
  bool closing_ = false;
  bool quitConfirmed_ = false;
  bool ended_ = false;
};

} // namespace kestel::gui
