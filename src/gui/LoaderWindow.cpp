// The core's headers come before Qt's, whose keyword macros (emit) they would not survive.
#include "api/container/MapFactories.h"
#include "api/net/Looper.h"
#include "api/wire/Vocabulary.h"
#include "app/AddressBookFile.h"
#include "app/AddressBookStore.h"
#include "app/AppPaths.h"
#include "app/CacheFolders.h"
#include "app/CommandLine.h"
#include "app/LoaderSettings.h"
#include "app/ReplyCall.h"
#include "gen/DescriptorLoader.h"
#include "gen/Service.h"
#include "miw/SafeFile.h"
#include "util/Log.h"

#include "gui/LoaderWindow.h"
#include "gui/TableRoles.h"
#include "gui/TableWidgetPane.h"
#include "gui/Toolkit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace kestel::gui {

namespace {

// The managed list's columns over the address book's handler at (0, 1); the group icon and
// "Don't Save Session" are hidden fields.
constexpr const char* kManagedDescriptor = R"([{"name": "Managed", "title": "Managed",
  "c": [{"type": "map", "title": "Managed", "path": [0, 1], "c": [
    {"type": "string", "name": "address", "id": "s1", "title": "Address", "width": 130},
    {"type": "string", "name": "user", "id": "s2", "title": "User"},
    {"type": "string", "name": "session", "id": "s6", "title": "Session"},
    {"type": "string", "name": "group", "id": "s8", "title": "Group"},
    {"type": "string", "name": "hoplink", "id": "s11", "title": "Hoplink Agent", "width": 110},
    {"type": "string", "name": "note", "id": "s4", "title": "Note"},
    {"type": "number", "name": "groupicon", "id": "u9", "title": "Group Icon", "hide": 1},
    {"type": "bool", "name": "nosave", "id": "b10", "title": "Don't Save Session", "hide": 1}
  ]}]}])";

CMap* managedType() {
  if (CService* s = getService(nullptr, "Managed"); s && !s->types().empty())
    return dynamic_cast<CMap*>(s->types().front().get());
  std::istringstream in(kManagedDescriptor);
  if (Expected<void> r = loadDescriptorStream(in, buildService); !r) {
    logf("ERROR: managed list: ", r.error().text);
    return nullptr;
  }
  CService* s = getService(nullptr, "Managed");
  if (!s || s->types().empty() || !s->types().front()->complete())
    return nullptr;
  s->disabled = true; // the loader's own list, never a launcher entry of a session
  return dynamic_cast<CMap*>(s->types().front().get());
}

const QStringList kNeighbourColumns = {"MAC Address", "IP Address", "Identity", "Version", "Board",
                                       "Uptime",      "Interface",  "Kavo",     "Type"};
const QStringList kHoplinkColumns = {"Address",  "Cost",    "Hops",  "Path",  "L2MTU",
                                     "Identity", "Version", "Board", "Active"};

QTableWidget* makeList(const QStringList& columns, QWidget* parent) {
  auto* table = new QTableWidget(0, int(columns.size()), parent);
  table->setHorizontalHeaderLabels(columns);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  return table;
}

QWidget* listTab(QTableWidget* table, const std::function<void()>* refresh, QWidget* parent) {
  auto* tab = new QWidget(parent);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(table);
  auto* bar = new QHBoxLayout;
  bar->addStretch();
  auto* button = new QPushButton(QObject::tr("Refresh"), tab);
  QObject::connect(button, &QPushButton::clicked, tab, [refresh] {
    if (*refresh)
      (*refresh)();
  });
  bar->addWidget(button);
  layout->addLayout(bar);
  return tab;
}

} // namespace

