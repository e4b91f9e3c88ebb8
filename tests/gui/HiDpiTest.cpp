// At a device pixel ratio of 2 (ctest runs this class with QT_SCALE_FACTOR=2) icons and the
// program's art are drawn from images of twice the logical size, not blown up: a 16-pixel icon
// in a view shows the 32-pixel sheet's pixels, and glyphs and the application icon are rendered
// from their vector source at the device resolution.
#include "GuiTest.h"

#include "gui/Art.h"
#include "gui/Icons.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace kestel::gui {
namespace {

// Each icon cell of the sheets has its own pattern, with every pixel unlike its neighbours, so
// an image scaled up from a smaller one cannot pass for it.
QColor pixelOf(int size, int x, int y) {
  return QColor((x * 37 + size) % 256, (y * 53) % 256, (x * y + size * 3) % 256, 255);
}

bool writeSheet(const QString& path, int size) {
  QImage sheet(size * 32, size, QImage::Format_RGBA8888);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size * 32; ++x)
      sheet.setPixelColor(x, y, pixelOf(size, x % size, y));
  return sheet.save(path, "PNG");
}

// Whether the image is made of 2×2 blocks of equal pixels (what scaling up by two gives).
bool blocky(const QImage& image) {
  for (int y = 0; y + 1 < image.height(); y += 2)
    for (int x = 0; x + 1 < image.width(); x += 2) {
      const QRgb p = image.pixel(x, y);
      if (image.pixel(x + 1, y) != p || image.pixel(x, y + 1) != p ||
          image.pixel(x + 1, y + 1) != p)
        return false;
    }
  return true;
}

} // namespace

class HiDpiTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    if (qApp->devicePixelRatio() != 2.0)
      QSKIP("runs with QT_SCALE_FACTOR=2");
  }

  void iconsUseTheSheetOfTheDeviceSize() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int size : {16, 24, 32})
      QVERIFY(writeSheet(dir.path() + QString("/icons%1.png").arg(size), size));
    IconProvider icons({dir.path().toStdString(), {"", "", ""}});
    const QIcon icon = icons.icon(3);
    QVERIFY(!icon.isNull());
    // A label showing the 16-pixel icon on this screen.
    QLabel label;
    label.setPixmap(icon.pixmap(QSize(16, 16), label.devicePixelRatioF()));
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    const QImage shown = label.grab().toImage().convertToFormat(QImage::Format_RGBA8888);
    QCOMPARE(shown.devicePixelRatio(), 2.0);
    const QImage pixmap = label.pixmap().toImage().convertToFormat(QImage::Format_RGBA8888);
    QCOMPARE(pixmap.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        QCOMPARE(pixmap.pixelColor(x, y), pixelOf(32, x, y));
    QVERIFY(!blocky(pixmap));
  }

  void artIsRenderedAtTheDeviceResolution() {
    const QPalette palette = qApp->palette();
    for (const QIcon& icon :
         {applicationIcon(), glyphIcon(Glyph::Add, palette), glyphIcon(Glyph::Remove, palette),
          glyphIcon(Glyph::Reset, palette), glyphIcon(Glyph::Provide, palette)}) {
      QVERIFY(!icon.isNull());
      const QPixmap pixmap = icon.pixmap(QSize(16, 16), 2.0);
      QCOMPARE(pixmap.devicePixelRatio(), 2.0);
      const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGBA8888);
      QCOMPARE(image.size(), QSize(32, 32));
      // The same pixels as a 32-pixel rendering, and not those of the 16-pixel one blown up.
      QImage full =
          icon.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_RGBA8888);
      const QImage small =
          icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_RGBA8888);
      full.setDevicePixelRatio(2.0);
      QCOMPARE(image, full);
      QVERIFY(image != small.scaled(32, 32));
      int opaque = 0;
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
          opaque += image.pixelColor(x, y).alpha() > 0;
      QVERIFY(opaque > 0);
    }
  }
};

KESTEL_GUI_TEST(HiDpiTest)

} // namespace kestel::gui

#include "HiDpiTest.moc"
