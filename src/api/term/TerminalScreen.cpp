#include "api/term/TerminalScreen.h"

#include "util/Log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace kestel {

namespace {

// Byte to character for each set: bytes above 127 show as a space; the graphics set replaces
// 0x60-0x7F with line-drawing and symbol characters.
using CharTable = std::array<uint16_t, 256>;

constexpr uint16_t kGraphics[32] = {0x2666, 0x2592, 0x48,   0x46,   0x43,   0x4C,   0xB0,   0xB1,
                                    0x4E,   0x56,   0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0xAF,
                                    0xAF,   0x2500, 0x5F,   0x5F,   0x251C, 0x2524, 0x2534, 0x252C,
                                    0x2502, 0x2264, 0x2265, 0xB6,   0x2260, 0xA3,   0x2219, 0x20};

constexpr CharTable makeTable(CharacterSet set) {
  CharTable table{};
  for (int b = 0; b < 256; ++b) {
    table[b] = b > 127 ? uint16_t{' '} : static_cast<uint16_t>(b);
  }
  if (set == CharacterSet::Graphics) {
    for (int b = 0x60; b < 0x80; ++b) {
      table[b] = kGraphics[b - 0x60];
    }
  }
  return table;
}

constexpr CharTable kAsciiTable = makeTable(CharacterSet::Ascii);
constexpr CharTable kGraphicsTable = makeTable(CharacterSet::Graphics);

// Sequence bytes for a log line: printable ASCII as is, anything else as \xNN.
std::string printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127) {
      out += c;
      continue;
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", u);
    out += hex;
  }
  return out;
}

} // namespace

TerminalScreen::TerminalScreen(TerminalClient& client, int columns, int rows) : client_(client) {
  resize(columns, rows);
}

void TerminalScreen::reshape(Buffer& buffer, int columns, int rows) {
  Buffer out;
  out.cells.assign(static_cast<std::size_t>(columns) * rows, blank());
  out.lines.resize(rows);
  for (int y = 0; y < rows; ++y) {
    out.lines[y] = static_cast<uint16_t>(y);
  }
  // Rows stay anchored to the bottom of the screen, as the cursor does.
  const int shift = rows - rows_;
  const int width = std::min(columns, columns_);
  for (int y = 0; y < rows; ++y) {
    const int from = y - shift;
    if (from < 0 || from >= rows_ || buffer.lines.empty()) {
      continue;
    }
    const TerminalCell* src = &buffer.cells[buffer.lines[from] * columns_];
    std::copy(src, src + width, &out.cells[static_cast<std::size_t>(y) * columns]);
  }
  buffer = std::move(out);
}

void TerminalScreen::resize(int columns, int rows) {
  columns = std::clamp(columns, 1, kMaxColumns);
  rows = std::clamp(rows, 1, kMaxRows);
  reshape(main_, columns, rows);
  reshape(alternate_, columns, rows);
  const int shift = rows_ == 0 ? 0 : rows - rows_; // the first size puts the cursor home
  columns_ = columns;
  rows_ = rows;
  column_ = std::min(column_, columns_ - 1);
  row_ = std::clamp(row_ + shift, 0, rows_ - 1);
  pendingWrap_ = false;
  scrollTop_ = 0;
  scrollBottom_ = rows_ - 1;
  paintedColumn_ = std::min(paintedColumn_, columns_ - 1);
  paintedRow_ = std::min(paintedRow_, rows_ - 1);
  markAll();
}

void TerminalScreen::beginChunk() {
  repliesLeft_ = kMaxRepliesPerChunk;
  logLinesLeft_ = kMaxLogLinesPerChunk;
  beepLeft_ = true;
}

TerminalRect TerminalScreen::takeChangedRect() {
  markCells(paintedRow_, paintedColumn_, paintedColumn_);
  markCells(row_, column_, column_);
  const TerminalRect out = changed_;
  changed_ = TerminalRect{};
  paintedColumn_ = column_;
  paintedRow_ = row_;
  return out;
}

void TerminalScreen::markCells(int row, int from, int to) {
  if (changed_.empty()) {
    changed_ = TerminalRect{from, row, to, row};
    return;
  }
  changed_.left = std::min(changed_.left, from);
  changed_.right = std::max(changed_.right, to);
  changed_.top = std::min(changed_.top, row);
  changed_.bottom = std::max(changed_.bottom, row);
}

