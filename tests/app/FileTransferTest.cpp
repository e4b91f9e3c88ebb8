// File transfers against the simulator's file store on loopback through the secure session:
// files of the sizes that matter to the piece size and a folder tree go up and come back byte
// for byte (checked with cmp and diff); every router fault and local failure ends with its text
// and leaves no partial file; names from the router cannot write outside the chosen folder.
#include "app/FileTransfer.h"

#include "LoopbackRouter.h"
#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"
#include "app/LooperRequestPort.h"
#include "app/RemoteFileList.h"
#include "miw/SafeFile.h"
#include "sim/FileService.h"
#include "sim/FileStore.h"
#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel {
namespace {

namespace fs = std::filesystem;

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string& text) override {
    shown.push_back(text);
  }
  std::vector<std::string> shown;
};

// Forwards to the looper's port and keeps what was sent: commands, and for pieces their size
// and completion flag.
class RecordingPort final : public RequestPort {
public:
  struct Sent {
    uint32_t command;
    nv::message body;
  };
  uint32_t request(const std::vector<uint32_t>& to, uint32_t command, nv::message body,
                   ReplyFn onReply) override {
    sent.push_back({command, body});
    return inner.request(to, command, std::move(body), std::move(onReply));
  }
  void send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) override {
    sent.push_back({command, body});
    inner.send(to, command, std::move(body));
  }
  void forget(uint32_t id) override { inner.forget(id); }
  size_t count(uint32_t command) const {
    return size_t(std::count_if(sent.begin(), sent.end(),
                                [&](const Sent& s) { return s.command == command; }));
  }
  LooperRequestPort inner;
  std::vector<Sent> sent;
};

Bytes randomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (uint8_t& c : b)
    c = uint8_t(random());
  return b;
}

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

bool sameFiles(const std::string& a, const std::string& b) {
  return test::runCommand("cmp '" + a + "' '" + b + "'") == "exit 0";
}

// Everything in `folder`, as names relative to it.
std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(e.path(), folder).string());
  std::sort(names.begin(), names.end());
  return names;
}

class FileTransferTest : public test::LoopbackRouterTest {
protected:
  FileTransferTest() {
    files.attachStore(store);
    files.install(login, server);
  }
  ~FileTransferTest() override { setDownloadWriteForTesting({}); }

  // Runs one queue to its end.
  void run(FileTransfer& transfer, std::vector<TransferEntry> queue) {
    ASSERT_TRUE(transfer.start(std::move(queue)));
    ASSERT_TRUE(drive([&] { return !transfer.running(); }));
  }
  void upload(std::vector<std::string> paths, const std::string& prefix = "") {
    FileTransfer up(reactor, port, FileTransfer::Direction::Upload);
    run(up, planUpload(paths, prefix));
    error = up.error();
  }
  std::vector<RemoteFile> remoteList() {
    RemoteFileList list(port);
    std::optional<std::vector<RemoteFile>> got;
    list.fetch([&](std::vector<RemoteFile> f, std::string) { got = std::move(f); });
    EXPECT_TRUE(drive([&] { return got.has_value(); }));
    return got.value_or(std::vector<RemoteFile>{});
  }
  void download(std::vector<std::string> names, const std::string& folder) {
    FileTransfer down(reactor, port, FileTransfer::Direction::Download);
    std::vector<std::string> skippedNow;
    run(down, planDownload(names, remoteList(), folder, &skippedNow));
    error = down.error();
    problems = down.problems();
    skipped = skippedNow;
  }

  sim::FileStore store;
  sim::FileService files;
  RecordingPort port;
  Boxes boxes;
  MessageBoxScope boxScope{boxes};
  test::TempFolder local, target;
  std::string error;
  std::vector<std::string> problems, skipped;
};

