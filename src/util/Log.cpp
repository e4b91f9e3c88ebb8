#include "util/Log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace kestel {
namespace {

class FileSink final : public LogSink {
public:
  explicit FileSink(const std::string& path) : out_(path, std::ios::app) {}
  bool ok() const { return out_.good(); }
  void writeLine(std::string_view line) override {
    out_ << line << '\n';
    out_.flush();
  }

private:
  std::ofstream out_;
};

class StderrSink final : public LogSink {
public:
  void writeLine(std::string_view line) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  }
};

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
  if (on)
    addLogSink(&s.stderrSink);
  else
    removeLogSink(&s.stderrSink);
}

bool openLogFile(const std::string& path) {
  auto& s = state();
  if (s.file) {
    removeLogSink(s.file.get());
    s.file.reset();
  }
  if (path.empty())
    return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  auto file = std::make_unique<FileSink>(path);
  if (!file->ok())
    return false;
  s.file = std::move(file);
  addLogSink(s.file.get());
  return true;
}

std::string defaultLogPath() {
  std::string home = envOr("KESTEL_HOME", "");
  if (!home.empty())
    return home + "/kestel.log";
  std::string stateDir = envOr("XDG_STATE_HOME", envOr("HOME", ".") + "/.local/state");
  return stateDir + "/Halvorne/Kestel/kestel.log";
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
