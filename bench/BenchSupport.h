// What several benchmark programs share: the row count of the large-table runs and the
// process's peak resident memory.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <sys/resource.h>

namespace kestel::bench {

// KESTEL_BENCH_ROWS, or a million rows.
inline uint32_t rows() {
  const char* n = std::getenv("KESTEL_BENCH_ROWS");
  return n ? uint32_t(std::strtoul(n, nullptr, 10)) : 1000000u;
}

inline double peakRssMb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

} // namespace kestel::bench
