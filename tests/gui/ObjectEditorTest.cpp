// The object editor against the simulator on loopback. The oracle is the router's store, read
// back through a second map of its own: a field of each value kind typed and applied in the
// sample menus arrives there; Enable and Disable refuse an object not added yet and otherwise
// reach the router; Copy with unsaved edits asks first and adds the copy right after its
// original; a removal while editing closes the editor, or offers a copy of what was typed; a
// router refusal and bad input keep the user's values.
// The core headers come before Qt's, whose keyword macros (emit, slots) they would trip on.
#include "api/container/MapFactories.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/DescriptorLoader.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "miw/SlotConvertors.h"
#include "miw/TablePaneActions.h"
#include "support/SimClient.h"

#include "gui/ObjectEditor.h"
#include "gui/ObjectEditorOpener.h"

#include "GuiTest.h"
#include "SampleModel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include <map>
#include <set>
#include <sstream>

namespace kestel::gui {
namespace {

using test::SampleModel;

struct Boxes final : MessageBoxSink {
  void showMessageBox(const std::string& title, const std::string& text) override {
    shown.push_back(title + ": " + text);
  }
  std::vector<std::string> shown;
};

// The open toolkit box that is a child of `parent` (null: none).
QMessageBox* boxOf(QWidget* parent) {
  for (QMessageBox* box : parent->findChildren<QMessageBox*>())
    if (box->isVisible())
      return box;
  return nullptr;
}

void answer(QMessageBox* box, QMessageBox::StandardButton button) {
  QTest::mouseClick(box->button(button), Qt::LeftButton);
}

// Types `text` into a line editor as the user would.
void typeInto(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

// The first shown text field of the editor (its index into the layout's fields; SIZE_MAX: none).
size_t firstTextIndex(ObjectEditor& editor) {
  for (size_t i = 0; i < editor.layout().fields.size(); ++i)
    if (qobject_cast<TextView*>(editor.view(i)) && editor.fieldShown(i) &&
        editor.view(i)->isEnabled() && editor.layout().fields[i].slot->kind() == "string")
      return i;
  return SIZE_MAX;
}

TextView* firstTextField(ObjectEditor& editor) {
  size_t i = firstTextIndex(editor);
  return i == SIZE_MAX ? nullptr : qobject_cast<TextView*>(editor.view(i));
}

const char* kTabbedType = R"([{"name": "Rules", "c": [{"type": "map", "title": "Rules",
  "path": [9, 1], "c": [
   {"type": "string", "name": "name", "id": "s1", "title": "Name"},
   {"type": "enm", "name": "action", "id": "u2", "title": "Action",
    "values": {"type": "static", "map": ["accept", "drop", "log", "jump"]}},
   {"type": "string", "name": "target", "id": "s3", "title": "Jump Target", "on": "isjump"},
   {"type": "separator", "name": "sep"},
   {"type": "ipaddr", "name": "gw", "id": "u4", "title": "Gateway"},
   {"type": "tab", "name": "match", "title": "Matching"},
   {"type": "network", "name": "src", "id": "u5", "maskid": "u6", "title": "Source"},
   {"type": "macaddr", "name": "mac", "id": "r7", "title": "MAC Address"},
   {"type": "multiipaddr", "name": "dns", "id": "U8", "title": "DNS Servers"},
   {"type": "tab", "name": "adv", "title": "Advanced"},
   {"type": "group", "name": "ports", "title": "Ports", "keys": ["sport"],
    "c": [{"type": "number", "name": "sport", "id": "u9", "title": "Source Port", "max": 65535},
          {"type": "number", "name": "dport", "id": "uA", "title": "Destination Port"}]},
   {"type": "interval", "name": "timeout", "id": "uB", "title": "Timeout"},
   {"type": "bool", "name": "disabled", "id": "bC", "title": "Disabled", "hide": 1},
   {"type": "cond", "name": "isjump", "hidedynamicly": 1, "hide": 1,
    "c": [{"on": "action", "pred": {"type": "number", "value": [3]}}]}
  ]}]}])";

