// The transfer engine fed a hostile router's replies: a file list page, then the answers to a
// download of two files (open, pieces, errors, ids, sizes of any kind). Input: records of a
// length byte and that many bytes of an encoded message, each answering the latest request.
// Whatever the router says, a file that did not arrive whole must leave nothing on disk, and the
// engine must never hold more than one request.
#include "api/net/PollReactor.h"
#include "app/FileTransfer.h"
#include "app/RemoteFileList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace kestel;

class HeldPort final : public RequestPort {
public:
  uint32_t request(const std::vector<uint32_t>&, uint32_t, nv::message, ReplyFn fn) override {
    if (waiting)
      std::abort(); // one request outstanding at most
    waiting = std::move(fn);
    return ++ids;
  }
  void send(const std::vector<uint32_t>&, uint32_t, nv::message) override {}
  void forget(uint32_t) override { waiting = nullptr; }
  ReplyFn waiting;
  uint32_t ids = 0;
};

const std::string& folder() {
  static std::string path = [] {
    std::string pattern = "/tmp/kestel-fuzz-XXXXXX";
    return std::string(::mkdtemp(pattern.data()) ? pattern.c_str() : "/nonexistent");
  }();
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PollReactor reactor{PollReactor::Clock::Manual};
  HeldPort port;
  std::vector<nv::message> replies;
  for (size_t at = 0; at < size;) {
    size_t n = std::min<size_t>(data[at], size - at - 1);
    nv::message m;
    (void)m.parse(data + at + 1, n);
    replies.push_back(std::move(m));
    at += 1 + n;
  }
  std::vector<RemoteFile> list;
  if (!replies.empty())
    readFileListPage(replies.front(), list);
  std::filesystem::remove_all(folder());
  std::filesystem::create_directory(folder());
  {
    FileTransfer transfer(reactor, port, FileTransfer::Direction::Download);
    transfer.start(planDownload({"a", "dir/b"}, list, folder()));
    for (size_t i = 1; i < replies.size() && port.waiting; ++i) {
      auto fn = std::move(port.waiting);
      port.waiting = nullptr;
      fn(replies[i]);
      reactor.advance(300);
    }
    if (transfer.running())
      transfer.cancel();
    // Only whole files stay: nothing called ".part", and at most the files that finished.
    size_t present = 0;
    for (auto& e : std::filesystem::recursive_directory_iterator(folder())) {
      if (e.path().extension() == ".part")
        std::abort();
      present += e.is_regular_file() ? 1 : 0;
    }
    if (present > transfer.filesDone())
      std::abort();
  }
  return 0;
}
