#include "util/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel {
namespace {

// Appends to a file that only its owner may read: created 0600, and an existing one tightened
// to 0600, whatever the umask.
class FileSink final : public LogSink {
public:
  explicit FileSink(const std::string& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (fd_ >= 0)
      ::fchmod(fd_, 0600); // fails only on a file of another owner, which stays as it is
  }
  ~FileSink() override {
    if (fd_ >= 0)
      ::close(fd_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void writeLine(std::string_view line) override {
    std::string text(line);
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return; // a full disk loses log lines, never the program
      done += size_t(n);
    }
  }

private:
  int fd_;
};

// Creates the missing folders of `dir` with mode 0700 whatever the umask; folders that exist
// are left as they are.
bool makePrivateFolders(const std::filesystem::path& dir) {
  if (dir.empty())
    return true;
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec))
    return true;
  if (!makePrivateFolders(dir.parent_path()))
    return false;
  if (::mkdir(dir.c_str(), 0700) != 0)
    return errno == EEXIST && std::filesystem::is_directory(dir, ec);
  return ::chmod(dir.c_str(), 0700) == 0;
}

class StderrSink final : public LogSink {
public:
  void writeLine(std::string_view line) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  }
};

// What a signal handler may read of the log state: plain atomics, no sinks.
std::atomic<int> gSignalLogFd{-1};
std::atomic<bool> gSignalToStderr{false};

void writeAllFrom(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    data += n;
    length -= size_t(n);
  }
}

struct LogState {
  std::vector<LogSink*> sinks;
  std::unique_ptr<FileSink> file;
  StderrSink stderrSink;
  bool toStderr = false;
};

LogState& state() {
  static LogState s;
  return s;
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

} // namespace

std::string CaptureLogSink::text() const {
  std::string all;
  for (const auto& l : lines_) {
    all += l;
    all += '\n';
  }
  return all;
}

bool CaptureLogSink::contains(std::string_view fragment) const {
  return std::any_of(lines_.begin(), lines_.end(),
                     [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

void addLogSink(LogSink* sink) { state().sinks.push_back(sink); }

void removeLogSink(LogSink* sink) {
  auto& sinks = state().sinks;
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

void setLogToStderr(bool on) {
  auto& s = state();
  if (on == s.toStderr)
    return;
  s.toStderr = on;
  gSignalToStderr.store(on);
  if (on)
    addLogSink(&s.stderrSink);
  else
    removeLogSink(&s.stderrSink);
}

bool openLogFile(const std::string& path) {
  auto& s = state();
  if (s.file) {
    gSignalLogFd.store(-1);
    removeLogSink(s.file.get());
    s.file.reset();
  }
  if (path.empty())
    return true;
  if (!makePrivateFolders(std::filesystem::path(path).parent_path()))
    return false;
  auto file = std::make_unique<FileSink>(path);
  if (!file->ok())
    return false;
  s.file = std::move(file);
  addLogSink(s.file.get());
  gSignalLogFd.store(s.file->fd());
  return true;
}

std::string defaultLogPath() {
  std::string home = envOr("KESTEL_HOME", "");
  if (!home.empty())
    return home + "/kestel.log";
  std::string stateDir = envOr("XDG_STATE_HOME", envOr("HOME", ".") + "/.local/state");
  return stateDir + "/Halvorne/Kestel/kestel.log";
}

void writeLogFromSignal(const char* data, size_t length) {
  int saved = errno;
  int fd = gSignalLogFd.load();
  if (fd >= 0)
    writeAllFrom(fd, data, length);
  if (fd < 0 || gSignalToStderr.load())
    writeAllFrom(STDERR_FILENO, data, length);
  errno = saved;
}

void logLine(std::string_view line) {
  auto& sinks = state().sinks;
  while (true) {
    size_t nl = line.find('\n');
    std::string_view head = line.substr(0, nl);
    for (LogSink* sink : sinks)
      sink->writeLine(head);
    if (nl == std::string_view::npos)
      return;
    line.remove_prefix(nl + 1);
    if (line.empty())
      return;
  }
}

} // namespace kestel
