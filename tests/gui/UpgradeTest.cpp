// The self-upgrade over real HTTP: the upgrade handler with the Qt web client against a small web
// server on loopback in this process. A good signature replaces a copy of a program in a
// temporary folder and restarts it through the hand-off; a bad signature, a truncated program, a
// huge LATEST.3 and redirect loops each end in their text with nothing left behind.
// The core's headers come before Qt's, whose keyword macros (emit) they would not survive.
#include "api/container/ObjectMap.h"
#include "api/net/Events.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/UpgradeHandler.h"

#include "GuiTest.h"
#include "gui/QtReactor.h"
#include "gui/QtWebClient.h"
#include "miw/SafeFile.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel::gui {
namespace {

const std::string kLatest = "/nimbalux/kestel/LATEST.3";
const std::string kDir = "/nimbalux/kestel/99.2/";

QByteArray ok(const QByteArray& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}
QByteArray redirect(const std::string& to) {
  return "HTTP/1.1 302 Found\r\nLocation: " + QByteArray::fromStdString(to) +
         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// Answers each GET with the bytes set for its path (404 for others) and closes the connection.
class TinyWebServer {
public:
  TinyWebServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          QByteArray& head = heads_[socket];
          head += socket->readAll();
          if (!head.contains("\r\n\r\n"))
            return;
          QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
          std::string path = words.size() > 1 ? words[1].toStdString() : "";
          asked.push_back(path);
          agentsOk = agentsOk && head.contains("User-Agent: Kestel\r\n");
          heads_.erase(socket);
          auto found = replies.find(path);
          socket->write(found != replies.end()
                            ? found->second
                            : QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                                         "Connection: close\r\n\r\n"));
          socket->disconnectFromHost();
        });
      }
    });
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(server_.serverPort()); }

  std::map<std::string, QByteArray> replies;
  std::vector<std::string> asked;
  bool agentsOk = true;

private:
  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> heads_;
};

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

ByteSpan bytesOf(const QByteArray& data) {
  return ByteSpan(reinterpret_cast<const uint8_t*>(data.data()), size_t(data.size()));
}

QByteArray fileBytes(const std::string& path) {
  Expected<Bytes> bytes = readWholeFile(path);
  return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size()))
               : QByteArray();
}

class UpgradeTest : public QObject {
  Q_OBJECT

  // One upgrade from subscribing to the end; the server's replies are set by the caller.
  struct Run {
    Run(TinyWebServer& web, UpgradeSetup setup) : scope(reactor) {
      resetLooper();
      setup.server = [host = web.host()] { return host; };
      setup.web = &client;
      setup.quit = [this] { quit = true; };
      handler = std::make_unique<UpgradeHandler>(std::move(setup));
      caller = createHandler(nullptr);
      nv::message subscribe;
      subscribe.set(KEY_SUBSCRIBE_CURRENT, true);
      caller->request(CMD_SUBSCRIBE, Path{0, kUpgradeHandlerId}, subscribe);
    }
    ~Run() {
      handler.reset();
      caller->detach();
      resetLooper();
    }
    std::string status() const { return handler->object().get(upgrade_key::kStatus); }
    void upgrade() { caller->request(kCommandUpgrade, Path{0, kUpgradeHandlerId}, {}); }

    QtReactor reactor;
    ReactorScope scope;
    QtWebClient client;
    std::unique_ptr<UpgradeHandler> handler;
    Reference<IHandler> caller;
    bool quit = false;
  };

  // A folder programs may run from (the build tree, not a shared temporary folder) holding a
  // copy of the probe with "old version" at its end as the program to replace.
  std::string makeProgramFolder() {
    std::string pattern = parentFolder(KESTEL_UPGRADE_PROBE_PATH) + "/upgrade-gui-XXXXXX";
    if (!::mkdtemp(pattern.data()))
      return {};
    std::string target = pattern + "/kestel";
    QByteArray old = probe_ + "old version";
    if (!saveFileAtomically(target, bytesOf(old), ".save") || ::chmod(target.c_str(), 0751) != 0)
      return {};
    return pattern;
  }

  // The signature the build's key tool makes with the test key.
  QByteArray sign(const QByteArray& program, const std::string& folder) {
    std::string file = folder + "/signed", signature = folder + "/signed.sig";
    if (!saveFileAtomically(file, bytesOf(program), ".save"))
      return {};
    std::string command = std::string(KESTEL_UPGRADE_KEY_TOOL) + " sign " +
                          KESTEL_UPGRADE_TEST_KEY + ".key " + file + " " + signature;
    QByteArray out = fileBytes(std::system(command.c_str()) == 0 ? signature : "");
    std::filesystem::remove(file);
    std::filesystem::remove(signature);
    return out;
  }

