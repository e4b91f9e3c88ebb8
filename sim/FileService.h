// The simulator's file service: the descriptor set a router offers (documents, skins and icon
// sheets) with an index ("list") naming each file with its size, checksum value and version.
// Served through the file handler (2, 2) (open 7, read 4, give up 5; non-PNG files as gzip when
// asked with ".gz") and, for legacy sessions, through raw channel 2. Switches make it misbehave
// the ways the client must survive. With a file store attached the same handler also serves the
// store's commands (upload, download, folders) and (72) lists the store.
#pragma once

#include "sim/FileStore.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "util/Bytes.h"
#include "util/Expected.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestel::sim {

struct FileServiceOptions {
  std::string sampleDir;        // the documents and skins; empty: the built-in sample folder
  bool noIndex = false;         // "list" is missing (error code 2)
  bool corruptGzip = false;     // compressed files carry a broken deflate stream
  bool slowFiles = false;       // pieces of at most 256 bytes
  unsigned scale = 1;           // 1: the sample; N: N-1 generated documents added
  std::set<std::string> bumped; // names whose announced checksum value is changed
};

struct ServedFile {
  std::string name;
  std::string version;
  Bytes plain;
  Bytes gzip;
  uint32_t crc = 0; // zlib's CRC-32 of the plain bytes, plus one when bumped
};

class FileService {
public:
  // The transfer error code of a missing file.
  static constexpr uint32_t kMissing = 2;

  explicit FileService(FileServiceOptions options = {});

  // Reads the documents and skins, draws the icon sheets and builds the index.
  Expected<void> load(const std::string& routerVersion);
  // Serves handler (2, 2) through `login` and raw channel 2 on `server`; the service must
  // outlive both.
  void install(RouterLogin& login, SimServer& server);
  // Serves `store` through the same handler from install() on; the store must outlive both.
  void attachStore(FileStore& store) { store_ = &store; }

  // Changes the announced checksum value of `name` (and rebuilds the index).
  void bumpChecksum(const std::string& name);
  FileServiceOptions& options() { return options_; }

  const std::string& index() const { return index_; }
  const std::vector<ServedFile>& files() const { return files_; }
  // Names opened so far (as asked, ".gz" included) through either path; for tests.
  const std::vector<std::string>& opened() const { return opened_; }
  void clearOpened() { opened_.clear(); }

  // The bytes served under `requested` (a file, "<file>.gz", "list" or "skins/<name>.json");
  // null when there is no such file.
  const Bytes* lookup(const std::string& requested);
  // The same without counting it as opened (a later piece of a raw-channel transfer).
  const Bytes* find(const std::string& requested) const;

  class StreamChannel;

private:
  std::optional<nv::message> handle(const nv::message& request);
  void rebuildIndex();
  void addFile(std::string name, Bytes plain, const std::string& version);

  FileServiceOptions options_;
  std::vector<ServedFile> files_;
  std::map<std::string, Bytes> skins_;
  std::string index_;
  Bytes indexBytes_;
  struct Transfer {
    const Bytes* data;
    size_t at;
  };
  std::map<uint32_t, Transfer> transfers_;
  uint32_t nextTransfer_ = 1;
  std::vector<std::string> opened_;
  FileStore* store_ = nullptr;
};

// Applies the file option at argv[i]: returns how many arguments it took, 0 when argv[i] is not
// a file option, -1 when its value is missing or malformed.
int applyFileOption(FileServiceOptions& options, int argc, char** argv, int i);
const char* fileOptionsUsage();

} // namespace kestel::sim