LoaderWindow::LoaderWindow(Reactor& reactor, std::string appData, AddressBookStore* book,
                           QWidget* parent)
    : QMainWindow(parent), reactor_(reactor), appData_(std::move(appData)), book_(book) {
  setObjectName(kConnectWindowName);
  caller_ = createHandler(nullptr);
  startChild_ = [](const nv::message& parameters) -> Expected<void> {
    Expected<std::string> program = ownProgramPath();
    if (!program)
      return program.error();
    return startProcess(*program, {"kestel", "-"}, &parameters, -1);
  };
  openUrl_ = [](const std::string& url) {
    QProcess::startDetached("xdg-open", {QString::fromStdString(url)});
  };
  exit_ = [](int code) { QCoreApplication::exit(code); };

  LoaderFlowHooks hooks;
  hooks.phase = [this](LoaderPhase p) { phaseChanged(p); };
  hooks.status = [this](const std::string& s) { statusChanged(s); };
  hooks.startSession = [this](Reference<ReadyStep> step, nv::message p) {
    startSession(std::move(step), std::move(p));
  };
  hooks.handOff = [](const nv::message& parameters, const HandOffSource& source) -> Expected<void> {
    Expected<std::string> program = ownProgramPath();
    if (!program)
      return program.error();
    return openInNewWindow(*program, parameters, source);
  };
  hooks.startChild = [this](const nv::message& p) { return startChild_(p); };
  hooks.openUrl = [this](const std::string& url) { openUrl_(url); };
  hooks.exit = [this](int code) { exit_(code); };
  hooks.findEntry = [this](const std::string& address) -> std::optional<nv::message> {
    const nv::message* e = book_ ? book_->findAddress(address) : nullptr;
    return e ? std::optional<nv::message>(*e) : std::nullopt;
  };
  flow_ = std::make_unique<LoaderFlow>(reactor_, appData_, std::move(hooks));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  panels_ = new QStackedWidget(central);
  panels_->addWidget(buildForm());
  panels_->addWidget(buildWaitingPanel());
  layout->addWidget(panels_);
  tabs_ = new QTabWidget(central);
  tabs_->addTab(buildManagedTab(), tr("Managed"));
  neighbours_ = makeList(kNeighbourColumns, tabs_);
  tabs_->addTab(listTab(neighbours_, &neighbourRefresh_, tabs_), tr("Neighbors"));
  hoplinkNeighbours_ = makeList(kHoplinkColumns, tabs_);
  tabs_->addTab(listTab(hoplinkNeighbours_, &hoplinkRefresh_, tabs_), tr("Hoplink Neighbors"));
  layout->addWidget(tabs_, 1);
  status_ = new QLabel(central);
  status_->setObjectName("status");
  status_->setWordWrap(true);
  layout->addWidget(status_);
  setCentralWidget(central);
  buildMenus();
  updateTitle();
  resize(760, 560);
  // The loader is the main window of its process: its state is record 0 of the settings.
  registerPersistent(this, &saver_);
  settingsRegistry().setMainWindow(this);
}

void LoaderWindow::Saver::loadState(const StringMap& settings) {
  LoaderSettings s = readLoaderSettings(settings);
  LoaderWindow& w = window_;
  if (w.address_->text().isEmpty())
    w.address_->setText(qs(s.form.address));
  w.login_->setText(qs(s.form.login));
  w.password_->setText(qs(s.form.password));
  w.keepPassword_->setChecked(s.form.keepPassword);
  w.note_->setText(qs(s.form.note));
  w.group_->setText(qs(s.form.group));
  w.agent_->setText(qs(s.form.agent));
  if (!s.form.session.empty())
    w.session_->setCurrentText(qs(s.form.session));
  w.autosave_->setChecked(s.form.autosave);
  w.newWindow_->setChecked(s.form.newWindow);
  w.autoReconnect_->setChecked(s.form.autoReconnect);
  w.commandAction(loadercmd::kAdvancedMode)->setChecked(s.advanced);
  w.commandAction(loadercmd::kLegacyMode)->setChecked(s.legacy);
  w.legacyMode_ = s.legacy;
  w.flow_->setLegacyMode(s.legacy);
  if (s.zoomStep != 0)
    setZoom(std::clamp(100 + 10 * s.zoomStep, 50, 400));
}

void LoaderWindow::Saver::saveState(StringMap& settings, uint32_t) {
  LoaderSettings s;
  s.form = window_.form();
  s.advanced = window_.commandAction(loadercmd::kAdvancedMode)->isChecked();
  s.legacy = window_.legacyMode_;
  s.zoomStep = (zoom() - 100) / 10;
  storeLoaderSettings(s, settings);
}

LoaderWindow::~LoaderWindow() {
  if (settingsRegistry().mainWindow() == this)
    settingsRegistry().setMainWindow(nullptr);
  flow_.reset();
  caller_->detach();
}

void LoaderWindow::setChildStarter(std::function<Expected<void>(const nv::message&)> start) {
  startChild_ = std::move(start);
}
void LoaderWindow::setUrlOpener(std::function<void(const std::string&)> open) {
  openUrl_ = std::move(open);
}
void LoaderWindow::setExit(std::function<void(int)> exit) { exit_ = std::move(exit); }

