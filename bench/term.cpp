// Terminal throughput on 20 MB of generated console output at 80×24: coloured listings,
// full-screen redraws, output scrolling inside a region and line-drawing boxes, in 4 KB chunks
// as a connection delivers them. Both sides start from the same bytes in memory and end with the
// screen of cells that a pane paints from.
//   Kestel: Terminal::feed() per chunk, then takeChangedRect() (what the pane repaints).
//   libvterm: vterm_input_write() per chunk into its screen layer (UTF-8 on, the stream is ASCII),
//   then vterm_screen_flush_damage() (its repaint cue).
// Before timing, both final screens are compared cell by cell; a difference fails the run.
#include "api/term/Terminal.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>
#include <vterm.h>

namespace {

constexpr int kColumns = 80;
constexpr int kRows = 24;
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kStreamSize = 20 * 1024 * 1024;

std::string listing(std::mt19937& rng) {
  static const char* const kNames[] = {"ether", "bridge", "vlan", "wlan", "pppoe-out"};
  std::string out;
  for (int i = 0; i < 30; ++i) {
    const bool running = rng() % 4 != 0;
    out += " " + std::to_string(i) + "  " + (running ? "\x1b[32mR\x1b[0m" : "\x1b[31mX\x1b[0m") +
           "  \x1b[1m" + kNames[rng() % 5] + std::to_string(rng() % 24) +
           "\x1b[0m  mtu=" + std::to_string(1500 + rng() % 8000) +
           " rx=" + std::to_string(rng() % 100000000) + " tx=" + std::to_string(rng() % 100000000) +
           "\r\n";
  }
  return out;
}

std::string redraw(std::mt19937& rng) {
  std::string out =
      "\x1b[H\x1b[7m  PID USER      CPU%  MEM%  COMMAND" + std::string(45, ' ') + "\x1b[0m";
  for (int row = 2; row <= kRows; ++row) {
    out += "\x1b[" + std::to_string(row) + ";1H" + std::to_string(100 + rng() % 900) +
           " admin     " + std::to_string(rng() % 100) + "." + std::to_string(rng() % 10) +
           "   \x1b[33m" + std::to_string(rng() % 50) + "\x1b[0m   process-" +
           std::to_string(rng() % 1000) + "\x1b[K";
  }
  return out;
}

std::string regionScroll(std::mt19937& rng) {
  std::string out = "\x1b[5;20r\x1b[20;1H";
  for (int i = 0; i < 40; ++i) {
    out += "log: interface ether" + std::to_string(rng() % 24) + " link " +
           (rng() % 2 ? "up" : "down") + " at " + std::to_string(rng() % 86400) + "\n\r";
  }
  return out + "\x1b[r\x1b[H";
}

std::string box(std::mt19937& rng) {
  const int top = 1 + rng() % 16;
  const int width = 10 + rng() % 60;
  std::string out = "\x1b[" + std::to_string(top) + ";3H\x1b(0l" + std::string(width, 'q') + "k";
  for (int i = 1; i <= 5; ++i) {
    out += "\x1b[" + std::to_string(top + i) + ";3Hx\x1b(B  item " + std::to_string(i) + "\x1b[" +
           std::to_string(top + i) + ";" + std::to_string(4 + width) + "H\x1b(0x";
  }
  return out + "\x1b[" + std::to_string(top + 6) + ";3Hm" + std::string(width, 'q') + "j\x1b(B";
}

const std::string& stream() {
  static const std::string s = [] {
    std::mt19937 rng(7);
    std::string out;
    while (out.size() < kStreamSize) {
      switch (rng() % 4) {
      case 0:
        out += listing(rng);
        break;
      case 1:
        out += redraw(rng);
        break;
      case 2:
        out += regionScroll(rng);
        break;
      default:
        out += box(rng);
      }
    }
    return out;
  }();
  return s;
}

struct NullClient final : kestel::TerminalClient {
  void reply(std::string_view) override {}
  void beep(int, int) override {}
};

struct Vterm {
  VTerm* vt = vterm_new(kRows, kColumns);
  VTermScreen* screen = nullptr;
  Vterm() {
    vterm_set_utf8(vt, 1);
    screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
  }
  ~Vterm() { vterm_free(vt); }
  Vterm(const Vterm&) = delete;
  Vterm& operator=(const Vterm&) = delete;
};

void feedKestel(kestel::Terminal& term, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
    term.feed(std::string_view(bytes).substr(at, kChunk));
    benchmark::DoNotOptimize(term.takeChangedRect());
  }
}

void feedVterm(Vterm& v, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
    vterm_input_write(v.vt, bytes.data() + at, std::min(kChunk, bytes.size() - at));
    vterm_screen_flush_damage(v.screen);
  }
}

bool sameResult() {
  NullClient client;
  kestel::Terminal term(client, kColumns, kRows);
  Vterm v;
  feedKestel(term, stream());
  feedVterm(v, stream());
  for (int y = 0; y < kRows; ++y) {
    for (int x = 0; x < kColumns; ++x) {
      VTermScreenCell cell;
      vterm_screen_get_cell(v.screen, VTermPos{y, x}, &cell);
      if (term.screen().cell(x, y).ch != (cell.chars[0] == 0 ? ' ' : cell.chars[0])) {
        return false;
      }
    }
  }
  return true;
}

void kestelSide(benchmark::State& state) {
  if (!sameResult()) {
    state.SkipWithError("final screens differ");
    return;
  }
  for (auto _ : state) {
    NullClient client;
    kestel::Terminal term(client, kColumns, kRows);
    feedKestel(term, stream());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream().size()));
}

void vtermSide(benchmark::State& state) {
  for (auto _ : state) {
    Vterm v;
    feedVterm(v, stream());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream().size()));
}

BENCHMARK(kestelSide)->Name("Console80x24/Kestel")->Unit(benchmark::kMillisecond);
BENCHMARK(vtermSide)->Name("Console80x24/libvterm")->Unit(benchmark::kMillisecond);

// Shows the usual table and, at the end, the libvterm median CPU time divided by the Kestel
// median of the same process (above 1: Kestel is faster).
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        times_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime() /
                                                   benchmark::GetTimeUnitMultiplier(r.time_unit));
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto ours = times_.find("Console80x24/Kestel");
    const auto theirs = times_.find("Console80x24/libvterm");
    if (ours == times_.end() || theirs == times_.end()) {
      return;
    }
    const double a = median(ours->second), b = median(theirs->second);
    std::printf("\nRatio (speed of Kestel over the peer, median of %zu repetitions):\n",
                ours->second.size());
    std::printf("  Console80x24 kestel/libvterm = %5.2f   (%.1f ms vs %.1f ms, %.0f MB/s vs %.0f "
                "MB/s)\n",
                b / a, a * 1e3, b * 1e3, kStreamSize / a / 1e6, kStreamSize / b / 1e6);
  }

private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  std::map<std::string, std::vector<double>> times_;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
