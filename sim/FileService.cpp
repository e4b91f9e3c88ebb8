#include "sim/FileService.h"

#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"
#include "sim/IconSheet.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <zlib.h>

namespace kestel::sim {
namespace {

namespace fs = std::filesystem;

inline constexpr nv::u32_id kPieceSize = kFilePieceSize;
inline constexpr nv::raw_id kPieceData = kFilePiece;
inline constexpr nv::bool_id kPieceLast = kFileLast;
// Descriptor files open with their own command; reading and giving up are the store's.
inline constexpr uint32_t kOpen = 7, kRead = kFileRead, kGiveUp = kFileGiveUp;
inline constexpr size_t kSlowPiece = 256;
inline constexpr uint8_t kRawChannel = 2;
inline constexpr size_t kRawHeader = 18;

const char* kDocuments[] = {"nimblux.jg", "ipv6.jg", "tools.jg"};

Expected<Bytes> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return makeError("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  return Bytes(text.begin(), text.end());
}

// gzip with the file name in the header, as a router's own tools write it.
Bytes gzipOf(const Bytes& plain, const std::string& name) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
  gz_header header{};
  std::string stored = name;
  header.name = reinterpret_cast<Bytef*>(stored.data());
  header.os = 3;
  deflateSetHeader(&z, &header);
  Bytes out(deflateBound(&z, static_cast<uLong>(plain.size())) + name.size() + 32);
  z.next_in = const_cast<Bytef*>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The inside of a top-level array document, without its brackets.
std::string arrayBody(const Bytes& document) {
  std::string text(document.begin(), document.end());
  size_t open = text.find('['), close = text.rfind(']');
  if (open == std::string::npos || close == std::string::npos || close <= open)
    return {};
  return text.substr(open + 1, close - open - 1);
}

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

FileService::FileService(FileServiceOptions options) : options_(std::move(options)) {
  if (options_.sampleDir.empty())
    options_.sampleDir = KESTEL_SIM_SAMPLE_DIR;
}

void FileService::addFile(std::string name, Bytes plain, const std::string& version) {
  ServedFile f;
  f.gzip = gzipOf(plain, name);
  if (options_.corruptGzip && f.gzip.size() > 10 + name.size() + 1)
    f.gzip[10 + name.size() + 1] |= 0x06; // the first block's type becomes the reserved one
  f.name = std::move(name);
  f.version = version;
  f.plain = std::move(plain);
  files_.push_back(std::move(f));
}

Expected<void> FileService::load(const std::string& routerVersion) {
  files_.clear();
  skins_.clear();
  fs::path dir(options_.sampleDir);
  std::string bulk;
  for (const char* name : kDocuments) {
    Expected<Bytes> bytes = readFile(dir / name);
    if (!bytes)
      return bytes.error();
    if (!bulk.empty())
      bulk += ",";
    bulk += arrayBody(*bytes);
    addFile(name, std::move(*bytes), routerVersion);
  }
  addFile("icons.png", makeIconSheet(16), {});
  addFile("icons24.png", makeIconSheet(24), {});
  addFile("icons32.png", makeIconSheet(32), {});
  // The bigger set: copies of the whole sample under other package names.
  for (unsigned k = 1; k < options_.scale; ++k) {
    std::string text = "[" + bulk + "]";
    addFile("bulk" + std::to_string(k) + ".jg", Bytes(text.begin(), text.end()), routerVersion);
  }
  std::error_code ec;
  for (fs::directory_iterator it(dir / "skins", ec), end; !ec && it != end; it.increment(ec)) {
    Expected<Bytes> bytes = readFile(it->path());
    if (bytes)
      skins_["skins/" + it->path().filename().string()] = std::move(*bytes);
  }
  rebuildIndex();
  return {};
}

void FileService::rebuildIndex() {
  index_.clear();
  for (ServedFile& f : files_) {
    uint32_t crc =
        static_cast<uint32_t>(crc32(0, f.plain.data(), static_cast<uInt>(f.plain.size())));
    f.crc = options_.bumped.count(f.name) ? crc + 1 : crc;
    index_ += "{\"name\":\"" + f.name + "\",\"size\":" + std::to_string(f.plain.size()) +
              ",\"crc\":" + std::to_string(f.crc);
    if (!f.version.empty())
      index_ += ",\"version\":\"" + f.version + "\"";
    index_ += "},\n";
  }
  indexBytes_.assign(index_.begin(), index_.end());
}

void FileService::bumpChecksum(const std::string& name) {
  options_.bumped.insert(name);
  rebuildIndex();
}

const Bytes* FileService::lookup(const std::string& requested) {
  opened_.push_back(requested);
  return find(requested);
}

const Bytes* FileService::find(const std::string& requested) const {
  if (requested == "list")
    return options_.noIndex ? nullptr : &indexBytes_;
  if (auto it = skins_.find(requested); it != skins_.end())
    return &it->second;
  bool gz = requested.size() > 3 && requested.compare(requested.size() - 3, 3, ".gz") == 0;
  std::string name = gz ? requested.substr(0, requested.size() - 3) : requested;
  for (const ServedFile& f : files_)
    if (f.name == name)
      return gz ? &f.gzip : &f.plain;
  return nullptr;
}

std::optional<nv::message> FileService::handle(const nv::message& request) {
  nv::message reply;
  uint32_t command = request.get(SYS_CMD);
  if (store_ &&
      (((command == kRead || command == kGiveUp) && store_->ownsTransfer(request.get(STD_ID))) ||
       command == kFileOpenUpload || command == kFileWrite || command == kFileOpenDownload ||
       command == kFileMakeFolder))
    return store_->handle(request);
  if (command == kOpen) {
    const Bytes* data = lookup(request.get(kFileName));
    if (!data) {
      reply.set(SYS_STATUS, STATUS_ERROR);
      reply.set(SYS_ERRNO, kMissing);
      reply.set(SYS_ERRSTR, "no such file");
      return reply;
    }
    uint32_t id = nextTransfer_++;
    transfers_[id] = Transfer{data, 0};
    reply.set(STD_ID, id);
    return reply;
  }
  if (command == kRead) {
    auto it = transfers_.find(request.get(STD_ID));
    if (it == transfers_.end()) {
      reply.set(SYS_STATUS, STATUS_ERROR);
      reply.set(SYS_ERRNO, ERROR_UNKNOWNID);
      return reply;
    }
    Transfer& t = it->second;
    size_t piece = request.get(kPieceSize, 32768);
    if (options_.slowFiles)
      piece = std::min(piece, kSlowPiece);
    size_t n = std::min(piece, t.data->size() - t.at);
    reply.set(kPieceData, Bytes(t.data->begin() + long(t.at), t.data->begin() + long(t.at + n)));
    t.at += n;
    bool last = t.at >= t.data->size();
    reply.set(kPieceLast, last);
    if (last)
      transfers_.erase(it);
    return reply;
  }
  if (command == kGiveUp) {
    transfers_.erase(request.get(STD_ID));
    return std::nullopt;
  }
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, ERROR_NOTIMP);
  return reply;
}

// Raw channel 2: each 18-byte request names a file and an offset; the answer is one piece.
class FileService::StreamChannel final : public ChannelHandler {
public:
  explicit StreamChannel(FileService& service) : service_(service) {}