class Router {
public:
  explicit Router(std::vector<std::string> args = {})
      : client(reactor, KESTEL_SIM_PATH, std::move(args)) {
    setUserPolicy(0xFFFFFFFF); // what the login reply gives admin: maps may add and remove
  }
  Reference<ObjectMap> open(const char* menu) {
    Expected<MenuRef> found = findMenu(menu);
    if (!found)
      return {};
    Reference<ObjectMap> map = createContainer(*static_cast<CMap*>(found->type));
    map->open();
    map->refresh(); // a subscribed map has no fetch of its own to wait for
    if (!client.turnUntil([&] { return map->fetchState() == FetchState::Complete; }))
      return {};
    return map;
  }
  template <typename F> bool turnUntil(F done) { return client.turnUntil(done, 100); }

  PollReactor reactor;
  ReactorScope scope{reactor};
  test::SimClient client;
};

} // namespace

class ObjectEditorTest : public QObject {
  Q_OBJECT
private slots:
  void editsEachValueKindAndTheRouterStoresIt() {
    SampleModel model;
    QVERIFY(model.ok);
    Router router;
    QVERIFY(router.client.started());
    Boxes boxes;
    MessageBoxScope boxScope(boxes);
    std::set<std::string> covered;
    for (const char* menu : {"Interfaces", "IP/Addresses", "IP/Routes", "IP/Firewall",
                             "IP/DHCP Server", "System/Users"}) {
      Reference<ObjectMap> map = router.open(menu);
      QVERIFY2(map && map->size() >= 2, menu);
      std::vector<uint32_t> ids = map->ids();
      IObject& object = *map->find(ids[0]);
      ObjectEditor editor(*map, object, {});
      editor.show();
      std::vector<std::unique_ptr<ObjectEditor>> others;
      for (size_t k = 1; k < ids.size() && k < 6; ++k)
        others.push_back(std::make_unique<ObjectEditor>(*map, *map->find(ids[k]), WindowContext{}));
      // What each edited field must read back as (its slot and text).
      std::vector<std::pair<const Slot*, std::string>> expected;
      for (size_t i = 0; i < editor.layout().fields.size(); ++i) {
        const Slot& slot = *editor.layout().fields[i].slot;
        ValueView* view = editor.view(i);
        if (covered.count(slot.kind()) || !editor.fieldShown(i) || !view->isEnabled())
          continue;
        const std::string was = fieldText(object, slot);
        // Another object's value, as its own editor shows it, is one the router takes; texts
        // get one of their own.
        std::string other;
        for (auto& e : others) {
          if (e->layout().fields.size() <= i || e->layout().fields[i].slot != &slot)
            continue;
          QString shown;
          if (auto* t = qobject_cast<TextView*>(e->view(i)))
            shown = t->editor()->text();
          else if (auto* c = e->view(i)->findChild<QComboBox*>())
            shown = c->currentText();
          if (fieldText(e->object(), slot) != was && !shown.isEmpty()) {
            other = shown.toStdString();
            break;
          }
        }
        if (slot.kind() == "string")
          other = "edited " + std::to_string(i);
        bool edited = false;
        if (auto* text = qobject_cast<TextView*>(view); text && !other.empty()) {
          const QString shownBefore = text->editor()->text();
          typeInto(text->editor(), QString::fromStdString(other));
          InputError error;
          edited = text->validate(error);
          if (!edited) { // a value this object may not take (the range depends on the object)
            typeInto(text->editor(), shownBefore);
            editor.run(EditorCommand::Apply);
            QVERIFY(router.turnUntil([&] { return !editor.isCommitting(); }));
          }
        } else if (auto* combo = view->findChild<QComboBox*>(); combo && !other.empty()) {
          int at = combo->findText(QString::fromStdString(other));
          if (at >= 0) {
            combo->setCurrentIndex(at);
            Q_EMIT combo->activated(at);
            edited = true;
          }
        } else if (auto* set = qobject_cast<SetView*>(view); set && !set->boxes().empty()) {
          QTest::mouseClick(set->boxes().front(), Qt::LeftButton);
          other.clear(); // read from the object once committed
          edited = true;
        }
        if (!edited)
          continue;
        QVERIFY2(editor.isModified(), slot.name().c_str());
        editor.run(EditorCommand::Apply);
        QVERIFY2(router.turnUntil([&] { return !editor.isCommitting(); }), slot.name().c_str());
        QVERIFY2(!editor.isModified(), (std::string(menu) + " " + slot.name() + " " + other + ": " +
                                        (boxes.shown.empty() ? std::string() : boxes.shown.back()))
                                           .c_str());
        const std::string now = fieldText(object, slot);
        QVERIFY2(now != was, slot.name().c_str());
        if (auto* text = qobject_cast<TextView*>(view)) // read again from the object
          QCOMPARE(text->editor()->text(), QString::fromStdString(other));
        expected.push_back({&slot, now});
        covered.insert(slot.kind());
      }
      editor.run(EditorCommand::Ok); // nothing changed since: closes at once
      QVERIFY(editor.isHidden());
      Reference<ObjectMap> fresh = router.open(menu);
      QVERIFY(fresh);
      IObject* stored = fresh->find(ids[0]);
      QVERIFY(stored);
      for (const auto& [slot, text] : expected) {
        // The stored object's own slot of that name (a generic map's objects have their types).
        const Slot* own = findField(*stored->getCType(), slot->name());
        QVERIFY2(own, slot->name().c_str());
        QCOMPARE(QString::fromStdString(slot->name() + "=" + fieldText(*stored, *own)),
                 QString::fromStdString(slot->name() + "=" + text));
      }
    }
    QVERIFY(boxes.shown.empty());
    // Text, numbers, sizes, rates, times, dates, addresses, networks, MACs, enumerations, bit
    // sets and flags: twenty kinds of the sample menus.
    QVERIFY2(covered.size() >= 20, std::to_string(covered.size()).c_str());
    for (const char* kind : {"string", "number", "ipaddr", "network", "macaddr", "enm", "set",
                             "flag", "interval", "dateandtime"})
      QVERIFY2(covered.count(kind), kind);
  }

