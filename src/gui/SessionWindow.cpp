// The descriptor model's headers and the window manager's cannot meet in one file (both name an
// object provider): this file uses the model and reaches the desktop through SessionDesktop.
// The core's headers first: Qt's keyword macros must not meet them.
#include "app/ChangeLog.h"
#include "app/Dashboard.h"
#include "app/DefaultConfig.h"
#include "app/RouterIdentity.h"
#include "app/SafeMode.h"
#include "app/SessionEnd.h"
#include "app/SessionLink.h"
#include "app/StatusFeed.h"
#include "gen/Slot.h"

#include "api/container/MapFactories.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/AppPaths.h"
#include "app/CacheFolders.h"
#include "app/CommandLine.h"
#include "app/ConnectAddress.h"
#include "app/HandOff.h"
#include "app/Launcher.h"
#include "app/LauncherSearch.h"
#include "app/OpenTableValues.h"
#include "app/SessionServices.h"
#include "app/TerminalSession.h"
#include "miw/FormSlots.h"
#include "miw/SessionFiles.h"
#include "util/Log.h"

#include "gui/ChangesWindow.h"
#include "gui/DashboardWindow.h"
#include "gui/LauncherSearchBox.h"
#include "gui/SessionWindow.h"
#include "gui/TableWidget.h"
#include "gui/TableWidgetPane.h"
#include "gui/TableWindow.h"
#include "gui/TerminalPane.h"
#include "gui/Toolkit.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace kestel::gui {
namespace {

// The Changes window's key on the desktop: no service key starts with "*".
const std::string kChangesKey = "*changes";
const std::string kDashboardKey = "*dashboard";
const char* const kAddToDashboardText = "Add to Dashboard...";

constexpr const char* kSessionTitle = "Kestel";
constexpr const char* kDefaultConfigDialogName = "nimbalux_defconf";

IconSources iconSources(const SessionLink* link) {
  IconSources sources;
  if (link && link->cache()) {
    const LoadedDescriptors& loaded = link->cache()->loaded();
    sources.downloaded = {loaded.icons16, loaded.icons24, loaded.icons32};
  }
  return sources;
}

const char* kindName(TypeKind kind) {
  switch (kind) {
  case TypeKind::Map:
    return "table";
  case TypeKind::Item:
    return "settings";
  case TypeKind::Setup:
    return "setup";
  case TypeKind::Action:
    return "action";
  case TypeKind::Query:
    return "query";
  case TypeKind::Doit:
    return "command";
  case TypeKind::Terminal:
    return "terminal";
  case TypeKind::Alias:
  case TypeKind::Plain:
    break;
  }
  return "other";
}

// Calls `then` with the answer of a box while the window lives.
class AnswerCall final : public EventListener {
public:
  AnswerCall(std::weak_ptr<bool> owner, std::function<void(Answer)> then)
      : owner_(std::move(owner)), then_(std::move(then)) {}
  void onEvent(Event& event) override {
    Answer answer;
    if (answerOf(event, answer) && !owner_.expired() && then_)
      std::exchange(then_, nullptr)(answer);
  }

private:
  std::weak_ptr<bool> owner_;
  std::function<void(Answer)> then_;
};

} // namespace

