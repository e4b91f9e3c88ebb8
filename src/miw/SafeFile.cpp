#include "miw/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestel {

namespace {

std::function<bool(size_t)> g_writeHook;
size_t g_writeChunk = 0;

Error errnoError(const std::string& step, const std::string& path, int err) {
  return makeError(step + " " + path + ": " + std::strerror(err));
}

class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports close's own failure (a delayed write error shows up here).
  int close() { return ::close(std::exchange(fd_, -1)); }

private:
  int fd_;
};

// Writes everything, in pieces when a test asks for it; false with errno set on failure.
bool writeAll(int fd, ByteSpan data) {
  size_t done = 0;
  size_t index = 0;
  while (done < data.size()) {
    size_t n = data.size() - done;
    if (g_writeChunk && n > g_writeChunk)
      n = g_writeChunk;
    if (g_writeHook && !g_writeHook(index++)) {
      errno = EIO;
      return false;
    }
    ssize_t w = ::write(fd, data.data() + done, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      if (w == 0)
        errno = EIO;
      return false;
    }
    done += size_t(w);
  }
  return true;
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return; // the rename stands; only its durability across a power loss is weaker
  ::fsync(fd);
  ::close(fd);
}

} // namespace

Expected<Bytes> readWholeFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0)
    return errnoError("cannot open", path, errno);
  Bytes out;
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errnoError("cannot read", path, errno);
    if (n == 0)
      return out;
    out.insert(out.end(), buf, buf + n);
  }
}

std::string parentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

Expected<void> saveFileAtomically(const std::string& target, ByteSpan data,
                                  const std::string& prefix) {
  std::string folder = parentFolder(target);
  std::string temp = folder + "/" + prefix + "XXXXXX";
  FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0)
    return errnoError("cannot create a temporary file in", folder, errno);
  auto fail = [&](const std::string& step) {
    int err = errno;
    ::unlink(temp.c_str());
    return errnoError(step, temp, err);
  };
  if (::fchmod(fd.get(), 0600) != 0)
    return fail("cannot set the mode of");
  if (!writeAll(fd.get(), data))
    return fail("cannot write");
  if (::fsync(fd.get()) != 0)
    return fail("cannot flush");
  if (fd.close() != 0)
    return fail("cannot close");
  if (::rename(temp.c_str(), target.c_str()) != 0)
    return fail("cannot rename over " + target + ":");
  syncFolder(folder);
  return {};
}

Expected<void> makeFolders(const std::string& path) {
  if (path.empty() || isFolder(path))
    return {};
  std::string parent = parentFolder(path);
  if (parent != path) {
    auto made = makeFolders(parent);
    if (!made)
      return made;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return errnoError("cannot create the folder", path, errno);
  return {};
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void setSaveWriteHookForTesting(std::function<bool(size_t writeIndex)> hook, size_t chunk) {
  g_writeChunk = hook ? chunk : 0;
  g_writeHook = std::move(hook);
}

} // namespace kestel
