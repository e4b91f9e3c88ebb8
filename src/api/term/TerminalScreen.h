// The screen model of the terminal: a main and an alternate buffer of character cells, the
// cursor with its pending wrap, the scrolling region, the G0/G1 character sets, the current
// attributes, the modes and the rectangle of cells changed since the last paint. It executes
// what `TerminalParser` finds; replies and beeps go to the owner's `TerminalClient`, unknown
// sequences to the log. It draws nothing, and it never grows beyond its two buffers: sizes are
// clamped to kMaxColumns × kMaxRows, and replies, beeps and log lines are bounded per chunk.
#pragma once

#include "api/term/TerminalParser.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestel {

// One character cell: a 16-bit character and the two attribute bytes.
// attrA: bits 0-1 weight, bit 2 flag, bit 3 reverse, bits 4-7 foreground colour index.
// attrB: bits 0-3 background colour index (15 = default), bits 4-7 kept.
struct TerminalCell {
  uint16_t ch = ' ';
  uint8_t attrA = 0;
  uint8_t attrB = 0x0F;
  bool operator==(const TerminalCell&) const = default;
};

// Cells [left, right] × [top, bottom], inclusive; empty when right < left.
struct TerminalRect {
  int left = 0, top = 0, right = -1, bottom = -1;
  bool empty() const { return right < left || bottom < top; }
  bool operator==(const TerminalRect&) const = default;
};

// Implemented by the owner of the terminal (the pane, a test).
class TerminalClient {
public:
  virtual ~TerminalClient() = default;
  // Bytes the terminal sends back to the router (device attributes, cursor reports).
  virtual void reply(std::string_view bytes) = 0;
  virtual void beep(int hertz, int milliseconds) = 0;
  // The top line of the main buffer is about to scroll off the screen (for a scrollback).
  virtual void scrolledOff(const TerminalCell* cells, int count) {
    (void)cells;
    (void)count;
  }
};

enum class CharacterSet : uint8_t { Ascii, Graphics };

class TerminalScreen final : public TerminalActions {
public:
  // Sizes outside these bounds are clamped to them (a 10,000-column request gets kMaxColumns).
  static constexpr int kMaxColumns = 1000;
  static constexpr int kMaxRows = 500;
  // Per chunk of input: later replies are dropped, later beeps merged, later log lines dropped.
  static constexpr int kMaxRepliesPerChunk = 16;
  static constexpr int kMaxLogLinesPerChunk = 16;

  TerminalScreen(TerminalClient& client, int columns, int rows);

  // Keeps the bottom rows of both buffers (the cursor row moves by the change in rows), resets
  // the scrolling region to the whole screen and marks everything changed.
  void resize(int columns, int rows);
  // Starts a chunk of input: refills the reply, beep and log budgets.
  void beginChunk();
  // The cells changed since the last call joined with the cursor cell then and now; clears it.
  TerminalRect takeChangedRect();

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  int cursorColumn() const { return column_; }
  int cursorRow() const { return row_; }
  bool pendingWrap() const { return pendingWrap_; }
  int scrollTop() const { return scrollTop_; }
  int scrollBottom() const { return scrollBottom_; }
  bool alternateActive() const { return active_ == &alternate_; }
  bool cursorKeysMode() const { return cursorKeys_; }
  bool insertMode() const { return insert_; }
  int activeSet() const { return activeSet_; }
  CharacterSet characterSet(int slot) const { return sets_[slot & 1]; }
  uint8_t attrA() const { return attrA_; }
  uint8_t attrB() const { return attrB_; }
  // The cell of the active buffer; column and row must be inside the screen.
  const TerminalCell& cell(int column, int row) const { return line(row)[column]; }

  void print(std::string_view text) override;
  void control(uint8_t code) override;
  void escape(std::string_view sequence) override;
  void controlSequence(std::string_view sequence, const CsiParams& params) override;
  void sequenceTooLong(std::string_view collected) override;

private:
  // Lines live in `cells`; `lines[row]` is the slot of the line shown on that row, so that
  // scrolling rotates slot numbers instead of moving cells.
  struct Buffer {
    std::vector<TerminalCell> cells;
    std::vector<uint16_t> lines;
  };
  struct SavedCursor {
    int column = 0, row = 0;
    uint8_t attrA = 0, attrB = 0x0F;
    CharacterSet sets[2] = {CharacterSet::Ascii, CharacterSet::Graphics};
    int activeSet = 0;
  };

  TerminalCell* line(int row) { return &active_->cells[active_->lines[row] * columns_]; }
  const TerminalCell* line(int row) const {
    return &active_->cells[active_->lines[row] * columns_];
  }
  TerminalCell blank() const { return TerminalCell{}; }
  void reshape(Buffer& buffer, int columns, int rows);
  void clearBuffer(Buffer& buffer);

  void lineFeed();
  void reverseIndex();
  void scrollUp(int top, int bottom);
  void scrollDown(int top, int bottom);
  void erase(int row, int from, int to); // columns [from, to)
  void eraseDisplay(int mode);
  void eraseLine(int mode);
  void deleteCharacters(int count);
  void setModes(const CsiParams& params, bool enable);
  void setAttributes(const CsiParams& params);
  void setRegion(const CsiParams& params);
  void deviceStatus(const CsiParams& params);
  void moveTo(int column, int row);
  void saveCursor();
  void restoreCursor();
  void fullReset();
  void fillWithE();

  void reply(std::string_view bytes);
  template <typename... Args> void log(const Args&... args);
  void markCells(int row, int from, int to); // columns [from, to]
  void markRows(int top, int bottom);
  void markAll() { markRows(0, rows_ - 1); }

  TerminalClient& client_;
  int columns_ = 0, rows_ = 0;
  Buffer main_, alternate_;
  Buffer* active_ = &main_;
  int column_ = 0, row_ = 0;
  bool pendingWrap_ = false;
  int scrollTop_ = 0, scrollBottom_ = 0;
  uint8_t attrA_ = 0, attrB_ = 0x0F;
  CharacterSet sets_[2] = {CharacterSet::Ascii, CharacterSet::Graphics};
  int activeSet_ = 0;
  bool cursorKeys_ = false, insert_ = false;
  SavedCursor saved_;
  TerminalRect changed_;
  int paintedColumn_ = 0, paintedRow_ = 0;
  int repliesLeft_ = kMaxRepliesPerChunk, logLinesLeft_ = kMaxLogLinesPerChunk;
  bool beepLeft_ = true;
};

} // namespace kestel