QWidget* LoaderWindow::buildForm() {
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  auto* fields = new QFormLayout;
  address_ = new QLineEdit(page);
  login_ = new QLineEdit(page);
  password_ = new QLineEdit(page);
  password_->setEchoMode(QLineEdit::Password);
  keepPassword_ = new QCheckBox(tr("Keep Password"), page);
  keepPassword_->setChecked(true);
  auto* passwordRow = new QHBoxLayout;
  passwordRow->addWidget(password_, 1);
  passwordRow->addWidget(keepPassword_);
  session_ = new QComboBox(page);
  session_->setEditable(true);
  session_->addItems({"<own>", "<none>"});
  auto* browse = new QPushButton(tr("Browse..."), page);
  connect(browse, &QPushButton::clicked, this, [this] { askSessionFile(); });
  auto* sessionRow = new QHBoxLayout;
  sessionRow->addWidget(session_, 1);
  sessionRow->addWidget(browse);
  note_ = new QLineEdit(page);
  group_ = new QLineEdit(page);
  agent_ = new QLineEdit(page);
  fields->addRow(tr("Connect To:"), address_);
  fields->addRow(tr("Login:"), login_);
  fields->addRow(tr("Password:"), passwordRow);
  fields->addRow(tr("Session:"), sessionRow);
  fields->addRow(tr("Note:"), note_);
  fields->addRow(tr("Group:"), group_);
  fields->addRow(tr("Hoplink Agent:"), agent_);
  auto* checks = new QHBoxLayout;
  autosave_ = new QCheckBox(tr("Autosave Session"), page);
  autosave_->setChecked(true);
  newWindow_ = new QCheckBox(tr("Open In New Window"), page);
  autoReconnect_ = new QCheckBox(tr("Auto Reconnect"), page);
  autoReconnect_->setChecked(true);
  for (QCheckBox* box : {autosave_, newWindow_, autoReconnect_})
    checks->addWidget(box);
  checks->addStretch();
  fields->addRow(QString(), checks);
  grid->addLayout(fields, 0, 0);

  auto* buttons = new QVBoxLayout;
  auto add = [&](const QString& text, auto slot) {
    auto* b = new QPushButton(text, page);
    connect(b, &QPushButton::clicked, this, slot);
    buttons->addWidget(b);
    return b;
  };
  add(tr("Connect"), [this] { connectForm(); })->setDefault(true);
  add(tr("Add/Set"), [this] { addToBook(); });
  add(tr("Connect To Hoplink"), [this] {
    nv::message p = flow_->parametersFrom(form());
    nv::message agent;
    agent.set(param::kAddress, ss(agent_->text()));
    p.set(param::kHoplink, agent);
    flow_->connect(p);
  });
  add(tr("Connect To All"), [this] { connectToAll(); });
  buttons->addStretch();
  grid->addLayout(buttons, 0, 1);
  return page;
}

QWidget* LoaderWindow::buildWaitingPanel() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addStretch();
  waitingText_ = new QLabel(page);
  waitingText_->setObjectName("waiting");
  waitingText_->setAlignment(Qt::AlignCenter);
  waitingText_->setWordWrap(true);
  layout->addWidget(waitingText_);
  busy_ = new QProgressBar(page);
  busy_->setRange(0, 0);
  busy_->setTextVisible(false);
  layout->addWidget(busy_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto add = [&](const QString& text, auto slot) {
    auto* b = new QPushButton(text, page);
    connect(b, &QPushButton::clicked, this, slot);
    buttons->addWidget(b);
  };
  add(tr("Reconnect"), [this] {
    nv::message p = flow_->parameters();
    flow_->cancel();
    flow_->connect(p.has(param::kAddress) ? p : flow_->parametersFrom(form()));
  });
  add(tr("Upgrade"), [this] {
    if (upgrade_)
      upgrade_();
  });
  add(tr("Cancel"), [this] { flow_->cancel(); });
  buttons->addStretch();
  layout->addLayout(buttons);
  layout->addStretch();
  return page;
}

