// The loader ("nimbalux_connect"): the program's first window. The form ("Connect To:", "Login:",
// "Password:" with "Keep Password", "Session:" with "Browse...", "Note:", "Group:", "Hoplink
// Agent:", the check boxes), the tabs "Managed" (the address book through a table pane),
// "Neighbors" and "Hoplink Neighbors", the File and Tools menus with their command numbers, and
// the waiting panel that shows the connect flow's status with "Reconnect", "Upgrade" and
// "Cancel". What happens on Connect is app/LoaderFlow; this class connects it to Qt. A session
// that starts in this process goes to the session starter with its parameters and link.
#pragma once

#include "app/LoaderFlow.h"
#include "app/SessionLink.h"
#include "miw/Settings.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTableWidget;

namespace kestel {
class AddressBookStore;
class IHandler;
} // namespace kestel

namespace kestel::gui {

class TablePane;

inline constexpr const char* kLoaderTitle = "Kestel (64bit) v3.43";

// The menu entries' command numbers.
namespace loadercmd {
inline constexpr int kNew = 1000, kOpen = 1001, kSaveAs = 1002, kExit = 1004;
inline constexpr int kAdvancedMode = 1005, kLegacyMode = 1006, kZoomIn = 1007, kZoomOut = 1008;
inline constexpr int kImport = 1011, kExport = 1012, kExportWithoutPasswords = 1013;
inline constexpr int kMoveSessions = 1015, kClearCache = 1016, kCheckForUpdates = 1018;
inline constexpr int kShowCredits = 1020;
} // namespace loadercmd

class LoaderWindow final : public QMainWindow {
  Q_OBJECT
public:
  using SessionStarter = std::function<void(nv::message parameters, std::unique_ptr<SessionLink>)>;

  // `book`: the address-book store the managed list shows (null: the tab stays empty).
  LoaderWindow(Reactor& reactor, std::string appData, AddressBookStore* book,
               QWidget* parent = nullptr);
  ~LoaderWindow() override;

  void setSessionStarter(SessionStarter starter) { starter_ = std::move(starter); }
  // "Connect To All": starts a child loader with these parameters (default: this program with
  // "-" and the parameters on its standard input).
  void setChildStarter(std::function<Expected<void>(const nv::message&)> start);
  // "http://" addresses (default: `xdg-open`) and the program's end after them (default: quit).
  void setUrlOpener(std::function<void(const std::string&)> open);
  void setExit(std::function<void(int)> exit);
  // "Check For Updates" and "Upgrade" (the census and the upgrade handler live in the start-up).
  void setUpgrade(std::function<void()> upgrade) { upgrade_ = std::move(upgrade); }
  // The neighbour tabs' "Refresh" buttons.
  void setNeighbourRefresh(std::function<void()> refresh) {
    neighbourRefresh_ = std::move(refresh);
  }
  void setHoplinkRefresh(std::function<void()> refresh) { hoplinkRefresh_ = std::move(refresh); }

  // Fills the form from session parameters (the command line's or a hand-back's).
  void apply(const nv::message& parameters);
  // The address book was opened (the store's open reply).
  void bookOpened(const nv::message& openReply);
  // The form as it stands.
  LoaderForm form() const;
  // "Connect" with the form, or with `parameters` (the auto-connect).
  void connectForm();
  void connectWith(const nv::message& parameters);
  // "Connect To All" over the selected managed entries.
  size_t connectToAll();
  // Parameters with 1005: the disconnected panel.
  void showDisconnected(const nv::message& parameters);
  // Runs a menu command by number.
  void runCommand(int command);

  LoaderFlow& flow() { return *flow_; }
  QLineEdit* addressEdit() const { return address_; }
  QLineEdit* loginEdit() const { return login_; }
  QLineEdit* passwordEdit() const { return password_; }
  QCheckBox* keepPasswordBox() const { return keepPassword_; }
  QCheckBox* newWindowBox() const { return newWindow_; }
  QCheckBox* autoReconnectBox() const { return autoReconnect_; }
  QLabel* statusLabel() const { return status_; }
  QStackedWidget* panels() const { return panels_; }
  QTabWidget* tabs() const { return tabs_; }
  TablePane* managedPane() const { return managed_; }
  QTableWidget* neighbourTable() const { return neighbours_; }
  QTableWidget* hoplinkTable() const { return hoplinkNeighbours_; }
  QPushButton* button(const QString& text) const;
  QAction* commandAction(int command) const;

private:
  // The form and the modes in the loader's settings record.
  class Saver final : public IPersistent {
  public:
    explicit Saver(LoaderWindow& window) : window_(window) {}
    void loadState(const StringMap& settings) override;
    void saveState(StringMap& settings, uint32_t flags) override;

  private:
    LoaderWindow& window_;
  };

  void buildMenus();
  QWidget* buildForm();
  QWidget* buildWaitingPanel();
  QWidget* buildManagedTab();
  void phaseChanged(LoaderPhase phase);
  void statusChanged(const std::string& text);
  void startSession(Reference<ReadyStep> step, nv::message parameters);
  void addToBook();
  void askMasterPassword();
  void askBookFile(int command);
  void askExchangeFile(int command);
  void askSessionFile();
  void askSessionsFolder();
  void bookRequest(uint32_t command, nv::message request,
                   std::function<void(const nv::message&)> reply = nullptr);
  void switchManagedLayout(bool advanced);
  void updateTitle();
  // The "Session:" list from the sessions folder (the store's command 6).
  void refreshSessions();

  Reactor& reactor_;
  std::string appData_;
  AddressBookStore* book_;
  std::unique_ptr<LoaderFlow> flow_;
  SessionStarter starter_;
  std::function<Expected<void>(const nv::message&)> startChild_;
  std::function<void(const std::string&)> openUrl_;
  std::function<void(int)> exit_;
  std::function<void()> upgrade_, neighbourRefresh_, hoplinkRefresh_;
  Reference<IHandler> caller_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string masterPassword_;
  bool legacyMode_ = false;

  QLineEdit *address_, *login_, *password_, *note_, *group_, *agent_;
  QComboBox* session_;
  QCheckBox *keepPassword_, *autosave_, *newWindow_, *autoReconnect_;
  QLabel* status_;
  QLabel* waitingText_;
  QProgressBar* busy_;
  QStackedWidget* panels_;
  QTabWidget* tabs_;
  TablePane* managed_ = nullptr;
  QTableWidget* neighbours_;
  QTableWidget* hoplinkNeighbours_;
  std::vector<std::pair<int, QAction*>> actions_;
  Saver saver_{*this};
};

} // namespace kestel::gui
