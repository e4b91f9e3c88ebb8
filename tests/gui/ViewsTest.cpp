// Every view kind edited through key presses and clicks, with good and bad input: what reaches
// the cell, the error texts of the convertors, the optional and list views' pages and rows, and
// which view a descriptor slot gets.
#include "GuiTest.h"

#include "gen/Enumerations.h"
#include "gen/JSParser.h"
#include "gen/ModelContext.h"
#include "gen/Skin.h"
#include "gen/SlotFactory.h"
#include "gui/Views.h"
#include "miw/ConvertorAddress.h"
#include "miw/ConvertorNumber.h"
#include "miw/SlotConvertors.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStackedLayout>
#include <QTest>
#include <QToolButton>

namespace kestel::gui {
namespace {

const MapEntry kProtocols[] = {{17, "udp"}, {6, "tcp"}, {1, "icmp"}, {0, nullptr}};
const MapEntry kDays[] = {{0, "sun"}, {1, "mon"}, {2, "tue"}, {40, "beyond a word"}, {0, nullptr}};

void retype(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

// A slot built from descriptor text, in a model context of the test's own.
struct SlotFromText {
  ModelContext model;
  ModelScope scope{model};
  std::unique_ptr<JSParser> parser = std::make_unique<JSParser>();
  std::unique_ptr<Slot> slot;
  explicit SlotFromText(const char* text) {
    installSlotConvertors();
    parser->feed(text);
    const JSNode* node = parser->finish();
    if (!node)
      return;
    Expected<SlotElement> e = createSlotElement(*node);
    if (e.ok())
      slot = std::move(e.value().slot);
  }
};

// The colour of the most opaque pixel of a button's glyph.
QColor glyphColour(const QToolButton* button) {
  const QImage image = button->icon().pixmap(16).toImage();
  QColor best(Qt::transparent);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y).alpha() > best.alpha())
        best = image.pixelColor(x, y);
  return QColor(best.red(), best.green(), best.blue());
}

QPalette darkPalette() {
  QPalette p;
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(g, QPalette::Window, QColor(0x20, 0x22, 0x26));
    p.setColor(g, QPalette::WindowText, QColor(0xe8, 0xe8, 0xe0));
    p.setColor(g, QPalette::Base, QColor(0x18, 0x18, 0x1c));
    p.setColor(g, QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(g, QPalette::Dark, QColor(0x10, 0x10, 0x10));
  }
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x70, 0x70));
  return p;
}

} // namespace

class ViewsTest : public QObject {
  Q_OBJECT
private slots:
  void textViewsTakeGoodInputAndReportBadInput() {
    const struct {
      const char* label;
      Reference<IConvertor> convertor;
      bool address;
      FieldValue start;
      const char* good;
      FieldValue goodValue;
      const char* bad;
      const char* error;
    } cases[] = {
        {"Address", ipv4Convertor(ZeroAddress::Invalid), true, uint32_t(0x0100000A), "10.1",
         uint32_t(0x0100000A), "300.1.1.1", "Error in Address - ip address expected!"},
        {"MTU", numberConvertor({10, 64, 65535, 1500}, RadixWords::Plain), false, uint32_t(1500),
         "9000", uint32_t(9000), "70000", "Error in MTU - number in range [64;65535] expected!"},
        {"Name", textConvertor(1, 4), false, std::string("a"), "wan", std::string("wan"), "toolong",
         "Error in Name - text with at least 1 and maximum 4 symbols expected!"},
    };
    for (const auto& c : cases) {
      LocalCell cell(c.start);
      TextView view(c.label, cell, c.convertor, c.address);
      view.show();
      QSignalSpy changed(&view, &ValueView::changed);
      retype(view.editor(), c.bad);
      QVERIFY(changed.count() > 0);
      QCOMPARE(view.editor()->property("valid").toBool(), false);
      InputError error;
      QVERIFY(!view.validate(error));
      QCOMPARE(error.title, std::string("Wrong ") + c.label);
      QCOMPARE(error.text, std::string(c.error));
      QVERIFY(cell.get() == c.start); // a failed check never changes the value
      retype(view.editor(), c.good);
      QCOMPARE(view.editor()->property("valid").toBool(), true);
      QVERIFY(view.validate(error));
      view.apply();
      QVERIFY(cell.get() == c.goodValue);
      view.update(); // shows the value as the convertor writes it
      QCOMPARE(view.editor()->text().toStdString(), c.convertor->format(c.goodValue));
    }
  }

