#include "app/DownloadFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestel {
namespace {

std::function<long(int, const void*, size_t)>& writeFunction() {
  static std::function<long(int, const void*, size_t)> fn;
  return fn;
}

long writeSome(int fd, const void* data, size_t length) {
  if (writeFunction())
    return writeFunction()(fd, data, length);
  return ::write(fd, data, length);
}

Error errnoError(int error) { return Error{std::strerror(error)}; }

} // namespace

bool isSafeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

Expected<std::string> localNameOf(const std::string& remote) {
  if (remote.find('\0') != std::string::npos)
    return makeError("the name holds a NUL character");
  size_t slash = remote.rfind('/');
  std::string base = slash == std::string::npos ? remote : remote.substr(slash + 1);
  if (!isSafeComponent(base))
    return makeError("not a usable file name: \"" + remote + "\"");
  return base;
}

void setDownloadWriteForTesting(std::function<long(int, const void*, size_t)> fn) {
  writeFunction() = std::move(fn);
}

Expected<void> DownloadFile::create(const std::string& folder, const std::string& name) {
  discard();
  if (!isSafeComponent(name))
    return makeError("not a usable file name");
  path_ = folder + "/" + name;
  std::string part = path_ + ".part";
  ::unlink(part.c_str()); // a leftover of an interrupted download (unlink never follows links)
  fd_ = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ < 0)
    return errnoError(errno);
  part_ = std::move(part);
  return {};
}

Expected<void> DownloadFile::write(const uint8_t* data, size_t length) {
  if (fd_ < 0)
    return makeError("the file is not open");
  while (length > 0) {
    long n = writeSome(fd_, data, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errnoError(errno);
    if (n == 0)
      return errnoError(ENOSPC);
    data += n;
    length -= static_cast<size_t>(n);
  }
  return {};
}

Expected<void> DownloadFile::commit() {
  if (fd_ < 0)
    return makeError("the file is not open");
  int error = 0;
  if (::fsync(fd_) != 0)
    error = errno;
  if (::close(fd_) != 0 && error == 0)
    error = errno;
  fd_ = -1;
  if (error == 0 && ::rename(part_.c_str(), path_.c_str()) != 0)
    error = errno;
  if (error != 0) {
    discard();
    return errnoError(error);
  }
  part_.clear();
  return {};
}

void DownloadFile::discard() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  if (!part_.empty())
    ::unlink(part_.c_str());
  part_.clear();
}

} // namespace kestel