TEST_F(FileTransferTest, FilesGoUpAndComeBackByteForByte) {
  struct Case {
    size_t size;
    size_t pieces; // pieces written, the last one flagged as completing
  } cases[] = {{0, 1}, {1, 1}, {32168, 1}, {32169, 2}, {10u << 20, 326}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string name = "f" + std::to_string(c.size) + ".bin";
    writeFile(local.file(name), randomBytes(c.size, unsigned(c.size)));
    port.sent.clear();
    upload({local.file(name)}, "flash/");
    EXPECT_EQ(error, "");
    EXPECT_EQ(port.count(kFileWrite), c.pieces);
    for (const auto& s : port.sent) {
      if (s.command == kFileWrite) {
        EXPECT_EQ(s.body.get(kFileLast), &s == &port.sent.back());
      }
    }
    EXPECT_EQ(port.sent.back().body.get(kFilePiece).size(), c.size - (c.pieces - 1) * 32168);
    ASSERT_NE(store.file("flash/" + name), nullptr);
    writeFile(local.file("stored"), *store.file("flash/" + name));
    EXPECT_TRUE(sameFiles(local.file(name), local.file("stored")));

    download({"flash/" + name}, target.path());
    EXPECT_EQ(error, "");
    EXPECT_TRUE(sameFiles(local.file(name), target.file(name)));
  }
  EXPECT_EQ(store.openTransfers(), 0u);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FileTransferTest, FolderTreeMakesRemoteFoldersAndComesBackWhole) {
  fs::create_directories(local.file("tree/a/b"));
  fs::create_directories(local.file("tree/empty"));
  writeFile(local.file("tree/top.txt"), randomBytes(100, 1));
  writeFile(local.file("tree/a/mid.bin"), randomBytes(70000, 2));
  writeFile(local.file("tree/a/b/deep.bin"), randomBytes(32168, 3));
  writeFile(local.file("tree/a/b/zero"), {});
  upload({local.file("tree")}, "flash/");
  EXPECT_EQ(error, "");
  EXPECT_EQ(port.count(kFileMakeFolder), 4u);
  EXPECT_TRUE(store.isFolder("flash/tree/a/b"));
  EXPECT_TRUE(store.isFolder("flash/tree/empty"));

  download({"flash/tree"}, target.path());
  EXPECT_EQ(error, "");
  EXPECT_EQ(test::runCommand("diff -r '" + local.file("tree") + "' '" + target.file("tree") + "'"),
            "exit 0");
}

TEST_F(FileTransferTest, RouterFaultsEndTheQueueAndLeaveNoPartialFile) {
  Bytes big = randomBytes(100000, 7);
  store.put("flash/big.bin", big);
  writeFile(local.file("big.bin"), big);
  struct Case {
    const char* what;
    std::function<void(sim::FileStoreOptions&)> fault;
    bool up;
    std::string error;
  } cases[] = {
      {"disk full", [](auto& o) { o.diskFull = true; }, true,
       "Could not upload file - not enough disk space (6)"},
      {"over the size cap", [](auto& o) { o.capacity = 1000; }, true,
       "Could not upload file - not enough disk space (10)"},
      {"upload error mid-file", [](auto& o) { o.errorAfter = 50000; }, true,
       "Could not upload file - write error (6)"},
      {"download error mid-file", [](auto& o) { o.errorAfter = 50000; }, false,
       "Could not download file - read error (6)"},
      {"more than asked", [](auto& o) { o.tooMuch = true; }, false,
       "Could not download file - the router sent more than asked for (6)"},
      {"list lies about the size", [](auto& o) { o.lieSize = true; }, false,
       "Could not download file - the router sent fewer bytes than the file's size (6)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::FileStoreOptions saved = store.options();
    c.fault(store.options());
    boxes.shown.clear();
    if (c.up)
      upload({local.file("big.bin")}, "up/");
    else
      download({"flash/big.bin"}, target.path());
    store.options() = saved;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{c.error});
    EXPECT_EQ(store.file("up/big.bin"), nullptr);
    EXPECT_TRUE(listing(target.path()).empty());
    EXPECT_TRUE(drive([&] { return store.openTransfers() == 0; })); // given up or ended
  }
}