  UpgradeSetup setupFor(const std::string& folder) {
    UpgradeSetup setup;
    setup.program = folder + "/kestel";
    setup.packageList = folder + "/none";
    setup.publicKey = readWholeFile(std::string(KESTEL_UPGRADE_TEST_KEY) + ".pub").value();
    setup.runningVersion = "3.43";
    return setup;
  }

  QByteArray probe_;
  std::string program_ = upgradeProgramName();

private slots:
  void initTestCase() { probe_ = fileBytes(KESTEL_UPGRADE_PROBE_PATH); }

  void goodSignatureReplacesTheProgramAndRestartsIt() {
    std::string folder = makeProgramFolder();
    QVERIFY(!folder.empty());
    QByteArray fresh = probe_ + "new version";
    TinyWebServer web;
    web.replies[kLatest] = ok("99.2\n");
    web.replies[kDir + "CHANGELOG"] = ok("- better");
    web.replies[kDir + program_] = ok(fresh);
    web.replies[kDir + program_ + ".sig"] = ok(sign(fresh, folder));

    // Every process of the hand-off shares standard error: its end of file says they are done.
    int pipeFds[2];
    QCOMPARE(::pipe2(pipeFds, O_CLOEXEC), 0);
    int savedError = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    {
      Run run(web, setupFor(folder));
      QTRY_COMPARE(run.status(), std::string("There is a new version - 99.2"));
      QCOMPARE(run.handler->object().get(upgrade_key::kChangeLog), std::string("- better"));
      run.upgrade();
      QTRY_VERIFY_WITH_TIMEOUT(run.quit, 20000);
    }
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    ::close(pipeFds[1]);
    std::string output;
    pollfd p{pipeFds[0], POLLIN, 0};
    while (::poll(&p, 1, 60000) == 1) { // a safety net: the hand-off takes well under a second
      char buf[4096];
      ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
      if (n <= 0)
        break;
      output.append(buf, size_t(n));
    }
    ::close(pipeFds[0]);

    QVERIFY2(output.find("probe started with 0 arguments") != std::string::npos, output.c_str());
    QCOMPARE(fileBytes(folder + "/kestel"), fresh);
    struct stat st {};
    QCOMPARE(::stat((folder + "/kestel").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0751));
    QCOMPARE(namesIn(folder), std::vector<std::string>{"kestel"});
    QVERIFY(web.agentsOk);
    std::filesystem::remove_all(folder);
  }

  void badRepliesEndInTheirText_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("status");
    for (const char* fault :
         {"wrong signature", "truncated program", "program redirect loop", "missing signature"})
      QTest::newRow(fault) << fault << QString(kUpgradeCorrupted);
    QTest::newRow("huge LATEST.3") << "huge LATEST.3"
                                   << "failed: reply too large";
    QTest::newRow("LATEST.3 redirect loop") << "LATEST.3 redirect loop"
                                            << "failed: ";
  }
  void badRepliesEndInTheirText() {
    QFETCH(QString, fault);
    QFETCH(QString, status);
    std::string folder = makeProgramFolder();
    QVERIFY(!folder.empty());
    QByteArray fresh = probe_ + "new version";
    QByteArray old = fileBytes(folder + "/kestel");
    TinyWebServer web;
    web.replies[kLatest] = ok("99.2");
    web.replies[kDir + "CHANGELOG"] = ok("- better");
    web.replies[kDir + program_] = ok(fresh);
    web.replies[kDir + program_ + ".sig"] = ok(sign(fresh, folder));
    if (fault == "wrong signature")
      web.replies[kDir + program_ + ".sig"] = ok(sign(fresh + "x", folder));
    if (fault == "truncated program")
      web.replies[kDir + program_] = ok(fresh).chopped(1000);
    if (fault == "program redirect loop")
      web.replies[kDir + program_] = redirect(kDir + program_);
    if (fault == "missing signature")
      web.replies.erase(kDir + program_ + ".sig");
    if (fault == "huge LATEST.3")
      web.replies[kLatest] = ok(QByteArray(8 << 20, '9'));
    if (fault == "LATEST.3 redirect loop")
      web.replies[kLatest] = redirect(kLatest);

    Run run(web, setupFor(folder));
    bool lookupFails = fault.contains("LATEST.3");
    if (!lookupFails) {
      QTRY_COMPARE(run.status(), std::string("There is a new version - 99.2"));
      run.upgrade();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!run.handler->busy(), 20000);
    QVERIFY2(QString::fromStdString(run.status()).startsWith(status), run.status().c_str());
    QVERIFY(!run.quit);
    QCOMPARE(fileBytes(folder + "/kestel"), old);
    QCOMPARE(namesIn(folder), std::vector<std::string>{"kestel"});
    if (fault.contains("redirect loop")) // followed a few times, then given up
      QVERIFY(web.asked.size() <= 2 + 1 + QtWebClient::kMaxRedirects + 1);
    std::filesystem::remove_all(folder);
  }
};

} // namespace

KESTEL_GUI_TEST(UpgradeTest)

} // namespace kestel::gui

#include "UpgradeTest.moc"
