#include "sim/FileStore.h"

#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"

#include <cstdlib>

namespace kestel::sim {
namespace {

constexpr size_t kExtraBytes = 100;

nv::message failure(uint32_t code, const std::string& text) {
  nv::message reply;
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, code);
  reply.set(SYS_ERRSTR, text);
  return reply;
}

// A stored name: parts separated by single "/", none empty, "." or "..", no NUL.
bool validName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos)
    return false;
  size_t at = 0;
  while (true) {
    size_t slash = name.find('/', at);
    std::string part = name.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (part.empty() || part == "." || part == "..")
      return false;
    if (slash == std::string::npos)
      return true;
    at = slash + 1;
  }
}

std::string parentOf(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

} // namespace

FileStore::FileStore(FileStoreOptions options) : options_(options) {
  makeFolders("flash");
  std::string readme = "Files uploaded to this router are kept in memory until it stops.\n";
  put("flash/readme.txt", Bytes(readme.begin(), readme.end()));
}

uint64_t FileStore::used() const {
  uint64_t total = 0;
  for (const auto& [name, e] : entries_)
    total += e.data ? e.data->size() : 0;
  for (const auto& [id, t] : transfers_)
    total += t.upload ? t.size : 0; // room promised to running uploads
  return total;
}

bool FileStore::makeFolders(const std::string& name) {
  if (name.empty())
    return true;
  auto it = entries_.find(name);
  if (it != entries_.end())
    return it->second.folder;
  if (!makeFolders(parentOf(name)))
    return false;
  entries_[name] = Entry{nextEntry_++, true, nullptr};
  return true;
}

void FileStore::put(const std::string& name, Bytes data) {
  makeFolders(parentOf(name));
  auto it = entries_.find(name);
  uint32_t id = it != entries_.end() ? it->second.id : nextEntry_++;
  entries_[name] = Entry{id, false, std::make_shared<const Bytes>(std::move(data))};
}

const Bytes* FileStore::file(const std::string& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() || it->second.folder ? nullptr : it->second.data.get();
}

bool FileStore::isFolder(const std::string& name) const {
  auto it = entries_.find(name);
  return it != entries_.end() && it->second.folder;
}

std::optional<nv::message> FileStore::handle(const nv::message& request) {
  switch (request.get(SYS_CMD)) {
  case kFileOpenUpload:
    return openUpload(request);
  case kFileWrite:
    return write(request);
  case kFileOpenDownload:
    return openDownload(request);
  case kFileRead:
    return read(request);
  case kFileGiveUp:
    transfers_.erase(request.get(STD_ID)); // an upload given up leaves nothing behind
    return std::nullopt;
  case kFileMakeFolder:
    if (std::string name = request.get(kFileName); validName(name))
      makeFolders(name);
    return std::nullopt;
  default:
    return failure(ERROR_NOTIMP, "unknown file command");
  }
}