  void enumViewsPickByKeyAndKeepUnnamedValues() {
    LocalCell cell(uint32_t(6));
    EnumView sorted("Protocol", cell, createEnum(kProtocols), true);
    QStringList names;
    for (int i = 0; i < sorted.combo()->count(); ++i)
      names << sorted.combo()->itemText(i);
    QCOMPARE(names, (QStringList{"icmp", "tcp", "udp"}));
    QCOMPARE(sorted.combo()->currentText(), QString("tcp"));
    sorted.combo()->setFocus();
    QTest::keyClick(sorted.combo(), Qt::Key_Down);
    sorted.apply();
    QVERIFY(cell.get() == FieldValue(uint32_t(17)));

    LocalCell unnamed(uint32_t(47));
    EnumView view("Protocol", unnamed, createEnum(kProtocols), false);
    QCOMPARE(view.combo()->currentText(), QString("47"));
    view.apply();
    QVERIFY(unnamed.get() == FieldValue(uint32_t(47)));
  }

  void setViewsWriteBitsAndMask() {
    LocalCell value(uint32_t(2 | 0x100)), mask(uint32_t(0x100));
    SetView view("Days", value, mask, createEnum(kDays), 2);
    view.show();
    QCOMPARE(view.boxes().size(), size_t(3));
    QVERIFY(view.boxes()[1]->isChecked());
    QTest::mouseClick(view.boxes()[0], Qt::LeftButton);
    view.boxes()[1]->setFocus();
    QTest::keyClick(view.boxes()[1], Qt::Key_Space);
    view.apply();
    QVERIFY(value.get() == FieldValue(uint32_t(1 | 0x100))); // bits not shown stay
    QVERIFY(mask.get() == FieldValue(uint32_t(7 | 0x100)));
  }

  void multiViewsAddAndRemoveRows() {
    LocalCell list(std::vector<uint32_t>{});
    MultiView view("DNS", list, ipv4Convertor(ZeroAddress::Invalid), true, true, true);
    view.show();
    QCOMPARE(view.rowCount(), size_t(0));
    InputError error;
    QVERIFY(!view.validate(error));
    QCOMPARE(error.text, std::string("Erron in DNS - at least one entry expected!"));
    view.emptyBox()->setFocus();
    QTest::keyClick(view.emptyBox(), Qt::Key_Insert);
    QCOMPARE(view.rowCount(), size_t(1));
    QVERIFY(view.emptyBox()->isHidden());
    retype(view.row(0)->editor(), "198.18.0.53");
    QTest::mouseClick(view.addButton(0), Qt::LeftButton);
    QCOMPARE(view.rowCount(), size_t(2));
    QCOMPARE(view.addButton(0)->toolTip(), QString("Add new value"));
    QCOMPARE(view.removeButton(0)->toolTip(), QString("Remove value"));
    retype(view.row(1)->editor(), "bad");
    QVERIFY(!view.validate(error));
    QCOMPARE(error.text, std::string("Error in DNS - ip address expected!"));
    retype(view.row(1)->editor(), "198.18.0.54");
    QTest::mouseClick(view.addButton(0), Qt::LeftButton); // inserted after row 0
    retype(view.row(1)->editor(), "198.18.0.55");
    QVERIFY(view.validate(error));
    view.apply();
    const uint32_t a = 0x350012C6, b = 0x370012C6, c = 0x360012C6; // 198.18.0.53/55/54
    QVERIFY(list.get() == FieldValue(std::vector<uint32_t>{a, b, c}));
    QTest::mouseClick(view.removeButton(0), Qt::LeftButton);
    view.apply();
    QVERIFY(list.get() == FieldValue(std::vector<uint32_t>{b, c}));
    view.update();
    QCOMPARE(view.rowCount(), size_t(2));

    LocalCell fixed(std::vector<uint32_t>{a});
    MultiView readOnlyRows("DNS", fixed, ipv4Convertor(ZeroAddress::Invalid), false, false);
    QCOMPARE(readOnlyRows.rowCount(), size_t(1));
    QVERIFY(!readOnlyRows.addButton(0));
  }

