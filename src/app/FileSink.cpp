#include "app/FileSink.h"

#include "miw/SafeFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace kestel {

std::string MemorySink::write(const uint8_t* data, size_t length) {
  if (length == 0)
    finished_ = true;
  else
    bytes_.insert(bytes_.end(), data, data + length);
  return {};
}

PartFile::~PartFile() { discard(); }

bool PartFile::open(const std::string& path) {
  discard();
  path_ = path;
  part_ = path + ".part";
  ::unlink(part_.c_str()); // a leftover of an earlier, interrupted download
  fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  return fd_ >= 0;
}

bool PartFile::write(const uint8_t* data, size_t length) {
  if (fd_ < 0)
    return false;
  while (length > 0) {
    ssize_t n = ::write(fd_, data, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool PartFile::commit() {
  if (fd_ < 0)
    return false;
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (!ok || ::rename(part_.c_str(), path_.c_str()) != 0) {
    ::unlink(part_.c_str());
    return false;
  }
  part_.clear();
  int dir = ::open(parentFolder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir); // makes the rename itself durable; a failure here loses nothing yet
    ::close(dir);
  }
  return true;
}

void PartFile::discard() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  if (!part_.empty())
    ::unlink(part_.c_str());
  part_.clear();
}

std::string PlainFileSink::write(const uint8_t* data, size_t length) {
  if (finished_)
    return {};
  if (length == 0) {
    if (!file_.commit())
      return kDiskWriteError;
    finished_ = true;
    return {};
  }
  if (!file_.write(data, length))
    return kDiskWriteError;
  written_ += length;
  return {};
}

struct GzipFileSink::Stream {
  z_stream z{};
  bool live = false;
  ~Stream() {
    if (live)
      inflateEnd(&z);
  }
};

GzipFileSink::GzipFileSink() : stream_(std::make_unique<Stream>()) {}
GzipFileSink::~GzipFileSink() = default;

namespace {

constexpr uint8_t kFlagHeaderCheck = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr size_t kFixedHeader = 10;

// Skips a NUL-terminated field; false when the NUL is missing.
bool skipText(const uint8_t* data, size_t length, size_t& at) {
  while (at < length && data[at] != 0)
    ++at;
  if (at >= length)
    return false;
  ++at;
  return true;
}

} // namespace

// Reads the header from the first call and starts the raw inflater.
std::string GzipFileSink::start(const uint8_t*& data, size_t& length) {
  started_ = true;
  if (length < kFixedHeader || data[0] != 0x1F || data[1] != 0x8B)
    return "bad file format";
  uint8_t flags = data[3];
  size_t at = kFixedHeader;
  if (flags & kFlagExtra) {
    if (length - at < 2)
      return "bad file format";
    size_t extra = data[at] | size_t(data[at + 1]) << 8;
    at += 2;
    if (length - at < extra)
      return "bad file format";
    at += extra;
  }
  if ((flags & kFlagName) && !skipText(data, length, at))
    return "bad file format";
  if ((flags & kFlagComment) && !skipText(data, length, at))
    return "bad file format";
  if (flags & kFlagHeaderCheck) {
    if (length - at < 2)
      return "bad file format";
    at += 2;
  }
  if (inflateInit2(&stream_->z, -MAX_WBITS) != Z_OK)
    return "decompressor failed";
  stream_->live = true;
  data += at;
  length -= at;
  return {};
}

std::string GzipFileSink::write(const uint8_t* data, size_t length) {
  if (finished_)
    return {};
  if (length == 0) {
    // A stream that never reached its end is a truncated file, not a complete one.
    if (!streamEnded_)
      return "corrupted gzip";
    if (!file_.commit())
      return kDiskWriteError;
    finished_ = true;
    return {};
  }
  if (streamEnded_)
    return {}; // the trailer and anything after the compressed stream
  if (!started_) {
    if (std::string e = start(data, length); !e.empty())
      return e;
  } else if (!stream_->live) {
    return "bad file format";
  }
  z_stream& z = stream_->z;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(length);
  uint8_t out[kOutputStep];
  // Runs while input remains, and once more after a full step: inflate may hold more output.
  for (;;) {
    z.next_out = out;
    z.avail_out = sizeof out;
    int r = inflate(&z, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR)
      return "corrupted gzip";
    size_t produced = sizeof out - z.avail_out;
    if (produced > 0 && !file_.write(out, produced))
      return kDiskWriteError;
    written_ += produced;
    if (r == Z_STREAM_END) {
      streamEnded_ = true;
      break;
    }
    if (r == Z_BUF_ERROR || (z.avail_in == 0 && z.avail_out != 0))
      break; // everything of this call is consumed and flushed
  }
  return {};
}

} // namespace kestel