QWidget* LoaderWindow::buildManagedTab() {
  auto* tab = new QWidget(this);
  auto* layout = new QVBoxLayout(tab);
  CMap* type = book_ ? managedType() : nullptr;
  if (type) {
    Reference<ObjectMap> map = createContainer(*type);
    map->open();
    managed_ = createTablePane(map, type, true, false, tab);
    managed_->setViewKind("man");
    layout->addWidget(managed_);
    // A click fills the form from the entry; a double click connects to it.
    auto fill = [this](const QModelIndex& index) {
      const nv::message* e = book_ ? book_->entry(index.data(ObjectIdRole).toUInt()) : nullptr;
      if (!e)
        return false;
      address_->setText(qs(e->get(entry::kAddress)));
      login_->setText(qs(e->get(entry::kLogin)));
      password_->setText(qs(e->get(entry::kPassword)));
      keepPassword_->setChecked(!e->has(entry::kKeepPassword) || e->get(entry::kKeepPassword));
      note_->setText(qs(e->get(entry::kNote)));
      group_->setText(qs(e->get(entry::kGroup)));
      agent_->setText(qs(e->get(entry::kAgent)));
      session_->setCurrentText(qs(e->get(entry::kSession)));
      return true;
    };
    connect(managed_->view(), &QAbstractItemView::clicked, this, fill);
    connect(managed_->view(), &QAbstractItemView::doubleClicked, this,
            [this, fill](const QModelIndex& index) {
              if (fill(index))
                connectForm();
            });
  }
  auto* bar = new QHBoxLayout;
  bar->addStretch();
  auto* master = new QPushButton(tr("Set Master Password"), tab);
  connect(master, &QPushButton::clicked, this, [this] { askMasterPassword(); });
  bar->addWidget(master);
  layout->addLayout(bar);
  return tab;
}

void LoaderWindow::buildMenus() {
  struct Entry {
    int command;
    const char* text;
    bool checkable = false;
  };
  auto fill = [this](QMenu* menu, std::initializer_list<Entry> entries) {
    for (const Entry& e : entries) {
      if (e.command == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* a = menu->addAction(tr(e.text));
      a->setData(e.command);
      a->setCheckable(e.checkable);
      connect(a, &QAction::triggered, this, [this, c = e.command] { runCommand(c); });
      actions_.emplace_back(e.command, a);
    }
  };
  using namespace loadercmd;
  fill(menuBar()->addMenu(tr("File")), {{kNew, "New..."},
                                        {kOpen, "Open..."},
                                        {kSaveAs, "Save As..."},
                                        {0, nullptr},
                                        {kExit, "Exit"}});
  fill(menuBar()->addMenu(tr("Tools")), {{kAdvancedMode, "Advanced Mode", true},
                                         {kLegacyMode, "Legacy Mode", true},
                                         {0, nullptr},
                                         {kZoomIn, "Zoom In\tCtrl+="},
                                         {kZoomOut, "Zoom Out\tCtrl+-"},
                                         {0, nullptr},
                                         {kImport, "Import..."},
                                         {kExport, "Export..."},
                                         {kExportWithoutPasswords, "Export Without Passwords..."},
                                         {0, nullptr},
                                         {kMoveSessions, "Move Sessions Folder..."},
                                         {kClearCache, "Clear Cache"},
                                         {0, nullptr},
                                         {kCheckForUpdates, "Check For Updates"},
                                         {0, nullptr},
                                         {kShowCredits, "Show Credits"}});
  commandAction(kZoomIn)->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Equal),
       QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus))});
  commandAction(kZoomOut)->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Minus),
       QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus))});
}

QAction* LoaderWindow::commandAction(int command) const {
  for (const auto& [c, a] : actions_)
    if (c == command)
      return a;
  return nullptr;
}

QPushButton* LoaderWindow::button(const QString& text) const {
  for (QPushButton* b : findChildren<QPushButton*>())
    if (b->text() == text)
      return b;
  return nullptr;
}

