// The terminal pane: a terminal session's screen drawn with a fixed-width font from the desktop,
// repainting only the cells that changed, with a scrollback of the lines that left the top of
// the screen (10,000 by default), mouse selection, "Copy", "Copy Screen", "Copy All" and "Paste"
// (a paste of any length goes out whole), zoom with Ctrl+plus/minus, and the window size sent to
// the router whenever the pane's size in cells changes. Keys go to the router as a VT102 sends
// them (cursor keys follow the cursor-keys mode).
#pragma once

#include "app/TerminalConsole.h"
#include "gui/Toolkit.h"

#include <QFont>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class QScrollBar;

namespace kestel::gui {

inline constexpr const char* kTerminalPaneName = "nimbalux_terminal";

// The bytes a key sends; empty for keys the terminal does not send (they may act locally).
std::string terminalKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                             bool cursorKeysMode);

class TerminalPane final : public QWidget, public ICopyHooks, public IPasteHooks {
  Q_OBJECT
public:
  static constexpr int kDefaultScrollback = 10000;

  TerminalPane(Reactor& reactor, std::string title, QWidget* parent = nullptr);
  ~TerminalPane() override;

  TerminalConsole& console() { return console_; }
  void open(const std::string& login, const TerminalTarget& target);

  // Lines kept above the screen; 0 keeps none. Fewer than held drops the oldest.
  void setScrollbackLines(int lines);
  int scrollbackLines() const { return limit_; }
  size_t scrollbackSize() const { return scrollback_.size(); }
  // How many lines the view is scrolled back from the live screen.
  int scrolledBack() const;
  void scrollBack(int lines);

  // Selection in (line, column) of the scrollback followed by the screen; empty when none.
  void select(int fromLine, int fromColumn, int toLine, int toColumn);
  std::string selectedText() const;
  std::string screenText() const;
  std::string allText() const;
  void copySelection();
  void copyScreen();
  void copyAll();
  void paste();

  // Font steps from the desktop's fixed-width font size, -5 to +10.
  void zoomBy(int steps);
  QSize cellSize() const { return cell_; }
  // The area of the last paint, in pixels; for tests.
  QRect lastPaint() const { return lastPaint_; }

  void fillData(QMimeData& data) override;
  bool canPaste(const QMimeData& data) override;
  void paste(const QMimeData& data, bool localCopy) override;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  struct Point {
    int line = 0, column = 0;
    auto operator<=>(const Point&) const = default;
  };
  TerminalConsole::Callbacks callbacks();
  void applyFont();
  void fitToSize();
  void onChanged(const TerminalRect& rect);
  void onScrolledOff(const TerminalCell* cells, int count);
  void updateScrollBar();
  // The cells of combined line `line` (scrollback first, then the screen), and their count.
  const TerminalCell* lineCells(int line, int& count) const;
  int totalLines() const;
  int firstVisibleLine() const;
  Point pointAt(QPoint position) const;
  std::string textBetween(Point from, Point to) const;

  TerminalConsole console_;
  std::deque<std::vector<TerminalCell>> scrollback_;
  int limit_ = kDefaultScrollback;
  QScrollBar* bar_ = nullptr;
  QFont font_;
  int zoomSteps_ = 0;
  QSize cell_{8, 16};
  int ascent_ = 12;
  bool selecting_ = false;
  Point anchor_, selFrom_, selTo_; // selFrom_ == selTo_: nothing selected
  QRect lastPaint_;
  std::string copyText_; // what the next clipboard fill gives
};

} // namespace kestel::gui