  void optionalViewsTurnPagesAndReportChanges() {
    LocalCell value(uint32_t(5)), given(false);
    auto* inner = new TextView("Limit", value, numberConvertor({10, 1, 100, 0}, RadixWords::Plain));
    OptionalView view(inner, given, "Mbps");
    view.show();
    QSignalSpy changed(&view, &ValueView::changed);
    QVERIFY(!view.isGiven());
    QCOMPARE(view.provideButton()->toolTip(), QString("Provide new value"));
    view.emptyBox()->setFocus();
    QTest::keyClick(view.emptyBox(), Qt::Key_Insert);
    QVERIFY(view.isGiven());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(view.focusWidget(), inner->editor());
    retype(inner->editor(), "500");
    InputError error;
    QVERIFY(!view.validate(error));
    QCOMPARE(error.text, std::string("Error in Limit - number in range [1;100] expected!"));
    QCOMPARE(view.defaultButton()->toolTip(), QString("Set to default"));
    QTest::mouseClick(view.defaultButton(), Qt::LeftButton);
    QVERIFY(!view.isGiven());
    QVERIFY(view.validate(error)); // at its default nothing is checked
    view.apply();
    QVERIFY(given.get() == FieldValue(false));
    QTest::mouseClick(view.provideButton(), Qt::LeftButton);
    retype(inner->editor(), "50");
    view.apply();
    QVERIFY(given.get() == FieldValue(true));
    QVERIFY(value.get() == FieldValue(uint32_t(50)));
  }

  void valuesOfTheWrongKindNeitherCrashNorChange() {
    const FieldValue odd = std::string("not a number");
    LocalCell a(odd), b(odd), c(odd), d(odd), mask(odd), given(odd);
    TextView text("T", a, ipv4Convertor(ZeroAddress::Valid));
    EnumView choice("E", b, createEnum(kProtocols), false);
    SetView set("S", c, mask, createEnum(kDays), 2);
    MultiView rows("M", d, ipv4Convertor(ZeroAddress::Valid), true, false);
    OptionalView optional(new TextView("O", a, ipv4Convertor(ZeroAddress::Valid)), given, {});
    ReadOnlyView shown("R", a, ipv4Convertor(ZeroAddress::Valid), createEnum(kProtocols));
    QCOMPARE(text.editor()->text(), QString());
    QCOMPARE(choice.combo()->currentIndex(), -1);
    QVERIFY(!optional.isGiven());
    QCOMPARE(shown.text(), QString());
    rows.insertRow(0); // not a list: nothing to add to
    QCOMPARE(rows.rowCount(), size_t(0));
    InputError error;
    for (ValueView* v : std::initializer_list<ValueView*>{&choice, &set, &rows, &optional}) {
      if (v->validate(error))
        v->apply();
    }
    QVERIFY(b.get() == odd);
    QVERIFY(d.get() == odd);
    QVERIFY(a.get() == odd);
  }

