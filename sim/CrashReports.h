// The simulator's end of the client's crash report: a handler for channel 4 on every connection
// that collects the report's text up to the NUL byte that ends it. A connection that closes in
// the middle of a report leaves it marked incomplete; a report is kept to at most kMaxReportBytes
// (the rest is dropped and the report marked cut), so a client cannot make the simulator grow.
#pragma once

#include "sim/SimServer.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel::sim {

struct CrashReport {
  std::string text;
  std::string peerAddress;
  bool complete = false; // ended by its NUL byte
  bool cut = false;      // longer than kMaxReportBytes
};

class CrashReports {
public:
  static constexpr size_t kMaxReportBytes = size_t(1) << 20;

  // Registers the channel 4 handler; the object must outlive the server's connections.
  void install(SimServer& server);
  // Called for every report as it is recorded.
  void setListener(std::function<void(const CrashReport&)> listener) {
    listener_ = std::move(listener);
  }
  const std::vector<CrashReport>& reports() const { return reports_; }

  // Records one report (for the connection handlers).
  void record(CrashReport report);

private:
  std::vector<CrashReport> reports_;
  std::function<void(const CrashReport&)> listener_;
};

// Appends `report` to the file at `path` as the --crash-reports switch writes it: a line
// "crash report from <peer> (<n> bytes[, incomplete][, cut])", the text, and a line "end of
// crash report". Returns false when the file cannot be written.
bool appendCrashReport(const std::string& path, const CrashReport& report);

} // namespace kestel::sim
