#include "gui/TerminalPane.h"

#include "api/term/TerminalText.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace kestel::gui {

namespace {

// Colour indexes of the attributes: 0-7 the eight colours, 15 the default background.
QColor colour(int index, bool background) {
  static const QColor colours[8] = {{0, 0, 0},     {194, 24, 7},   {0, 140, 40},  {170, 130, 0},
                                    {20, 60, 200}, {160, 30, 160}, {0, 140, 150}, {200, 200, 200}};
  if (background && index == 15)
    return QColor(255, 255, 255);
  return colours[index & 7];
}

void appendUtf16(QString& text, uint16_t ch) { text.append(QChar(char16_t(ch))); }

} // namespace

std::string terminalKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                             bool cursorKeysMode) {
  const char* csi = cursorKeysMode ? "\x1bO" : "\x1b[";
  switch (key) {
  case Qt::Key_Up:
    return std::string(csi) + "A";
  case Qt::Key_Down:
    return std::string(csi) + "B";
  case Qt::Key_Right:
    return std::string(csi) + "C";
  case Qt::Key_Left:
    return std::string(csi) + "D";
  case Qt::Key_Home:
    return "\x1b[1~";
  case Qt::Key_Insert:
    return "\x1b[2~";
  case Qt::Key_Delete:
    return "\x1b[3~";
  case Qt::Key_End:
    return "\x1b[4~";
  case Qt::Key_PageUp:
    return "\x1b[5~";
  case Qt::Key_PageDown:
    return "\x1b[6~";
  case Qt::Key_F1:
  case Qt::Key_F2:
  case Qt::Key_F3:
  case Qt::Key_F4:
    return std::string("\x1bO") + char('P' + (key - Qt::Key_F1));
  case Qt::Key_Return:
  case Qt::Key_Enter:
    return "\r";
  case Qt::Key_Backspace:
    return "\x7f";
  case Qt::Key_Tab:
    return "\t";
  case Qt::Key_Backtab:
    return "\x1b[Z";
  case Qt::Key_Escape:
    return "\x1b";
  default:
    break;
  }
  std::string prefix = (modifiers & Qt::AltModifier) ? "\x1b" : "";
  if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::ShiftModifier)) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
      return prefix + char(key - Qt::Key_A + 1);
    if (key == Qt::Key_Space || key == Qt::Key_At)
      return prefix + std::string(1, '\0');
    if (key >= Qt::Key_BracketLeft && key <= Qt::Key_Underscore)
      return prefix + char(key - Qt::Key_BracketLeft + 27);
  }
  if (text.isEmpty())
    return {};
  return prefix + text.toStdString();
}

TerminalPane::TerminalPane(Reactor& reactor, std::string title, QWidget* parent)
    : QWidget(parent), console_(reactor, std::move(title), 80, 24, callbacks()),
      bar_(new QScrollBar(Qt::Vertical, this)) {
  setObjectName(kTerminalPaneName);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setWindowTitle(qs(console_.session().title()));
  connect(bar_, &QScrollBar::valueChanged, this, [this] { update(); });
  applyFont();
  resize(80 * cell_.width() + bar_->sizeHint().width(), 24 * cell_.height());
  registerDropTarget(this, this);
}

TerminalPane::~TerminalPane() { unregisterDropTarget(this); }

TerminalConsole::Callbacks TerminalPane::callbacks() {
  TerminalConsole::Callbacks c;
  c.changed = [this](const TerminalRect& rect) { onChanged(rect); };
  c.stateChanged = [this] { setWindowTitle(qs(console_.session().title())); };
  c.beep = [](int, int) { QApplication::beep(); };
  c.scrolledOff = [this](const TerminalCell* cells, int count) { onScrolledOff(cells, count); };
  return c;
}

void TerminalPane::open(const std::string& login, const TerminalTarget& target) {
  fitToSize();
  console_.open(login, target);
}