SessionWindow::SessionWindow(nv::message parameters, std::unique_ptr<SessionLink> link,
                             QWidget* parent)
    : QMainWindow(parent), parameters_(std::move(parameters)), link_(std::move(link)),
      changes_(std::make_unique<ChangeLog>()),
      undoRedo_(std::make_unique<UndoRedo>(changes_.get())),
      statusBar_(std::make_unique<StatusBar>()), defaultConfig_(std::make_unique<DefaultConfig>()),
      icons_(iconSources(link_.get())) {
  logLine("MainWindow::start");
  setObjectName(kMainWindowName);
  tableValues_ = std::make_unique<OpenTableValues>();
  safeMode_ = std::make_unique<SafeMode>(
      [this](bool on) {
        if (QAction* a = action(session_cmd::kSafeMode)) {
          QSignalBlocker block(a);
          a->setChecked(on);
        }
      },
      changes_.get());
  buildMenus();
  buildLauncherPanel();
  buildStatusBar();
  resize(1100, 720);

  SessionTitle title;
  title.login = parameters_.get(param::kLogin);
  title.address = parameters_.get(param::kAddress);
  if (parameters_.has(param::kHoplink))
    title.agent = parameters_.get(param::kHoplink).get(param::kAddress);
  updateTitle(title);
  identity_ = std::make_unique<RouterIdentity>(title, [this](const SessionTitle& t) {
    updateTitle(t);
    if (identity_ && identity_->waiting() == 0)
      connectionLabel_->clear();
  });

  settings_.setMainWindow(this);
  settings_.registerPersistent(this, this);
  established_ = link_ && link_->isOpen();
  if (link_) {
    std::weak_ptr<bool> alive = alive_;
    link_->setOnClosed([this, alive](const std::string& reason) {
      if (!alive.expired())
        onConnectionLost(reason);
    });
  }
  uptimeTimer_ = currentReactor().addTimer(
      1000, [this] { updateStatusFields(); }, true);
  // The start steps run once the maker of the window has registered its openers.
  std::weak_ptr<bool> alive = alive_;
  currentReactor().post([this, alive] {
    if (alive.expired() || ended_)
      return;
    startServices();
    askRouter();
  });
}

SessionWindow::~SessionWindow() {
  logLine("~MainWindow");
  *alive_ = false;
  alive_.reset();
  if (uptimeTimer_)
    currentReactor().removeTimer(uptimeTimer_);
  settings_.unregisterPersistent(this);
  settings_.setMainWindow(nullptr);
  statusFeed_.reset();
  desktop_.reset(); // the windows go before the session they use
  safeMode_.reset();
  if (link_)
    link_->close();
  logLine("~MainWindow done");
}

// ---- building

QAction* SessionWindow::addCommand(QMenu* menu, int command, const QString& text) {
  auto* a = new QAction(text, this);
  a->setData(command);
  if (menu)
    menu->addAction(a);
  actions_[command] = a;
  return a;
}