TEST_F(FileTransferTest, RouterRefusalsAndLocalFailures) {
  store.put("flash/a.bin", randomBytes(80000, 9));
  store.put("flash/b.bin", randomBytes(10, 10));

  download({"flash/missing"}, target.path());
  EXPECT_EQ(error, "Could not download file - no such file (5)");
  EXPECT_TRUE(listing(target.path()).empty());

  // A full local disk on the second piece: the file is skipped and removed, the next one comes.
  int writes = 0;
  setDownloadWriteForTesting([&](int fd, const void* data, size_t n) -> long {
    if (++writes == 2) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, data, n);
  });
  download({"flash/a.bin", "flash/b.bin"}, target.path());
  EXPECT_EQ(error, "");
  EXPECT_EQ(problems, std::vector<std::string>{"write error: No space left on device"});
  EXPECT_EQ(listing(target.path()), std::vector<std::string>{"b.bin"});
  EXPECT_TRUE(drive([&] { return store.openTransfers() == 0; }));
  setDownloadWriteForTesting({});

  // A folder in the way of the local file.
  fs::create_directory(target.file("a.bin.part"));
  download({"flash/a.bin"}, target.path());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("could not open local file <" + target.file("a.bin") + ">", 0), 0u);
}

TEST_F(FileTransferTest, NamesFromTheRouterStayInTheChosenFolder) {
  fs::create_directories(local.file("outside"));
  writeFile(local.file("outside/victim"), Bytes{'o', 'l', 'd'});
  struct Case {
    std::string remote;
    const char* local; // the file it becomes, nullptr when refused
  } cases[] = {
      {"../x", "x"},          {"flash/../../y", "y"},
      {"a/b", "b"},           {"", nullptr},
      {"..", nullptr},        {"flash/..", nullptr},
      {"trailing/", nullptr}, {std::string("n\0ul", 4), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.remote);
    store.put(c.remote, Bytes{'n', 'e', 'w'});
    fs::remove_all(target.path());
    fs::create_directory(target.path());
    download({c.remote}, target.path());
    if (c.local) {
      EXPECT_EQ(listing(target.path()), std::vector<std::string>{c.local});
    } else {
      EXPECT_EQ(skipped, std::vector<std::string>{c.remote});
    }
  }
  // A folder tree whose list holds names reaching out of it.
  store.put("t/ok", Bytes{'1'});
  store.put("t/../../esc", Bytes{'2'});
  fs::remove_all(target.path());
  fs::create_directory(target.path());
  download({"t"}, target.path());
  EXPECT_EQ(listing(target.path()), (std::vector<std::string>{"t", "t/ok"}));
  EXPECT_EQ(skipped, (std::vector<std::string>{"t/..", "t/../..", "t/../../esc"}));

  // Links planted where the file or its part file will be are replaced, not written through.
  for (const char* planted : {"x", "x.part"}) {
    SCOPED_TRACE(planted);
    fs::remove_all(target.path());
    fs::create_directory(target.path());
    fs::create_symlink(local.file("outside/victim"), target.file(planted));
    download({"../x"}, target.path());
    EXPECT_EQ(readWholeFile(local.file("outside/victim")).value(), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target.file("x"))));
    EXPECT_EQ(readWholeFile(target.file("x")).value(), (Bytes{'n', 'e', 'w'}));
  }
}

TEST_F(FileTransferTest, SecondQueueIsRefusedAndCancelGivesUp) {
  store.put("flash/big.bin", randomBytes(300000, 4));
  FileTransfer down(reactor, port, FileTransfer::Direction::Download);
  ASSERT_TRUE(down.start(planDownload({"flash/big.bin"}, remoteList(), target.path())));
  EXPECT_FALSE(down.start({}));
  EXPECT_EQ(down.lastRefusal(), "already in progress");
  ASSERT_TRUE(drive([&] { return down.bytesDone() > 32168; }));
  down.cancel();
  EXPECT_FALSE(down.running());
  EXPECT_EQ(port.sent.back().command, kFileGiveUp);
  EXPECT_TRUE(listing(target.path()).empty());
  EXPECT_TRUE(drive([&] { return store.openTransfers() == 0; }));
}