void TerminalScreen::markRows(int top, int bottom) {
  markCells(top, 0, columns_ - 1);
  markCells(bottom, 0, columns_ - 1);
}

void TerminalScreen::reply(std::string_view bytes) {
  if (repliesLeft_ == 0) {
    return;
  }
  --repliesLeft_;
  client_.reply(bytes);
}

template <typename... Args> void TerminalScreen::log(const Args&... args) {
  if (logLinesLeft_ == 0) {
    return;
  }
  --logLinesLeft_;
  logf(args...);
}

void TerminalScreen::print(std::string_view text) {
  const CharTable& table =
      sets_[activeSet_] == CharacterSet::Graphics ? kGraphicsTable : kAsciiTable;
  const TerminalCell pen{0, attrA_, attrB_};
  std::size_t i = 0;
  while (i < text.size()) {
    if (pendingWrap_) {
      pendingWrap_ = false;
      column_ = 0;
      lineFeed();
    }
    TerminalCell* cells = line(row_);
    if (insert_) {
      std::copy_backward(cells + column_, cells + columns_ - 1, cells + columns_);
      cells[column_] = pen;
      cells[column_].ch = table[static_cast<uint8_t>(text[i++])];
      markCells(row_, column_, columns_ - 1);
    } else {
      const auto count = std::min<std::size_t>(text.size() - i, columns_ - column_);
      for (std::size_t k = 0; k < count; ++k) {
        TerminalCell& cell = cells[column_ + k];
        cell = pen;
        cell.ch = table[static_cast<uint8_t>(text[i + k])];
      }
      markCells(row_, column_, column_ + static_cast<int>(count) - 1);
      i += count;
      column_ += static_cast<int>(count) - 1;
    }
    if (column_ == columns_ - 1) {
      pendingWrap_ = true;
    } else {
      ++column_;
    }
  }
}

void TerminalScreen::control(uint8_t code) {
  switch (code) {
  case 0:
  case 14: // SO: G1 is reached only by designating it into G0
    return;
  case 7:
    if (beepLeft_) {
      beepLeft_ = false;
      client_.beep(600, 50);
    }
    return;
  case 8:
    pendingWrap_ = false;
    column_ = std::max(0, column_ - 1);
    return;
  case 9:
    pendingWrap_ = false;
    column_ = std::min((column_ / 8 + 1) * 8, columns_ - 1);
    return;
  case 10:
  case 11:
    lineFeed();
    return;
  case 12:
    pendingWrap_ = false;
    column_ = 0;
    lineFeed();
    return;
  case 13:
    pendingWrap_ = false;
    column_ = 0;
    return;
  case 15:
    activeSet_ = 0;
    return;
  default:
    if (code < 28) {
      log("unknown ctrl ", static_cast<int>(code));
    }
  }
}

void TerminalScreen::lineFeed() {
  if (row_ == scrollBottom_) {
    scrollUp(scrollTop_, scrollBottom_);
    return;
  }
  row_ = std::min(row_ + 1, rows_ - 1);
}

void TerminalScreen::reverseIndex() {
  if (row_ == scrollTop_) {
    scrollDown(scrollTop_, scrollBottom_);
    return;
  }
  row_ = std::max(row_ - 1, 0);
}

void TerminalScreen::scrollUp(int top, int bottom) {
  if (top == 0 && active_ == &main_)
    client_.scrolledOff(line(0), columns_);
  auto first = active_->lines.begin();
  std::rotate(first + top, first + top + 1, first + bottom + 1);
  erase(bottom, 0, columns_);
  markRows(top, bottom);
}

void TerminalScreen::scrollDown(int top, int bottom) {
  auto first = active_->lines.begin();
  std::rotate(first + top, first + bottom, first + bottom + 1);
  erase(top, 0, columns_);
  markRows(top, bottom);
}

void TerminalScreen::erase(int row, int from, int to) {
  if (from >= to) {
    return;
  }
  TerminalCell* cells = line(row);
  std::fill(cells + from, cells + to, blank());
  markCells(row, from, to - 1);
}

