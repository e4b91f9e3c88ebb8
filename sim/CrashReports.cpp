#include "sim/CrashReports.h"

#include "api/net/CrashSocket.h"

#include <cstdio>

namespace kestel::sim {
namespace {

class CrashReportHandler final : public ChannelHandler {
public:
  explicit CrashReportHandler(CrashReports& store) : store_(store) {}

  void onChunk(SimConnection& connection, uint8_t, ByteSpan payload) override {
    for (uint8_t byte : payload) {
      if (byte == 0) {
        if (started_)
          finish(connection, true);
        continue;
      }
      started_ = true;
      if (current_.text.size() < CrashReports::kMaxReportBytes)
        current_.text += char(byte);
      else
        current_.cut = true;
    }
  }

  void onClosed(SimConnection& connection) override {
    if (started_)
      finish(connection, false);
  }

private:
  void finish(SimConnection& connection, bool complete) {
    current_.peerAddress = connection.peerAddress();
    current_.complete = complete;
    store_.record(std::move(current_));
    current_ = CrashReport();
    started_ = false;
  }

  CrashReports& store_;
  CrashReport current_;
  bool started_ = false;
};

} // namespace

void CrashReports::install(SimServer& server) {
  server.registerChannel(kCrashReportChannel, [this](SimConnection&) {
    return std::make_unique<CrashReportHandler>(*this);
  });
}

void CrashReports::record(CrashReport report) {
  reports_.push_back(std::move(report));
  if (listener_)
    listener_(reports_.back());
}

bool appendCrashReport(const std::string& path, const CrashReport& report) {
  FILE* file = std::fopen(path.c_str(), "a");
  if (!file)
    return false;
  std::fprintf(file, "crash report from %s (%zu bytes%s%s)\n", report.peerAddress.c_str(),
               report.text.size(), report.complete ? "" : ", incomplete",
               report.cut ? ", cut" : "");
  std::fwrite(report.text.data(), 1, report.text.size(), file);
  if (!report.text.empty() && report.text.back() != '\n')
    std::fputc('\n', file);
  std::fputs("end of crash report\n", file);
  return std::fclose(file) == 0;
}

} // namespace kestel::sim
