// Following the desktop's colour scheme: the portal's values, a dark preference installing the
// program's dark palette over a light one (every widget then follows, see ViewsTest), the
// desktop's palette coming back with a light or no preference, a desktop palette that is dark
// already left alone, and no session bus leaving everything as it is.
#include "GuiTest.h"

#include "gui/Art.h"
#include "gui/ColourScheme.h"

#include <QApplication>
#include <QTest>

namespace kestel::gui {

class ColourSchemeTest : public QObject {
  Q_OBJECT
private slots:
  void portalValuesNameTheScheme() {
    const std::pair<uint32_t, ColourScheme> cases[] = {{0, ColourScheme::NoPreference},
                                                       {1, ColourScheme::Dark},
                                                       {2, ColourScheme::Light},
                                                       {3, ColourScheme::NoPreference},
                                                       {0xFFFFFFFF, ColourScheme::NoPreference}};
    for (auto [value, scheme] : cases)
      QCOMPARE(colourSchemeOf(value), scheme);
    QVERIFY(isDarkPalette(darkPalette()));
  }

  void aDarkPreferenceReplacesALightPaletteUntilItEnds() {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestel-test-bus");
    const QPalette desktop = QApplication::palette();
    QVERIFY(!isDarkPalette(desktop));
    ColourSchemeFollower follower; // no bus: nothing read, nothing changed
    QApplication::processEvents();
    QVERIFY(QApplication::palette() == desktop);

    follower.follow(ColourScheme::Light);
    QVERIFY(!follower.replacedPalette());
    follower.follow(ColourScheme::Dark);
    QVERIFY(follower.replacedPalette());
    QVERIFY(isDarkPalette(QApplication::palette()));
    QCOMPARE(QApplication::palette().color(QPalette::Base), darkPalette().color(QPalette::Base));
    follower.follow(ColourScheme::Dark); // again: unchanged
    QVERIFY(follower.replacedPalette());
    follower.follow(ColourScheme::NoPreference);
    QVERIFY(!follower.replacedPalette());
    QCOMPARE(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
    QCOMPARE(QApplication::palette().color(QPalette::Text), desktop.color(QPalette::Text));

    // A desktop whose own palette is dark already keeps it.
    QPalette own = darkPalette();
    own.setColor(QPalette::Base, QColor(0x01, 0x02, 0x03));
    QApplication::setPalette(own);
    follower.follow(ColourScheme::Dark);
    QVERIFY(!follower.replacedPalette());
    QCOMPARE(QApplication::palette().color(QPalette::Base), QColor(0x01, 0x02, 0x03));
    QApplication::setPalette(desktop);
  }
};

KESTEL_GUI_TEST(ColourSchemeTest)

} // namespace kestel::gui

#include "ColourSchemeTest.moc"