QAction* SessionWindow::action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void SessionWindow::buildMenus() {
  using namespace session_cmd;
  sessionMenu_ = menuBar()->addMenu("Session");
  addCommand(sessionMenu_, kOpen, "Open...");
  addCommand(sessionMenu_, kSave, "Save")->setShortcut(QKeySequence::Save);
  addCommand(sessionMenu_, kSaveAs, "Save As...");
  sessionMenu_->addSeparator();
  QAction* autosave = addCommand(sessionMenu_, kAutosave, "Autosave on Close");
  autosave->setCheckable(true);
  autosave->setChecked(autosave_);
  sessionMenu_->addSeparator();
  addCommand(sessionMenu_, kCloseAll, "Close All Windows");
  addCommand(sessionMenu_, kChanges, "Changes...");
  addCommand(sessionMenu_, kDashboard, "Dashboard");
  sessionMenu_->addSeparator();
  addCommand(sessionMenu_, kDisconnect, "Disconnect");
  addCommand(sessionMenu_, kExit, "Exit");

  settingsMenu_ = menuBar()->addMenu("Settings");
  addCommand(settingsMenu_, kInlineComments, "Inline Comments")->setCheckable(true);
  addCommand(settingsMenu_, kHidePasswords, "Hide Passwords")->setCheckable(true);
  settingsMenu_->addSeparator();
  addCommand(settingsMenu_, kZoomIn, "Zoom In")->setShortcut(QKeySequence("Ctrl+="));
  addCommand(settingsMenu_, kZoomOut, "Zoom Out")->setShortcut(QKeySequence("Ctrl+-"));
  windowsMenu_ = menuBar()->addMenu("Windows");

  QToolBar* bar = addToolBar("Session");
  bar->setObjectName("nimbalux_session_toolbar");
  bar->setMovable(false);
  QAction* safe = addCommand(nullptr, kSafeMode, "Safe Mode");
  safe->setCheckable(true);
  bar->addAction(safe);
  bar->addAction(addCommand(nullptr, kUndo, "Undo"));
  bar->addAction(addCommand(nullptr, kRedo, "Redo"));
  bar->addSeparator();
  bar->addWidget(new QLabel("Session:  ", bar));
  sessionChoice_ = new QComboBox(bar);
  sessionChoice_->setMinimumContentsLength(16);
  sessionChoice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  QAction* choice = bar->addWidget(sessionChoice_);
  choice->setData(kSession);
  actions_[kSession] = choice;

  connect(action(kOpen), &QAction::triggered, this, [this] { openSessionDialog(); });
  connect(action(kSave), &QAction::triggered, this, [this] { saveSession(); });
  connect(action(kSaveAs), &QAction::triggered, this, [this] { saveSessionAsDialog(); });
  connect(autosave, &QAction::toggled, this, [this](bool on) { autosave_ = on; });
  connect(action(kCloseAll), &QAction::triggered, this, [this] { desktop_->closeAll(); });
  connect(action(kChanges), &QAction::triggered, this, [this] { desktop_->open(kChangesKey); });
  connect(action(kDashboard), &QAction::triggered, this, [this] { desktop_->open(kDashboardKey); });
  connect(action(kDisconnect), &QAction::triggered, this, [this] { disconnectSession(); });
  connect(action(kExit), &QAction::triggered, this, [this] { close(); });
  connect(action(kInlineComments), &QAction::toggled, this, [this](bool on) {
    flags_.inlineComments = on;
    if (inlineListener_)
      inlineListener_(on);
  });
  connect(action(kHidePasswords), &QAction::toggled, this,
          [this](bool on) { flags_.hidePasswords = on; });
  connect(action(kZoomIn), &QAction::triggered, this, [this] { setZoomStep(flags_.zoomStep + 1); });
  connect(action(kZoomOut), &QAction::triggered, this,
          [this] { setZoomStep(flags_.zoomStep - 1); });
  connect(safe, &QAction::triggered, this, [this](bool on) {
    on ? safeMode_->enable() : safeMode_->disable();
    // Off waits for the router: the toggle shows what holds until it has answered.
    QSignalBlocker block(action(session_cmd::kSafeMode));
    action(session_cmd::kSafeMode)->setChecked(safeMode_->on());
  });
  connect(action(kUndo), &QAction::triggered, this, [this] { undoRedo_->undo(); });
  connect(action(kRedo), &QAction::triggered, this, [this] { undoRedo_->redo(); });
  connect(sessionChoice_, &QComboBox::activated, this, [this](int index) { chooseSession(index); });
}

void SessionWindow::buildLauncherPanel() {
  auto* split = new QSplitter(Qt::Horizontal, this);
  auto* panel = new QWidget(split);
  panel->setObjectName("nimbalux_launcher");
  launcherArea_ = new QVBoxLayout(panel);
  launcherArea_->setContentsMargins(0, 0, 0, 0);
  launcherArea_->setSpacing(2);
  launcher_ = new QTreeWidget(panel);
  launcher_->setHeaderHidden(true);
  launcher_->setRootIsDecorated(true);
  launcher_->setIndentation(14);
  launcher_->setIconSize(QSize(16, 16));
  launcherArea_->addWidget(launcher_, 1);
  auto open = [this](QTreeWidgetItem* item) {
    bool ok = false;
    size_t index = item->data(0, Qt::UserRole).toULongLong(&ok);
    if (ok && index < launcherEntries_.size())
      openEntry(launcherEntries_[index]);
  };
  connect(launcher_, &QTreeWidget::itemClicked, this, open);
  connect(launcher_, &QTreeWidget::itemActivated, this, open);

  desktop_ = std::make_unique<SessionDesktop>(
      split, windowsMenu_, [this](unsigned n) { return icons_.icon(n); },
      [this](const std::string& key, QString& title) { return makeServiceContent(key, title); },
      settings_);
  split->addWidget(panel);
  split->addWidget(desktop_->widget());
  split->setStretchFactor(1, 1);
  split->setSizes({200, 900});
  setCentralWidget(split);
}

