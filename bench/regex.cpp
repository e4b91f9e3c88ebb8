// Line-by-line search over 10 MB of generated router output: for every line, does the pattern
// occur in it. Ours (the cached matcher, and the plain simulation for reference) side by side
// with RE2 and the C library's regexec on the same lines; all must count the same matches.
#include "api/regex/Regex.h"
#include "api/regex/RegexMatcher.h"

#include <benchmark/benchmark.h>

#include <random>
#include <re2/re2.h>
#include <regex.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kestel::Regex;
using kestel::RegexMatcher;

const char* const kPatterns[] = {"ether[0-9]+", "^bridge", "(ab|cd)e",
                                 "[[:digit:]]+\\.[[:digit:]]+", "(UP|DOWN)$"};

// Lines separated by NUL bytes, so that regexec can read them in place.
struct Corpus {
  std::string bytes;
  std::vector<std::string_view> lines;
};

std::string makeLine(std::mt19937& rng) {
  auto num = [&](unsigned n) { return std::to_string(rng() % n); };
  static const char* const kWords[] = {"abe", "cdx", "ab", "cde", "link", "running", "vlan"};
  switch (rng() % 6) {
  case 0:
    return "interface ether" + num(24) + " mtu " + num(9000) + " mac-address 4C:5E:0C:" + num(99) +
           ":" + num(99) + " status " + (rng() % 2 ? "UP" : "DOWN");
  case 1:
    return "bridge" + num(4) + " port=ether" + num(24) + " horizon=none priority=0x" + num(99);
  case 2:
    return "  rx-bytes " + num(100000) + "." + num(100) + " tx-bytes " + num(100000) + " rate " +
           num(1000) + "kbps";
  case 3:
    return "comment \"" + std::string(kWords[rng() % 7]) + " " + kWords[rng() % 7] +
           "\" disabled=no " + (rng() % 3 == 0 ? "DOWN" : "up");
  case 4:
    return "wlan" + num(3) + " ssid=office-" + num(50) + " band=2ghz-b/g/n channel-width=20mhz";
  default:
    return "address 192.168." + num(256) + "." + num(256) + "/24 network 192.168." + num(256) +
           ".0 interface bridge" + num(4);
  }
}

const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus out;
    std::mt19937 rng(42);
    while (out.bytes.size() < 10 * 1024 * 1024) {
      out.bytes += makeLine(rng);
      out.bytes += '\0';
    }
    for (std::size_t at = 0; at < out.bytes.size();) {
      const std::size_t end = out.bytes.find('\0', at);
      out.lines.emplace_back(out.bytes.data() + at, end - at);
      at = end + 1;
    }
    return out;
  }();
  return c;
}

// Lines that regexec finds the pattern in; every engine must count the same.
int64_t expectedCount(const char* pattern) {
  regex_t re;
  if (regcomp(&re, pattern, REG_EXTENDED | REG_NOSUB) != 0) {
    return -1;
  }
  int64_t count = 0;
  for (const std::string_view line : corpus().lines) {
    count += regexec(&re, line.data(), 0, nullptr, 0) == 0 ? 1 : 0;
  }
  regfree(&re);
  return count;
}

template <typename Test> void run(benchmark::State& state, const char* pattern, Test&& test) {
  const Corpus& c = corpus();
  int64_t count = 0;
  for (auto _ : state) {
    count = 0;
    for (const std::string_view line : c.lines) {
      count += test(line) ? 1 : 0;
    }
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(c.bytes.size()));
  state.counters["lines_matched"] = static_cast<double>(count);
  if (count != expectedCount(pattern)) {
    state.SkipWithError("matched lines differ from regexec");
  }
}

void ours(benchmark::State& state, const char* pattern) {
  Regex re;
  if (!kestel::compile(re, pattern)) {
    state.SkipWithError("pattern did not compile");
    return;
  }
  RegexMatcher matcher(re);
  run(state, pattern, [&](std::string_view line) { return matcher.match(line); });
}

void oursSimulation(benchmark::State& state, const char* pattern) {
  Regex re;
  if (!kestel::compile(re, pattern)) {
    state.SkipWithError("pattern did not compile");
    return;
  }
  run(state, pattern, [&](std::string_view line) { return kestel::match(re, line); });
}

void re2(benchmark::State& state, const char* pattern) {
  const RE2 re(pattern, RE2::Latin1);
  run(state, pattern, [&](std::string_view line) {
    return RE2::PartialMatch(re2::StringPiece(line.data(), line.size()), re);
  });
}

void posix(benchmark::State& state, const char* pattern) {
  regex_t re;
  if (regcomp(&re, pattern, REG_EXTENDED | REG_NOSUB) != 0) {
    state.SkipWithError("pattern did not compile");
    return;
  }
  run(state, pattern,
      [&](std::string_view line) { return regexec(&re, line.data(), 0, nullptr, 0) == 0; });
  regfree(&re);
}

int registerAll() {
  for (const char* pattern : kPatterns) {
    const std::string name = std::string("/") + pattern;
    benchmark::RegisterBenchmark(("ours" + name).c_str(), ours, pattern)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("re2" + name).c_str(), re2, pattern)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("regexec" + name).c_str(), posix, pattern)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ours_simulation" + name).c_str(), oursSimulation, pattern)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

const int registered = registerAll();

} // namespace

BENCHMARK_MAIN();
