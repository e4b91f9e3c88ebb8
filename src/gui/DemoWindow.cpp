#include "gui/DemoWindow.h"

#include "api/net/FileHandler.h"
#include "api/net/Reactor.h"
#include "api/wire/Vocabulary.h"
#include "gen/Enumerations.h"
#include "gui/ColourScheme.h"
#include "gui/FileListWindow.h"
#include "gui/Toolkit.h"
#include "gui/TransferWindow.h"
#include "miw/ConvertorAddress.h"
#include "miw/ConvertorNumber.h"
#include "miw/ConvertorTime.h"

#include <QApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>

namespace kestel::gui {
namespace {

const MapEntry kProtocols[] = {{1, "icmp"}, {6, "tcp"}, {17, "udp"}, {47, "gre"}, {0, nullptr}};
const MapEntry kWeekdays[] = {{1, "sun"},  {2, "mon"},  {4, "tue"},  {8, "wed"},
                              {16, "thu"}, {32, "fri"}, {64, "sat"}, {0, nullptr}};

IconSources sourcesIn(const std::string& folder) {
  if (folder.empty())
    return {};
  return {folder, {folder + "/icons.png", folder + "/icons24.png", folder + "/icons32.png"}};
}

uint32_t ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

// Answers the file window's requests as a router with a few files would, leaving the pieces of an
// upload unanswered so that its progress window stays up for the review shot.
class SampleFilesPort final : public RequestPort {
public:
  uint32_t request(const std::vector<uint32_t>&, uint32_t command, nv::message,
                   ReplyFn onReply) override {
    nv::message reply;
    if (command == CMD_GETALL) {
      std::vector<nv::message> objects;
      auto add = [&](const char* type, const char* name, uint32_t size) {
        nv::message o;
        o.set(kFileListType, type);
        o.set(kFileListName, name);
        o.set(kFileListSize, size);
        objects.push_back(o);
      };
      add("directory", "flash", 0);
      add("file", "flash/backup-2026-11-30.backup", 48213);
      add("file", "flash/nimbalux-7.15.pkg", 12582912);
      add("directory", "flash/scripts", 0);
      add("file", "flash/scripts/hello.script", 34);
      reply.set(STD_OBJS, objects);
    } else if (command == kFileOpenUpload) {
      reply.set(STD_ID, 1u);
    } else {
      return 0; // held
    }
    onReply(reply);
    return 0;
  }
  void send(const std::vector<uint32_t>&, uint32_t, nv::message) override {}
  void forget(uint32_t) override {}
};

} // namespace

DemoWindow::DemoWindow(const std::string& iconFolder, QWidget* parent)
    : QMainWindow(parent), icons_(sourcesIn(iconFolder)) {
  setObjectName(kTopLevelName);
  setWindowTitle(tr("Kestel"));
  QMenu* windows = menuBar()->addMenu(tr("Windows"));
  desktop_ = new Desktop(this, windows, [this](unsigned n) { return icons_.icon(n); });
  setCentralWidget(desktop_);
  QMenu* demo = menuBar()->addMenu(tr("Demo"));
  demo->addAction(tr("Value views"), this, &DemoWindow::openViewsWindow);
  demo->addAction(tr("Icons"), this, &DemoWindow::openIconsWindow);
  demo->addAction(tr("Toolkit"), this, &DemoWindow::openToolkitWindow);
  demo->addSeparator();
  demo->addAction(tr("Close All Windows"), this, [this] { desktop_->manager().closeAll(); });
  statusBar()->showMessage(tr("Demonstration: no router connected"));
  resize(1000, 700);
}

DemoWindow::~DemoWindow() = default;

bool DemoWindow::event(QEvent* event) {
  const bool result = QMainWindow::event(event);
  if (event->type() == QEvent::Show && !firstShown_) {
    // The desktop has its size only now: the demonstration's windows are placed in it.
    firstShown_ = true;
    if (windowHandle())
      connect(windowHandle(), &QWindow::screenChanged, this, [this] { dpiChanged(this); });
    openIconsWindow();
    openToolkitWindow();
    openViewsWindow();
    desktop_->manager().tileWindows(); // side by side, inside the desktop
  }
  return result;
}

void DemoWindow::openViewsWindow() {
  ManagedWindow* w = desktop_->makeWindow(makeViewsForm(), tr("Value views"));
  desktop_->manager().openWindow(*w, "demo-views");
}

void DemoWindow::openIconsWindow() {
  ManagedWindow* w = desktop_->makeWindow(makeIconsPane(), tr("Icons"));
  desktop_->manager().openWindow(*w, "demo-icons");
}

void DemoWindow::openToolkitWindow() {
  ManagedWindow* w = desktop_->makeWindow(makeToolkitPane(), tr("Toolkit"));
  desktop_->manager().openWindow(*w, "demo-toolkit");
}

QStringList DemoWindow::saveScreenshots(const QString& folder) {
  QStringList written;
  auto save = [&](QWidget* w, const QString& name) {
    const QString path = folder + "/" + name + ".png";
    if (w->grab().save(path))
      written << path;
  };
  save(this, "desktop");
  for (IManagedWindow* w : desktop_->windowsTopFirst()) {
    auto* frame = static_cast<ManagedWindow*>(w);
    save(frame, frame->widget()->objectName());
  }
  // The router's file window, with an upload of the program itself under way.
  SampleFilesPort port;
  {
    FileListWindow files(currentReactor(), port);
    files.resize(520, 260);
    files.table()->selectRow(3);
    save(&files, files.objectName());
    files.uploadPaths({QCoreApplication::applicationFilePath().toStdString()});
    TransferWindow* upload = files.progressWindow(FileTransfer::Direction::Upload);
    upload->label()->setText(
        qs("Uploading flash/scripts/kestel (4.2 MiB of 31.0 MiB at 3.10 Mbps)"));
    upload->bar()->setValue(135);
    upload->adjustSize();
    save(upload, upload->objectName());
  }
  // A message box as the views report bad input.
  QWidget* box =
      showMessageBox(this, "Wrong Address", "Error in Address - ip address expected!", nullptr);
  box->adjustSize();
  save(box, "message-box");
  box->close();
  // The same desktop after a switch to the dark scheme.
  const QPalette desktopPalette = QApplication::palette();
  QApplication::setPalette(darkPalette());
  QCoreApplication::sendPostedEvents(); // the palette changes reach the widgets as posted events
  save(this, "desktop-dark");
  QApplication::setPalette(desktopPalette);
  QCoreApplication::sendPostedEvents();
  return written;
}

QWidget* DemoWindow::makeViewsForm() {
  views_.clear();
  cells_.clear();
  auto cell = [this](FieldValue v) -> IValueCell& {
    cells_.push_back(std::make_unique<LocalCell>(std::move(v)));
    return *cells_.back();
  };
  auto* form = new QWidget;
  form->setObjectName("demo_views");
  auto* column = new QVBoxLayout(form);
  auto* layout = new QFormLayout;
  column->addLayout(layout);
  column->addStretch(1);
  auto add = [&](ValueView* v) {
    views_.push_back(v);
    layout->addRow(v->label() + ":", v);
  };
  add(new TextView(tr("Name"), cell(std::string("ether1-gateway")), textConvertor(1, 32)));
  add(new TextView(tr("Address"), cell(ipv4(198, 18, 0, 1)), ipv4Convertor(ZeroAddress::Invalid),
                   true));
  add(new TextView(tr("MTU"), cell(uint32_t(1500)),
                   numberConvertor({10, 64, 65535, 1500}, RadixWords::Plain)));
  add(new TextView(tr("Keepalive"), cell(uint32_t(90061)), intervalConvertor(0, 0xFFFFFFFF, 1)));
  add(new EnumView(tr("Protocol"), cell(uint32_t(6)), createEnum(kProtocols), true));
  add(new SetView(tr("Days"), cell(uint32_t(2 | 8 | 32)), cell(uint32_t(0)), createEnum(kWeekdays),
                  4));
  add(new MultiView(tr("DNS servers"),
                    cell(std::vector<uint32_t>{ipv4(198, 18, 0, 53), ipv4(198, 19, 1, 53)}),
                    ipv4Convertor(ZeroAddress::Invalid), true, true, true));
  add(new OptionalView(new TextView(tr("Rate limit"), cell(uint32_t(2000000)),
                                    bitRateConvertor(NumberWidth::Bits32)),
                       cell(true), tr("per second")));
  add(new OptionalView(new TextView(tr("Comment"), cell(std::string()), textConvertor(0, 255)),
                       cell(false), {}));
  add(new ReadOnlyView(tr("Running"), cell(true), nullptr, nullptr));
  add(new ReadOnlyView(tr("Uptime"), cell(uint32_t(3 * 86400 + 3723)),
                       intervalConvertor(0, 0xFFFFFFFF, 1), nullptr));
  auto* apply = new QPushButton(tr("Apply"), form);
  apply->setObjectName("demo_apply");
  apply->setEnabled(false);
  for (ValueView* v : views_)
    connect(v, &ValueView::changed, apply, [apply] { apply->setEnabled(true); });
  connect(apply, &QPushButton::clicked, this, [this, apply] {
    if (!checkViews(views_, this))
      return;
    for (ValueView* v : views_)
      v->apply();
    for (ValueView* v : views_)
      v->update();
    apply->setEnabled(false);
  });
  layout->addRow(apply);
  return form;
}

QWidget* DemoWindow::makeIconsPane() {
  auto* pane = new QWidget;
  pane->setObjectName("demo_icons");
  auto* grid = new QGridLayout(pane);
  int shown = 0;
  for (unsigned n = 0; n < 64; ++n) {
    QIcon icon = icons_.icon(n);
    if (icon.isNull())
      continue;
    auto* normal = new QLabel(pane);
    normal->setPixmap(icon.pixmap(24, QIcon::Normal));
    normal->setToolTip(tr("icon %1").arg(n));
    auto* greyed = new QLabel(pane);
    greyed->setPixmap(icon.pixmap(24, QIcon::Disabled));
    grid->addWidget(normal, (shown / 16) * 2, shown % 16);
    grid->addWidget(greyed, (shown / 16) * 2 + 1, shown % 16);
    ++shown;
  }
  grid->setRowStretch(grid->rowCount(), 1);
  if (shown == 0) {
    auto* none = new QLabel(tr("No icon sheets: the router's sheets are missing or were refused "
                               "(see the log)."),
                            pane);
    none->setWordWrap(true);
    grid->addWidget(none, 0, 0, Qt::AlignTop);
  }
  return pane;
}

QWidget* DemoWindow::makeToolkitPane() {
  auto* pane = new QWidget;
  pane->setObjectName("demo_toolkit");
  auto* column = new QVBoxLayout(pane);
  auto* message = new QPushButton(tr("Message box"), pane);
  message->setToolTip(tr("Shows a box; the answer goes to a listener"));
  connect(message, &QPushButton::clicked, this, [this] {
    showMessageBox(this, "Wrong Address", "Error in Address - ip address expected!", nullptr);
  });
  auto* question = new QPushButton(tr("Question box"), pane);
  connect(question, &QPushButton::clicked, this, [this] {
    showQuestionBox(this, "Close All Windows", "Close every window of this session?", nullptr);
  });
  auto* zoomRow = new QHBoxLayout;
  auto* zoomBox = new QSpinBox(pane);
  zoomBox->setRange(50, 400);
  zoomBox->setSingleStep(10);
  zoomBox->setSuffix(" %");
  zoomBox->setValue(zoom());
  connect(zoomBox, &QSpinBox::valueChanged, this, [](int v) { setZoom(v); });
  zoomRow->addWidget(new QLabel(tr("Zoom"), pane));
  zoomRow->addWidget(zoomBox);
  column->addWidget(message);
  column->addWidget(question);
  column->addLayout(zoomRow);
  column->addStretch(1);
  return pane;
}

} // namespace kestel::gui
