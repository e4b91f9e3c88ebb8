// The program's one log stream. Every line goes to each registered sink; lines carry their own
// prefix ("ERROR:", "WARNING:", "INF:" or none) as the caller writes it. The stream never
// throws and never blocks on a slow sink beyond one write.
#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

// Receives complete lines without their trailing newline.
class LogSink {
public:
  virtual ~LogSink() = default;
  virtual void writeLine(std::string_view line) = 0;
};

// Registers a sink; the caller keeps it alive until removeLogSink.
void addLogSink(LogSink* sink);
void removeLogSink(LogSink* sink);

// Mirrors every line to stderr (the command line's --verbose).
void setLogToStderr(bool on);

// Appends the log to a file; returns false when the file cannot be opened. An empty path closes it.
// The file is made 0600 and missing folders 0700, whatever the umask.
bool openLogFile(const std::string& path);

// The default log file: ${XDG_STATE_HOME:-~/.local/state}/Halvorne/Kestel/kestel.log
// (KESTEL_HOME/kestel.log when KESTEL_HOME is set).
std::string defaultLogPath();

// Writes raw bytes straight to the log file and to stderr when the log is mirrored there or no
// log file is open (a crash report must land somewhere), bypassing the sinks; safe inside a
// signal handler.
void writeLogFromSignal(const char* data, size_t length);

// Writes one line to every sink. Embedded newlines split it into several lines.
void logLine(std::string_view line);

// Streams the arguments into one line: logf("ERROR: while sending err=", code).
template <typename... Args> void logf(const Args&... args) {
  std::ostringstream out;
  (out << ... << args);
  logLine(out.str());
}

// Collects lines while alive; for tests.
class CaptureLogSink final : public LogSink {
public:
  CaptureLogSink() { addLogSink(this); }
  ~CaptureLogSink() override { removeLogSink(this); }
  CaptureLogSink(const CaptureLogSink&) = delete;
  CaptureLogSink& operator=(const CaptureLogSink&) = delete;

  void writeLine(std::string_view line) override { lines_.emplace_back(line); }
  const std::vector<std::string>& lines() const { return lines_; }
  // All lines joined with '\n', each line terminated.
  std::string text() const;
  // True when some line contains the fragment.
  bool contains(std::string_view fragment) const;
  void clear() { lines_.clear(); }

private:
  std::vector<std::string> lines_;
};

} // namespace kestel
