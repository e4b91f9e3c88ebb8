#include "api/term/TermSupport.h"

namespace kestel::termtest {

std::string utf8(uint32_t code) {
  std::string out;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

std::string rowText(const TerminalScreen& screen, int row) {
  std::string out;
  for (int x = 0; x < screen.columns(); ++x) {
    out += utf8(screen.cell(x, row).ch);
  }
  return out.erase(out.find_last_not_of(' ') + 1);
}

std::string screenText(const TerminalScreen& screen) {
  std::string out;
  for (int y = 0; y < screen.rows(); ++y) {
    out += rowText(screen, y) + '\n';
  }
  return out;
}

Snapshot snapshot(const TerminalScreen& screen) {
  Snapshot out;
  for (int y = 0; y < screen.rows(); ++y) {
    for (int x = 0; x < screen.columns(); ++x) {
      out.cells.push_back(screen.cell(x, y));
    }
  }
  out.state = {screen.cursorColumn(),
               screen.cursorRow(),
               screen.pendingWrap(),
               screen.scrollTop(),
               screen.scrollBottom(),
               screen.alternateActive(),
               screen.cursorKeysMode(),
               screen.insertMode(),
               screen.activeSet(),
               int(screen.characterSet(0)),
               int(screen.characterSet(1)),
               screen.attrA(),
               screen.attrB()};
  return out;
}

namespace {

std::string csi(const std::string& body) { return "\x1b[" + body; }

} // namespace

int StreamGenerator::pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
std::string StreamGenerator::num(int n) { return std::to_string(pick(n)); }

std::string StreamGenerator::next(std::size_t size) {
  std::string out;
  while (out.size() < size) {
    out += kind_ == StreamKind::Comparable ? comparable() : anything();
  }
  return out;
}

std::string StreamGenerator::text() {
  static const char* const kWords[] = {"ether1",    "running",      "  ",
                                       "bridge",    "198.18.88.1", "RX",
                                       "|",         "-----",        "flags: X - disabled",
                                       "0123456789"};
  std::string out;
  const int n = 1 + pick(4);
  for (int i = 0; i < n; ++i) {
    out += kWords[pick(10)];
    out += ' ';
  }
  return out;
}

// Line-drawing characters that both terminals map alike.
std::string StreamGenerator::lineDrawing() {
  static const char kBox[] = "jklmnqtuvwxa";
  std::string out = "\x1b(0";
  const int n = 1 + pick(12);
  for (int i = 0; i < n; ++i) {
    out += kBox[pick(sizeof kBox - 1)];
  }
  return out + "\x1b(B";
}

std::string StreamGenerator::comparable() {
  switch (pick(22)) {
  case 0:
  case 1:
  case 2:
    return text();
  case 3:
    return "\r\n";
  case 4:
    return "\r";
  case 5:
    return lineDrawing();
  case 6:
    return csi(num(rows_ + 3) + ";" + num(90) + "H");
  case 7:
    return regionSet_ ? csi(std::to_string(1 + pick(5)) + "C")
                      : csi(std::to_string(1 + pick(5)) + "A");
  case 8:
    return regionSet_ ? csi(std::to_string(1 + pick(5)) + "D")
                      : csi(std::to_string(1 + pick(5)) + "B");
  case 9:
    return csi(std::to_string(1 + pick(90)) + "C");
  case 10:
    return csi(std::to_string(1 + pick(90)) + "D");
  case 11:
    return csi(num(3) + "J");
  case 12:
    return csi(num(3) + "K");
  case 13:
    return regionSet_ ? "\r" : csi(std::to_string(1 + pick(10)) + "P");
  case 14:
    return csi(pick(2) ? "1;3" + num(8) + "m" : "0m");
  case 15: {
    const int top = 1 + pick(rows_ - 1); // the reference takes a one-row region
    const int bottom = top + 1 + pick(rows_);
    regionSet_ = !(top == 1 && bottom >= rows_);
    return csi("4l") + csi(std::to_string(top) + ";" + std::to_string(bottom) + "r") + csi("H");
  }
  case 16:
    regionSet_ = false;
    return csi("r") + csi("H");
  case 17:
    return pick(2) ? "\r\x1b"
                     "D"
                   : "\r\x1bM";
  case 18: // the reference also saves a pending wrap: save after a backspace
    return pick(2) ? std::string("\b\x1b"
                                 "7")
                   : std::string("\x1b"
                                 "8");
  case 19:
    return pick(2) && !regionSet_ ? csi("4h") : csi("4l");
  case 20:
    return pick(2) ? csi("6n") : csi("c");
  default:
    return "\b";
  }
}

std::string StreamGenerator::anything() {
  switch (pick(16)) {
  case 0:
    return text();
  case 1: {
    std::string out;
    for (int i = pick(20); i > 0; --i) {
      out += static_cast<char>(rng_());
    }
    return out;
  }
  case 2:
    return "\x1b" + std::string(1, static_cast<char>(32 + pick(96)));
  case 3:
    return "\x1b[" + std::string(pick(2) ? "?" : "") + num(100000) + ";" + num(1000) +
           std::string(1, static_cast<char>(0x40 + pick(63)));
  case 4:
    return "\x1b[" + std::string(100 + pick(100), "0123456789;"[pick(11)]) + "H";
  case 5:
    return "\x1b(" + std::string(1, "0B1A"[pick(4)]);
  case 6:
    return "\x1b)" + std::string(1, "0B"[pick(2)]);
  case 7:
    return std::string(1, static_cast<char>(pick(32)));
  case 8:
    return "\x1b[" + num(rows_ + 5) + ";" + num(rows_ + 5) + "r";
  case 9:
    return "\x1b[?" + std::string(pick(2) ? "47" : "1047") + (pick(2) ? "h" : "l");
  case 10:
    return "\x1b#8";
  case 11:
    return "\x1b"
           "c";
  case 12:
    return "\x1b[" + std::string(1, "0123456789;?"[pick(12)]);
  default:
    return comparable();
  }
}

} // namespace kestel::termtest
