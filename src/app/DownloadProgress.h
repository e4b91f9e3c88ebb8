// The status text of a running download: "Downloading descriptors <so far> of <total>" and the
// rate since the previous text, at most one text every 500 ms of the reactor's clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestel {

// "%u B" below 5000, "%.1f KiB" below 5000000, else "%.1f MiB".
std::string formatByteCount(uint64_t bytes);
// " at <n> bps" below 2048, " at <n>.<hh> kbps" up to 2097151, else " at <n>.<hh> Mbps" (hh:
// hundredths, two digits); "" for a rate of 0.
std::string formatRate(uint64_t bytesPerSecond);

class DownloadProgress {
public:
  static constexpr int64_t kIntervalMs = 500;

  // The download starts at `now` with `bytes` already done.
  void begin(int64_t now, uint64_t bytes);
  // The text to show now, or nothing when the last one is at most 500 ms old or total is 0.
  std::optional<std::string> update(int64_t now, uint64_t bytes, uint64_t total);

private:
  int64_t last_ = 0;
  uint64_t lastBytes_ = 0;
};

} // namespace kestel
