#include "app/DownloadProgress.h"

#include <cstdio>

namespace kestel {

std::string formatByteCount(uint64_t bytes) {
  char buf[48];
  if (bytes < 5000)
    std::snprintf(buf, sizeof buf, "%u B", unsigned(bytes));
  else if (bytes < 5000000)
    std::snprintf(buf, sizeof buf, "%.1f KiB", double(bytes) / 1024);
  else
    std::snprintf(buf, sizeof buf, "%.1f MiB", double(bytes) / 1048576);
  return buf;
}

std::string formatRate(uint64_t rate) {
  char buf[64];
  if (rate == 0)
    return {};
  if (rate < 2048)
    std::snprintf(buf, sizeof buf, " at %u bps", unsigned(rate));
  else if (rate <= 2097151)
    std::snprintf(buf, sizeof buf, " at %u.%02u kbps", unsigned(rate >> 10),
                  unsigned((rate & 1023) * 100 >> 10));
  else
    std::snprintf(buf, sizeof buf, " at %llu.%02u Mbps",
                  static_cast<unsigned long long>(rate >> 20),
                  unsigned((rate & 1048575) * 100 >> 20));
  return buf;
}

void DownloadProgress::begin(int64_t now, uint64_t bytes) {
  last_ = now;
  lastBytes_ = bytes;
}

std::optional<std::string> DownloadProgress::update(int64_t now, uint64_t bytes, uint64_t total) {
  int64_t elapsed = now - last_;
  if (elapsed <= kIntervalMs || total == 0)
    return std::nullopt;
  uint64_t moved = bytes >= lastBytes_ ? bytes - lastBytes_ : 0;
  uint64_t rate = moved * 10 / static_cast<uint64_t>(elapsed / 100);
  last_ = now;
  lastBytes_ = bytes;
  return "Downloading descriptors " + formatByteCount(bytes) + " of " + formatByteCount(total) +
         formatRate(rate);
}

} // namespace kestel
