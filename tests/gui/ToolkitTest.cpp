// The toolkit's contract over Qt: boxes that return at once and answer a listener, tooltips on
// the manual clock (delay, the parent's tip, the two offsets, what removes a tip), persistence
// hooks that die with their widget, the clipboard's local-copy marker, drops through paste hooks,
// and zoom.
#include "GuiTest.h"

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "gui/ProgressBox.h"
#include "gui/Toolkit.h"
#include "gui/Tooltips.h"
#include "util/Log.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace kestel::gui {
namespace {

struct AnswerListener final : EventListener {
  std::vector<Answer> answers;
  void onEvent(Event& e) override {
    Answer a;
    if (answerOf(e, a))
      answers.push_back(a);
  }
};

QMessageBox* openBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == kMessageBoxName && w->isVisible())
      return qobject_cast<QMessageBox*>(w);
  return nullptr;
}

struct TextHooks final : ICopyHooks, IPasteHooks {
  QString out = "copied";
  QString in;
  bool local = false;
  void fillData(QMimeData& d) override { d.setText(out); }
  bool canPaste(const QMimeData& d) override { return d.hasText(); }
  void paste(const QMimeData& d, bool localCopy) override {
    in = d.text();
    local = localCopy;
  }
};

} // namespace

class ToolkitTest : public QObject {
  Q_OBJECT
private slots:
  void boxesReturnAtOnceAndAnswerTheListener() {
    Reference<AnswerListener> listener(new AnswerListener);
    QWidget* box = showQuestionBox(nullptr, "Close All Windows", "Sure?", listener.get());
    QVERIFY(box->isVisible()); // the call came back while the box is up
    QCOMPARE(box->objectName(), QString(kMessageBoxName));
    QVERIFY(listener->answers.empty());
    QTest::mouseClick(qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes), Qt::LeftButton);
    QTRY_COMPARE(listener->answers.size(), size_t(1));
    QCOMPARE(listener->answers[0], Answer::Yes);

    showQuestionBox(nullptr, "Q", "Escape answers no", listener.get());
    QTest::keyClick(openBox(), Qt::Key_Escape);
    QTRY_COMPARE(listener->answers.size(), size_t(2));
    QCOMPARE(listener->answers[1], Answer::No);

