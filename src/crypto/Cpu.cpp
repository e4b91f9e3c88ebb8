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
  bool vaes = false;
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
  // The system saves the SSE and AVX register state (OSXSAVE, then XCR0 bits 1 and 2).
  bool wideRegisters = false;
  if (c & (1u << 27)) {
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    wideRegisters = (low & 6) == 6;
  }
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    f.sha = (b & (1u << 29)) && ssse3 && sse41;
    f.mulxAdx = (b & (1u << 8)) && (b & (1u << 19));
    f.vaes = f.aes && wideRegisters && (b & (1u << 5)) && (c & (1u << 9)); // AVX2, VAES
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

bool useVaes() { return chosenPath == CpuPath::Best && detected().vaes; }

bool useMulxAdx() { return chosenPath == CpuPath::Best && detected().mulxAdx; }

} // namespace kestel
