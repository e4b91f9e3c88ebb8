// The loader window against the simulator program on loopback: Connect runs the whole flow to
// the session starter, which gets an open link; a router that drops the connection after any
// number of bytes leaves a text and a running countdown, never a crash or a changed address
// book; Connect To All over three selected entries starts two children and connects the third
// here; and the disconnected panel. Review shots: idle, connecting with progress, disconnected.
// The core's headers come before Qt's, whose keyword macros (emit) they would not survive.
#include "api/net/Looper.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/AddressBookFile.h"
#include "app/AddressBookStore.h"
#include "app/CommandLine.h"
#include "gen/ModelContext.h"
#include "miw/SlotConvertors.h"
#include "support/Programs.h"

#include "GuiTest.h"
#include "gui/LoaderWindow.h"
#include "gui/TablePane.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace kestel::gui {
namespace {

// One loader window with its own model, looper, address book and cache folder.
struct Loader {
  explicit Loader(PollReactor& r) : reactor(r) {
    resetLooper();
    installSlotConvertors();
    book = std::make_unique<AddressBookStore>(reactor);
    (void)book->openAtStart(ss(home.path()), ss(home.path()) + "/Addresses.cdb", "");
    window = std::make_unique<LoaderWindow>(reactor, ss(home.path()), book.get());
    window->setSessionStarter([this](nv::message p, std::unique_ptr<SessionLink> l) {
      parameters = std::move(p);
      link = std::move(l);
    });
    window->setChildStarter([this](const nv::message& p) {
      children.push_back(p);
      return Expected<void>();
    });
    window->resize(760, 560);
    window->show();
  }
  ~Loader() {
    if (link)
      link->close();
    window.reset();
    book.reset();
    resetLooper();
  }
  // Turns the reactor (and Qt's events) until `done`, at most 60 s; a manual clock moves on
  // 100 ms per turn.
  template <typename F> bool turnUntil(F done) {
    for (int i = 0; i < 600 && !done(); ++i) {
      reactor.runOnce(manual ? 10 : 100);
      if (manual)
        reactor.advance(100);
      QCoreApplication::processEvents();
    }
    return done();
  }
  bool manual = false;
  void fill(int port) {
    window->addressEdit()->setText(QString("127.0.0.1:%1").arg(port));
    window->loginEdit()->setText("admin");
    window->passwordEdit()->setText("pw");
  }

  PollReactor& reactor;
  ModelContext model;
  ModelScope modelScope{model};
  QTemporaryDir home;
  std::unique_ptr<AddressBookStore> book;
  std::unique_ptr<LoaderWindow> window;
  nv::message parameters;
  std::unique_ptr<SessionLink> link;
  std::vector<nv::message> children;
};

std::vector<std::string> withUser(std::vector<std::string> args) {
  args.insert(args.end(), {"--user", "admin:pw"});
  return args;
}

} // namespace

class LoaderWindowTest : public QObject {
  Q_OBJECT
private slots:
  void connectsToTheSessionStarter() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    test::SimProcess sim(KESTEL_SIM_PATH, withUser({}));
    QVERIFY(sim.port != 0);
    Loader loader(reactor);
    QCOMPARE(loader.window->objectName(), QString("nimbalux_connect"));
    QCOMPARE(loader.window->windowTitle(), QString("Kestel (64bit) v3.43 (Addresses)"));
    QCOMPARE(loader.window->commandAction(loadercmd::kClearCache)->text(), QString("Clear Cache"));
    QCOMPARE(loader.window->commandAction(loadercmd::kZoomIn)->text(), QString("Zoom In\tCtrl+="));
    loader.fill(sim.port);
    test::saveShot(*loader.window, "loader-idle");