void SessionWindow::buildStatusBar() {
  connectionLabel_ = new QLabel(this);
  statusBar()->addWidget(connectionLabel_, 1);
  for (const char* name : StatusBar::kFields) {
    auto* label = new QLabel(this);
    label->setToolTip(name);
    label->hide();
    statusBar()->addPermanentWidget(label);
    fields_[name] = label;
  }
}

void SessionWindow::rebuildLauncher() {
  launcher_->clear();
  launcherEntries_.clear();
  std::vector<LauncherItem> items = kestel::buildLauncher();
  delete searchBox_;
  searchBox_ = new LauncherSearchBox(std::make_unique<LauncherSearch>(items, tableValues_.get()),
                                     [this](const SearchHit& hit) { onSearchHit(hit); });
  launcherArea_->insertWidget(0, searchBox_); // its own height; the launcher takes the rest
  auto add = [this](QTreeWidgetItem* item, const LauncherEntry& entry) {
    item->setText(0, qs(entry.text));
    if (entry.icon)
      item->setIcon(0, icons_.icon(entry.icon));
    item->setData(0, Qt::UserRole, qulonglong(launcherEntries_.size()));
    launcherEntries_.push_back(entry);
  };
  for (const LauncherItem& line : items) {
    auto* item = new QTreeWidgetItem(launcher_);
    if (!line.isGroup()) {
      add(item, line.entry);
      continue;
    }
    item->setText(0, qs(line.entry.text));
    if (line.entry.icon)
      item->setIcon(0, icons_.icon(line.entry.icon));
    item->setFlags(Qt::ItemIsEnabled);
    for (const LauncherEntry& entry : line.entries)
      add(new QTreeWidgetItem(item), entry);
  }
}

// ---- start

void SessionWindow::startServices() {
  logLine("startServices");
  rebuildLauncher();
  logLine("loading all settings");
  std::string name = parameters_.has(param::kCommandLineSession)
                         ? parameters_.get(param::kCommandLineSession)
                         : parameters_.get(param::kChosenSession);
  if (name.empty())
    name = kOwnSession;
  sessionName_ = name;
  std::string host = parameters_.get(param::kAddress);
  if (std::optional<std::string> path =
          sessionFilePath(name, host, sessionsFolder(appDataFolder())))
    loadSession(*path);
  refreshSessionChoice();
  logLine("startServices done");
}

void SessionWindow::askRouter() {
  std::string address = parameters_.get(param::kAddress);
  uint16_t port = 8291;
  if (auto parsed = parseConnectAddress(address)) {
    if (parsed->port)
      port = uint16_t(parsed->port);
    address = parsed->host;
  }
  connectionLabel_->setText(
      qs(connectionStatusText(ConnectionPhase::RetrievingPreferences, address, port)));
  identity_->start();
  statusFeed_ = std::make_unique<StatusFeed>(
      *statusBar_, [this] { return nowSeconds(); }, [this] { updateStatusFields(); });
  statusFeed_->start();
  std::weak_ptr<bool> alive = alive_;
  defaultConfig_->ask([this, alive](const DefaultConfigNote& note) {
    if (!alive.expired())
      showDefaultConfig(note);
  });
  if (parameters_.get(kPasswordChangeDue))
    promptPasswordChange();
}

