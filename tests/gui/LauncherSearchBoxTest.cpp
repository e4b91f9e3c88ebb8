// The launcher's search box on screen over the sample router's descriptors: typing lists the
// hits, the arrow keys move through them, Return and a click activate one, Escape clears.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/LauncherSearch.h"
#include "gen/ModelContext.h"

#include "gui/LauncherSearchBox.h"

#include "GuiTest.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace kestel::gui {
namespace {

struct OneTable final : ITableValues {
  void forEachValue(const std::function<bool(const TableValue&)>& visit) const override {
    visit({nullptr, "IP/Firewall", "Comment", 7, "firewall rule for the lab"});
  }
};

} // namespace

class LauncherSearchBoxTest : public QObject {
  Q_OBJECT
private slots:
  void typeMoveAndActivate() {
    PollReactor reactor;
    ReactorScope scope(reactor);
    ModelContext context;
    ModelScope modelScope(context);
    for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"})
      QVERIFY(loadDescriptors(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name).ok());
    QVERIFY(completeAllTypes().ok());
    OneTable table;
    std::vector<SearchHit> activated;
    LauncherSearchBox box(std::make_unique<LauncherSearch>(buildLauncher(), &table),
                          [&](const SearchHit& hit) { activated.push_back(hit); });
    box.resize(320, 260);
    box.show();
    QVERIFY(box.results()->isHidden());

    QTest::keyClicks(box.edit(), "fire");
    QVERIFY(box.results()->isVisible());
    QCOMPARE(size_t(box.results()->count()), box.hits().size());
    QCOMPARE(box.results()->item(0)->text(), QString("IP / Firewall"));
    QCOMPARE(box.results()->currentRow(), 0);
    test::saveShot(box, "launcher-search");

    // Down to the table's value and back up; Up stops at the first.
    int value = -1;
    for (size_t i = 0; i < box.hits().size(); ++i)
      if (box.hits()[i].kind == SearchHit::Kind::Value)
        value = int(i);
    QVERIFY(value > 0);
    for (int i = 0; i < value; ++i)
      QTest::keyClick(box.edit(), Qt::Key_Down);
    QCOMPARE(box.results()->currentRow(), value);
    QTest::keyClick(box.edit(), Qt::Key_Return);
    QCOMPARE(activated.size(), size_t(1));
    QCOMPARE(activated[0].value.id, 7u);
    QCOMPARE(activated[0].value.column, std::string("Comment"));
    for (int i = 0; i <= value; ++i)
      QTest::keyClick(box.edit(), Qt::Key_Up);
    QCOMPARE(box.results()->currentRow(), 0);
    QTest::keyClick(box.edit(), Qt::Key_Enter);
    QCOMPARE(activated.size(), size_t(2));
    QCOMPARE(activated[1].kind, SearchHit::Kind::Launcher);
    QVERIFY(activated[1].entry.service != nullptr);

    // A click activates too; Escape clears the box and hides the list.
    QListWidgetItem* first = box.results()->item(0);
    QTest::mouseClick(box.results()->viewport(), Qt::LeftButton, {},
                      box.results()->visualItemRect(first).center());
    QCOMPARE(activated.size(), size_t(3));
    QTest::keyClick(box.edit(), Qt::Key_Escape);
    QVERIFY(box.edit()->text().isEmpty());
    QVERIFY(box.results()->isHidden());
    QTest::keyClicks(box.edit(), "no such thing at all");
    QVERIFY(box.results()->isHidden());
    QTest::keyClick(box.edit(), Qt::Key_Return); // nothing to activate
    QCOMPARE(activated.size(), size_t(3));
  }
};

KESTEL_GUI_TEST(LauncherSearchBoxTest)

} // namespace kestel::gui

#include "LauncherSearchBoxTest.moc"
