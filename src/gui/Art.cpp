#include "gui/Art.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace kestel::gui {
namespace {

QByteArray source(const char* name) {
  QFile f(QStringLiteral(":/kestel/art/%1.svg").arg(QLatin1String(name)));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QPixmap render(const QByteArray& svg, int size, qreal dpr) {
  QPixmap pixmap(QSize(size, size) * dpr);
  pixmap.setDevicePixelRatio(dpr);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(svg);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(0, 0, size, size));
  return pixmap;
}

qreal deviceRatio() { return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0; }

const char* glyphName(Glyph g) {
  switch (g) {
  case Glyph::Add:
    return "add";
  case Glyph::Remove:
    return "remove";
  case Glyph::Reset:
    return "reset";
  case Glyph::Provide:
    return "provide";
  case Glyph::Enable:
    return "enable";
  case Glyph::Disable:
    return "disable";
  case Glyph::Comment:
    return "comment";
  case Glyph::Filter:
    return "filter";
  case Glyph::Copy:
    return "copy";
  case Glyph::Paste:
    return "paste";
  case Glyph::Freeze:
    return "freeze";
  }
  return "add";
}

} // namespace

QIcon applicationIcon() {
  const QByteArray svg = source("kestel");
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(render(svg, size, 1.0));
  return icon;
}

QIcon glyphIcon(Glyph glyph, const QPalette& palette) {
  const QByteArray svg = source(glyphName(glyph));
  QIcon icon;
  const qreal dpr = deviceRatio();
  for (auto [mode, group] : {std::pair{QIcon::Normal, QPalette::Active},
                             std::pair{QIcon::Disabled, QPalette::Disabled}}) {
    QByteArray coloured = svg;
    coloured.replace("currentColor", palette.color(group, QPalette::WindowText).name().toLatin1());
    icon.addPixmap(render(coloured, 16, dpr), mode);
  }
  return icon;
}

bool isDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() <
         palette.color(QPalette::WindowText).lightness();
}

} // namespace kestel::gui
