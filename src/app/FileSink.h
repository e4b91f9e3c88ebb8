// Where the bytes of one downloaded file go. A write of length 0 ends the file. File sinks never
// write in place: the bytes go to "<path>.part" in the same folder, which the end of the file
// flushes to disk and renames over <path>; a sink dropped before that removes its part file, so
// a crash, a full disk or a broken transfer never leaves a truncated file under the real name.
#pragma once

#include "util/Bytes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestel {

class FileSink {
public:
  virtual ~FileSink() = default;
  // Takes `length` bytes (0: end of file). Returns an error text, empty on success.
  virtual std::string write(const uint8_t* data, size_t length) = 0;
  // Bytes written to the destination so far (after decompression).
  virtual uint64_t bytesWritten() const = 0;
  // Prepares the destination; false when it cannot be made.
  virtual bool open(const std::string& path) = 0;
  // True once the end of the file was written successfully.
  virtual bool finished() const = 0;
};

class MemorySink final : public FileSink {
public:
  std::string write(const uint8_t* data, size_t length) override;
  uint64_t bytesWritten() const override { return bytes_.size(); }
  bool open(const std::string&) override { return true; }
  bool finished() const override { return finished_; }
  const Bytes& bytes() const { return bytes_; }

private:
  Bytes bytes_;
  bool finished_ = false;
};

// The part file behind the file sinks: created exclusively next to the destination, written in
// full, fsync'd and renamed on commit, removed when dropped uncommitted.
class PartFile {
public:
  PartFile() = default;
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool open(const std::string& path);
  // Writes everything; false on a short or failed write.
  bool write(const uint8_t* data, size_t length);
  // fsync, close, rename over the destination, fsync the folder; false when any step fails
  // (the part file is then removed).
  bool commit();
  bool isOpen() const { return fd_ >= 0; }

private:
  void discard();

  int fd_ = -1;
  std::string path_;
  std::string part_;
};

inline constexpr const char* kDiskWriteError = "could not write to disk";

class PlainFileSink final : public FileSink {
public:
  std::string write(const uint8_t* data, size_t length) override;
  uint64_t bytesWritten() const override { return written_; }
  bool open(const std::string& path) override { return file_.open(path); }
  bool finished() const override { return finished_; }

private:
  PartFile file_;
  uint64_t written_ = 0;
  bool finished_ = false;
};

// Inflates a gzip stream on the fly: the header (with its optional extra field, name, comment
// and header check) must arrive whole in the first call; the raw deflate data is inflated in
// 8192-byte output steps; the trailer and anything after the compressed stream are ignored.
class GzipFileSink final : public FileSink {
public:
  static constexpr size_t kOutputStep = 8192;

  GzipFileSink();
  ~GzipFileSink() override;
  std::string write(const uint8_t* data, size_t length) override;
  uint64_t bytesWritten() const override { return written_; }
  bool open(const std::string& path) override { return file_.open(path); }
  bool finished() const override { return finished_; }

private:
  std::string start(const uint8_t*& data, size_t& length);

  struct Stream;
  std::unique_ptr<Stream> stream_;
  PartFile file_;
  uint64_t written_ = 0;
  bool started_ = false;
  bool streamEnded_ = false;
  bool finished_ = false;
};

} // namespace kestel
