// The core's headers before Qt's (emit, slots).
#include "api/container/Holder.h"
#include "api/container/ObjectMap.h"
#include "gen/CType.h"
#include "gen/Skin.h"
#include "miw/TablePaneActions.h"

#include "gui/ObjectEditor.h"

#include "gui/ObjectEditorOpener.h"
#include "gui/Toolkit.h"

#include <QAction>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolBar>

namespace kestel::gui {
namespace {

struct CommandText {
  EditorCommand command;
  const char* label;
};
// In the order the toolbar shows them.
const CommandText kCommands[] = {
    {EditorCommand::Ok, "OK"},           {EditorCommand::Cancel, "Cancel"},
    {EditorCommand::Apply, "Apply"},     {EditorCommand::Enable, "Enable"},
    {EditorCommand::Disable, "Disable"}, {EditorCommand::Comment, "Comment"},
    {EditorCommand::Copy, "Copy"},       {EditorCommand::Remove, "Remove"},
};

// The 32-bit second field of a slot (the mask of a bit set) in its part.
class SecondFieldCell final : public IValueCell {
public:
  explicit SecondFieldCell(std::byte* at) : at_(at) {}
  FieldValue get() const override { return *reinterpret_cast<const uint32_t*>(at_); }
  bool set(const FieldValue& value) override {
    if (!std::holds_alternative<uint32_t>(value))
      return false;
    *reinterpret_cast<uint32_t*>(at_) = std::get<uint32_t>(value);
    return true;
  }

private:
  std::byte* at_;
};

bool usable(const CommandTable& commands, Op op) {
  return commands.exists(op) && commands.permitted(op);
}

} // namespace

// The object's owner as the editor needs it: commits, removals and the object's events.
class ObjectEditor::Container {
public:
  explicit Container(ObjectEditor& editor) : editor_(editor) {}
  virtual ~Container() = default;
  virtual ObjectMap* map() const { return nullptr; }
  virtual bool canCopy(const IObject&) const { return false; }
  virtual bool canRemove(const IObject&) const { return false; }
  virtual void commit(IObject& object, const ValuesBeforeRef& before, IChangeListener* done) = 0;
  virtual void remove(IObject&) {}
  // No events from now on.
  virtual void stop() = 0;

protected:
  ObjectEditor& editor_;
};

class ObjectEditor::MapContainer final : public Container {
public:
  MapContainer(ObjectEditor& editor, ObjectMap& map) : Container(editor), map_(&map) {
    watch_ = makeRef<Watch>(this);
    map_->addListener(watch_.get());
  }
  ~MapContainer() override { stop(); }
  ObjectMap* map() const override { return map_.get(); }
  bool canCopy(const IObject& object) const override {
    const CType* type = object.getCType();
    bool clonable =
        !type || type->kind() != TypeKind::Map || static_cast<const CMap*>(type)->clonable;
    return usable(map_->commands(), Op::Add) && clonable && object.canClone();
  }
  bool canRemove(const IObject& object) const override {
    return usable(map_->commands(), Op::Remove) && object.canRemove();
  }
  void commit(IObject& object, const ValuesBeforeRef& before, IChangeListener* done) override {
    commitChange(editor_.context_.changes, *map_, *editor_.type_, object, before, done);
  }
  void remove(IObject& object) override {
    removeObject(editor_.context_.changes, *map_, *editor_.type_, object);
  }
  void stop() override {
    if (watch_) {
      watch_->owner = nullptr;
      map_->removeListener(watch_.get());
      watch_ = nullptr;
    }
  }

private:
  struct Watch final : IMapListener {
    explicit Watch(MapContainer* o) : owner(o) {}
    void mapChanged(const MapEvent& event) override {
      if (owner)
        owner->changed(event);
    }
    MapContainer* owner;
  };

  void changed(const MapEvent& event) {
    IObject* object = editor_.object_.get();
    if (event.kind == MapEventKind::Removed) {
      if (event.object == object || (object->hasID() && event.id == object->getID()))
        editor_.objectRemoved();
      return;
    }
    if (!object->hasID())
      return; // a new object: the map knows it only once it is added
    if (event.kind != MapEventKind::Reset) {
      if (event.object == object)
        editor_.reread();
      return;
    }
    IObject* now = map_->find(object->getID());
    if (!now)
      return editor_.objectRemoved();
    if (now != object && now->getCType() == editor_.type_)
      editor_.object_ = Reference<IObject>(now); // the map holds another object for the id now
    editor_.reread();
  }

