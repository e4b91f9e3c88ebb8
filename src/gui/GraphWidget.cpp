#include "gui/GraphWidget.h"

#include <QPainter>
#include <QPainterPath>

namespace kestel::gui {

GraphWidget::GraphWidget(const IGraphModel& model, std::function<QString(double)> axisText,
                         QWidget* parent)
    : QWidget(parent), model_(model), axisText_(std::move(axisText)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize GraphWidget::sizeHint() const { return {240, fontMetrics().height() * 4}; }

QSize GraphWidget::minimumSizeHint() const { return {120, fontMetrics().height() * 3}; }

void GraphWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
  p.fillRect(rect(), pal.color(QPalette::Base));
  // A third of the way from the background to the text: visible on light and dark palettes.
  QColor base = pal.color(QPalette::Base), text = pal.color(QPalette::Text);
  QColor grid = QColor::fromRgbF(base.redF() + (text.redF() - base.redF()) / 3,
                                 base.greenF() + (text.greenF() - base.greenF()) / 3,
                                 base.blueF() + (text.blueF() - base.blueF()) / 3);
  p.setPen(QPen(grid, 1, Qt::DotLine));
  for (double f : {0.0, 0.5})
    p.drawLine(QPointF(area.left(), area.top() + area.height() * f),
               QPointF(area.right(), area.top() + area.height() * f));
  p.setPen(QPen(grid, 1));
  p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));

  const std::vector<std::optional<double>>& samples = model_.samples();
  double top = model_.scaleTop();
  double step = area.width() / double(model_.capacity() - 1);
  // The newest sample sits at the right edge; older ones to its left.
  double x0 = area.right() - step * double(samples.size() - 1);
  auto pointAt = [&](size_t i) {
    double y = area.bottom() - area.height() * std::clamp(*samples[i] / top, 0.0, 1.0);
    return QPointF(x0 + step * double(i), y);
  };
  QColor line = pal.color(QPalette::Highlight);
  QColor fill = line;
  fill.setAlpha(60);
  p.setRenderHint(QPainter::Antialiasing);
  for (size_t i = 0; i < samples.size();) {
    if (!samples[i]) {
      ++i;
      continue;
    }
    QPainterPath stroke(pointAt(i));
    size_t first = i;
    for (++i; i < samples.size() && samples[i]; ++i)
      stroke.lineTo(pointAt(i));
    QPainterPath under = stroke;
    under.lineTo(pointAt(i - 1).x(), area.bottom());
    under.lineTo(pointAt(first).x(), area.bottom());
    under.closeSubpath();
    p.fillPath(under, fill);
    p.strokePath(stroke, QPen(line, 1.5));
    if (first == i - 1) // a lone sample between gaps still shows
      p.fillRect(QRectF(pointAt(first) - QPointF(1, 1), QSizeF(2, 2)), line);
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(pal.color(QPalette::Text));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  p.setFont(small);
  p.drawText(area.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop, axisText_(top));
}

} // namespace kestel::gui