  void enableAndDisable() {
    SampleModel model;
    QVERIFY(model.ok);
    Router router;
    Reference<ObjectMap> map = router.open("IP/Firewall");
    QVERIFY(map && map->size() >= 1);

    // Not added yet: both are offered and both are refused with the box.
    Reference<IObject> added = map->createNew();
    QVERIFY(added);
    {
      ObjectEditor editor(*map, *added, {});
      editor.show();
      for (EditorCommand c : {EditorCommand::Enable, EditorCommand::Disable}) {
        QVERIFY(editor.action(c) && editor.action(c)->isEnabled());
        editor.run(c);
        QMessageBox* box = boxOf(&editor);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Can not enable/disable not added object"));
        QCOMPARE(box->windowTitle(), QString::fromStdString(added->getName() + " Error"));
        answer(box, QMessageBox::Ok);
      }
      QCOMPARE(map->pendingAdds(), size_t(0));
    }

    // An existing object: each button is usable only in the state it leaves.
    uint32_t id = map->ids().front();
    IObject& object = *map->find(id);
    ObjectEditor editor(*map, object, {});
    editor.show();
    const bool was = isDisabled(object);
    EditorCommand first = was ? EditorCommand::Enable : EditorCommand::Disable;
    EditorCommand second = was ? EditorCommand::Disable : EditorCommand::Enable;
    QVERIFY(editor.action(first)->isEnabled() && !editor.action(second)->isEnabled());
    editor.run(first);
    QVERIFY(router.turnUntil([&] { return !editor.isCommitting(); }));
    QCOMPARE(isDisabled(*router.open("IP/Firewall")->find(id)), !was);
    QVERIFY(!editor.action(first)->isEnabled() && editor.action(second)->isEnabled());

    // With an edit: the question first; No drops the edit and goes on.
    TextView* text = firstTextField(editor);
    QVERIFY(text);
    const QString before = text->editor()->text();
    typeInto(text->editor(), "not kept");
    editor.run(second);
    QMessageBox* box = boxOf(&editor);
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QString("Request for commit"));
    QCOMPARE(box->text(), QString(was ? "Do you want commit all the changes before disabling?"
                                      : "Do you want commit all the changes before enabling?"));
    answer(box, QMessageBox::No);
    QVERIFY(router.turnUntil([&] { return !editor.isCommitting(); }));
    QCOMPARE(text->editor()->text(), before);
    Reference<ObjectMap> fresh = router.open("IP/Firewall");
    IObject* stored = fresh->find(id);
    QCOMPARE(isDisabled(*stored), was);
    const Slot& slot = *editor.layout().fields[firstTextIndex(editor)].slot;
    QCOMPARE(QString::fromStdString(fieldText(*stored, slot)), before);
  }

  void copyWithUnsavedEdits() {
    SampleModel model;
    QVERIFY(model.ok);
    Router router;
    Reference<ObjectMap> map = router.open("IP/Firewall");
    QVERIFY(map && map->size() >= 2);
    ObjectEditorOpener opener({});
    const uint32_t id = map->ids().front();
    const uint32_t next = map->ids()[1];
    opener.openObjectEditor(*map, *map->find(id), false);
    ObjectEditor* editor = opener.editorOf(*map->find(id));
    QVERIFY(editor);
    opener.openObjectEditor(*map, *map->find(id), false); // the same window again
    QCOMPARE(opener.openEditors(), size_t(1));
    TextView* text = firstTextField(*editor);
    QVERIFY(text);
    typeInto(text->editor(), "copied rule");
    editor->run(EditorCommand::Copy);
    QMessageBox* box = boxOf(editor);
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QString("Request for commit"));
    QCOMPARE(box->text(), QString("Do you want commit all the changes before copying?"));
    answer(box, QMessageBox::Yes);
    QVERIFY(router.turnUntil([&] { return opener.openEditors() == 2; }));
    QVERIFY(!editor->isModified());

    ObjectEditor* copy = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* e = qobject_cast<ObjectEditor*>(w); e && e != editor && e->isVisible())
        copy = e;
    QVERIFY(copy);
    QVERIFY(!copy->object().hasID());
    QCOMPARE(copy->windowTitle(),
             QString("New ") + QString::fromStdString(map->find(id)->getCType()->title()));
    QCOMPARE(firstTextField(*copy)->editor()->text(), QString("copied rule"));
    const size_t count = map->size();
    copy->run(EditorCommand::Ok);
    QVERIFY(router.turnUntil([&] { return map->size() == count + 1; }));
    std::vector<uint32_t> ids;
    QVERIFY(router.turnUntil([&] {
      ids = router.open("IP/Firewall")->ids();
      return ids.size() > 2 && ids[0] == id && ids[2] == next;
    }));
    Reference<ObjectMap> fresh = router.open("IP/Firewall");
    IObject* added = fresh->find(ids[1]);
    const Slot& slot = *editor->layout().fields[firstTextIndex(*editor)].slot;
    QCOMPARE(QString::fromStdString(fieldText(*added, slot)), QString("copied rule"));
  }

  void removalWhileEditing() {
    SampleModel model;
    QVERIFY(model.ok);
    Router router;
    Reference<ObjectMap> map = router.open("IP/Firewall");
    Reference<ObjectMap> other = router.open("IP/Firewall"); // another client's removals
    QVERIFY(map && other && map->size() >= 2);
    ObjectEditorOpener opener({});

    // Without changes the editor closes.
    uint32_t id = map->ids().front();
    opener.openObjectEditor(*map, *map->find(id), false);
    QPointer<ObjectEditor> editor = opener.editorOf(*map->find(id));
    QSignalSpy finished(editor.data(), &ObjectEditor::finished);
    other->remove(other->find(id));
    QVERIFY(router.turnUntil([&] { return finished.size() == 1; }));
    QVERIFY(router.turnUntil([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return !editor;
    })); // its window is gone

    // With changes it offers a copy of what was typed.
    id = map->ids().front();
    opener.openObjectEditor(*map, *map->find(id), false);
    editor = opener.editorOf(*map->find(id));
    const std::string name = map->find(id)->getName();
    typeInto(firstTextField(*editor)->editor(), "keep me");
    QVERIFY(editor->isModified());
    QVERIFY(editor->action(EditorCommand::Copy));
    other->remove(other->find(id));
    QMessageBox* box = nullptr;
    QVERIFY(router.turnUntil([&] { return !editor || (box = boxOf(editor)) != nullptr; }));
    QVERIFY(editor);
    QCOMPARE(box->windowTitle(), QString::fromStdString(name + " was removed"));
    QCOMPARE(box->text(), QString("Object was removed. Do you want to make a copy of it?"));
    answer(box, QMessageBox::Yes);
    QVERIFY(router.turnUntil([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return !editor;
    }));
    QCOMPARE(opener.openEditors(), size_t(1));
    ObjectEditor* copy = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* e = qobject_cast<ObjectEditor*>(w); e && e->isVisible())
        copy = e;
    QVERIFY(copy && !copy->object().hasID());
    QCOMPARE(firstTextField(*copy)->editor()->text(), QString("keep me"));
  }

  void refusalsAndBadInputKeepTheUsersValues() {
    SampleModel model;
    QVERIFY(model.ok);
    Router router({"--fail-commits"});
    Boxes boxes;
    MessageBoxScope boxScope(boxes);
    Reference<ObjectMap> map = router.open("IP/Firewall");
    QVERIFY(map && map->size() >= 1);
    const uint32_t id = map->ids().front();
    IObject& object = *map->find(id);
    ObjectEditor editor(*map, object, {});
    editor.show();
    TextView* text = firstTextField(editor);
    QVERIFY(text);
    typeInto(text->editor(), "refused");
    editor.run(EditorCommand::Ok);
    QVERIFY(router.turnUntil([&] { return !editor.isCommitting(); }));
    QCOMPARE(boxes.shown.size(), size_t(1));
    QVERIFY2(boxes.shown[0].find("Couldn't change ") != std::string::npos, boxes.shown[0].c_str());
    QVERIFY(editor.isVisible()); // OK closes only after success
    QVERIFY(editor.isModified());
    // The map reads the router's values again; the typed text stays.
    QVERIFY(router.turnUntil([&] { return map->fetchState() == FetchState::Complete; }));
    QCOMPARE(text->editor()->text(), QString("refused"));

    // A number the convertor refuses: its box, nothing sent, the text kept.
    TextView* number = nullptr;
    for (size_t i = 0; i < editor.layout().fields.size() && !number; ++i)
      if (editor.layout().fields[i].slot->kind() == "number" && editor.fieldShown(i))
        number = qobject_cast<TextView*>(editor.view(i));
    QVERIFY(number);
    typeInto(number->editor(), "many");
    editor.run(EditorCommand::Apply);
    QVERIFY(!editor.isCommitting());
    QMessageBox* box = boxOf(&editor);
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), "Wrong " + number->label());
    QVERIFY(box->text().startsWith("Error in " + number->label() + " - "));
    answer(box, QMessageBox::Ok);
    QCOMPARE(number->editor()->text(), QString("many"));
    QCOMPARE(boxes.shown.size(), size_t(1));
  }

  void pagesConditionsAndToolbarOnScreen() {
    ModelContext context;
    ModelScope modelScope(context);
    installSlotConvertors();
    std::istringstream document(kTabbedType);
    QVERIFY(loadDescriptorStream(document, buildService).ok());
    QVERIFY(completeAllTypes().ok());
    PollReactor reactor;
    ReactorScope scope(reactor);
    auto* type = static_cast<CMap*>(services().back()->types().front().get());
    Reference<ObjectMap> map = createContainer(*type); // never opened: nothing is sent
    Reference<IObject> object = map->createNew();
    QVERIFY(object);
    ObjectEditor editor(*map, *object, {});
    editor.resize(460, 360);
    editor.show();
    QCOMPARE(editor.windowTitle(), QString("New Rules"));

    auto* tabs = editor.findChild<QTabWidget*>("objedit_tabs");
    QVERIFY(tabs);
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
      titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{"Rules", "Matching", "Advanced"}));

    // The toolbar: the commands this editor offers, in their numbers' order.
    std::vector<int> numbers;
    for (QAction* a : editor.findChild<QToolBar*>("objedit_toolbar")->actions())
      if (!a->isSeparator())
        numbers.push_back(a->data().toInt());
    QCOMPARE(numbers, (std::vector<int>{1, 2, 3, 5, 6})); // no router: adding not permitted

    // Choosing "jump" shows the jump target while the user edits (a dynamic condition).
    ValueView* target = editor.viewLabelled("Jump Target");
    QVERIFY(target);
    size_t at = 0;
    while (editor.view(at) != target)
      ++at;
    QVERIFY(!editor.fieldShown(at));
    auto* action = editor.viewLabelled("Action")->findChild<QComboBox*>();
    action->setCurrentIndex(action->findText("jump"));
    Q_EMIT action->activated(action->currentIndex());
    QVERIFY(editor.fieldShown(at));
    QVERIFY(editor.isModified());
    test::saveShot(editor, "object-editor");
    tabs->setCurrentIndex(2);
    test::saveShot(editor, "object-editor-advanced");
    QVERIFY(editor.viewLabelled("Source Port"));
  }
};

KESTEL_GUI_TEST(ObjectEditorTest)

} // namespace kestel::gui

#include "ObjectEditorTest.moc"
