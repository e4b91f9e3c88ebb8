// The simulator's file store: the files and folders a router keeps on its disk, in memory. It
// takes uploads and serves downloads through the file handler (2, 2) (commands 1, 2, 3, 6 and,
// for its own transfers, 4 and 5; FileService passes them on) and lists its contents as the
// object map at (72). A size cap stands for the disk's size; switches make it misbehave the ways
// a client must survive: a full disk, a list that lies about sizes, pieces larger than asked
// for, and errors in the middle of a file.
#pragma once

#include "api/wire/Message.h"
#include "util/Bytes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kestel::sim {

struct FileStoreOptions {
  uint64_t capacity = 512ull << 20; // bytes the stored files may take together
  bool diskFull = false;            // every piece written is refused ("not enough disk space")
  bool lieSize = false;             // the list announces each file one byte larger than it is
  bool tooMuch = false;             // each piece read carries 100 bytes more than asked for
  uint64_t errorAfter = 0;          // a piece read or written that would take a transfer past
                                    // this many bytes fails (0: never)
};

class FileStore {
public:
  // Transfer ids of the store start here, apart from the descriptor transfers.
  static constexpr uint32_t kFirstTransfer = 0x40000000;

  explicit FileStore(FileStoreOptions options = {});

  // Answers a file handler command of the store; nothing for a command without a reply.
  std::optional<nv::message> handle(const nv::message& request);
  // True when `id` is one of the store's transfers.
  bool ownsTransfer(uint32_t id) const { return transfers_.count(id) != 0; }
  // Answers a request to the list at (72).
  nv::message list(const nv::message& request) const;

  // Tests: the stored bytes of a file, null for none.
  const Bytes* file(const std::string& name) const;
  bool isFolder(const std::string& name) const;
  // Puts a file (and its folders) into the store directly.
  void put(const std::string& name, Bytes data);
  size_t openTransfers() const { return transfers_.size(); }
  FileStoreOptions& options() { return options_; }

private:
  struct Entry {
    uint32_t id;
    bool folder;
    std::shared_ptr<const Bytes> data;
  };
  struct Transfer {
    bool upload;
    std::string name;
    uint32_t size;                     // upload: the announced size
    Bytes received;                    // upload
    std::shared_ptr<const Bytes> data; // download
    size_t at = 0;                     // download
  };

  nv::message openUpload(const nv::message& request);
  nv::message write(const nv::message& request);
  nv::message openDownload(const nv::message& request);
  nv::message read(const nv::message& request);
  // Creates `name` and its missing parents as folders; false when a file stands in the way.
  bool makeFolders(const std::string& name);
  uint64_t used() const;

  FileStoreOptions options_;
  std::map<std::string, Entry> entries_;
  std::map<uint32_t, Transfer> transfers_;
  uint32_t nextEntry_ = 1;
  uint32_t nextTransfer_ = kFirstTransfer;
};

// Applies the store option at argv[i] (see FileService's applyFileOption).
int applyFileStoreOption(FileStoreOptions& options, int argc, char** argv, int i);
const char* fileStoreOptionsUsage();

} // namespace kestel::sim