  Reference<ObjectMap> map_;
  Reference<Watch> watch_;
};

class ObjectEditor::HolderContainer final : public Container {
public:
  HolderContainer(ObjectEditor& editor, ObjectHolder& holder)
      : Container(editor), holder_(&holder) {
    watch_ = makeRef<Watch>(this);
    holder_->addListener(watch_.get());
  }
  ~HolderContainer() override { stop(); }
  void commit(IObject&, const ValuesBeforeRef&, IChangeListener* done) override {
    holder_->commit(done);
  }
  void stop() override {
    if (watch_) {
      watch_->owner = nullptr;
      holder_->removeListener(watch_.get());
      watch_ = nullptr;
    }
  }

private:
  struct Watch final : IHolderListener {
    explicit Watch(HolderContainer* o) : owner(o) {}
    void holderChanged(ObjectHolder&) override {
      if (owner)
        owner->editor_.reread();
    }
    HolderContainer* owner;
  };
  Reference<ObjectHolder> holder_;
  Reference<Watch> watch_;
};

// A commit's outcome, handed back to the editor unless the editor is gone.
class ObjectEditor::Outcome final : public IChangeListener {
public:
  Outcome(ObjectEditor* editor, After after) : editor_(editor), after_(after) {}
  void changeDone(IObject*, ChangeResult result) override {
    if (ObjectEditor* e = editor_) {
      editor_ = nullptr;
      e->commitDone(result == ChangeResult::Succeeded, after_);
    }
  }
  void cut() { editor_ = nullptr; }

private:
  ObjectEditor* editor_;
  After after_;
};

// The answer of a question box, for the editor while it lives.
class ObjectEditor::AnswerTo final : public EventListener {
public:
  AnswerTo(ObjectEditor* editor, std::function<void(ObjectEditor&, bool yes)> then)
      : editor_(editor), then_(std::move(then)) {}
  void onEvent(Event& event) override {
    gui::Answer answer;
    if (editor_ && answerOf(event, answer))
      then_(*editor_, answer == gui::Answer::Yes);
  }

private:
  QPointer<ObjectEditor> editor_;
  std::function<void(ObjectEditor&, bool)> then_;
};

ObjectEditor::ObjectEditor(ObjectMap& map, IObject& object, const WindowContext& context,
                           bool readOnly, QWidget* parent)
    : QWidget(parent), object_(&object), type_(object.getCType()), context_(context),
      readOnly_(readOnly) {
  container_ = std::make_unique<MapContainer>(*this, map);
  build();
}

ObjectEditor::ObjectEditor(ObjectHolder& holder, const WindowContext& context, bool readOnly,
                           QWidget* parent)
    : QWidget(parent), object_(holder.object()), type_(holder.object()->getCType()),
      context_(context), readOnly_(readOnly) {
  container_ = std::make_unique<HolderContainer>(*this, holder);
  build();
}

ObjectEditor::~ObjectEditor() {
  container_->stop();
  for (auto& o : outcomes_)
    o->cut();
}

ObjectMap* ObjectEditor::map() const { return container_->map(); }

QString ObjectEditor::title() const {
  const std::string type = type_ ? type_->title() : std::string();
  if (!object_->hasID() && map())
    return qs("New " + type);
  return qs(type + " <" + object_->getName() + ">");
}

void ObjectEditor::build() {
  setObjectName(kObjectEditorName);
  auto* row = new QHBoxLayout(this);
  if (type_ && type_->completed()) {
    work_ = type_->createObject();
    type_->copyRecord(work_->record().data(), object_->record().data());
    const SkinEntry* skin = &activeSkin().lookupTop(type_->title());
    layout_ = layoutObject(*type_, skin, readOnly_);
    // The slot that picks a generic map's type is fixed once the object exists: another value
    // would make it an object of another type.
    if (type_->kind() == TypeKind::Map && object_->hasID()) {
      const auto* m = static_cast<const CMap*>(type_);
      const std::string& typeOn =
          m->typeOn.empty() && m->genericParent ? m->genericParent->typeOn : m->typeOn;
      for (LayoutField& f : layout_.fields)
        f.readOnly = f.readOnly || (!typeOn.empty() && f.slot->name() == typeOn);
    }
  }
  fields_.resize(layout_.fields.size());
  if (layout_.pages.size() == 1) {
    row->addWidget(buildPage(layout_.pages[0].items), 1);
  } else {
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("objedit_tabs");
    for (const LayoutPage& page : layout_.pages)
      tabs->addTab(buildPage(page.items), qs(page.title));
    row->addWidget(tabs, 1);
  }
  for (Field& f : fields_)
    views_.push_back(f.view);
  buildToolbar();
  row->addWidget(toolbar_, 0, Qt::AlignTop);
  setWindowTitle(title());
  applyConditions();
  refreshCommands();
}

QWidget* ObjectEditor::buildPage(const std::vector<LayoutItem>& items) {
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // fields narrow, rows scroll
  auto* page = new QWidget(scroll);
  auto* form = new QFormLayout(page);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  buildItems(items, form);
  if (items.empty() && fields_.empty())
    form->addRow(new QLabel(tr("This object has no fields to edit."), page));
  scroll->setWidget(page);
  return scroll;
}

void ObjectEditor::buildItems(const std::vector<LayoutItem>& items, QFormLayout* form) {
  for (const LayoutItem& item : items) {
    switch (item.kind) {
    case LayoutItemKind::Separator: {
      auto* line = new QFrame;
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      form->addRow(line);
      break;
    }
    case LayoutItemKind::Label: {
      auto* label = new QLabel(qs(item.text));
      QFont bold = label->font();
      bold.setBold(true);
      label->setFont(bold);
      form->addRow(label);
      break;
    }
    case LayoutItemKind::Group: {
      auto* box = new QGroupBox(qs(item.text));
      auto* inner = new QFormLayout(box);
      inner->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
      buildItems(item.items, inner);
      form->addRow(box);
      break;
    }
    case LayoutItemKind::Field: {
      const size_t i = item.field;
      const LayoutField& lf = layout_.fields[i];
      Field& f = fields_[i];
      std::byte* part = work_->record().data() + lf.part;
      f.value = std::make_unique<RecordCell>(*lf.slot, part);
      const auto& slotFields = lf.slot->fields();
      if (slotFields.size() > 1 && slotFields[1].letter != 0 && slotFields[1].store() == Store::U32)
        f.mask = std::make_unique<SecondFieldCell>(part + slotFields[1].offset);
      f.view =
          createValueView(*lf.slot, lf.skin, lf.readOnly, false, *f.value, f.mask.get(), nullptr);
      auto* label = new QLabel(qs(lf.label) + ":");
      if (!lf.note.empty())
        label->setToolTip(qs(lf.note));
      f.label = label;
      f.form = form;
      form->addRow(label, f.view);
      connect(f.view, &ValueView::changed, this, [this, i] { fieldEdited(i); });
      break;
    }
    }
  }
}

void ObjectEditor::buildToolbar() {
  toolbar_ = new QToolBar(this);
  toolbar_->setObjectName("objedit_toolbar");
  toolbar_->setOrientation(Qt::Vertical);
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  ObjectMap* m = map();
  const bool hasDisabled = hasDisabledMember(*object_);
  const bool comment = type_ && commentSlotOf(*type_) && context_.editors && m;
  for (const CommandText& c : kCommands) {
    bool offered = true;
    switch (c.command) {
    case EditorCommand::Ok:
      break;
    case EditorCommand::Cancel:
    case EditorCommand::Apply:
      offered = !readOnly_;
      break;
    case EditorCommand::Enable:
    case EditorCommand::Disable:
      offered = !readOnly_ && hasDisabled;
      break;
    case EditorCommand::Comment:
      offered = !readOnly_ && comment;
      break;
    case EditorCommand::Copy:
      offered = !readOnly_ && container_->canCopy(*object_);
      break;
    case EditorCommand::Remove:
      offered = !readOnly_ && container_->canRemove(*object_);
      break;
    }
    if (!offered)
      continue;
    if (c.command == EditorCommand::Enable && !actions_.empty())
      toolbar_->addSeparator(); // the gap after OK, Cancel and Apply
    QAction* a = toolbar_->addAction(tr(c.label));
    a->setData(int(c.command));
    connect(a, &QAction::triggered, this, [this, cmd = c.command] { run(cmd); });
    if (QWidget* button = toolbar_->widgetForAction(a)) {
      button->setObjectName(QString("objedit_cmd%1").arg(int(c.command)));
      button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    actions_.push_back({c.command, a});
  }
}

QAction* ObjectEditor::action(EditorCommand command) const {
  for (const auto& [c, a] : actions_)
    if (c == command)
      return a;
  return nullptr;
}

bool ObjectEditor::fieldShown(size_t i) const {
  const Field& f = fields_[i];
  return f.form && f.form->isRowVisible(f.view);
}

ValueView* ObjectEditor::viewLabelled(const QString& label) const {
  for (const Field& f : fields_)
    if (f.view && f.view->label() == label)
      return f.view;
  return nullptr;
}

void ObjectEditor::refreshCommands() {
  const bool idle = !committing_ && !closing_;
  const bool added = object_->hasID() || !map();
  const bool disabled = isDisabled(*object_);
  for (const auto& [c, a] : actions_) {
    bool on = idle;
    switch (c) {
    case EditorCommand::Apply:
      on = idle && (isModified() || !added);
      break;
    case EditorCommand::Enable:
      on = idle && (!added || disabled); // an object not added yet is refused with a box
      break;
    case EditorCommand::Disable:
      on = idle && (!added || !disabled);
      break;
    case EditorCommand::Remove:
    case EditorCommand::Comment:
      on = idle && added;
      break;
    default:
      break;
    }
    a->setEnabled(on);
  }
  setWindowTitle(title());
}

void ObjectEditor::run(EditorCommand command) {
  if (closing_)
    return;
  switch (command) {
  case EditorCommand::Ok:
    return commit(After::Close);
  case EditorCommand::Cancel:
    return closeEditor();
  case EditorCommand::Apply:
    return commit(After::Nothing);
  case EditorCommand::Enable:
    return setEnabledState(true);
  case EditorCommand::Disable:
    return setEnabledState(false);
  case EditorCommand::Comment:
    if (context_.editors && map() && object_->hasID())
      context_.editors->openCommentEditor(*map(), *object_);
    return;
  case EditorCommand::Copy:
    if (isModified())
      return askCommitFirst("Do you want commit all the changes before copying?", After::Copy);
    return copy();
  case EditorCommand::Remove:
    return remove();
  }
}

void ObjectEditor::fieldEdited(size_t i) {
  touched_.insert(i);
  fields_[i].view->apply(); // only a value the convertor takes reaches the working copy
  if (layout_.dynamicConditions)
    applyConditions();
  refreshCommands();
}

void ObjectEditor::reread() {
  if (!work_ || closing_)
    return;
  type_->copyRecord(work_->record().data(), object_->record().data());
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!fields_[i].view)
      continue;
    if (touched_.count(i))
      fields_[i].view->apply(); // what the user typed stays, on top of the router's values
    else
      fields_[i].view->update();
  }
  applyConditions();
  refreshCommands();
}