void LoaderWindow::runCommand(int command) {
  using namespace loadercmd;
  switch (command) {
  case kNew:
  case kOpen:
  case kSaveAs:
    return askBookFile(command);
  case kExit:
    close();
    return;
  case kAdvancedMode:
    return switchManagedLayout(commandAction(kAdvancedMode)->isChecked());
  case kLegacyMode:
    legacyMode_ = commandAction(kLegacyMode)->isChecked();
    flow_->setLegacyMode(legacyMode_);
    return;
  case kZoomIn:
    return setZoom(zoom() + 10);
  case kZoomOut:
    return setZoom(std::max(50, zoom() - 10));
  case kImport:
  case kExport:
  case kExportWithoutPasswords:
    return askExchangeFile(command);
  case kMoveSessions:
    return askSessionsFolder();
  case kClearCache: {
    size_t emptied = pruneCache(appData_, true, std::time(nullptr)).size();
    statusChanged("Cache cleared (" + std::to_string(emptied) + " folders)");
    return;
  }
  case kCheckForUpdates:
    if (upgrade_)
      upgrade_();
    else
      statusChanged("No upgrade server is set");
    return;
  case kShowCredits:
    showMessageBox(this, "Credits",
                   std::string("Kestel ") + kLoaderTitle + "\nBuilt with Qt " + qVersion() +
                       ", OpenSSL and libsodium.",
                   nullptr);
    return;
  default:
    return;
  }
}

void LoaderWindow::apply(const nv::message& p) {
  if (p.has(param::kAddress))
    address_->setText(qs(p.get(param::kAddress)));
  if (p.has(param::kLogin))
    login_->setText(qs(p.get(param::kLogin)));
  if (p.has(param::kPassword))
    password_->setText(qs(p.get(param::kPassword)));
  std::string session = p.has(param::kCommandLineSession) ? p.get(param::kCommandLineSession)
                                                          : p.get(param::kChosenSession);
  if (!session.empty())
    session_->setCurrentText(qs(session));
  if (p.has(param::kHoplink))
    agent_->setText(qs(p.get(param::kHoplink).get(param::kAddress)));
  if (p.has(param::kNewProcess))
    newWindow_->setChecked(p.get(param::kNewProcess));
  if (p.has(param::kAutoReconnect))
    autoReconnect_->setChecked(p.get(param::kAutoReconnect));
  if (p.has(param::kDocuments))
    flow_->setDocuments(p.get(param::kDocuments));
  if (p.has(param::kMasterPassword))
    masterPassword_ = p.get(param::kMasterPassword);
}

void LoaderWindow::bookOpened(const nv::message& reply) {
  std::string text = reply.get(bookcmd::kStatusText);
  if (!text.empty())
    statusChanged(text);
  if (book_)
    flow_->setBook(book_->path(), masterPassword_);
  updateTitle();
  refreshSessions();
  if (reply.get(bookcmd::kNeedsPassword))
    askMasterPassword();
}

void LoaderWindow::refreshSessions() {
  nv::message request;
  request.set(bookcmd::kFile, sessionsFolder(appData_));
  bookRequest(bookcmd::kSessions, request, [this](const nv::message& reply) {
    QString current = session_->currentText();
    session_->clear();
    for (const std::string& name : reply.get(bookcmd::kNames))
      session_->addItem(qs(name));
    session_->setCurrentText(current.isEmpty() ? QString("<own>") : current);
  });
}

void LoaderWindow::updateTitle() {
  std::string path = book_ ? book_->path() : std::string();
  if (path.empty())
    return setWindowTitle(kLoaderTitle);
  setWindowTitle(QString("%1 (%2)").arg(kLoaderTitle, QFileInfo(qs(path)).completeBaseName()));
}

LoaderForm LoaderWindow::form() const {
  LoaderForm f;
  f.address = ss(address_->text().trimmed());
  f.login = ss(login_->text());
  f.password = ss(password_->text());
  f.session = ss(session_->currentText());
  f.note = ss(note_->text());
  f.group = ss(group_->text());
  f.agent = ss(agent_->text().trimmed());
  f.keepPassword = keepPassword_->isChecked();
  f.autosave = autosave_->isChecked();
  f.newWindow = newWindow_->isChecked();
  f.autoReconnect = autoReconnect_->isChecked();
  return f;
}

void LoaderWindow::connectForm() { flow_->connect(flow_->parametersFrom(form())); }

void LoaderWindow::connectWith(const nv::message& parameters) { flow_->connect(parameters); }

size_t LoaderWindow::connectToAll() {
  std::vector<nv::message> entries;
  if (managed_ && book_)
    for (uint32_t id : managed_->selectedIds())
      if (const nv::message* e = book_->entry(id))
        entries.push_back(*e);
  return flow_->connectToAll(form(), entries);
}