void TerminalScreen::escape(std::string_view sequence) {
  const char final = sequence.back();
  if (sequence.size() == 2 && (sequence[0] == '(' || sequence[0] == ')')) {
    sets_[sequence[0] == '(' ? 0 : 1] = final == '0' ? CharacterSet::Graphics : CharacterSet::Ascii;
    return;
  }
  if (sequence.size() == 2 && sequence[0] == '#') {
    if (final == '8') {
      fillWithE();
    }
    return;
  }
  if (sequence.size() != 1) {
    log("unknown ESC ", printable(sequence));
    return;
  }
  switch (final) {
  case '7':
    saveCursor();
    return;
  case '8':
    restoreCursor();
    return;
  case 'D':
    lineFeed();
    return;
  case 'E':
    lineFeed();
    pendingWrap_ = false;
    column_ = 0;
    return;
  case 'M':
    reverseIndex();
    return;
  case 'N':
  case 'O':
    return;
  case 'Z':
    reply("\x1b[?1;2c");
    return;
  case 'c':
    fullReset();
    return;
  default:
    log("unknown ESC ", printable(sequence));
  }
}

void TerminalScreen::controlSequence(std::string_view sequence, const CsiParams& params) {
  switch (sequence.back()) {
  case 'A':
    moveTo(column_, row_ - params.get(0, 1));
    return;
  case 'B':
    moveTo(column_, row_ + params.get(0, 1));
    return;
  case 'C':
    moveTo(column_ + params.get(0, 1), row_);
    return;
  case 'D':
    moveTo(column_ - params.get(0, 1), row_);
    return;
  case 'H':
  case 'f':
    moveTo(params.get(1, 1) - 1, params.get(0, 1) - 1);
    return;
  case 'J':
    eraseDisplay(params.get(0, 0));
    return;
  case 'K':
    eraseLine(params.get(0, 0));
    return;
  case 'P':
    deleteCharacters(params.get(0, 1));
    return;
  case 'c':
    if (params.count <= 1 && params.get(0, 0) == 0) {
      reply("\x1b[?1;2c");
    }
    return;
  case 'g':
    return;
  case 'h':
  case 'l':
    setModes(params, sequence.back() == 'h');
    return;
  case 'm':
    setAttributes(params);
    return;
  case 'n':
    deviceStatus(params);
    return;
  case 'r':
    setRegion(params);
    return;
  default:
    log("unknown ESC[ ", printable(sequence));
  }
}

void TerminalScreen::sequenceTooLong(std::string_view) { log("ERROR: too big ESC sequence"); }

void TerminalScreen::moveTo(int column, int row) {
  pendingWrap_ = false;
  column_ = std::clamp(column, 0, columns_ - 1);
  row_ = std::clamp(row, 0, rows_ - 1);
}

void TerminalScreen::eraseDisplay(int mode) {
  switch (mode) {
  case 0:
    eraseLine(0);
    for (int y = row_ + 1; y < rows_; ++y) {
      erase(y, 0, columns_);
    }
    return;
  case 1:
    for (int y = 0; y < row_; ++y) {
      erase(y, 0, columns_);
    }
    eraseLine(1);
    return;
  case 2:
    for (int y = 0; y < rows_; ++y) {
      erase(y, 0, columns_);
    }
    return;
  default:
    return;
  }
}

void TerminalScreen::eraseLine(int mode) {
  switch (mode) {
  case 0:
    erase(row_, column_, columns_);
    return;
  case 1:
    erase(row_, 0, column_ + 1);
    return;
  case 2:
    erase(row_, 0, columns_);
    return;
  default:
    return;
  }
}

void TerminalScreen::deleteCharacters(int count) {
  count = std::min(count, columns_ - column_);
  if (count <= 0) {
    return;
  }
  TerminalCell* cells = line(row_);
  std::copy(cells + column_ + count, cells + columns_, cells + column_);
  erase(row_, columns_ - count, columns_);
  markCells(row_, column_, columns_ - 1);
}