  void slotsGetTheirViewKind() {
    LocalCell cell(uint32_t(1));
    {
      SlotFromText s("{type:'number',name:'state',values:{type:'static',map:['off','on']}}");
      QVERIFY(s.slot);
      std::unique_ptr<ValueView> ro(
          createValueView(*s.slot, nullptr, true, false, cell, nullptr, nullptr));
      auto* display = qobject_cast<ReadOnlyView*>(ro.get());
      QVERIFY(display);
      QCOMPARE(display->text(), QString("on"));
      std::unique_ptr<ValueView> rw(
          createValueView(*s.slot, nullptr, false, false, cell, nullptr, nullptr));
      QVERIFY(qobject_cast<EnumView*>(rw.get()));
    }
    {
      SlotFromText s("{type:'string',name:'note',hidebydefault:1}");
      QVERIFY(s.slot);
      LocalCell text(std::string("kept"));
      std::unique_ptr<ValueView> hidden(
          createValueView(*s.slot, nullptr, false, false, text, nullptr, nullptr));
      QVERIFY(qobject_cast<HiddenView*>(hidden.get()));
      SkinEntry show;
      show.show = true;
      show.name = "Remark";
      LocalCell given(true);
      std::unique_ptr<ValueView> shown(
          createValueView(*s.slot, &show, false, true, text, nullptr, &given));
      QVERIFY(qobject_cast<OptionalView*>(shown.get()));
      QCOMPARE(shown->label(), QString("Remark"));
      QVERIFY(text.get() == FieldValue(std::string("kept")));
    }
    {
      SlotFromText s("{type:'multiipaddr',name:'gw'}");
      QVERIFY(s.slot);
      LocalCell list(std::vector<uint32_t>{0x0100000A});
      std::unique_ptr<ValueView> rows(
          createValueView(*s.slot, nullptr, false, false, list, nullptr, nullptr));
      auto* multi = qobject_cast<MultiView*>(rows.get());
      QVERIFY(multi);
      QCOMPARE(multi->row(0)->editor()->text(), QString("10.0.0.1"));
      std::unique_ptr<ValueView> shown(
          createValueView(*s.slot, nullptr, true, false, list, nullptr, nullptr));
      QCOMPARE(qobject_cast<ReadOnlyView*>(shown.get())->text(), QString("10.0.0.1"));
    }
  }