void LoaderWindow::showDisconnected(const nv::message& parameters) {
  apply(parameters);
  bool autoReconnect = parameters.has(param::kAutoReconnect) ? parameters.get(param::kAutoReconnect)
                                                             : autoReconnect_->isChecked();
  flow_->showDisconnected(parameters, autoReconnect);
}

void LoaderWindow::phaseChanged(LoaderPhase phase) {
  // A router that needs a newer client keeps the panel up with the way out.
  bool upgrade = phase == LoaderPhase::Idle && flow_->status() == kNeedsNewerClient;
  bool waiting = phase != LoaderPhase::Idle || upgrade;
  panels_->setCurrentIndex(waiting ? 1 : 0);
  status_->setVisible(!waiting); // the waiting panel shows the text itself
  busy_->setVisible(phase == LoaderPhase::Connecting || phase == LoaderPhase::LoggingIn ||
                    phase == LoaderPhase::Downloading || phase == LoaderPhase::Starting);
  bool stopped = phase == LoaderPhase::Countdown || phase == LoaderPhase::Disconnected;
  if (QPushButton* b = button(tr("Reconnect")))
    b->setVisible(stopped);
  if (QPushButton* b = button(tr("Upgrade")))
    b->setVisible(upgrade);
}

void LoaderWindow::statusChanged(const std::string& text) {
  status_->setText(qs(text));
  waitingText_->setText(qs(text));
}

void LoaderWindow::startSession(Reference<ReadyStep> step, nv::message parameters) {
  if (!starter_) {
    step->cancel();
    statusChanged(kCouldNotStartPlugins);
    panels_->setCurrentIndex(0);
    return;
  }
  std::unique_ptr<SessionLink> link = SessionLink::fromReady(std::move(step));
  panels_->setCurrentIndex(0);
  starter_(std::move(parameters), std::move(link));
}

void LoaderWindow::bookRequest(uint32_t command, nv::message request,
                               std::function<void(const nv::message&)> reply) {
  if (!reply) {
    caller_->request(command, Path{0, kAddressBookHandlerId}, std::move(request));
    return;
  }
  auto call = makeRef<ReplyCall>(alive_, std::move(reply));
  caller_->request(command, Path{0, kAddressBookHandlerId}, std::move(request), call.get(), 0);
}

void LoaderWindow::addToBook() {
  LoaderForm f = form();
  if (f.address.empty())
    return statusChanged("invalid address - ");
  bookRequest(CMD_ADDOBJ, LoaderFlow::entryFrom(f));
}

void LoaderWindow::askMasterPassword() {
  auto* dialog = new QDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(tr("Master Password"));
  auto* layout = new QFormLayout(dialog);
  auto* password = new QLineEdit(dialog);
  auto* confirm = new QLineEdit(dialog);
  password->setEchoMode(QLineEdit::Password);
  confirm->setEchoMode(QLineEdit::Password);
  layout->addRow(tr("Password:"), password);
  layout->addRow(tr("Confirm:"), confirm);
  auto* mismatch = new QLabel(dialog);
  layout->addRow(mismatch);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  layout->addRow(buttons);
  auto check = [=] {
    bool same = password->text() == confirm->text();
    ok->setEnabled(same);
    mismatch->setText(same ? QString() : tr("The passwords differ"));
  };
  connect(password, &QLineEdit::textChanged, dialog, check);
  connect(confirm, &QLineEdit::textChanged, dialog, check);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, password] {
    std::string text = ss(password->text());
    nv::message request;
    request.set(bookcmd::kPassword, text);
    bookRequest(bookcmd::kSetPassword, request, [this, text](const nv::message& reply) {
      if (reply.get(SYS_STATUS) == 2)
        return statusChanged(kTextBadPassword);
      masterPassword_ = text;
      if (book_)
        flow_->setBook(book_->path(), masterPassword_);
      statusChanged(text.empty() ? "" : kTextEncrypted);
    });
    dialog->accept();
  });
  dialog->open();
}

