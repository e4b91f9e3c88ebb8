// Splits the byte stream of a router console into printable runs, control characters, escape
// sequences and control sequences, and hands each to a `TerminalActions` implementation; it keeps
// no screen state of its own. Bytes below 32 act at once whatever the state; a sequence whose
// collected bytes would pass kMaxSequence ends early and comes back as text. Feeding the same bytes
// in any split makes the same calls, except that a printable run may arrive in several pieces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestel {

// The numeric parameters of a control sequence. Bytes that are neither digits nor ';' are
// skipped; an empty parameter is "not given". Values saturate at kMaxValue and parameters past
// kMaxCount are dropped, so no input can overflow or grow them.
struct CsiParams {
  static constexpr int kMaxCount = 16;
  static constexpr int kMaxValue = 65535;
  static constexpr int kNotGiven = -1;

  std::array<int, kMaxCount> values{};
  int count = 0;          // parameters present, given or not (at most kMaxCount)
  bool isPrivate = false; // the sequence starts with '?'

  // Parameter i, or `fallback` when it is absent or not given; an explicit 0 stays 0.
  int get(int i, int fallback) const {
    return i < count && values[i] != kNotGiven ? values[i] : fallback;
  }
  // Reads the bytes between "ESC [" and the final byte (exclusive).
  static CsiParams parse(std::string_view body);
};

// What the parser found; the screen model implements it and tests record it.
class TerminalActions {
public:
  virtual ~TerminalActions() = default;
  // Bytes 32 and above met in the normal state, in order.
  virtual void print(std::string_view text) = 0;
  // A byte below 32 other than ESC.
  virtual void control(uint8_t code) = 0;
  // "ESC" + `sequence`: the intermediate bytes followed by the final byte.
  virtual void escape(std::string_view sequence) = 0;
  // "ESC [" + `sequence` (parameters and intermediates, then the final byte), with its parameters.
  virtual void controlSequence(std::string_view sequence, const CsiParams& params) = 0;
  // A sequence passed kMaxSequence collected bytes; `collected` follows as text through print().
  virtual void sequenceTooLong(std::string_view collected) = 0;
};

class TerminalParser {
public:
  static constexpr std::size_t kMaxSequence = 128;

  explicit TerminalParser(TerminalActions& actions) : actions_(actions) {}

  // Consumes every byte; never fails on input.
  void feed(std::string_view bytes);

private:
  enum class State : uint8_t { Normal, Escape, ControlSequence };

  // Handles one byte of 32 or above outside the normal state.
  void sequenceByte(char c);
  void append(char c);

  TerminalActions& actions_;
  State state_ = State::Normal;
  std::size_t length_ = 0;
  std::array<char, kMaxSequence + 1> buffer_{};
};

} // namespace kestel