  // Kinds whose text form came with their own convertors are edited as text, checked by them.
  void pairAndRateKindsAreEditedAsText() {
    const struct {
      const char* slot;
      FieldValue start;
      const char* shown;
      const char* bad;
      const char* error;
      const char* good;
      FieldValue goodValue;
    } cases[] = {
        {"{type:'network',name:'dst',maskid:'u2',title:'Dst. Address'}",
         Ipv4Pair{0x000000C0, 0x00FFFFFF}, "192.0.0.0/24", "192.0.2.0/33",
         "Error in Dst. Address - ip network expected!", "198.18.0.0/15",
         Ipv4Pair{0x000012C6, 0x0000FEFF}},
        {"{type:'network6',name:'p',id:'a1',maskid:'u2',hostnonzero:1,deflen:64}", Ipv6Prefix{},
         "::/0", "2001:db8::",
         "Error in p - ipv6 address with non zero host part "
         "expected!",
         "2001:db8::1",
         Ipv6Prefix{{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 64}},
        {"{type:'ipaddrandport',name:'dst',portid:'u5',defport:80}", Ipv4Pair{0x0100000A, 80},
         "10.0.0.1:80", "10.0.0.1:http", "Error in dst - ip address and port expected!", "10.0.0.2",
         Ipv4Pair{0x0200000A, 80}},
        {"{type:'fixedpoint',name:'prio',scale:16,trimzeros:1}", uint32_t(24), "1.5", "1,5",
         "Error in prio - fixed point number expected!", "2.0625", uint32_t(33)},
        {"{type:'raw',name:'id'}", Bytes{1, 2}, "0102", "0x01",
         "Error in id - hexadecimal bytes "
         "expected!",
         "01:aa", Bytes{1, 0xAA}},
        {"{type:'changerate',name:'rate',scale:8}", uint32_t(2500), "2.5 kbps", "fast",
         "Error in rate - bit rate expected!", "10 Mbps", uint32_t(10000000)},
    };
    for (const auto& c : cases) {
      SlotFromText s(c.slot);
      QVERIFY2(s.slot, c.slot);
      LocalCell cell(c.start);
      std::unique_ptr<ValueView> view(
          createValueView(*s.slot, nullptr, false, false, cell, nullptr, nullptr));
      auto* text = qobject_cast<TextView*>(view.get());
      QVERIFY2(text, c.slot);
      view->show();
      QCOMPARE(text->editor()->text(), QString(c.shown));
      retype(text->editor(), c.bad);
      InputError error;
      QVERIFY2(!view->validate(error), c.bad);
      QCOMPARE(error.text, std::string(c.error));
      QVERIFY(cell.get() == c.start);
      retype(text->editor(), c.good);
      QVERIFY2(view->validate(error), c.good);
      view->apply();
      QVERIFY2(cell.get() == c.goodValue, c.good);
    }
  }

  // The containers and bit-set lists edit one entry per row through the entry's convertor; a
  // container over a single value keeps its one row; nested messages are shown, never typed.
  void containerKindsEditTheirRows() {
    using MB = MaskedBytes;
    const struct {
      const char* slot;
      FieldValue start;
      const char* shown; // row 0
      const char* bad;
      const char* error;
      const char* good;
      FieldValue goodValue;
      bool rowsChange;
    } cases[] = {
        {"{type:'multibits',name:'state',title:'Connection State',id:'R8',maskid:'R9',"
         "values:{type:'static',map:['established','related','new']}}",
         std::vector<MB>{{{0x03}, {0x07}}}, "established,related", "old",
         "Error in Connection State - list of names expected!", "new",
         std::vector<MB>{{{0x04}, {0x07}}}, true},
        {"{type:'multitristate',name:'flags',id:'RA',maskid:'RB',"
         "values:{type:'static',map:['syn','ack']}}",
         std::vector<MB>{{{0x01}, {0x03}}}, "syn,!ack", "syn,syn",
         "Error in flags - list of names, each may be preceded by ! expected!", "!syn",
         std::vector<MB>{{{0x00}, {0x01}}}, true},
        {"{type:'multitristatearray',name:'tri',id:'RB'}", std::vector<Bytes>{{0}}, "false",
         "maybe", "Error in tri - true, false or nothing expected!", "true",
         std::vector<Bytes>{{1}}, true},
        {"{type:'multituple',name:'lists',c:[{type:'multinetwork',name:'src',id:'U19',"
         "maskid:'U1A'},{type:'multimacnetwork',name:'mac',id:'R1B',maskid:'R1C'}]}",
         std::vector<TupleRow>{
             {{Ipv4Pair{0x000200C0, 0x00FFFFFF}, MB{Bytes(6, 0), Bytes(6, 0xFF)}}}},
         "192.0.2.0/24 00:00:00:00:00:00", "192.0.2.0/24",
         "Error in lists - ip network followed by mac network expected!",
         "198.18.0.0/15 02:00:00:00:00:01",
         std::vector<TupleRow>{
             {{Ipv4Pair{0x000012C6, 0x0000FEFF}, MB{{2, 0, 0, 0, 0, 1}, Bytes(6, 0xFF)}}}},
         true},
        {"{type:'multi',name:'m',c:[{type:'number',name:'n',id:'u21',max:9}]}",
         std::vector<TupleRow>{{{uint32_t(3)}}}, "3", "10",
         "Error in m - number in range [0;9] expected!", "4",
         std::vector<TupleRow>{{{uint32_t(4)}}}, false},
    };
    for (const auto& c : cases) {
      SlotFromText s(c.slot);
      QVERIFY2(s.slot, c.slot);
      LocalCell cell(c.start);
      std::unique_ptr<ValueView> view(
          createValueView(*s.slot, nullptr, false, false, cell, nullptr, nullptr));
      auto* multi = qobject_cast<MultiView*>(view.get());
      QVERIFY2(multi, c.slot);
      view->show();
      QCOMPARE(multi->rowCount(), size_t(1));
      QCOMPARE(multi->row(0)->editor()->text(), QString(c.shown));
      QCOMPARE(multi->addButton(0) != nullptr, c.rowsChange);
      retype(multi->row(0)->editor(), c.bad);
      InputError error;
      QVERIFY2(!view->validate(error), c.bad);
      QCOMPARE(error.text, std::string(c.error));
      retype(multi->row(0)->editor(), c.good);
      QVERIFY2(view->validate(error), c.good);
      view->apply();
      QVERIFY2(cell.get() == c.goodValue, c.good);
    }
    for (const char* kind : {"message", "object"}) {
      SlotFromText s((std::string("{type:'") + kind + "',name:'x',id:'m4'}").c_str());
      QVERIFY(s.slot);
      nv::message m;
      m.set(nv::u32_id(0x10), 5u);
      LocalCell cell(m);
      std::unique_ptr<ValueView> view(
          createValueView(*s.slot, nullptr, false, false, cell, nullptr, nullptr));
      auto* shown = qobject_cast<ReadOnlyView*>(view.get());
      QVERIFY2(shown, kind);
      QVERIFY(shown->text().contains("u32"));
    }
  }

  // The desktop switching to a dark palette while the program runs: glyphs are drawn again in the
  // new text colour, editors take the new colours, and a refused text gets the dark warning shade.
  void viewsFollowAPaletteSwitch() {
    const QPalette before = QApplication::palette();
    LocalCell list(std::vector<uint32_t>{1}), good(uint32_t(5)), bad(uint32_t(5));
    MultiView rows("DNS", list, ipv4Convertor(ZeroAddress::Invalid), true, false, true);
    TextView valid("MTU", good, numberConvertor({10, 0, 100, 0}, RadixWords::Plain));
    TextView refused("MTU", bad, numberConvertor({10, 0, 100, 0}, RadixWords::Plain));
    rows.show();
    valid.show();
    refused.show();
    retype(refused.editor(), "500");
    const QColor lightWarning = refused.editor()->palette().color(QPalette::Base);
    QCOMPARE(glyphColour(rows.addButton(0)), before.color(QPalette::WindowText));

    const QPalette dark = darkPalette();
    QApplication::setPalette(dark);
    QApplication::processEvents();
    QCOMPARE(glyphColour(rows.addButton(0)), dark.color(QPalette::WindowText));
    QCOMPARE(glyphColour(rows.removeButton(0)), dark.color(QPalette::WindowText));
    QCOMPARE(valid.editor()->palette().color(QPalette::Base), dark.color(QPalette::Base));
    QCOMPARE(valid.editor()->palette().color(QPalette::Text), dark.color(QPalette::Text));
    const QColor darkWarning = refused.editor()->palette().color(QPalette::Base);
    QVERIFY(darkWarning.lightness() < 128);
    QVERIFY(lightWarning.lightness() > 128);
    QCOMPARE(refused.editor()->palette().color(QPalette::Window), dark.color(QPalette::Window));
    retype(refused.editor(), "50"); // valid again: the editor's colours are the palette's
    QCOMPARE(refused.editor()->palette().color(QPalette::Base), dark.color(QPalette::Base));

    QApplication::setPalette(before);
    QApplication::processEvents();
    QCOMPARE(glyphColour(rows.addButton(0)), before.color(QPalette::WindowText));
  }
};

KESTEL_GUI_TEST(ViewsTest)

} // namespace kestel::gui

#include "ViewsTest.moc"