void TerminalPane::applyFont() {
  font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font_.setStyleHint(QFont::TypeWriter);
  qreal base = font_.pointSizeF() > 0 ? font_.pointSizeF() : 10;
  font_.setPointSizeF(std::max<qreal>(4, base + zoomSteps_));
  QFontMetrics metrics(font_);
  cell_ = QSize(std::max(1, metrics.horizontalAdvance(QLatin1Char('M'))),
                std::max(1, metrics.height()));
  ascent_ = metrics.ascent();
  fitToSize();
  update();
}

void TerminalPane::zoomBy(int steps) {
  zoomSteps_ = std::clamp(zoomSteps_ + steps, -5, 10);
  applyFont();
}

void TerminalPane::resizeEvent(QResizeEvent*) {
  int barWidth = bar_->sizeHint().width();
  bar_->setGeometry(width() - barWidth, 0, barWidth, height());
  fitToSize();
}

// The screen takes as many whole cells as the pane holds; the router hears of every change.
void TerminalPane::fitToSize() {
  int columns = std::max(1, (width() - bar_->sizeHint().width()) / cell_.width());
  int rows = std::max(1, height() / cell_.height());
  const TerminalScreen& screen = console_.screen();
  if (columns != screen.columns() || rows != screen.rows())
    console_.resize(columns, rows);
  updateScrollBar();
  update();
}

void TerminalPane::setScrollbackLines(int lines) {
  limit_ = std::max(0, lines);
  while (int(scrollback_.size()) > limit_)
    scrollback_.pop_front();
  updateScrollBar();
  update();
}

void TerminalPane::onScrolledOff(const TerminalCell* cells, int count) {
  if (limit_ == 0)
    return;
  bool back = scrolledBack() > 0;
  bool full = int(scrollback_.size()) >= limit_;
  if (full) {
    scrollback_.pop_front();
    for (Point* p : {&anchor_, &selFrom_, &selTo_})
      p->line = std::max(0, p->line - 1);
  }
  scrollback_.emplace_back(cells, cells + count);
  int value = bar_->value();
  updateScrollBar();
  // Looking back, the view stays on the same lines; at the bottom it follows the screen.
  bar_->setValue(back ? value - (full ? 1 : 0) : bar_->maximum());
}

void TerminalPane::updateScrollBar() {
  bool atBottom = bar_->value() == bar_->maximum();
  bar_->setRange(0, int(scrollback_.size()));
  bar_->setPageStep(console_.screen().rows());
  if (atBottom)
    bar_->setValue(bar_->maximum());
}

int TerminalPane::scrolledBack() const { return bar_->maximum() - bar_->value(); }

void TerminalPane::scrollBack(int lines) { bar_->setValue(bar_->value() - lines); }

int TerminalPane::firstVisibleLine() const { return bar_->value(); }

int TerminalPane::totalLines() const { return int(scrollback_.size()) + console_.screen().rows(); }

const TerminalCell* TerminalPane::lineCells(int line, int& count) const {
  if (line < int(scrollback_.size())) {
    count = int(scrollback_[size_t(line)].size());
    return scrollback_[size_t(line)].data();
  }
  const TerminalScreen& screen = console_.screen();
  count = screen.columns();
  return &screen.cell(0, line - int(scrollback_.size()));
}

void TerminalPane::onChanged(const TerminalRect& rect) {
  if (rect.empty() || scrolledBack() > 0)
    return;
  update(QRect(rect.left * cell_.width(), rect.top * cell_.height(),
               (rect.right - rect.left + 1) * cell_.width(),
               (rect.bottom - rect.top + 1) * cell_.height()));
}

