// The simulator's terminal handler (76): a small line-oriented router console for the client's
// terminal sessions. It echoes what is typed, runs a few commands whose output uses colours,
// cursor movement, the line-drawing set, clearing, a long listing and a full-screen view that
// redraws itself, honours the window size, and closes on "quit". Relayed kinds and guest consoles
// answer with a banner and then the same console. Output is paced by the client's
// acknowledgements, so a flood never runs ahead of what the client has taken by more than a
// window.
#pragma once

#include "api/net/Reactor.h"
#include "sim/RouterLogin.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kestel::sim {

struct ConsoleOptions {
  uint64_t floodBytes = 0; // streamed to every console when it opens (benchmarks)
};

class Console {
public:
  // Output bytes sent but not yet acknowledged, at most.
  static constexpr uint32_t kWindowBytes = 1024 * 1024;
  // Bytes per data message.
  static constexpr size_t kPieceBytes = 16 * 1024;
  // Sessions one connection may hold.
  static constexpr size_t kMaxSessions = 32;
  // Typed bytes a line may hold before the console stops taking more.
  static constexpr size_t kMaxLine = 4096;
  // The full-screen view redraws this often.
  static constexpr uint32_t kTopPeriodMs = 1000;

  Console(Reactor& reactor, ConsoleOptions options = {});
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Serves handler (76) through `login`; the console must outlive it.
  void install(RouterLogin& login);
  // Answers one request to handler (76): what install() registers.
  std::optional<nv::message> serve(const RouterRequest& request);

  size_t sessionCount() const { return sessions_.size(); }
  // Bytes typed into all sessions so far, and zlib's CRC-32 of them in order; for tests.
  uint64_t bytesTyped() const { return typed_; }
  uint32_t typedChecksum() const { return typedCrc_; }
  // The size the session last reported; for tests.
  std::optional<std::pair<int, int>> windowSize(uint32_t id) const;

  class Session;

private:
  std::optional<nv::message> open(const RouterRequest& request);
  void sweep();
  void armSweep();

  Reactor& reactor_;
  ConsoleOptions options_;
  std::map<uint32_t, std::unique_ptr<Session>> sessions_;
  uint32_t nextId_ = 1;
  uint64_t typed_ = 0;
  uint32_t typedCrc_ = 0;
  Reactor::TimerId sweepTimer_ = 0;
};

// Applies the console option at argv[i]: returns how many arguments it took, 0 when argv[i] is
// not a console option, -1 when its value is missing or malformed.
int applyConsoleOption(ConsoleOptions& options, int argc, char** argv, int i);
const char* consoleOptionsUsage();

} // namespace kestel::sim