void SessionWindow::promptPasswordChange() {
  CService* service = getService("System", "Password");
  if (!service || !service->offered())
    return;
  for (const auto& type : service->types()) {
    if (type->title() != "Change Now")
      continue;
    auto it = typeOpeners_.find(type->kind());
    QWidget* content = it == typeOpeners_.end() ? nullptr : it->second(*type, context());
    if (content)
      desktop_->openPlain(content, qs(type->title()));
    return;
  }
}

void SessionWindow::showDefaultConfig(const DefaultConfigNote& note) {
  auto* box = new QDialog(this);
  box->setObjectName(kDefaultConfigDialogName);
  box->setWindowTitle(kDefaultConfigTitle);
  box->setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(box);
  auto* text = new QLabel(qs(note.note + "\n\n" + kDefaultConfigExplanation), box);
  text->setWordWrap(true);
  text->setMinimumWidth(420);
  layout->addWidget(text);
  // The buttons in the order the note's paragraph names them.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* remove = new QPushButton("Remove Configuration", box);
  auto* script = new QPushButton("Show Script...", box);
  auto* ok = new QPushButton("OK", box);
  ok->setDefault(true);
  for (QPushButton* b : {remove, script, ok})
    buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, box, &QDialog::accept);
  connect(script, &QPushButton::clicked, this,
          [this, text = note.script] { showBigMessageBox(this, kDefaultConfigTitle, text); });
  connect(remove, &QPushButton::clicked, box, [this, box] {
    defaultConfig_->remove();
    box->accept();
  });
  box->open();
}

void SessionWindow::updateTitle(const SessionTitle& title) {
  setWindowTitle(qs(sessionTitleText(title)));
}

int64_t SessionWindow::nowSeconds() const { return currentReactor().now() / 1000; }

void SessionWindow::updateStatusFields() {
  const int64_t now = nowSeconds();
  for (auto& [name, label] : fields_) {
    std::string value = statusBar_->field(name, now);
    label->setText(qs(name + ": " + value));
    label->setVisible(!value.empty());
  }
}

QString SessionWindow::statusField(const std::string& name) const {
  return qs(statusBar_->field(name, nowSeconds()));
}

QString SessionWindow::connectionStatus() const { return connectionLabel_->text(); }

// ---- windows

void SessionWindow::setTypeOpener(TypeKind kind, TypeOpener opener) {
  typeOpeners_[kind] = std::move(opener);
}

void SessionWindow::setEditorOpener(IObjectEditorOpener* opener) { editors_ = opener; }

WindowContext SessionWindow::context() const {
  return WindowContext{&desktop_->desktop(), changes_.get(), editors_};
}

void SessionWindow::openEntry(const LauncherEntry& entry) {
  switch (entry.kind) {
  case LauncherEntry::Kind::NewInstance:
    if (starter_) {
      starter_({"kestel"}, nullptr);
    } else if (auto self = ownProgramPath()) {
      (void)startNewInstance(*self);
    }
    return;
  case LauncherEntry::Kind::Service:
    if (entry.service)
      openService(*entry.service);
    return;
  case LauncherEntry::Kind::Alias:
    if (entry.alias) {
      Expected<AliasTarget> target = aliasTarget(*entry.alias);
      if (!target)
        showMessageBox(this, kSessionTitle, target.error().text, nullptr);
      else
        openService(*target->service, target->pane);
    }
    return;
  case LauncherEntry::Kind::Group:
    return;
  }
}

QWidget* SessionWindow::openService(CService& service, size_t pane) {
  pendingPane_ = pane;
  QWidget* content = desktop_->open(serviceKey(service));
  if (auto* tables = qobject_cast<TableWindow*>(content); tables && int(pane) < tables->paneCount())
    tables->setActivePane(int(pane));
  pendingPane_ = 0;
  return content;
}

