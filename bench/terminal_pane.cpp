// Painting a full terminal screen. Both sides start from the same screen of cells (a coloured
// listing with bold runs and line-drawing characters, as the emulator left it) and end with the
// whole screen drawn into an image of the same size in the same fixed-width font:
//  - Kestel: TerminalPane::render of the pane (its paint of every cell);
//  - peer: Qt's QPlainTextEdit holding the same characters with the same colours and weights as
//    character formats (the document is built before timing), rendered into the image.
// Run off screen: QT_QPA_PLATFORM=offscreen is set when not given.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "gui/TerminalPane.h"

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

// After the core's headers: Qt's "emit" and "slots" keywords would rename their members.
#include "QtBenchMain.h"

namespace {

using namespace kestel;

QColor colour(int index, bool background) {
  static const QColor colours[8] = {{0, 0, 0},     {194, 24, 7},   {0, 140, 40},  {170, 130, 0},
                                    {20, 60, 200}, {160, 30, 160}, {0, 140, 150}, {200, 200, 200}};
  return background && index == 15 ? QColor(255, 255, 255) : colours[index & 7];
}

// A screenful of console output: every row coloured in runs, bold words, line drawing.
std::string screenStream(int columns, int rows) {
  std::string out = "\x1b[H\x1b[2J";
  for (int r = 0; r < rows; ++r) {
    if (r > 0)
      out += "\r\n";
    for (int c = 0; c < columns; c += 8) {
      int n = std::min(8, columns - c);
      out += "\x1b[" + std::to_string(30 + (r + c / 8) % 8) + ";" +
             std::to_string(40 + (r * 3 + c / 8) % 8) + (c % 24 == 0 ? ";1m" : "m");
      if ((r + c / 8) % 5 == 0)
        out += "\x1b(0" + std::string(size_t(n), 'q') + "\x1b(B";
      else
        out += std::string("route-198.18.0.0/24").substr(0, size_t(n));
    }
    out += "\x1b[0m";
  }
  return out;
}

struct Screens {
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  gui::TerminalPane pane{reactor, "bench"};
  QPlainTextEdit peer;
  QImage image;

  Screens(int columns, int rows) {
    pane.console().terminal().resize(columns, rows);
    pane.console().terminal().feed(screenStream(columns, rows));
    QSize cell = pane.cellSize();
    QSize size(columns * cell.width(), rows * cell.height());
    pane.resize(size.width() + 20, size.height()); // the scroll bar takes the rest
    pane.console().terminal().resize(columns, rows);
    pane.console().terminal().feed(screenStream(columns, rows));
    image = QImage(size, QImage::Format_RGB32);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    peer.setFont(font);
    peer.setFrameStyle(0);
    peer.setLineWrapMode(QPlainTextEdit::NoWrap);
    peer.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    peer.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    peer.resize(size);
    QTextCursor cursor(peer.document());
    const TerminalScreen& screen = pane.console().screen();
    for (int y = 0; y < rows; ++y) {
      if (y > 0)
        cursor.insertBlock();
      for (int x = 0; x < columns; ++x) {
        const TerminalCell& c = screen.cell(x, y);
        QTextCharFormat format;
        format.setForeground(colour(c.attrA >> 4, false));
        format.setBackground(colour(c.attrB & 0x0F, true));
        format.setFontWeight((c.attrA & 3) == 1 ? QFont::Bold : QFont::Normal);
        cursor.insertText(QString(QChar(char16_t(c.ch))), format);
      }
    }
  }
};

void paneFullScreen(benchmark::State& state, int columns, int rows) {
  Screens s(columns, rows);
  for (auto _ : state) {
    s.pane.render(&s.image);
    benchmark::DoNotOptimize(s.image.constBits());
  }
}

void plainTextEditFullScreen(benchmark::State& state, int columns, int rows) {
  Screens s(columns, rows);
  for (auto _ : state) {
    s.peer.render(&s.image);
    benchmark::DoNotOptimize(s.image.constBits());
  }
}

BENCHMARK_CAPTURE(paneFullScreen, 80x24, 80, 24)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(plainTextEditFullScreen, 80x24, 80, 24)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(paneFullScreen, 200x60, 200, 60)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(plainTextEditFullScreen, 200x60, 200, 60)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return kestel::bench::runQtBenchmarks(argc, argv); }
