// Icons as the GUI gets them: sheets written by Qt's own PNG writer with known pixels, cut into
// QIcons whose normal and disabled images follow the greyed and mask rules; refused sheets give
// null icons; the program's own art renders and its glyphs take the palette's text colour.
#include "GuiTest.h"

#include "gui/Art.h"
#include "gui/Icons.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace kestel::gui {
namespace {

QColor sheetPixel(int x, int y) {
  const int alpha = (x + y) % 7 == 0 ? 0 : (x % 2 ? 200 : 255);
  return QColor(x % 256, y % 256, (x * 3 + y) % 256, alpha);
}

bool near(const QColor& a, const QColor& b) {
  return a.alpha() == b.alpha() && std::abs(a.red() - b.red()) <= 1 &&
         std::abs(a.green() - b.green()) <= 1 && std::abs(a.blue() - b.blue()) <= 1;
}

bool writeSheet(const QString& path, int width, int height) {
  QImage sheet(width, height, QImage::Format_RGBA8888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      sheet.setPixelColor(x, y, sheetPixel(x, y));
  return sheet.save(path, "PNG");
}

} // namespace

class IconsTest : public QObject {
  Q_OBJECT
private slots:
  void iconsAreCutFromTheSheetsWithTheirGreyedVariant() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    QVERIFY(writeSheet(folder + "/icons16.png", 512, 64));
    QVERIFY(writeSheet(folder + "/icons24.png", 768, 48));
    QVERIFY(writeSheet(folder + "/icons32.png", 500, 32)); // not 32 in a row: refused
    IconProvider icons({folder.toStdString(), {"", "", ""}});
    const unsigned number = 37; // row 1, column 5
    QIcon icon = icons.icon(number);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(24, 24)}));
    const QImage normal =
        icon.pixmap(16, QIcon::Normal).toImage().convertToFormat(QImage::Format_RGBA8888);
    const QImage greyed =
        icon.pixmap(16, QIcon::Disabled).toImage().convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const QColor want = sheetPixel(5 * 16 + x, 16 + y);
        const QColor got = normal.pixelColor(x, y), grey = greyed.pixelColor(x, y);
        if (want.alpha() == 0) {
          QCOMPARE(got.alpha(), 0);
          QCOMPARE(grey.alpha(), 0);
          continue;
        }
        // Pixmaps keep premultiplied pixels: a partly transparent colour may move by one step.
        const int g = (want.red() + want.green() + want.blue()) / 3;
        QVERIFY2(near(got, want), qPrintable(got.name(QColor::HexArgb)));
        QVERIFY2(near(grey, QColor(g, g, g, want.alpha() / 2)),
                 qPrintable(grey.name(QColor::HexArgb)));
      }
    QVERIFY(!icons.icon(32 * 3 - 1).isNull()); // last of the 24-pixel sheet's two rows
    QVERIFY(icons.icon(32 * 4).isNull());      // beyond every sheet
  }

  void hostileSheetsGiveNoIconsAndNoCrash() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    QImage paletted(512, 16, QImage::Format_Indexed8);
    paletted.setColorCount(2);
    paletted.fill(1);
    QVERIFY(paletted.save(folder + "/icons16.png", "PNG"));
    QFile huge(folder + "/icons24.png");
    QVERIFY(huge.open(QIODevice::WriteOnly));
    huge.write(QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200004000000040000806000000"
                                   "0000000000000000004945"));
    huge.close();
    IconProvider icons({folder.toStdString(), {"", "", ""}});
    QVERIFY(icons.icon(0).isNull());
  }

  void ownArtRendersAndGlyphsFollowThePalette() {
    QIcon app = applicationIcon();
    QVERIFY(!app.isNull());
    QVERIFY(app.availableSizes().contains(QSize(256, 256)));
    const QImage big = app.pixmap(64).toImage();
    QVERIFY(big.pixelColor(32, 32).alpha() > 0);

    for (bool dark : {false, true}) {
      QPalette palette;
      palette.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(240, 240, 240));
      palette.setColor(QPalette::WindowText, dark ? QColor(235, 235, 235) : QColor(20, 20, 20));
      QCOMPARE(isDarkPalette(palette), dark);
      const QImage plus = glyphIcon(Glyph::Add, palette).pixmap(16).toImage();
      const QColor centre = plus.pixelColor(plus.width() / 2, plus.height() / 2);
      QVERIFY(centre.alpha() > 0);
      QCOMPARE(centre.lightness() > 128, dark);
    }
  }
};

KESTEL_GUI_TEST(IconsTest)

} // namespace kestel::gui

#include "IconsTest.moc"