void TerminalScreen::setModes(const CsiParams& params, bool enable) {
  for (int i = 0; i < params.count; ++i) {
    const int mode = params.values[i];
    if (mode == CsiParams::kNotGiven) {
      continue;
    }
    if (!params.isPrivate) {
      if (mode == 4) {
        insert_ = enable;
      } else {
        log(enable ? "don't know how to enable mode " : "don't know how to disable mode ", mode);
      }
      continue;
    }
    if (mode == 1) {
      cursorKeys_ = enable;
    } else if (mode == 3) {
      if (enable) {
        log("WARNING: 132 mode is not implemented");
      }
    } else if (mode == 47 || mode == 1047) {
      active_ = enable ? &alternate_ : &main_;
      markAll();
    } else {
      log(enable ? "don't know how to enable private mode "
                 : "don't know how to disable private mode ",
          mode);
    }
  }
}

void TerminalScreen::setAttributes(const CsiParams& params) {
  const int count = std::max(params.count, 1);
  for (int i = 0; i < count; ++i) {
    const int p = params.get(i, 0);
    if (p == 0) {
      attrA_ = 0;
      attrB_ = 0x0F;
    } else if (p == 1 || p == 22) {
      attrA_ = (attrA_ & ~0x03) | 1;
    } else if (p == 2) {
      attrA_ &= ~0x07;
    } else if (p == 4) {
      attrA_ = (attrA_ & ~0x03) | 2;
    } else if (p == 5 || p == 7) {
      attrA_ |= 0x08;
    } else if (p == 21) {
      attrA_ |= 0x04;
    } else if (p == 24) {
      attrA_ &= ~0x03;
    } else if (p == 25 || p == 27) {
      attrA_ &= ~0x08;
    } else if (p >= 30 && p <= 37) {
      attrA_ = (attrA_ & 0x0F) | ((p - 30) << 4);
    } else if (p == 38) {
      attrA_ = (attrA_ & 0x0C) | 2;
    } else if (p == 39) {
      attrA_ &= 0x0C;
    } else if (p >= 40 && p <= 47) {
      attrB_ = (attrB_ & 0xF0) | (p - 40);
    } else if (p == 49) {
      attrB_ = (attrB_ & 0xF0) | 0x0F;
    }
  }
}

void TerminalScreen::setRegion(const CsiParams& params) {
  const int top = std::max(params.get(0, 1), 1) - 1;
  const int p2 = params.get(1, 0);
  const int bottom = p2 == 0 ? rows_ - 1 : std::min(p2 - 1, rows_ - 1);
  // A region of fewer than two rows, or one that starts below the screen, cannot scroll.
  if (top >= bottom) {
    return;
  }
  scrollTop_ = top;
  scrollBottom_ = bottom;
}

void TerminalScreen::deviceStatus(const CsiParams& params) {
  const int p = params.get(0, 0);
  if (p == 5 && !params.isPrivate) {
    reply("\x1b[0n");
    return;
  }
  if (p != 6) {
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "\x1b[%s%d;%dR", params.isPrivate ? "?" : "", row_ + 1,
                column_ + 1);
  reply(text);
}

void TerminalScreen::saveCursor() {
  saved_ = SavedCursor{column_, row_, attrA_, attrB_, {sets_[0], sets_[1]}, activeSet_};
}

void TerminalScreen::restoreCursor() {
  moveTo(saved_.column, saved_.row);
  attrA_ = saved_.attrA;
  attrB_ = saved_.attrB;
  sets_[0] = saved_.sets[0];
  sets_[1] = saved_.sets[1];
  activeSet_ = saved_.activeSet;
}

void TerminalScreen::clearBuffer(Buffer& buffer) {
  std::fill(buffer.cells.begin(), buffer.cells.end(), blank());
}

void TerminalScreen::fullReset() {
  clearBuffer(main_);
  clearBuffer(alternate_);
  active_ = &main_;
  attrA_ = 0;
  attrB_ = 0x0F;
  sets_[0] = CharacterSet::Ascii;
  sets_[1] = CharacterSet::Graphics;
  activeSet_ = 0;
  cursorKeys_ = false;
  insert_ = false;
  saved_ = SavedCursor{};
  scrollTop_ = 0;
  scrollBottom_ = rows_ - 1;
  moveTo(0, 0);
  markAll();
}

void TerminalScreen::fillWithE() {
  for (int y = 0; y < rows_; ++y) {
    std::fill(line(y), line(y) + columns_, TerminalCell{'E', 0, 0x0F});
  }
  markAll();
}

} // namespace kestel