  void onChunk(SimConnection& connection, uint8_t, ByteSpan payload) override {
    request_.insert(request_.end(), payload.begin(), payload.end());
    // The whole requests are answered first and then dropped together.
    size_t at = 0;
    for (; request_.size() - at >= kRawHeader; at += kRawHeader)
      answer(connection, request_.data() + at);
    request_.erase(request_.begin(), request_.begin() + long(at));
  }

private:
  void answer(SimConnection& connection, const uint8_t* r) {
    std::string name(reinterpret_cast<const char*>(r), 12);
    name.resize(name.find('\0') == std::string::npos ? 12 : name.find('\0'));
    size_t largest = size_t(r[12]) << 8 | r[13];
    uint32_t offset = be32(r + 14);
    bool png = name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0;
    std::string served = png || name == "list" ? name : name + ".gz";
    const Bytes* data = offset == 0 ? service_.lookup(served) : service_.find(served);
    Bytes piece(kRawHeader, 0);
    std::copy(r, r + 11, piece.begin());
    if (!data) {
      piece[11] = 2;
      piece.push_back(static_cast<uint8_t>(kMissing));
      connection.send(kRawChannel, piece);
      return;
    }
    if (service_.options_.slowFiles)
      largest = std::min(largest, kSlowPiece);
    size_t at = std::min<size_t>(offset, data->size());
    size_t n = std::min(largest, data->size() - at);
    piece[11] = 1;
    piece[12] = static_cast<uint8_t>(n >> 8);
    piece[13] = static_cast<uint8_t>(n);
    std::copy(r + 14, r + 18, piece.begin() + 14);
    piece.insert(piece.end(), data->begin() + long(at), data->begin() + long(at + n));
    connection.send(kRawChannel, piece);
  }

  FileService& service_;
  Bytes request_;
};

void FileService::install(RouterLogin& login, SimServer& server) {
  login.addHandler({2, 2}, [this](const RouterRequest& r) { return handle(r.message); });
  if (store_)
    login.addHandler(kFileListHandler,
                     [this](const RouterRequest& r) -> std::optional<nv::message> {
                       return store_->list(r.message);
                     });
  server.registerChannel(kRawChannel,
                         [this](SimConnection&) { return std::make_unique<StreamChannel>(*this); });
}

int applyFileOption(FileServiceOptions& options, int argc, char** argv, int i) {
  std::string arg = argv[i];
  if (arg == "--no-index")
    options.noIndex = true;
  else if (arg == "--corrupt-gzip")
    options.corruptGzip = true;
  else if (arg == "--slow-files")
    options.slowFiles = true;
  else if (arg == "--files" || arg == "--bump-checksum" || arg == "--scale") {
    if (i + 1 >= argc)
      return -1;
    std::string value = argv[i + 1];
    if (arg == "--files") {
      options.sampleDir = value;
    } else if (arg == "--bump-checksum") {
      options.bumped.insert(value);
    } else {
      char* end = nullptr;
      unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (!end || *end || n < 1 || n > 1000)
        return -1;
      options.scale = static_cast<unsigned>(n);
    }
    return 2;
  } else
    return 0;
  return 1;
}

const char* fileOptionsUsage() {
  return "  files: --files <folder> --scale <n> --bump-checksum <name>\n"
         "         --no-index --corrupt-gzip --slow-files\n";
}

} // namespace kestel::sim