QWidget* SessionWindow::makeServiceContent(const std::string& key, QString& title) {
  if (key == kChangesKey) {
    title = "Changes";
    return new ChangesWindow(*changes_, *undoRedo_);
  }
  if (key == kDashboardKey) {
    title = kDashboardTitle;
    return createDashboardWindow(context());
  }
  CService* service = serviceByKey(key);
  if (!service)
    return nullptr;
  title = qs(service->title.empty() ? service->name : service->title);
  const ServiceContents contents = serviceContents(*service);
  if (!contents.maps.empty()) {
    auto* window = new TableWindow(ss(title), settings_);
    for (CMap* map : contents.maps) {
      Reference<ObjectMap> live = createContainer(*map);
      if (!live)
        continue;
      live->open();
      TablePane* pane = createTablePane(live, map);
      pane->setOpener(editors_);
      searchTable(*pane, key, size_t(window->paneCount()), ss(title) + "/" + map->title());
      pane->setExtraCommands(
          {ExtraCommand{kAddToDashboardText, [this, pane, map] { addToDashboard(*pane, *map); }}});
      window->addPane(pane, map->title());
    }
    if (int(pendingPane_) < window->paneCount())
      window->setActivePane(int(pendingPane_));
    registerPersistent(window, window, settings_);
    return window;
  }
  if (!contents.other) {
    showMessageBox(this, kSessionTitle, ss(title) + " has nothing to show on this router.",
                   nullptr);
    return nullptr;
  }
  CType& type = *contents.other;
  if (type.kind() == TypeKind::Terminal) {
    auto* terminal = new TerminalPane(currentReactor(), ss(title));
    terminal->open(parameters_.get(param::kLogin), TerminalTarget{});
    return terminal;
  }
  auto it = typeOpeners_.find(type.kind());
  if (it == typeOpeners_.end() || !it->second) {
    showMessageBox(this, kSessionTitle,
                   "\"" + ss(title) + "\" cannot be opened: this version of Kestel has no " +
                       kindName(type.kind()) + " windows.",
                   nullptr);
    return nullptr;
  }
  return it->second(type, context());
}

// ---- the dashboard

void SessionWindow::addToDashboard(TablePane& pane, const CMap& type) {
  std::vector<uint32_t> ids = pane.selectedIds();
  if (ids.empty()) {
    showMessageBox(this, kDashboardTitle, "Select the object to monitor first.", nullptr);
    return;
  }
  std::vector<const Slot*> fields = formSlots(type);
  QStringList names;
  for (const Slot* slot : fields)
    names << qs(slot->titleText().empty() ? slot->name() : slot->titleText());
  auto* dialog = new QInputDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(kAddToDashboardText);
  dialog->setLabelText("Value to monitor:");
  dialog->setComboBoxItems(names);
  Reference<ObjectMap> map(&pane.map());
  uint32_t id = ids.front();
  connect(dialog, &QInputDialog::textValueSelected, this,
          [this, fields, names, map, id, &type](const QString& chosen) {
            qsizetype i = names.indexOf(chosen);
            if (i < 0)
              return;
            Expected<size_t> added = addMonitor(context(), map, type, id, *fields[size_t(i)]);
            if (!added)
              showMessageBox(this, kDashboardTitle, added.error().text, nullptr);
            else
              desktop_->open(kDashboardKey);
          });
  dialog->open();
}

// ---- the search box

void SessionWindow::searchTable(TablePane& pane, const std::string& key, size_t index,
                                const std::string& menu) {
  auto* table = pane.findChild<TableWidget*>();
  if (!table)
    return;
  const TableIndex* rows = &table->tableModel().rows();
  const void* map = &pane.map();
  tableValues_->add(*rows, menu);
  openTables_[map] = {key, index};
  if (searchBox_)
    searchBox_->tablesChanged();
  std::weak_ptr<bool> alive = alive_;
  connect(table, &QObject::destroyed, this, [this, alive, rows, map] {
    std::shared_ptr<bool> live = alive.lock();
    if (!live || !*live)
      return;
    tableValues_->remove(*rows); // compares the address only: the rows are gone
    openTables_.erase(map);
    if (searchBox_)
      searchBox_->tablesChanged();
  });
}