void LoaderWindow::askBookFile(int command) {
  using namespace loadercmd;
  const char* title = command == kNew    ? "New Addresses List"
                      : command == kOpen ? "Open Addresses List"
                                         : "Save Addresses As";
  auto* dialog = new QFileDialog(this, tr(title));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setNameFilters({tr("Kestel Addresses (*.CDB *.cdb)"), tr("All Files (*)")});
  dialog->setDefaultSuffix("cdb");
  dialog->setAcceptMode(command == kOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog->setFileMode(command == kOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  connect(dialog, &QFileDialog::fileSelected, this, [this, command](const QString& chosen) {
    std::string file = ss(chosen);
    if (file.empty())
      return logLine(command == kOpen ? "GetOpenFileName failed" : "GetSaveFileName failed");
    nv::message request;
    request.set(bookcmd::kFile, file);
    request.set(bookcmd::kPassword, command == kSaveAs ? masterPassword_ : std::string());
    if (command == kNew) {
      // An empty book is its magic alone.
      const uint8_t empty[] = {0x0D, 0xF0, 0x1D, 0xC0};
      if (Expected<void> r = saveFileAtomically(file, ByteSpan(empty, sizeof empty), ".kstl"); !r)
        return statusChanged(kTextCouldNotSave);
    }
    bookRequest(command == kSaveAs ? bookcmd::kSave : bookcmd::kOpen, request,
                [this, file, command](const nv::message& reply) {
                  if (reply.get(SYS_STATUS) == 2)
                    return statusChanged(reply.get(SYS_ERRSTR));
                  if (command != kSaveAs) {
                    masterPassword_.clear();
                    bookOpened(reply);
                  }
                  (void)writePathFile(appData_ + "/path", file);
                  updateTitle();
                });
  });
  dialog->open();
}

void LoaderWindow::askExchangeFile(int command) {
  using namespace loadercmd;
  bool import = command == kImport;
  auto* dialog =
      new QFileDialog(this, import ? tr("Import Addresses From") : tr("Export Addresses To"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setNameFilters({tr("Kestel Loader Addresses (*.KSX *.ksx)"), tr("All Files (*)")});
  dialog->setDefaultSuffix("ksx");
  dialog->setAcceptMode(import ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog->setFileMode(import ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  connect(dialog, &QFileDialog::fileSelected, this, [this, command, import](const QString& f) {
    if (f.isEmpty())
      return logLine(import ? "GetOpenFileName failed" : "GetSaveFileName failed");
    nv::message request;
    request.set(bookcmd::kFile, ss(f));
    if (!import)
      request.set(bookcmd::kWithPasswords, command == kExport);
    bookRequest(import ? bookcmd::kImport : bookcmd::kExport, request,
                [this](const nv::message& reply) {
                  if (reply.get(SYS_STATUS) == 2)
                    statusChanged(reply.get(SYS_ERRSTR));
                });
  });
  dialog->open();
}

void LoaderWindow::askSessionFile() {
  auto* dialog = new QFileDialog(this, tr("Open Session"), qs(sessionsFolder(appData_)));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setNameFilters({tr("Kestel Session (*.VIW *.viw)"), tr("All Files (*)")});
  dialog->setFileMode(QFileDialog::ExistingFile);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& f) {
    if (f.isEmpty())
      return logLine("GetOpenFileName failed");
    session_->setCurrentText(f);
  });
  dialog->open();
}

void LoaderWindow::askSessionsFolder() {
  auto* dialog = new QFileDialog(this, tr("Select Sessions Folder:"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& f) {
    if (!f.isEmpty() && !moveSessionsFolder(appData_, ss(f)))
      statusChanged("Could not move the sessions folder");
  });
  dialog->open();
}

void LoaderWindow::switchManagedLayout(bool advanced) {
  if (!managed_)
    return;
  // Each mode keeps its own layout of the managed list: "man" is the current mode's record,
  // "manalt" the other's.
  SettingsRegistry& registry = settingsRegistry();
  StringMap* own = registry.getSettings(0, nullptr, 0);
  if (!own)
    return;
  auto record = [&](const char* key) -> StringMap* {
    uint32_t id = 0;
    if (unpackData(own->get(key), id) && id != 0)
      if (StringMap* settings = registry.getSettings(id, nullptr, 0))
        return settings;
    id = registry.registerSettings({}, 0);
    own->set(key, packData(id));
    return registry.getSettings(id, nullptr, 0);
  };
  if (StringMap* current = record("man"))
    managed_->saveState(*current);
  std::optional<std::string> man = own->get("man"), alt = own->get("manalt");
  own->remove("man");
  if (alt)
    own->set("man", *alt);
  own->set("manalt", *man);
  if (StringMap* next = record("man"))
    managed_->loadState(*next);
  logf("managed list: ", advanced ? "advanced" : "basic", " layout");
}

} // namespace kestel::gui