// Cells are drawn in runs of one look: one background fill and, for ASCII, one text call per
// run (a fixed-width font advances every ASCII glyph by the cell width); other characters, which
// may come from a fallback font of another width, are placed cell by cell.
void TerminalPane::paintEvent(QPaintEvent* event) {
  lastPaint_ = event->rect();
  QPainter painter(this);
  const QColor paper = colour(15, true);
  painter.fillRect(event->rect(), paper);
  const TerminalScreen& screen = console_.screen();
  int first = firstVisibleLine();
  int top = std::max(0, event->rect().top() / cell_.height());
  int bottom = std::min(screen.rows() - 1, event->rect().bottom() / cell_.height());
  int left = std::max(0, event->rect().left() / cell_.width());
  Point from = std::min(selFrom_, selTo_), to = std::max(selFrom_, selTo_);
  QFont fonts[3] = {font_, font_, font_};
  fonts[1].setBold(true);
  fonts[2].setUnderline(true);
  int currentFont = -1;
  struct Look {
    QColor fg, bg;
    int weight;
    bool operator==(const Look&) const = default;
  };
  auto lookOf = [&](const TerminalCell& c, int line, int x, int y) {
    Point here{line, x};
    bool selected = from != to && from <= here && here < to;
    bool cursor = scrolledBack() == 0 && y == screen.cursorRow() && x == screen.cursorColumn();
    bool reverse = ((c.attrA >> 3) & 1) != (selected != cursor);
    Look look{colour(c.attrA >> 4, false), colour(c.attrB & 0x0F, true), c.attrA & 3};
    if (reverse)
      std::swap(look.fg, look.bg);
    return look;
  };
  QString run;
  for (int y = top; y <= bottom && first + y < totalLines(); ++y) {
    int count = 0;
    const TerminalCell* cells = lineCells(first + y, count);
    int right = std::min(count - 1, event->rect().right() / cell_.width());
    int baseline = y * cell_.height() + ascent_;
    for (int x = left; x <= right;) {
      Look look = lookOf(cells[x], first + y, x, y);
      int end = x + 1;
      while (end <= right && lookOf(cells[end], first + y, end, y) == look)
        ++end;
      if (look.bg != paper)
        painter.fillRect(x * cell_.width(), y * cell_.height(), (end - x) * cell_.width(),
                         cell_.height(), look.bg);
      if (currentFont != (look.weight % 3)) {
        currentFont = look.weight % 3;
        painter.setFont(fonts[currentFont]);
      }
      painter.setPen(look.fg);
      for (int i = x; i < end;) {
        if (cells[i].ch < 0x80) { // an ASCII stretch in one call
          int j = i;
          run.clear();
          while (j < end && cells[j].ch < 0x80)
            run.append(QLatin1Char(char(cells[j++].ch)));
          if (run.trimmed().size() > 0 || look.weight == 2)
            painter.drawText(i * cell_.width(), baseline, run);
          i = j;
        } else {
          QString one;
          appendUtf16(one, cells[i].ch);
          painter.drawText(i * cell_.width(), baseline, one);
          ++i;
        }
      }
      x = end;
    }
  }
}

bool TerminalPane::focusNextPrevChild(bool) { return false; } // Tab belongs to the router

void TerminalPane::keyPressEvent(QKeyEvent* event) {
  Qt::KeyboardModifiers m = event->modifiers();
  bool controlShift = (m & Qt::ControlModifier) && (m & Qt::ShiftModifier);
  if (controlShift && event->key() == Qt::Key_C)
    return copySelection();
  if (controlShift && event->key() == Qt::Key_V)
    return paste();
  if ((m & Qt::ControlModifier) && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal))
    return zoomBy(1);
  if ((m & Qt::ControlModifier) && event->key() == Qt::Key_Minus)
    return zoomBy(-1);
  if ((m & Qt::ShiftModifier) && event->key() == Qt::Key_PageUp)
    return scrollBack(console_.screen().rows());
  if ((m & Qt::ShiftModifier) && event->key() == Qt::Key_PageDown)
    return scrollBack(-console_.screen().rows());
  std::string bytes =
      terminalKeyBytes(event->key(), m, event->text(), console_.screen().cursorKeysMode());
  if (bytes.empty())
    return QWidget::keyPressEvent(event);
  bar_->setValue(bar_->maximum());
  console_.session().input(bytes);
}

