#include "miw/TablePaneActions.h"

#include "api/object/Packer.h"
#include "gen/CType.h"
#include "miw/ValueCell.h"

namespace kestel {
namespace {

// The disabled slot's part in the object's record, or null when the object has none.
void* disabledPart(const IObject& object, const Slot** slotOut) {
  const CType* type = object.getCType();
  if (!type)
    return nullptr;
  const Slot* slot = type->slot("disabled");
  SlotFieldInfo first;
  if (!slot || slot->kind() != "bool" || slot->fields().empty() || !type->slotField(slot, first))
    return nullptr;
  std::span<std::byte> record = object.record();
  size_t base = first.offset - slot->fields()[0].offset;
  if (base + slot->partSize() > record.size())
    return nullptr;
  *slotOut = slot;
  return record.data() + base;
}

} // namespace

bool hasDisabledMember(const IObject& object) {
  const Slot* slot = nullptr;
  return disabledPart(object, &slot) != nullptr;
}

bool isDisabled(const IObject& object) {
  const Slot* slot = nullptr;
  void* part = disabledPart(object, &slot);
  if (!part)
    return false;
  FieldValue v = RecordCell(*slot, part).get();
  return std::holds_alternative<bool>(v) && std::get<bool>(v);
}

bool setDisabled(IObject& object, bool disabled) {
  const Slot* slot = nullptr;
  void* part = disabledPart(object, &slot);
  return part && RecordCell(*slot, part).set(FieldValue(disabled));
}

std::string itemCount(size_t n) { return n == 1 ? "1 item" : std::to_string(n) + " items"; }

// Counts the answers of one command and words its progress and outcome.
class TablePaneActions::Tracker final : public IChangeListener {
public:
  Tracker(TablePaneActions* owner, const char* doing, const char* done, size_t count)
      : owner_(owner), doing_(doing), done_(done), count_(count) {}
  void changeDone(IObject*, ChangeResult result) override {
    ++(result == ChangeResult::Succeeded ? succeeded_ : failed_);
    if (owner_ && finished())
      owner_->setStatus(outcome());
  }
  bool finished() const { return succeeded_ + failed_ >= count_; }
  std::string progress() const { return std::string(doing_) + " " + itemCount(count_); }
  std::string outcome() const {
    if (failed_ == 0)
      return std::string(done_) + " " + itemCount(count_);
    return std::string(done_) + " " + std::to_string(succeeded_) + " of " + itemCount(count_);
  }
  void detach() { owner_ = nullptr; }

private:
  TablePaneActions* owner_;
  const char* doing_;
  const char* done_;
  size_t count_;
  size_t succeeded_ = 0;
  size_t failed_ = 0;
};

TablePaneActions::TablePaneActions(Reference<ObjectMap> map, IObjectEditorOpener* opener,
                                   std::function<void()> statusChanged)
    : map_(std::move(map)), opener_(opener), statusChanged_(std::move(statusChanged)) {}

TablePaneActions::~TablePaneActions() {
  for (auto& t : trackers_)
    t->detach();
}

std::vector<std::string> TablePaneActions::addVariantLabels() const {
  if (variants_.empty())
    return {"Add"};
  std::vector<std::string> labels;
  for (const AddVariant& v : variants_)
    labels.push_back(v.label);
  return labels;
}

void TablePaneActions::add(size_t variant) {
  if (!opener_ || variant >= addVariantCount())
    return;
  Reference<IObject> object =
      variants_.empty()
          ? map_->createNew()
          : (variants_[variant].make ? variants_[variant].make() : Reference<IObject>());
  if (!object) {
    setStatus("No new object can be made here");
    return;
  }
  opener_->openObjectEditor(*map_, *object, true);
}

Reference<TablePaneActions::Tracker> TablePaneActions::track(const char* doing, const char* done,
                                                             const char* nothing, size_t count) {
  std::erase_if(trackers_, [](const Reference<Tracker>& t) { return t->finished(); });
  if (count == 0) {
    setStatus(nothing);
    return {};
  }
  auto tracker = makeRef<Tracker>(this, doing, done, count);
  trackers_.push_back(tracker);
  setStatus(tracker->progress());
  return tracker;
}

void TablePaneActions::remove(const std::vector<uint32_t>& ids) {
  std::vector<Reference<IObject>> objects;
  for (uint32_t id : ids)
    if (IObject* o = map_->find(id))
      objects.emplace_back(o);
  auto t = track("Removing", "Removed", "Nothing to remove", objects.size());
  for (auto& o : objects)
    map_->remove(o.get(), t.get());
}

void TablePaneActions::setDisabled(const std::vector<uint32_t>& ids, bool disabled) {
  std::vector<Reference<IObject>> objects;
  for (uint32_t id : ids)
    if (IObject* o = map_->find(id); o && hasDisabledMember(*o))
      objects.emplace_back(o);
  auto t = disabled ? track("Disabling", "Disabled", "Nothing to disable", objects.size())
                    : track("Enabling", "Enabled", "Nothing to enable", objects.size());
  for (auto& o : objects) {
    kestel::setDisabled(*o, disabled);
    map_->commit(o.get(), t.get());
  }
}

void TablePaneActions::comment(const std::vector<uint32_t>& ids) {
  if (!opener_)
    return;
  for (uint32_t id : ids)
    if (IObject* o = map_->find(id)) {
      opener_->openCommentEditor(*map_, *o);
      return;
    }
}

void TablePaneActions::paste(const std::vector<nv::message>& rows) {
  std::vector<Reference<IObject>> objects;
  for (const nv::message& fields : rows) {
    Reference<IObject> object = map_->createNew();
    IPacker* packer = object ? object->getPacker() : nullptr;
    if (!packer)
      continue;
    packer->unpack(fields, object.get());
    object->setID(NO_ID);
    objects.push_back(std::move(object));
  }
  if (objects.empty() && !rows.empty()) {
    setStatus("No new object can be made here");
    return;
  }
  auto t = track("Pasting", "Pasted", "Nothing to paste", objects.size());
  for (auto& o : objects)
    map_->commit(o.get(), t.get());
}

void TablePaneActions::move(const std::vector<uint32_t>& ids, uint32_t beforeId) {
  std::vector<Reference<IObject>> objects;
  for (uint32_t id : ids)
    if (IObject* o = map_->find(id); o && id != beforeId)
      objects.emplace_back(o);
  auto t = track("Moving", "Moved", "Nothing to move", objects.size());
  for (auto& o : objects)
    map_->move(o.get(), beforeId, t.get());
}

void TablePaneActions::refresh() { map_->refresh(); }

bool TablePaneActions::open(uint32_t id) {
  IObject* o = map_->find(id);
  if (!o || !opener_)
    return false;
  opener_->openObjectEditor(*map_, *o, false);
  return true;
}

void TablePaneActions::setStatus(std::string text) {
  status_ = std::move(text);
  if (statusChanged_)
    statusChanged_();
}

} // namespace kestel