void SessionWindow::onSearchHit(const SearchHit& hit) {
  switch (hit.kind) {
  case SearchHit::Kind::Launcher:
    openEntry(hit.entry);
    return;
  case SearchHit::Kind::Field:
    if (hit.menu.service) {
      const std::vector<CMap*> maps = serviceContents(*hit.menu.service).maps;
      auto at = std::find(maps.begin(), maps.end(), hit.menu.type);
      openService(*hit.menu.service, at == maps.end() ? 0 : size_t(at - maps.begin()));
    }
    return;
  case SearchHit::Kind::Value: {
    auto it = openTables_.find(hit.value.map);
    if (it == openTables_.end())
      return;
    OpenTable table = it->second;
    auto* window = qobject_cast<TableWindow*>(desktop_->open(table.key));
    if (!window || int(table.pane) >= window->paneCount())
      return;
    window->setActivePane(int(table.pane));
    window->pane(int(table.pane))->selectObject(hit.value.id);
    return;
  }
  }
}

// ---- session files

bool SessionWindow::loadSession(const std::string& path) {
  desktop_->closeAll();
  bool read = settings_.loadSettings(path);
  sessionPath_ = path;
  settings_.loadAllSettings();
  dashboardOf(desktop()).restore(); // the applets this session file lists
  // The restore has taken the records of the windows it reopens.
  if (StringMap* main = settings_.getSettings(0, nullptr, kMainWindowSettingsFlags))
    main->remove("open");
  return read;
}

bool SessionWindow::saveSession(const std::string& path) {
  std::string target = path.empty() ? sessionPath_ : path;
  if (target.empty()) {
    saveSessionAsDialog();
    return false;
  }
  if (!settings_.saveSettings(target)) {
    showMessageBox(this, kErrorBoxTitle, "Could not save the session to " + target, nullptr);
    return false;
  }
  sessionPath_ = target;
  refreshSessionChoice();
  return true;
}

namespace {

QString sessionFolderFor(const std::string& current) {
  if (!current.empty())
    return qs(std::filesystem::path(current).parent_path().string());
  return qs(sessionsFolder(appDataFolder()));
}

} // namespace

void SessionWindow::openSessionDialog() {
  auto* dialog =
      new QFileDialog(this, "Open Session", sessionFolderFor(sessionPath_), kSessionFilter);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setDefaultSuffix(kSessionExtension);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
    if (!loadSession(ss(file)))
      showMessageBox(this, kErrorBoxTitle, "Could not read the session " + ss(file), nullptr);
    refreshSessionChoice();
  });
  dialog->open();
}

void SessionWindow::saveSessionAsDialog() {
  auto* dialog =
      new QFileDialog(this, "Save Session As", sessionFolderFor(sessionPath_), kSessionFilter);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setDefaultSuffix(kSessionExtension);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString& file) { saveSession(withSessionExtension(ss(file))); });
  dialog->open();
}

void SessionWindow::refreshSessionChoice() {
  QSignalBlocker block(sessionChoice_);
  sessionChoice_->clear();
  std::string current = kNoSession;
  if (!sessionPath_.empty()) {
    std::string file = std::filesystem::path(sessionPath_).filename().string();
    current = file.size() > 4 ? file.substr(0, file.size() - 4) : file;
    for (char& c : current)
      if (c == '%')
        c = ':';
    if (current == cleanSessionName(parameters_.get(param::kAddress)) &&
        sessionName_ == kOwnSession)
      current = kOwnSession;
  }
  for (const std::string& name : listSessions(sessionsFolder(appDataFolder())))
    sessionChoice_->addItem(qs(name));
  int index = sessionChoice_->findText(qs(current));
  if (index < 0) {
    sessionChoice_->addItem(qs(current));
    index = sessionChoice_->count() - 1;
  }
  sessionChoice_->setCurrentIndex(index);
}

