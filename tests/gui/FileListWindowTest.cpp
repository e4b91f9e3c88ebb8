// The router file window against a port the test answers: the list fills the table, a drop of
// local files uploads them into the selected folder with its progress window, "Download" writes
// the selected file, and a second upload while one runs is refused.
#include "GuiTest.h"

#include "api/net/FileHandler.h"
#include "api/net/PollReactor.h"
#include "api/wire/Vocabulary.h"
#include "gui/FileListWindow.h"
#include "gui/TransferWindow.h"
#include "util/Bytes.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <fstream>
#include <sstream>

namespace kestel::gui {
namespace {

class HeldPort final : public RequestPort {
public:
  struct Held {
    uint32_t command;
    nv::message body;
    ReplyFn onReply;
  };
  uint32_t request(const std::vector<uint32_t>&, uint32_t command, nv::message body,
                   ReplyFn onReply) override {
    held.push_back({command, std::move(body), std::move(onReply)});
    return uint32_t(held.size());
  }
  void send(const std::vector<uint32_t>&, uint32_t command, nv::message) override {
    posted.push_back(command);
  }
  void forget(uint32_t) override {}
  // Answers the latest request.
  void answer(nv::message reply = {}) {
    auto fn = std::move(held.back().onReply);
    fn(reply);
  }
  std::vector<Held> held;
  std::vector<uint32_t> posted;
};

nv::message listReply() {
  auto entry = [](const char* type, const char* name, uint32_t size) {
    nv::message o;
    o.set(kFileListType, type);
    o.set(kFileListName, name);
    o.set(kFileListSize, size);
    return o;
  };
  nv::message reply;
  reply.set(STD_OBJS, std::vector<nv::message>{entry("directory", "flash", 0),
                                               entry("file", "flash/a.txt", 12)});
  return reply;
}

struct Folder {
  std::string root;
  const std::string& path() const { return root; }
  std::string file(const std::string& name) const { return root + "/" + name; }
};

nv::message withId(uint32_t id) {
  nv::message m;
  m.set(STD_ID, id);
  return m;
}

} // namespace

class FileListWindowTest : public QObject {
  Q_OBJECT

private slots:
  void listDropAndDownload() {
    PollReactor reactor{PollReactor::Clock::Manual};
    HeldPort port;
    QTemporaryDir dir;
    Folder local{dir.path().toStdString()};
    FileListWindow window(reactor, port);
    QCOMPARE(port.held.back().command, CMD_GETALL);
    port.answer(listReply());
    QCOMPARE(window.table()->model()->rowCount(), 2);
    QCOMPARE(window.table()->model()->headerData(0, Qt::Horizontal).toString(),
             QString("File Name"));
    QCOMPARE(window.table()->model()->index(1, 1).data().toString(), QString("12 B"));
    QCOMPARE(window.uploadButton()->text(), QString("Upload..."));

    // A file dropped on the list goes into the selected folder.
    std::ofstream(local.file("x.txt")) << "dropped";
    window.table()->selectRow(0);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(local.file("x.txt")))});
    QMimeData plain;
    plain.setText("not a file");
    QVERIFY(!window.drop(plain));
    QVERIFY(window.drop(data));
    QCOMPARE(port.held.back().command, kFileOpenUpload);
    QCOMPARE(port.held.back().body.get(kFileName), std::string("flash/x.txt"));
    TransferWindow* up = window.progressWindow(FileTransfer::Direction::Upload);
    QVERIFY(up->isVisible());
    QCOMPARE(up->windowTitle(), QString("Uploading Files"));
    window.uploadPaths({local.file("x.txt")});
    QCOMPARE(window.transfers().uploads().lastRefusal(), std::string("already in progress"));
    port.answer(withId(4));
    QCOMPARE(port.held.back().body.get(kFilePiece).size(), size_t(7));
    port.answer();
    QVERIFY(!up->isVisible());
    QCOMPARE(port.held.back().command, CMD_GETALL); // the list is fetched again
    port.answer(listReply());

    // "Download" of the selected file.
    window.table()->selectRow(1);
    window.downloadTo(local.path());
    QCOMPARE(port.held.back().command, kFileOpenDownload);
    QVERIFY(window.progressWindow(FileTransfer::Direction::Download)->isVisible());
    port.answer(withId(5));
    nv::message piece;
    piece.set(kFilePiece, Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'r', 'o', 'u', 't', 'e', 'r'});
    piece.set(kFileLast, true);
    port.answer(piece);
    std::ifstream in(local.file("a.txt"));
    std::stringstream text;
    text << in.rdbuf();
    QCOMPARE(text.str(), std::string("hello router"));
  }

  // Closing a progress window gives up the file it carries.
  void closingGivesUp() {
    PollReactor reactor{PollReactor::Clock::Manual};
    HeldPort port;
    QTemporaryDir dir;
    Folder local{dir.path().toStdString()};
    FileListWindow window(reactor, port);
    port.answer(listReply());
    window.table()->selectRow(1);
    window.downloadTo(local.path());
    port.answer(withId(7));
    window.progressWindow(FileTransfer::Direction::Download)->close();
    QCOMPARE(port.posted, std::vector<uint32_t>{kFileGiveUp});
    QVERIFY(!window.transfers().downloads().running());
    QVERIFY(!std::ifstream(local.file("a.txt.part")).good());
  }
};

KESTEL_GUI_TEST(FileListWindowTest)

} // namespace kestel::gui

#include "FileListWindowTest.moc"
