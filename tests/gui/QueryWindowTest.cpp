// The query window against the simulator's traffic query (in-process, loopback, manual clock):
// the request field narrows the flows, the results table fills from the query's map and grows
// as the router adds flows, the title shows the run, Stop ends the run on the router, and Cancel
// closes the window and ends a running search there too.
// The container headers before Qt's: they declare emit(), which Qt's keyword of that name breaks.
#include "api/container/DescriptorContainers.h"
#include "gen/CType.h"

#include "LiveRouter.h"

#include "GuiTest.h"
#include "gui/QueryWindow.h"
#include "gui/SlotForm.h"
#include "gui/TablePane.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace kestel::gui {

class QueryWindowTest : public QObject {
  Q_OBJECT

  // The texts of the results column titled `title`, in display order.
  static QStringList column(QueryWindow& w, const QString& title) {
    QAbstractItemModel* model = w.results()->view()->model();
    QStringList texts;
    for (int c = 0; c < model->columnCount(); ++c) {
      if (model->headerData(c, Qt::Horizontal).toString() != title)
        continue;
      for (int r = 0; r < model->rowCount(); ++r)
        texts << model->index(r, c).data().toString();
    }
    return texts;
  }

private slots:
  void resultsArriveAndCancelEndsTheSearch() {
    test::LiveRouter router;
    QVERIFY(router.ready());
    CType* traffic = router.type(TypeKind::Query, "Traffic");
    QVERIFY(traffic);
    QPointer<QWidget> content = createQueryWindow(*traffic, WindowContext{});
    QPointer<QueryWindow> w = qobject_cast<QueryWindow*>(content.data());
    QVERIFY(w);
    w->resize(560, 420);
    w->show();
    QCOMPARE(w->windowTitle(), QString("Traffic"));
    auto* filter = dynamic_cast<TextView*>(w->request()->view("filter"));
    QVERIFY(filter);
    filter->editor()->selectAll();
    QTest::keyClicks(filter->editor(), "198.18.7.0/24");
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    for (QWidget* box : QApplication::topLevelWidgets()) // no field refused its text
      if (auto* m = qobject_cast<QMessageBox*>(box); m && m->isVisible())
        QFAIL(qPrintable(m->text()));
    QCOMPARE(w->windowTitle(), QString("Traffic (Running)"));
    QVERIFY(router.runUntil([&] { return column(*w, "Src.").size() >= 3; }));
    for (const QString& source : column(*w, "Src."))
      QVERIFY2(source.startsWith("198.18.7."), qPrintable(source));
    // The router adds a flow a second; the results map fetches again on its refresh interval.
    const qsizetype before = column(*w, "Src.").size();
    router.advance(1000);
    QVERIFY(router.runUntil([&] { return column(*w, "Src.").size() > before; }));
    QCOMPARE(router.catalogue->traffic().runCount(), size_t(1));
    test::saveShot(*w, "query-results");

    // Stop ends the run on the router; a new start makes another.
    QTest::mouseClick(w->stopButton(), Qt::LeftButton);
    QCOMPARE(w->windowTitle(), QString("Traffic"));
    QVERIFY(router.runUntil([&] { return router.catalogue->traffic().runCount() == 0; }));
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return router.catalogue->traffic().runCount() == 1; }));

    // Cancel closes the window and the router ends the search.
    QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
    QVERIFY(router.runUntil([&] { return w.isNull(); }));
    QVERIFY(router.runUntil([&] { return router.catalogue->traffic().runCount() == 0; }));
    QVERIFY(router.boxes.texts.empty());
  }
};

KESTEL_GUI_TEST(QueryWindowTest)

} // namespace kestel::gui

#include "QueryWindowTest.moc"