nv::message FileStore::openUpload(const nv::message& request) {
  std::string name = request.get(kFileName);
  if (!validName(name))
    return failure(ERROR_FAILED, "invalid file name");
  if (!request.has(kFileSize))
    return failure(ERROR_MISSING, "file size missing");
  uint32_t size = request.get(kFileSize);
  if (isFolder(name))
    return failure(ERROR_EXISTS, "a folder has that name");
  if (uint64_t(size) > options_.capacity || used() > options_.capacity - size)
    return failure(ERROR_TOOBIG, "not enough disk space");
  uint32_t id = nextTransfer_++;
  Transfer& t = transfers_[id] = Transfer{true, name, size, {}, nullptr, 0};
  t.received.reserve(size); // room was promised above
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

nv::message FileStore::write(const nv::message& request) {
  uint32_t id = request.get(STD_ID);
  auto it = transfers_.find(id);
  if (it == transfers_.end() || !it->second.upload)
    return failure(ERROR_UNKNOWNID, "no such transfer");
  Transfer& t = it->second;
  Bytes piece = request.get(kFilePiece);
  auto drop = [&](uint32_t code, const std::string& text) {
    transfers_.erase(it);
    return failure(code, text);
  };
  if (options_.diskFull && !piece.empty())
    return drop(ERROR_FAILED, "not enough disk space");
  if (options_.errorAfter && t.received.size() + piece.size() > options_.errorAfter)
    return drop(ERROR_FAILED, "write error");
  if (piece.size() > kFilePieceBytes || t.received.size() + piece.size() > t.size)
    return drop(ERROR_FAILED, "more data than announced");
  t.received.insert(t.received.end(), piece.begin(), piece.end());
  if (request.get(kFileLast)) {
    if (t.received.size() != t.size)
      return drop(ERROR_FAILED, "less data than announced");
    if (!makeFolders(parentOf(t.name)) || isFolder(t.name))
      return drop(ERROR_EXISTS, "a file is in the way");
    std::string name = t.name;
    Bytes data = std::move(t.received);
    transfers_.erase(it);
    put(name, std::move(data));
  }
  return nv::message{};
}

nv::message FileStore::openDownload(const nv::message& request) {
  std::string name = request.get(kFileName);
  auto it = entries_.find(name);
  if (it == entries_.end() || it->second.folder)
    return failure(ERROR_MISSING, "no such file");
  uint32_t id = nextTransfer_++;
  transfers_[id] = Transfer{false, name, 0, {}, it->second.data, 0};
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

nv::message FileStore::read(const nv::message& request) {
  auto it = transfers_.find(request.get(STD_ID));
  if (it == transfers_.end() || it->second.upload)
    return failure(ERROR_UNKNOWNID, "no such transfer");
  Transfer& t = it->second;
  // Pieces are never larger than the client's, whatever a request asks for.
  size_t asked = std::min(request.get(kFilePieceSize, kFilePieceBytes), kFilePieceBytes);
  size_t n = std::min(asked, t.data->size() - t.at);
  if (options_.errorAfter && t.at + n > options_.errorAfter) {
    transfers_.erase(it);
    return failure(ERROR_FAILED, "read error");
  }
  Bytes piece(t.data->begin() + long(t.at), t.data->begin() + long(t.at + n));
  if (options_.tooMuch)
    piece.resize(asked + kExtraBytes, 0x5A);
  t.at += n;
  bool last = t.at >= t.data->size();
  nv::message reply;
  reply.set(kFilePiece, std::move(piece));
  reply.set(kFileLast, last);
  if (last)
    transfers_.erase(it);
  return reply;
}

nv::message FileStore::list(const nv::message& request) const {
  if (request.get(SYS_CMD) != CMD_GETALL)
    return failure(ERROR_NOTIMP, "the file list is read only");
  nv::message reply;
  std::vector<nv::message> objects;
  for (const auto& [name, e] : entries_) {
    nv::message o;
    o.set(STD_ID, e.id);
    o.set(kFileListType, e.folder ? "directory" : "file");
    auto parent = entries_.find(parentOf(name));
    o.set(kFileListContainer, parent == entries_.end() ? 0xFFFFFFFFu : parent->second.id);
    o.set(kFileListName, name);
    uint64_t size = e.data ? e.data->size() + (options_.lieSize ? 1 : 0) : 0;
    o.set(kFileListSize, uint32_t(std::min<uint64_t>(size, 0xFFFFFFFE)));
    size_t slash = name.rfind('/');
    o.set(kFileListBaseName, slash == std::string::npos ? name : name.substr(slash + 1));
    objects.push_back(std::move(o));
  }
  reply.set(nv::u32_id(STD_OBJ_COUNT), uint32_t(objects.size()));
  reply.set(STD_OBJS, objects);
  reply.set(STD_GETALLID, 0xFFFFFFFFu);
  return reply;
}

int applyFileStoreOption(FileStoreOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg == "--disk-full")
    options.diskFull = true;
  else if (arg == "--file-lie-size")
    options.lieSize = true;
  else if (arg == "--file-too-much")
    options.tooMuch = true;
  else if (arg == "--store-size" || arg == "--file-error-after") {
    if (i + 1 >= argc)
      return -1;
    char* end = nullptr;
    unsigned long long n = std::strtoull(argv[i + 1], &end, 10);
    if (!end || *end || end == argv[i + 1])
      return -1;
    (arg == "--store-size" ? options.capacity : options.errorAfter) = n;
    return 2;
  } else
    return 0;
  return 1;
}

const char* fileStoreOptionsUsage() {
  return "  file store: --store-size <bytes> (default 536870912) --disk-full\n"
         "         --file-lie-size --file-too-much --file-error-after <bytes>\n";
}

} // namespace kestel::sim
