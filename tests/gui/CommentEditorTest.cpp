// The comment windows against the simulator on loopback: one window per object however often it
// is opened, a new one after it closed, the comment saved through the session's change list and
// read back from the router's store by a map of its own, and the typed text kept when the router
// changes the object meanwhile.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/ChangeLog.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/ObjectLayout.h"
#include "miw/SlotConvertors.h"
#include "support/SimClient.h"

#include "gui/CommentEditor.h"
#include "gui/ObjectEditorOpener.h"

#include "GuiTest.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace kestel::gui {

class CommentEditorTest : public QObject {
  Q_OBJECT
private slots:
  void oneWindowPerObjectAndTheCommentIsSaved() {
    ModelContext context;
    ModelScope modelScope(context);
    installSlotConvertors();
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      QVERIFY(loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok());
    QVERIFY(completeAllTypes().ok());
    PollReactor reactor;
    ReactorScope scope(reactor);
    test::SimClient client(reactor, KESTEL_SIM_PATH, {});
    QVERIFY(client.started());
    Expected<MenuRef> menu = findMenu("IP/Firewall");
    QVERIFY(menu);
    auto open = [&] {
      Reference<ObjectMap> map = createContainer(*static_cast<CMap*>(menu->type));
      map->open();
      map->refresh(); // a subscribed map has no fetch of its own to wait for
      client.turnUntil([&] { return map->fetchState() == FetchState::Complete; });
      return map;
    };
    Reference<ObjectMap> map = open();
    Reference<ObjectMap> other = open(); // another client's changes
    QVERIFY(map->size() >= 1);
    ChangeLog log;
    WindowContext windows;
    windows.changes = &log;
    ObjectEditorOpener opener(windows);
    const uint32_t id = map->ids().front();
    IObject& object = *map->find(id);
    const Slot* slot = commentSlotOf(*object.getCType());
    QVERIFY(slot);

    opener.openCommentEditor(*map, object);
    opener.openCommentEditor(*map, object);
    QCOMPARE(opener.openCommentEditors(), size_t(1));
    QPointer<CommentEditor> comment = opener.commentEditorOf(object);
    QVERIFY(comment);
    QCOMPARE(comment->windowTitle(), QString::fromStdString("Comment for " + object.getName()));
    QCOMPARE(comment->editor()->toPlainText(), QString::fromStdString(fieldText(object, *slot)));

    // The router changes the object: an untouched text follows, a typed one stays.
    IObject* theirs = other->find(id);
    QVERIFY(setFieldText(*theirs, *slot, "from elsewhere").ok());
    other->commit(theirs);
    QVERIFY(client.turnUntil([&] { return comment->editor()->toPlainText() == "from elsewhere"; }));
    comment->editor()->selectAll();
    QTest::keyClicks(comment->editor(), "uplink to the core");
    QVERIFY(setFieldText(*theirs, *slot, "again from elsewhere").ok());
    other->commit(theirs);
    QVERIFY(client.turnUntil([&] { return fieldText(object, *slot) == "again from elsewhere"; }));
    QCOMPARE(comment->editor()->toPlainText(), QString("uplink to the core"));
    comment->resize(380, 180);
    test::saveShot(*comment, "comment-editor");

    QTest::mouseClick(comment->okButton(), Qt::LeftButton);
    QVERIFY(client.turnUntil([&] { // closed once the router took it
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return !comment;
    }));
    QCOMPARE(opener.openCommentEditors(), size_t(0));
    QCOMPARE(log.records().size(), size_t(1));
    QCOMPARE(log.records()[0].state, ChangeState::Succeeded);
    Reference<ObjectMap> fresh = open();
    QCOMPARE(QString::fromStdString(fieldText(*fresh->find(id), *slot)),
             QString("uplink to the core"));

    // Closed, it opens as a new window with the stored text.
    opener.openCommentEditor(*map, object);
    QVERIFY(opener.commentEditorOf(object));
    QCOMPARE(opener.commentEditorOf(object)->editor()->toPlainText(),
             QString("uplink to the core"));
    QTest::mouseClick(opener.commentEditorOf(object)->cancelButton(), Qt::LeftButton);
    QVERIFY(client.turnUntil([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return opener.openCommentEditors() == 0;
    }));
    QCOMPARE(log.records().size(), size_t(1)); // Cancel sends nothing
  }
};

KESTEL_GUI_TEST(CommentEditorTest)

} // namespace kestel::gui

#include "CommentEditorTest.moc"
