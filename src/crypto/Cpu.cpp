#include "crypto/Cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kestel {

namespace {

struct Features {
  bool aes = false;
  bool sha = false;
  bool mulxAdx = false;
};

Features detect() {
  Features f;
#if defined(__x86_64__) || defined(__i386__)
  // Read from cpuid directly: not every compiler knows "sha" for __builtin_cpu_supports.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d))
    return f;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19), aes = c & (1u << 25);
  f.aes = aes && sse41;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    f.sha = (b & (1u << 29)) && ssse3 && sse41;
    f.mulxAdx = (b & (1u << 8)) && (b & (1u << 19));
  }
#endif
  return f;
}

const Features& detected() {
  static const Features features = detect();
  return features;
}

CpuPath chosenPath = CpuPath::Best;

} // namespace

void setCpuPath(CpuPath path) { chosenPath = path; }

bool useAesNi() { return chosenPath == CpuPath::Best && detected().aes; }

bool useShaNi() { return chosenPath == CpuPath::Best && detected().sha; }

bool useMulxAdx() { return chosenPath == CpuPath::Best && detected().mulxAdx; }

} // namespace kestel
