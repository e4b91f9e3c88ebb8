#include "crypto/Cpu.h"

namespace kestel {

namespace {

struct Features {
  bool aes = false;
  bool sha = false;
};

Features detect() {
  Features f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.aes = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
  f.sha = __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") &&
          __builtin_cpu_supports("ssse3");
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

} // namespace kestel