void ObjectEditor::applyConditions() {
  if (!work_)
    return;
  std::vector<FieldState> states = fieldStates(layout_, *type_, work_->record().data());
  for (size_t i = 0; i < fields_.size(); ++i) {
    Field& f = fields_[i];
    if (!f.view)
      continue;
    f.form->setRowVisible(f.view, states[i].visible);
    f.view->setEnabled(!states[i].readOnly || layout_.fields[i].readOnly);
  }
}

void ObjectEditor::commit(After after) {
  if (committing_ || closing_)
    return;
  const bool added = object_->hasID() || !map();
  if (readOnly_ || !work_ || (!isModified() && added))
    return then(after); // nothing to send
  // Only what the user typed is checked: the other fields hold the router's own values, which
  // a convertor may show in a form it does not read back.
  std::vector<ValueView*> typed;
  for (size_t i : touched_)
    if (fieldShown(i) && fields_[i].view->isEnabled())
      typed.push_back(fields_[i].view);
  if (!checkViews(typed, this))
    return; // the box names the field; what the user typed stays
  for (size_t i : touched_)
    fields_[i].view->apply();
  ValuesBeforeRef before = added ? valuesBefore(*object_, *type_) : nullptr;
  type_->copyRecord(object_->record().data(), work_->record().data());
  committing_ = true;
  refreshCommands();
  auto outcome = makeRef<Outcome>(this, after);
  outcomes_.push_back(outcome);
  container_->commit(*object_, before, outcome.get());
}