// A port that answers nothing by itself: the test answers each request, so time is exact.
class HeldPort final : public RequestPort {
public:
  uint32_t request(const std::vector<uint32_t>&, uint32_t command, nv::message body,
                   ReplyFn onReply) override {
    held.push_back({command, std::move(body), std::move(onReply)});
    return uint32_t(held.size());
  }
  void send(const std::vector<uint32_t>&, uint32_t command, nv::message) override {
    posted.push_back(command);
  }
  void forget(uint32_t) override {}
  void answer(nv::message reply) {
    auto fn = std::move(held.back().onReply);
    fn(reply);
  }
  struct Held {
    uint32_t command;
    nv::message body;
    ReplyFn onReply;
  };
  std::vector<Held> held;
  std::vector<uint32_t> posted;
};

TEST(FileTransferProgress, TextsEvery300MsWithTheRate) {
  PollReactor reactor{PollReactor::Clock::Manual};
  test::TempFolder local;
  writeFile(local.file("data.bin"), randomBytes(100000, 5));
  HeldPort port;
  int changes = 0;
  FileTransfer up(reactor, port, FileTransfer::Direction::Upload, [&] { ++changes; });
  ASSERT_TRUE(up.start(planUpload({local.file("data.bin")}, "flash/")));
  EXPECT_EQ(up.title(), std::string("Uploading Files"));
  ASSERT_EQ(port.held.back().command, kFileOpenUpload);
  EXPECT_EQ(port.held.back().body.get(kFileName), "flash/data.bin");
  EXPECT_EQ(port.held.back().body.get(kFileSize), 100000u);
  nv::message opened;
  opened.set(STD_ID, 9u);
  port.answer(opened);
  port.answer({}); // the first piece written
  reactor.advance(299);
  EXPECT_EQ(up.status(), "");
  reactor.advance(1);
  // 32168 bytes in 300 ms: 107226 bytes a second, shown with the 1024-based rate words.
  EXPECT_EQ(up.status(), "Uploading flash/data.bin (31.4 KiB of 97.7 KiB at 104.71 kbps)");
  reactor.advance(300);
  EXPECT_EQ(up.status(), "Uploading flash/data.bin (31.4 KiB of 97.7 KiB)"); // nothing moved
  nv::message refused;
  refused.set(SYS_STATUS, STATUS_ERROR);
  refused.set(SYS_ERRNO, ERROR_FAILED);
  port.answer(refused);
  EXPECT_FALSE(up.running());
  EXPECT_EQ(up.error(), "Could not upload file - action failed (6)");
  EXPECT_EQ(port.posted, std::vector<uint32_t>{kFileGiveUp});
  EXPECT_GE(changes, 3);
}

TEST(FileTransferProgress, RouterThatSendsNothingForeverIsLeft) {
  PollReactor reactor{PollReactor::Clock::Manual};
  test::TempFolder local;
  HeldPort port;
  FileTransfer down(reactor, port, FileTransfer::Direction::Download);
  ASSERT_TRUE(down.start(planDownload({"f"}, {}, local.path())));
  nv::message opened;
  opened.set(STD_ID, 3u);
  port.answer(opened);
  for (unsigned i = 0; i < FileTransfer::kMaxEmptyPieces && down.running(); ++i)
    port.answer({});
  EXPECT_FALSE(down.running());
  EXPECT_EQ(down.error(), "Could not download file - the router sends no data (6)");
  EXPECT_EQ(port.posted, std::vector<uint32_t>{kFileGiveUp});
  EXPECT_TRUE(listing(local.path()).empty());
}

} // namespace
} // namespace kestel
