// Symbol names and source lines for the crash report's backtrace. Looking them up in-process is
// not safe inside a signal handler (the loader's and the allocator's locks may be held by the
// very code that crashed), so the handler runs the system's addr2line as a child process, once
// per module, with the frames' addresses inside that module, and reads its answer through a pipe
// within a deadline. Without addr2line the report keeps module+offset, which can be looked up
// afterwards the same way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestel {

struct CrashModule;

// The text a frame gets: its function and "file:line", each empty when unknown.
struct FrameSymbol {
  static constexpr size_t kMaxText = 240;
  char function[kMaxText] = {};
  char fileLine[kMaxText] = {};
};

class CrashSymbols {
public:
  // Looks for addr2line on PATH; call once, outside any signal handler. Returns false when
  // there is none (frames then stay unnamed).
  bool prepare();
  bool available() const { return path_[0] != '\0'; }

  // Fills out[i] for every address (as loaded in this process) that lies in `module`. Gives up,
  // leaving entries empty, once `deadlineMs` (CLOCK_MONOTONIC) passes. Safe inside a signal handler
  // once prepared.
  void lookUp(const CrashModule& module, const uintptr_t* addresses, size_t count, FrameSymbol* out,
              int64_t deadlineMs) const;

  static int64_t nowMs();

private:
  // Runs addr2line and collects its output into `buffer`; returns the bytes read.
  size_t run(char* const* argv, char* buffer, size_t capacity, int64_t deadlineMs) const;

  char path_[4096] = {};
};

} // namespace kestel
