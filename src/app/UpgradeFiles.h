// The files of a self-upgrade. The new program is downloaded beside the one it replaces, under a
// name of its own (".ksx" and six random characters) created exclusively with mode 0700, so that
// no other user can put anything in its place between the download and the hand-off, and the
// final rename never crosses file systems. The replacement itself is a copy beside the target,
// flushed to disk, given the target's permission bits and renamed over it: at every moment the
// target is either the old program or the new one, whole.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <cstdint>
#include <string>

namespace kestel {

inline constexpr const char* kDownloadPrefix = ".ksx";
// Where Debian's package manager lists the files of the installed package.
inline constexpr const char* kPackageFileList = "/var/lib/dpkg/info/kestel.list";

// True for a name the download gives its file (the folder part is not looked at).
bool isDownloadName(const std::string& path);

// Whether this user may replace `target` here: false when its folder cannot be written (a
// read-only install such as /usr/bin, or a folder with the sticky bit and the target another
// user's) or when `packageList` (a file of paths, one a line) names it. `reason` gets the text
// for the user then.
bool canReplaceProgram(const std::string& target, const std::string& packageList,
                       std::string& reason);

// The downloaded program, open for writing. Removed when the object goes unless kept.
class DownloadFile {
public:
  // Creates the file beside `target`; fails with the errno text (and `readOnly` set when the
  // folder refuses writing).
  static Expected<DownloadFile> create(const std::string& target, bool* readOnly = nullptr);
  DownloadFile() = default;
  DownloadFile(DownloadFile&& other) noexcept;
  DownloadFile& operator=(DownloadFile&& other) noexcept;
  ~DownloadFile();

  bool write(ByteSpan block);
  // Flushes the file to disk; false on failure.
  bool finish();
  // Whether `signature` signs the file's bytes under `publicKey`.
  bool verify(ByteSpan signature, ByteSpan publicKey) const;
  // Closes and deletes the file now.
  void remove();
  // Closes the file and leaves it on disk (it is about to run).
  std::string keep();

  const std::string& path() const { return path_; }
  uint64_t size() const { return size_; }
  bool isOpen() const { return fd_ >= 0; }

private:
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Replaces `target` with the bytes read from `source` as described above; the target keeps its
// permission bits (without set-user and set-group bits). On failure the target is untouched and
// the text names the step.
Expected<void> replaceProgram(int source, const std::string& target);

} // namespace kestel