void ObjectEditor::commitDone(bool ok, After after) {
  committing_ = false;
  if (!ok) {
    // The container showed the router's refusal; the user's values stay in the form.
    refreshCommands();
    return;
  }
  touched_.clear();
  if (placeBefore_ != kNoId && map() && object_->hasID()) {
    map()->move(object_.get(), placeBefore_);
    placeBefore_ = kNoId;
  }
  reread();
  then(after);
}

void ObjectEditor::then(After after) {
  switch (after) {
  case After::Nothing:
    refreshCommands();
    return;
  case After::Close:
    return closeEditor();
  case After::Copy:
    return copy();
  case After::Enable:
    return setEnabledState(true);
  case After::Disable:
    return setEnabledState(false);
  }
}

void ObjectEditor::askCommitFirst(const char* question, After after) {
  auto answer = makeRef<AnswerTo>(this, [after](ObjectEditor& e, bool yes) {
    if (e.closing_)
      return;
    if (yes)
      return e.commit(after);
    e.discard();
    e.then(after);
  });
  showQuestionBox(this, "Request for commit", question, answer.get());
}

void ObjectEditor::discard() {
  touched_.clear();
  reread();
}

void ObjectEditor::copy() {
  ObjectMap* m = map();
  if (!m || !work_)
    return;
  for (size_t i : touched_)
    fields_[i].view->apply();
  Reference<IObject> copy = type_->createObject();
  if (!copy)
    return;
  // The working copy holds the object's values (and, for a removed object, what was typed).
  type_->copyRecord(copy->record().data(), work_->record().data());
  copy->setID(NO_ID);
  // In an ordered map the copy goes right after the object it was made from.
  uint32_t next = kNoId;
  if (m->ordered() && object_->hasID())
    next = m->store().nextOf(object_->getID());
  if (auto* opener = dynamic_cast<ObjectEditorOpener*>(context_.editors)) {
    opener->openCopy(*m, *copy, next);
    return;
  }
  auto* editor = new ObjectEditor(*m, *copy, context_);
  editor->placeBefore(next);
  editor->setAttribute(Qt::WA_DeleteOnClose);
  editor->show();
}