    loader.window->button("Connect")->click();
    QCOMPARE(loader.window->panels()->currentIndex(), 1);
    bool shot = false;
    QVERIFY(loader.turnUntil([&] {
      if (!shot && loader.window->flow().phase() == LoaderPhase::Downloading) {
        test::saveShot(*loader.window, "loader-connecting");
        shot = true;
      }
      return loader.link != nullptr || loader.window->flow().phase() == LoaderPhase::Idle;
    }));
    QVERIFY2(loader.link, loader.window->statusLabel()->text().toUtf8());
    QVERIFY(shot);
    QVERIFY(loader.link->isOpen());
    QVERIFY(loader.link->cache());
    QCOMPARE(loader.parameters.get(param::kLogin), std::string("admin"));
    QCOMPARE(loader.window->panels()->currentIndex(), 0);
    QCOMPARE(loader.book->size(), size_t(0)); // connecting stores nothing in the book
  }

  // The router drops the connection after N bytes, at every stage of the flow.
  void dropAfterSweep() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    // The simulator counts what it receives; the whole flow sends a few kilobytes, so the sweep
    // covers the connect, the login, the descriptor download and the skin.
    int failed = 0, started = 0;
    for (int bytes = 1; bytes < 4000; bytes += bytes < 100 ? 20 : 110) {
      test::SimProcess sim(KESTEL_SIM_PATH, withUser({"--drop-after", std::to_string(bytes)}));
      QVERIFY(sim.port != 0);
      Loader loader(reactor);
      loader.fill(sim.port);
      loader.window->button("Add/Set")->click();
      QVERIFY(loader.turnUntil([&] { return loader.book->size() == 1; }));
      loader.window->button("Connect")->click();
      QVERIFY(loader.turnUntil([&] {
        LoaderPhase p = loader.window->flow().phase();
        return loader.link != nullptr || p == LoaderPhase::Countdown || p == LoaderPhase::Idle;
      }));
      QString status = loader.window->statusLabel()->text();
      ++(loader.link ? started : failed);
      if (!loader.link) {
        QVERIFY2(!status.isEmpty(), std::to_string(bytes).c_str());
        QVERIFY2(status.contains(". Will retry in 5 seconds"), status.toUtf8());
        QCOMPARE(loader.window->panels()->currentIndex(), 1);
        QVERIFY(loader.window->button("Reconnect")->isVisible());
        loader.window->button("Cancel")->click();
        QCOMPARE(loader.window->panels()->currentIndex(), 0);
      }
      QCOMPARE(loader.book->size(), size_t(1));
      const nv::message* e =
          loader.book->findAddress(QString("127.0.0.1:%1").arg(sim.port).toStdString());
      QVERIFY(e);
      QCOMPARE(e->get(entry::kPassword), std::string("pw"));
    }
    QVERIFY(failed > 10 && started > 0);
  }

  // A router that needs a newer client: its text, no countdown, and the way out is "Upgrade".
  void newerClientOffersTheUpgrade() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    test::SimProcess sim(KESTEL_SIM_PATH, withUser({"--required-client", "9.99"}));
    QVERIFY(sim.port != 0);
    Loader loader(reactor);
    int upgrades = 0;
    loader.window->setUpgrade([&] { ++upgrades; });
    loader.fill(sim.port);
    loader.window->button("Connect")->click();
    QVERIFY(loader.turnUntil([&] { return loader.window->flow().phase() == LoaderPhase::Idle; }));
    QCOMPARE(loader.window->statusLabel()->text(),
             QString("router requires newer kestel, please upgrade"));
    QCOMPARE(loader.window->panels()->currentIndex(), 1);
    QPushButton* upgrade = loader.window->button("Upgrade");
    QVERIFY(upgrade->isVisibleTo(loader.window.get()));
    upgrade->click();
    QCOMPARE(upgrades, 1);
    QVERIFY(!loader.link);
  }

  // "Legacy Mode" decides what a router without the secure login gets.
  void legacyModeAllowsTheOldLogin() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    test::SimProcess sim(KESTEL_SIM_PATH, withUser({"--refuse-secure"}));
    QVERIFY(sim.port != 0);
    Loader loader(reactor);
    loader.manual = true;
    loader.fill(sim.port);
    loader.window->button("Connect")->click();
    QVERIFY(loader.turnUntil([&] { return loader.window->flow().phase() == LoaderPhase::Idle; }));
    QCOMPARE(loader.window->statusLabel()->text(),
             QString("router does not support secure connection, please enable Legacy Mode if "
                     "you want to connect anyway"));
    loader.window->commandAction(loadercmd::kLegacyMode)->trigger();
    loader.window->button("Connect")->click();
    QVERIFY(loader.turnUntil([&] { return loader.link != nullptr; }));
    QVERIFY(loader.link->legacy());
  }

  void connectToAllStartsChildren() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    test::SimProcess sim(KESTEL_SIM_PATH, withUser({}));
    QVERIFY(sim.port != 0);
    Loader loader(reactor);
    std::string here = "127.0.0.1:" + std::to_string(sim.port);
    for (const std::string& address : {std::string("192.0.2.1"), here, std::string("192.0.2.2")}) {
      loader.fill(sim.port);
      loader.window->addressEdit()->setText(qs(address));
      loader.window->button("Add/Set")->click();
    }
    QAbstractItemView* view = loader.window->managedPane()->view();
    QVERIFY(loader.turnUntil([&] { return view->model()->rowCount() == 3; }));
    view->selectAll();
    QCoreApplication::processEvents();
    test::saveShot(*loader.window, "loader-managed");
    loader.fill(sim.port);
    QCOMPARE(loader.window->connectToAll(), size_t(2));
    QCOMPARE(loader.children.size(), size_t(2));
    for (const nv::message& child : loader.children) {
      QVERIFY(child.get(param::kAddress) != here);
      QCOMPARE(child.get(param::kPassword), std::string("pw"));
    }
    QVERIFY(loader.turnUntil([&] { return loader.link != nullptr; }));
    QCOMPARE(loader.parameters.get(param::kAddress), here);
  }

  // The master password enciphers the book on disk; confirming with another text is refused.
  void masterPasswordEnciphersTheBook() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    Loader loader(reactor);
    loader.window->addressEdit()->setText("192.0.2.1");
    loader.window->button("Add/Set")->click();
    QVERIFY(loader.turnUntil([&] { return loader.book->size() == 1; }));
    loader.book->flush();
    auto firstWord = [&] {
      QFile file(qs(loader.book->path()));
      QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
      return head.size() == 4 ? qFromLittleEndian<quint32>(head.constData()) : 0u;
    };
    QCOMPARE(firstWord(), 0xC01DF00Du);
    // The session list comes from the sessions folder, with "<none>" and "<own>".
    QVERIFY(QDir().mkpath(loader.home.path() + "/sessions"));
    QFile session(loader.home.path() + "/sessions/a%b.viw");
    QVERIFY(session.open(QIODevice::WriteOnly));
    session.close();
    loader.window->bookOpened({});
    auto* sessions = loader.window->findChild<QComboBox*>();
    QVERIFY(loader.turnUntil([&] { return sessions->findText("a:b") >= 0; }));
    QVERIFY(sessions->findText("<none>") >= 0 && sessions->findText("<own>") >= 0);

    loader.window->button("Set Master Password")->click();
    auto* dialog = loader.window->findChild<QDialog*>();
    QVERIFY(dialog && dialog->windowTitle() == "Master Password");
    QList<QLineEdit*> edits = dialog->findChildren<QLineEdit*>();
    QCOMPARE(edits.size(), 2);
    edits[0]->setText("master");
    edits[1]->setText("mastex");
    QPushButton* ok = nullptr;
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
      if (b->text() == "OK")
        ok = b;
    QVERIFY(ok && !ok->isEnabled());
    edits[1]->setText("master");
    QVERIFY(ok->isEnabled());
    ok->click();
    QVERIFY(loader.turnUntil([&] { return loader.window->statusLabel()->text() == "Encrypted"; }));
    QCOMPARE(firstWord(), 0x4011F00Du);
  }

  void disconnectedPanel() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    Loader loader(reactor);
    nv::message p;
    p.set(param::kAddress, std::string("192.0.2.1"));
    p.set(param::kLogin, std::string("admin"));
    p.set(param::kDisconnected, true);
    p.set(param::kAutoReconnect, false);
    loader.window->showDisconnected(p);
    QCOMPARE(loader.window->panels()->currentIndex(), 1);
    QCOMPARE(loader.window->statusLabel()->text(),
             QString("Router 192.0.2.1 has been disconnected 00:00:00 ago"));
    QVERIFY(loader.window->button("Reconnect")->isVisibleTo(loader.window.get()));
    QCoreApplication::processEvents(); // the panel's layout follows the buttons shown
    test::saveShot(*loader.window, "loader-disconnected");
    loader.window->button("Cancel")->click();
    QCOMPARE(loader.window->panels()->currentIndex(), 0);
    QCOMPARE(loader.window->statusLabel()->text(), QString());
  }
};

KESTEL_GUI_TEST(LoaderWindowTest)

} // namespace kestel::gui

#include "LoaderWindowTest.moc"