    showMessageBox(nullptr, "Wrong Address", "Error in Address - ip address expected!",
                   listener.get());
    QMessageBox* message = openBox();
    QVERIFY(message);
    QCOMPARE(message->text(), QString("Error in Address - ip address expected!"));
    QCOMPARE(message->windowTitle(), QString("Wrong Address"));
    QTest::keyClick(message, Qt::Key_Return);
    QTRY_COMPARE(listener->answers.size(), size_t(3));
    QCOMPARE(listener->answers[2], Answer::Ok);
    QTRY_VERIFY(!openBox()); // deleted on close
  }

  void progressBoxesMoveTheBarAndAnswerOnce() {
    Reference<AnswerListener> listener(new AnswerListener);
    QPointer<ProgressBox> box =
        showProgressBox(nullptr, "Upload", "Uploading backup.npk", listener.get());
    QVERIFY(box->isVisible());
    QCOMPARE(box->windowTitle(), QString("Upload"));
    QCOMPARE(box->bar()->maximum(), 0); // busy until the total is known
    const struct {
      uint64_t done, total;
      int shown; // of the bar's thousand steps
    } steps[] = {{0, 10, 0},
                 {5, 10, 500},
                 {1, 3, 333},
                 {uint64_t{1} << 62, uint64_t{1} << 63, 500}, // beyond an int's range
                 {20, 10, 1000}};
    for (const auto& s : steps) {
      box->setProgress(s.done, s.total);
      QCOMPARE(box->bar()->value() * 1000 / box->bar()->maximum(), s.shown);
    }
    box->setText("Uploading backup.npk (1 of 2)");
    QCOMPARE(box->label()->text(), QString("Uploading backup.npk (1 of 2)"));
    box->finish();
    QCOMPARE(listener->answers, std::vector<Answer>{Answer::Ok});
    QTRY_VERIFY(!box); // deleted on close

    for (bool escape : {false, true}) {
      box = showProgressBox(nullptr, "Upload", "Uploading", listener.get());
      if (escape)
        QTest::keyClick(box, Qt::Key_Escape);
      else
        QTest::mouseClick(box->cancelButton(), Qt::LeftButton);
      QTRY_VERIFY(!box);
    }
    QCOMPARE(listener->answers, (std::vector<Answer>{Answer::Ok, Answer::Cancel, Answer::Cancel}));
  }

  void tooltipsWaitOnTheManualClockAndSitBelowTheCursor() {
    PollReactor reactor(PollReactor::Clock::Manual);
    ReactorScope scope(reactor);
    QWidget window;
    window.setObjectName(kTopLevelName);
    window.setToolTip("the window's tip");
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton("no tip of its own", &window);
    auto* edit = new QLineEdit(&window);
    edit->setToolTip("text tip");
    layout->addWidget(button);
    layout->addWidget(edit);
    window.resize(300, 120);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TooltipController tips;

    const QPoint at = button->rect().center();
    QTest::mouseMove(button, at);
    reactor.advance(kTooltipDelayMs - 1);
    QVERIFY(!tips.currentTip());
    reactor.advance(1);
    QVERIFY(tips.currentTip());
    QCOMPARE(tips.currentTip()->text(), QString("the window's tip")); // from the parent
    QCOMPARE(tips.currentTip()->pos(), button->mapToGlobal(at) + QPoint(3, 16));
    QTest::mouseMove(button, at); // no real move: the tip stays
    QVERIFY(tips.currentTip());
    QTest::keyClick(button, Qt::Key_A);
    QVERIFY(!tips.currentTip());

    const QPoint inText = edit->rect().center();
    QTest::mouseMove(edit, inText);
    reactor.advance(kTooltipDelayMs);
    QVERIFY(tips.currentTip());
    QCOMPARE(tips.currentTip()->text(), QString("text tip"));
    QCOMPARE(tips.currentTip()->pos(), edit->mapToGlobal(inText) + QPoint(-1, 4));
    QTest::mouseMove(button, at); // another position: gone, and the delay starts again
    QVERIFY(!tips.currentTip());
    reactor.advance(kTooltipDelayMs / 2);
    QTest::mousePress(button, Qt::LeftButton, {}, at);
    reactor.advance(kTooltipDelayMs);
    QVERIFY(!tips.currentTip());
    QTest::mouseRelease(button, Qt::LeftButton, {}, at);
  }

  void persistenceHooksGoWithTheirWidget() {
    struct Saver final : IPersistent {
      void loadState(const StringMap&) override {}
      void saveState(StringMap&, uint32_t) override {}
    } saver;
    SettingsRegistry registry;
    auto* widget = new QWidget;
    registerPersistent(widget, &saver, registry);
    QCOMPARE(getPersistent(widget, registry), static_cast<IPersistent*>(&saver));
    const void* address = widget;
    delete widget;
    QCOMPARE(registry.getPersistent(address), static_cast<IPersistent*>(nullptr));
  }

  void clipboardAndDropsGoThroughTheHooks() {
    TextHooks hooks;
    copyToClipboard(hooks);
    QVERIFY(pasteFromClipboard(hooks));
    QCOMPARE(hooks.in, QString("copied"));
    QVERIFY(hooks.local);
    auto* foreign = new QMimeData;
    foreign->setText("from elsewhere");
    QApplication::clipboard()->setMimeData(foreign);
    QVERIFY(pasteFromClipboard(hooks));
    QVERIFY(!hooks.local);
    auto* image = new QMimeData;
    image->setData("image/png", "x");
    QApplication::clipboard()->setMimeData(image);
    QVERIFY(!pasteFromClipboard(hooks));

    QWidget target;
    TextHooks dropHooks;
    registerDropTarget(&target, &dropHooks);
    QVERIFY(target.acceptDrops());
    std::unique_ptr<QMimeData> dragged(createDataObject(hooks));
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, dragged.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, dragged.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&target, &drop);
    QCOMPARE(dropHooks.in, QString("copied"));
    QVERIFY(dropHooks.local);
    unregisterDropTarget(&target);
    QVERIFY(!target.acceptDrops());
  }

  void zoomScalesTheFontFromTheDesktopsSize() {
    const qreal base = QApplication::font().pointSizeF();
    CaptureLogSink log;
    setZoom(150);
    QCOMPARE(QApplication::font().pointSizeF(), base * 1.5);
    QVERIFY(log.contains("rescaleDPI starting-dpi="));
    QVERIFY(log.contains(", zoom=150 result="));
    setZoom(100);
    QCOMPARE(QApplication::font().pointSizeF(), base);
    QCOMPARE(zoom(), 100);
  }
};

KESTEL_GUI_TEST(ToolkitTest)

} // namespace kestel::gui

#include "ToolkitTest.moc"
