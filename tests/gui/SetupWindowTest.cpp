// The setup wizard against the simulator's quick setup (in-process, loopback, manual clock): each
// page shows the fields the router asks for with its description, a page the router refuses
// stays with what the user typed and the reason in a box, Back and an unchanged Next move
// through the history without asking the router, the end shows the router's text and closes the
// window, and an end without text shows "Setup has completed successfully".
// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/CType.h"
#include "sim/SampleAddresses.h"

#include "LiveRouter.h"

#include "GuiTest.h"
#include "gui/SetupWindow.h"
#include "gui/SlotForm.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace kestel::gui {
namespace {

QMessageBox* openBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
      return box;
  return nullptr;
}

// The text of the open box, which is closed.
QString takeBox() {
  QMessageBox* box = openBox();
  if (!box)
    return "(no box)";
  QString text = box->text();
  box->close();
  return text;
}

QStringList fieldsOf(SetupWindow& w) {
  QStringList names;
  for (ValueView* v : w.page()->views())
    names << v->objectName();
  return names;
}

QLineEdit* editor(SetupWindow& w, const char* field) {
  auto* view = dynamic_cast<TextView*>(w.page()->view(field));
  return view ? view->editor() : nullptr;
}

void retype(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

SetupWindow* openWizard(test::LiveRouter& router) {
  CType* type = router.type(TypeKind::Setup, "Quick Setup");
  if (!type)
    return nullptr;
  auto* w = qobject_cast<SetupWindow*>(createSetupWindow(*type, WindowContext{}));
  if (w) {
    w->resize(460, 320);
    w->show();
  }
  return w;
}

} // namespace

class SetupWindowTest : public QObject {
  Q_OBJECT

private slots:
  void walksThePagesToTheEnd() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<SetupWindow> w = openWizard(router);
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QString("Quick Setup"));
    QCOMPARE(fieldsOf(*w), QStringList{"mode"});
    QVERIFY(!w->backButton()->isEnabled());
    auto* mode = dynamic_cast<EnumView*>(w->page()->view("mode"));
    QVERIFY(mode);
    test::saveShot(*w, "setup-first-page");

    // The router refuses the third mode: the page and the choice stay.
    mode->combo()->setCurrentIndex(mode->combo()->findText("CPE"));
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(!w->nextButton()->isEnabled()); // waiting for the router
    QVERIFY(router.runUntil([&] { return openBox() != nullptr; }));
    QCOMPARE(takeBox(), QString("choose the router or the bridge mode"));
    QCOMPARE(mode->combo()->currentText(), QString("CPE"));
    QCOMPARE(w->setup().step(), 0);
    QVERIFY(w->nextButton()->isEnabled());

    mode->combo()->setCurrentIndex(mode->combo()->findText("Home AP"));
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return w->setup().step() == 1; }));
    QCOMPARE(w->description()->text(), QString("Internet address"));
    QCOMPARE(fieldsOf(*w), QStringList{"wanaddr"});
    QCOMPARE(editor(*w, "wanaddr")->text(), QString("192.0.2.2"));
    QVERIFY(w->backButton()->isEnabled());

    // Back, then Next without a change: the history, no request.
    QTest::mouseClick(w->backButton(), Qt::LeftButton);
    QCOMPARE(fieldsOf(*w), QStringList{"mode"});
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(!w->setup().waiting());
    QCOMPARE(w->setup().step(), 1);
    QCOMPARE(fieldsOf(*w), QStringList{"wanaddr"});

    retype(editor(*w, "wanaddr"), "192.0.2.9");
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return w->setup().step() == 2; }));
    QCOMPARE(w->description()->text(), QString("Local network and wireless"));
    QCOMPARE(fieldsOf(*w), (QStringList{"lan", "ssid", "wpakey"}));
    QCOMPARE(editor(*w, "ssid")->text(), QString("nimbalux"));
    retype(editor(*w, "wpakey"), "short");
    test::saveShot(*w, "setup-wizard");

    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return openBox() != nullptr; }));
    QCOMPARE(takeBox(), QString("the WPA key must have 8 to 63 characters"));
    QCOMPARE(editor(*w, "wpakey")->text(), QString("short"));
    QCOMPARE(w->setup().step(), 2);

    retype(editor(*w, "wpakey"), "correct horse");
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return openBox() != nullptr; }));
    QCOMPARE(takeBox(), QString("Router mode set up; wireless network \"nimbalux\""));
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
    const nv::message& applied = router.catalogue->setup().applied();
    QCOMPARE(applied.get(sim::SetupWizard::kWanAddress), sim::sample::ipv4(192, 0, 2, 9));
    QCOMPARE(applied.get(sim::SetupWizard::kWpaKey), std::string("correct horse"));
    QVERIFY(router.boxes.texts.empty());
  }

  void refusalThatEndsTheWizard() {
    // A user who may not change the router: the refusal carries no text and ends the wizard.
    test::LiveRouter router({}, "viewer");
    QVERIFY(router.ready());
    QPointer<SetupWindow> w = openWizard(router);
    QVERIFY(w);
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return openBox() != nullptr; }));
    QCOMPARE(takeBox(), QString("failed"));
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
  }

  void endWithoutTextReportsSuccess() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    QPointer<SetupWindow> w = openWizard(router);
    QVERIFY(w);
    const CType& type = *router.type(TypeKind::Setup, "Quick Setup");
    // The reset flag (not on any page) makes the router end at once, without a text.
    const Slot* reset = findField(type, "reset");
    QVERIFY(reset);
    QVERIFY(setFieldText(*w->setup().object(), *reset, "true").ok());
    QTest::mouseClick(w->nextButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return openBox() != nullptr; }));
    QMessageBox* box = openBox();
    QCOMPARE(box->windowTitle(), QString("Quick Setup"));
    QCOMPARE(takeBox(), QString("Setup has completed successfully"));
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
  }
};

KESTEL_GUI_TEST(SetupWindowTest)

} // namespace kestel::gui

#include "SetupWindowTest.moc"