void SessionWindow::chooseSession(int index) {
  std::string name = ss(sessionChoice_->itemText(index));
  if (autosave_ && !sessionPath_.empty())
    saveSession();
  sessionName_ = name;
  std::optional<std::string> path =
      sessionFilePath(name, parameters_.get(param::kAddress), sessionsFolder(appDataFolder()));
  if (path) {
    loadSession(*path);
  } else {
    sessionPath_.clear();
  }
  refreshSessionChoice();
}

void SessionWindow::saveState(StringMap& settings, uint32_t) {
  dropSavedWindows(settings_, settings);
  writeSessionFlags(flags_, settings);
  desktop_->save(settings);
}

void SessionWindow::loadState(const StringMap& settings) {
  flags_ = readSessionFlags(settings);
  applyFlags();
  desktop_->restore(settings);
}

void SessionWindow::applyFlags() {
  {
    QSignalBlocker a(action(session_cmd::kHidePasswords));
    action(session_cmd::kHidePasswords)->setChecked(flags_.hidePasswords);
  }
  {
    QSignalBlocker b(action(session_cmd::kInlineComments));
    action(session_cmd::kInlineComments)->setChecked(flags_.inlineComments);
  }
  if (inlineListener_)
    inlineListener_(flags_.inlineComments);
  setZoomStep(flags_.zoomStep);
}

void SessionWindow::setZoomStep(int step) {
  flags_.zoomStep = clampZoomStep(step);
  if (zoom() != zoomPercent(flags_.zoomStep))
    setZoom(zoomPercent(flags_.zoomStep));
}

// ---- ending

void SessionWindow::closeEvent(QCloseEvent* event) {
  if (ended_) {
    event->accept();
    return;
  }
  if (std::optional<std::string> question = quitQuestion(safeMode_->on());
      question && !quitConfirmed_) {
    event->ignore();
    auto answer = makeRef<AnswerCall>(alive_, [this](Answer a) {
      if (a != Answer::Yes)
        return;
      quitConfirmed_ = true;
      close();
    });
    showQuestionBox(this, kQuitTitle, *question, answer.get());
    return;
  }
  closing_ = true;
  if (autosave_ && !sessionPath_.empty())
    saveSession();
  stopSession();
  logLine("MainWindow::destroyed");
  event->accept();
}

void SessionWindow::stopSession() {
  ended_ = true;
  statusFeed_.reset();
  if (uptimeTimer_)
    currentReactor().removeTimer(std::exchange(uptimeTimer_, 0));
  desktop_->closeAll();
  if (link_)
    link_->close();
}

void SessionWindow::disconnectSession() { endSession(ConnectionLoss::Disconnect); }

void SessionWindow::onConnectionLost(const std::string& reason) {
  logf("connection lost: ", reason);
  endSession(established_ ? ConnectionLoss::Lost : ConnectionLoss::NeverEstablished);
}

void SessionWindow::endSession(ConnectionLoss loss) {
  if (ended_)
    return;
  const bool saving = autosave_ && !sessionPath_.empty();
  SessionEndPlan plan = planConnectionLoss(parameters_, loss, closing_, saving, x(), y());
  if (!plan.box.empty()) {
    stopSession();
    auto closeAfter = makeRef<AnswerCall>(alive_, [this](Answer) { close(); });
    showMessageBox(this, kCouldNotConnectTitle, plan.box, closeAfter.get());
    return;
  }
  if (loss == ConnectionLoss::Disconnect && saving)
    plan.saveSession = true; // the user leaves: the layout is kept as on Exit
  if (plan.saveSession)
    saveSession();
  if (plan.closeWindows)
    desktop_->closeAll();
  if (!plan.logText.empty())
    logLine(plan.logText);
  stopSession();
  if (plan.loader) {
    if (starter_) {
      starter_({"kestel", "-"}, &*plan.loader);
    } else if (auto self = ownProgramPath()) {
      (void)startProcess(*self, {"kestel", "-"}, &*plan.loader, -1);
    }
  }
  close();
}

} // namespace kestel::gui
