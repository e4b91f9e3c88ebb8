#include "app/UpgradeFiles.h"

#include "crypto/Signature.h"
#include "miw/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestel {
namespace {

Error errnoError(const std::string& step, const std::string& path, int err) {
  return makeError(step + " " + path + ": " + std::strerror(err));
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t w = ::write(fd, data, size);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      if (w == 0)
        errno = EIO;
      return false;
    }
    data += w;
    size -= size_t(w);
  }
  return true;
}

// A new file "<folder>/.ksxXXXXXX", created exclusively, mode 0700 whatever the umask.
int createBeside(const std::string& target, std::string& path) {
  path = parentFolder(target) + "/" + kDownloadPrefix + "XXXXXX";
  int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0)
    return -1;
  if (::fchmod(fd, 0700) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = err;
    return -1;
  }
  return fd;
}

bool refusesWriting(int err) { return err == EACCES || err == EPERM || err == EROFS; }

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

} // namespace

bool isDownloadName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.size() == std::strlen(kDownloadPrefix) + 6 && name.rfind(kDownloadPrefix, 0) == 0;
}

bool canReplaceProgram(const std::string& target, const std::string& packageList,
                       std::string& reason) {
  std::string folder = parentFolder(target);
  reason = "Kestel is installed in " + folder +
           ", which this user cannot change: upgrade it with the package manager";
  std::ifstream list(packageList);
  for (std::string line; std::getline(list, line);)
    if (line == target)
      return false;
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return false;
  struct stat dir {};
  struct stat file {};
  if (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) &&
      ::stat(target.c_str(), &file) == 0 && ::geteuid() != 0 && file.st_uid != ::geteuid() &&
      dir.st_uid != ::geteuid())
    return false;
  reason.clear();
  return true;
}

Expected<DownloadFile> DownloadFile::create(const std::string& target, bool* readOnly) {
  DownloadFile file;
  file.fd_ = createBeside(target, file.path_);
  if (file.fd_ < 0) {
    int err = errno;
    if (readOnly)
      *readOnly = refusesWriting(err);
    return errnoError("cannot create a file in", parentFolder(target), err);
  }
  return file;
}

DownloadFile::DownloadFile(DownloadFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)) {
  other.path_.clear();
}

DownloadFile& DownloadFile::operator=(DownloadFile&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::exchange(other.path_, {});
    fd_ = std::exchange(other.fd_, -1);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

DownloadFile::~DownloadFile() { remove(); }

bool DownloadFile::write(ByteSpan block) {
  if (fd_ < 0 || !writeAll(fd_, block.data(), block.size()))
    return false;
  size_ += block.size();
  return true;
}

bool DownloadFile::finish() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool DownloadFile::verify(ByteSpan signature, ByteSpan publicKey) const {
  if (fd_ < 0 || size_ == 0)
    return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || uint64_t(st.st_size) != size_)
    return false;
  void* mapped = ::mmap(nullptr, size_t(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
  if (mapped == MAP_FAILED)
    return false;
  bool valid = verifySignature(ByteSpan(static_cast<const uint8_t*>(mapped), size_t(size_)),
                               signature, publicKey);
  ::munmap(mapped, size_t(size_));
  return valid;
}

void DownloadFile::remove() {
  if (fd_ >= 0)
    ::close(std::exchange(fd_, -1));
  if (!path_.empty())
    ::unlink(path_.c_str());
  path_.clear();
  size_ = 0;
}

std::string DownloadFile::keep() {
  if (fd_ >= 0)
    ::close(std::exchange(fd_, -1));
  size_ = 0;
  return std::exchange(path_, {});
}

Expected<void> replaceProgram(int source, const std::string& target) {
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0)
    return errnoError("cannot look at", target, errno);
  if (!S_ISREG(old.st_mode))
    return makeError(target + " is not a file");
  std::string temp;
  int fd = createBeside(target, temp);
  if (fd < 0)
    return errnoError("cannot create a file beside", target, errno);
  auto fail = [&](const std::string& step) {
    int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return errnoError(step, temp, err);
  };
  if (::lseek(source, 0, SEEK_SET) != 0)
    return fail("cannot read the new program for");
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(source, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return fail("cannot read the new program for");
    if (n == 0)
      break;
    if (!writeAll(fd, buf, size_t(n)))
      return fail("cannot write");
  }
  if (::fchmod(fd, old.st_mode & 0777) != 0)
    return fail("cannot set the mode of");
  if (::fsync(fd) != 0)
    return fail("cannot flush");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return errnoError("cannot close", temp, err);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return errnoError("cannot rename over", target, err);
  }
  syncFolder(parentFolder(target));
  return {};
}

} // namespace kestel
