#include "api/term/TerminalParser.h"

#include <algorithm>

namespace kestel {

namespace {
constexpr uint8_t kEsc = 27;
} // namespace

CsiParams CsiParams::parse(std::string_view body) {
  CsiParams out;
  out.isPrivate = !body.empty() && body.front() == '?';
  bool any = false;
  int current = kNotGiven;
  auto push = [&] {
    if (out.count < kMaxCount) {
      out.values[out.count++] = current;
    }
    current = kNotGiven;
  };
  for (char c : body) {
    if (c >= '0' && c <= '9') {
      any = true;
      current = std::min(kMaxValue, (current == kNotGiven ? 0 : current * 10) + (c - '0'));
    } else if (c == ';') {
      any = true;
      push();
    }
  }
  if (any) {
    push();
  }
  return out;
}

void TerminalParser::feed(std::string_view bytes) {
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    const auto c = static_cast<uint8_t>(bytes[i]);
    if (c < 32) {
      if (c == kEsc) {
        state_ = State::Escape;
        length_ = 0;
      } else {
        actions_.control(c);
      }
      ++i;
      continue;
    }
    if (state_ != State::Normal) {
      sequenceByte(bytes[i]);
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < size && static_cast<uint8_t>(bytes[end]) >= 32) {
      ++end;
    }
    actions_.print(bytes.substr(i, end - i));
    i = end;
  }
}

void TerminalParser::sequenceByte(char c) {
  if (state_ == State::Escape) {
    if (c == '[' && length_ == 0) {
      state_ = State::ControlSequence;
      return;
    }
    if (c < '0' || c > '~') {
      append(c);
      return;
    }
    buffer_[length_] = c;
    state_ = State::Normal;
    actions_.escape(std::string_view(buffer_.data(), length_ + 1));
    return;
  }
  const auto u = static_cast<uint8_t>(c);
  if (u < 0x40 || u > 0x7E) {
    append(c);
    return;
  }
  buffer_[length_] = c;
  state_ = State::Normal;
  const std::string_view body(buffer_.data(), length_);
  actions_.controlSequence(std::string_view(buffer_.data(), length_ + 1), CsiParams::parse(body));
}

void TerminalParser::append(char c) {
  if (length_ < kMaxSequence) {
    buffer_[length_++] = c;
    return;
  }
  // The sequence is garbage: show what was collected, and this byte, as ordinary text.
  state_ = State::Normal;
  const std::string_view collected(buffer_.data(), length_);
  actions_.sequenceTooLong(collected);
  actions_.print(collected);
  actions_.print(std::string_view(&c, 1));
  length_ = 0;
}

} // namespace kestel
