// render_icon: draws the program's SVG icon as square PNGs for the hicolor icon theme, for
// desktops that do not scale SVG icons themselves.
//   render_icon <icon.svg> <output folder> <size>...   writes
//   <folder>/<size>x<size>/apps/kestel.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: render_icon <icon.svg> <output folder> <size>...\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    int size = QString::fromLatin1(argv[i]).toInt();
    if (size <= 0 || size > 1024) {
      std::fprintf(stderr, "render_icon: bad size %s\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    if (!QDir().mkpath(folder) || !image.save(folder + "/kestel.png")) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
