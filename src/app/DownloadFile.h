// Where a downloaded file goes on the user's disk. Names come from the router and are not
// trusted: only a single name component is taken ("a/b" gives "b"; "", ".", ".." and names
// holding NUL are refused), and the file is never created through a symbolic link. The bytes go
// to "<name>.part" (created exclusively, without following links) and are renamed over the
// target only when the file is complete, which replaces whatever stood there (a planted link
// included) without writing through it. A download dropped before that removes the part file.
#pragma once

#include "util/Expected.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kestel {

// The local name for the router's file `remote`: its last "/"-separated component. Fails for
// an empty component, ".", "..", or a NUL anywhere in the name.
Expected<std::string> localNameOf(const std::string& remote);
// True when `name` is one usable component: not empty, not "." or "..", no "/" and no NUL.
bool isSafeComponent(const std::string& name);

class DownloadFile {
public:
  DownloadFile() = default;
  ~DownloadFile() { discard(); }
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  // Creates the part file for `folder`/`name` (`name` must be a safe component); the error
  // carries the errno text.
  Expected<void> create(const std::string& folder, const std::string& name);
  // Writes everything; the error is the errno text ("No space left on device").
  Expected<void> write(const uint8_t* data, size_t length);
  // Flushes, closes and renames over the target; on failure the part file is removed.
  Expected<void> commit();
  // Closes and removes the part file; nothing when none is open.
  void discard();

  const std::string& path() const { return path_; }
  bool isOpen() const { return fd_ >= 0; }

private:
  int fd_ = -1;
  std::string path_;
  std::string part_;
};

// Tests only: replaces write(2) for download files (the same signature); empty restores it.
void setDownloadWriteForTesting(std::function<long(int fd, const void* data, size_t length)> fn);

} // namespace kestel