void ObjectEditor::setEnabledState(bool enable) {
  if (isModified()) {
    return askCommitFirst(enable ? "Do you want commit all the changes before enabling?"
                                 : "Do you want commit all the changes before disabling?",
                          enable ? After::Enable : After::Disable);
  }
  if (!object_->hasID() && map()) {
    showMessageBox(this, object_->getName() + " Error", "Can not enable/disable not added object",
                   nullptr);
    return;
  }
  if (committing_)
    return;
  ValuesBeforeRef before = valuesBefore(*object_, *type_);
  if (!kestel::setDisabled(*object_, !enable))
    return;
  committing_ = true;
  refreshCommands();
  auto outcome = makeRef<Outcome>(this, After::Nothing);
  outcomes_.push_back(outcome);
  container_->commit(*object_, before, outcome.get());
}

void ObjectEditor::remove() {
  if (!object_->hasID())
    return;
  Reference<IObject> keep = object_;
  closing_ = true;
  container_->stop(); // its own removal is no news to the editor
  container_->remove(*keep);
  closeEditor();
}

void ObjectEditor::objectRemoved() {
  if (closing_)
    return;
  const bool offerCopy = isModified() && map() && container_->canCopy(*object_);
  container_->stop();
  if (!offerCopy)
    return closeEditor();
  const std::string name = object_->getName();
  committing_ = false;
  closing_ = true; // nothing but the answer reaches the editor now
  refreshCommands();
  auto answer = makeRef<AnswerTo>(this, [](ObjectEditor& e, bool yes) {
    e.closing_ = false;
    if (yes)
      e.copy();
    e.closeEditor();
  });
  showQuestionBox(this, name + " was removed",
                  "Object was removed. Do you want to make a copy of it?", answer.get());
}

void ObjectEditor::closeEditor() {
  if (closed_)
    return;
  closed_ = closing_ = true;
  container_->stop();
  emit finished();
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
      frame->close();
      return;
    }
  close();
}

} // namespace kestel::gui
