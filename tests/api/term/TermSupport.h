// Helpers for the terminal tests: a recording owner, screen text in UTF-8, whole-state snapshots
// and a seeded generator of console streams.
#pragma once

#include "api/term/Terminal.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kestel::termtest {

struct RecordingClient final : TerminalClient {
  std::string replies;
  int replyCount = 0;
  int beeps = 0;
  void reply(std::string_view bytes) override {
    replies += bytes;
    ++replyCount;
  }
  void beep(int, int) override { ++beeps; }
};

std::string utf8(uint32_t code);
// Row `row` of the active buffer in UTF-8, trailing spaces removed.
std::string rowText(const TerminalScreen& screen, int row);
// Every row, each followed by '\n'.
std::string screenText(const TerminalScreen& screen);

// Everything a chunk split could disturb: cells of both buffers' visible rows, cursor, modes.
struct Snapshot {
  std::vector<TerminalCell> cells;
  std::vector<int> state;
  bool operator==(const Snapshot&) const = default;
};
Snapshot snapshot(const TerminalScreen& screen);

// What streams the generator may produce.
enum class StreamKind {
  Anything,  // every sequence kind, garbage, 8-bit bytes and over-long sequences
  Comparable // only what this terminal and the reference terminal treat alike
};
// Generates console streams token by token; a stream cut into pieces by next() is one stream
// (the generator remembers, for example, whether a scrolling region is set).
class StreamGenerator {
public:
  StreamGenerator(std::mt19937& rng, StreamKind kind, int rows)
      : rng_(rng), kind_(kind), rows_(rows) {}
  // Whole tokens adding up to at least `size` bytes.
  std::string next(std::size_t size);

private:
  int pick(int n);
  std::string num(int n);
  std::string text();
  std::string lineDrawing();
  std::string comparable();
  std::string anything();

  std::mt19937& rng_;
  StreamKind kind_;
  int rows_;
  bool regionSet_ = false;
};

} // namespace kestel::termtest
