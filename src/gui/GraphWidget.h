// A graph widget: draws a graph model's samples as a line over a filled area, newest at the
// right edge, broken where a sample is a gap, under three grid lines and the axis top written
// in the corner. Colours come from the palette (the highlight for the line, a blend of base and
// text for the grid), so it follows light and dark palettes; it repaints when asked (update())
// after samples.
#pragma once

#include "miw/GraphModel.h"

#include <QWidget>

#include <functional>

namespace kestel::gui {

class GraphWidget final : public QWidget {
  Q_OBJECT
public:
  // `axisText` words the axis top ("2.0 Mbps"); the model outlives the widget.
  GraphWidget(const IGraphModel& model, std::function<QString(double)> axisText,
              QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  const IGraphModel& model_;
  std::function<QString(double)> axisText_;
};

} // namespace kestel::gui