TerminalPane::Point TerminalPane::pointAt(QPoint position) const {
  int line = std::clamp(firstVisibleLine() + position.y() / cell_.height(), 0, totalLines() - 1);
  int column = std::clamp((position.x() + cell_.width() / 2) / cell_.width(), 0,
                          console_.screen().columns());
  return {line, column};
}

void TerminalPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return QWidget::mousePressEvent(event);
  selecting_ = true;
  anchor_ = selFrom_ = selTo_ = pointAt(event->position().toPoint());
  update();
}

void TerminalPane::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton))
    return;
  selFrom_ = anchor_;
  selTo_ = pointAt(event->position().toPoint());
  update();
}

void TerminalPane::wheelEvent(QWheelEvent* event) {
  scrollBack(event->angleDelta().y() / 40); // three lines a notch
}

void TerminalPane::select(int fromLine, int fromColumn, int toLine, int toColumn) {
  selFrom_ = {fromLine, fromColumn};
  selTo_ = {toLine, toColumn};
  update();
}

// Lines joined with '\n', trailing spaces of each line left out.
std::string TerminalPane::textBetween(Point from, Point to) const {
  std::string out;
  for (int line = from.line; line <= to.line && line < totalLines(); ++line) {
    int count = 0;
    const TerminalCell* cells = lineCells(line, count);
    int begin = line == from.line ? std::min(from.column, count) : 0;
    int end = line == to.line ? std::min(to.column, count) : count;
    QString text;
    for (int x = begin; x < end; ++x)
      appendUtf16(text, cells[x].ch);
    while (text.endsWith(QLatin1Char(' ')))
      text.chop(1);
    out += text.toStdString();
    if (line < to.line)
      out += '\n';
  }
  return out;
}

std::string TerminalPane::selectedText() const {
  Point from = std::min(selFrom_, selTo_), to = std::max(selFrom_, selTo_);
  return from == to ? std::string() : textBetween(from, to);
}

std::string TerminalPane::screenText() const { return terminalScreenText(console_.screen()); }

std::string TerminalPane::allText() const {
  std::string out = textBetween({0, 0}, {int(scrollback_.size()), 0});
  return out + screenText();
}

void TerminalPane::copySelection() {
  copyText_ = selectedText();
  if (!copyText_.empty())
    copyToClipboard(*this);
}
void TerminalPane::copyScreen() {
  copyText_ = screenText();
  copyToClipboard(*this);
}
void TerminalPane::copyAll() {
  copyText_ = allText();
  copyToClipboard(*this);
}
void TerminalPane::fillData(QMimeData& data) { data.setText(qs(copyText_)); }

void TerminalPane::paste() { pasteFromClipboard(*this); }

bool TerminalPane::canPaste(const QMimeData& data) { return data.hasText(); }

// Line ends become carriage returns, as the Enter key sends them.
void TerminalPane::paste(const QMimeData& data, bool) {
  QString text = data.text();
  text.replace(QLatin1String("\r\n"), QLatin1String("\r"));
  text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  bar_->setValue(bar_->maximum());
  console_.session().input(text.toStdString());
}

void TerminalPane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("Copy"), this, &TerminalPane::copySelection)
      ->setEnabled(!selectedText().empty());
  menu.addAction(tr("Copy Screen"), this, &TerminalPane::copyScreen);
  menu.addAction(tr("Copy All"), this, &TerminalPane::copyAll);
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  menu.addAction(tr("Paste"), this, qOverload<>(&TerminalPane::paste))
      ->setEnabled(clip && clip->hasText());
  menu.exec(event->globalPos());
}

} // namespace kestel::gui
