#include "app/ChangeLog.h"

#include "app/FieldText.h"
#include "app/MenuCatalog.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kestel {

ObjectValues objectValues(const IObject& object, const CType& type) {
  ObjectValues values;
  for (const Slot* s : valueSlots(type))
    values.push_back({s, fieldText(object, *s)});
  return values;
}

namespace {

// The fields that differ between two value lists of the same type (an empty `before`: every
// field that has a value in `after`, and the other way round).
std::vector<FieldDiff> diff(const ObjectValues& before, const ObjectValues& after) {
  std::vector<FieldDiff> out;
  size_t n = std::max(before.size(), after.size());
  for (size_t i = 0; i < n; ++i) {
    const SlotText* b = i < before.size() ? &before[i] : nullptr;
    const SlotText* a = i < after.size() ? &after[i] : nullptr;
    std::string oldText = b ? b->text : "", newText = a ? a->text : "";
    if (oldText == newText)
      continue;
    const Slot* slot = a ? a->slot : b->slot;
    // A slot without a title (a comment) is named by its slot name.
    const std::string& field = slot->titleText().empty() ? slot->name() : slot->titleText();
    out.push_back({slot, field, std::move(oldText), std::move(newText)});
  }
  return out;
}

const char* stateText(const ChangeRecord& c) {
  if (c.state == ChangeState::Waiting)
    return "waiting";
  if (c.state == ChangeState::Failed)
    return "failed";
  return c.undone ? "undone" : "done";
}

} // namespace

// The completion listener the log commits with: records the outcome, then tells the caller.
class ChangeLog::Recorder final : public IChangeListener {
public:
  Recorder(std::weak_ptr<ChangeLog*> log, size_t number, IChangeListener* done)
      : log_(std::move(log)), number_(number), done_(done) {}
  void changeDone(IObject* object, ChangeResult result) override {
    if (auto log = log_.lock())
      (*log)->finish(number_, object, result);
    tellChange(done_.get(), object, result);
  }

private:
  std::weak_ptr<ChangeLog*> log_;
  size_t number_;
  Reference<IChangeListener> done_;
};

ChangeLog::ChangeLog(WallClock clock)
    : clock_(std::move(clock)), self_(std::make_shared<ChangeLog*>(this)) {}

ChangeLog::~ChangeLog() = default;

int64_t ChangeLog::systemMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

size_t ChangeLog::record(ChangeRecord change) {
  change.number = records_.size() + 1;
  change.time = clock_();
  change.safeMode = safeMode_;
  records_.push_back(std::move(change));
  tell(records_.back());
  return records_.back().number;
}

size_t ChangeLog::commit(ObjectMap& map, std::string menu, const CType& type, IObject* object,
                         ObjectValues before, IChangeListener* done) {
  ChangeRecord change;
  change.kind = object->hasID() ? ChangeKind::Set : ChangeKind::Add;
  change.menu = std::move(menu);
  change.object = object->getName();
  change.id = object->getID();
  change.map = Reference<ObjectMap>(&map);
  change.type = &type;
  change.after = objectValues(*object, type);
  // A new object's fields are shown against the values a new object starts with.
  if (change.kind == ChangeKind::Add && before.empty())
    if (Reference<IObject> fresh = map.createNew())
      before = objectValues(*fresh, type);
  change.before = std::move(before);
  change.fields = diff(change.before, change.after);
  size_t number = record(std::move(change));
  auto recorder = makeRef<Recorder>(self_, number, done);
  map.commit(object, recorder.get());
  return number;
}

size_t ChangeLog::remove(ObjectMap& map, std::string menu, const CType& type, IObject* object,
                         IChangeListener* done) {
  ChangeRecord change;
  change.kind = ChangeKind::Remove;
  change.menu = std::move(menu);
  change.object = object->getName();
  change.id = object->getID();
  change.map = Reference<ObjectMap>(&map);
  change.type = &type;
  change.before = objectValues(*object, type);
  change.fields = diff(change.before, {});
  size_t number = record(std::move(change));
  auto recorder = makeRef<Recorder>(self_, number, done);
  map.remove(object, recorder.get());
  return number;
}

void ChangeLog::finish(size_t number, IObject* object, ChangeResult result) {
  if (number == 0 || number > records_.size())
    return;
  ChangeRecord& change = records_[number - 1];
  change.state = result == ChangeResult::Succeeded ? ChangeState::Succeeded : ChangeState::Failed;
  if (change.kind == ChangeKind::Add && object && object->hasID()) {
    change.id = object->getID();
    change.object = object->getName();
  }
  if (change.state == ChangeState::Failed && change.reverts != 0)
    records_[change.reverts - 1].revertedBy = 0; // the revert did not happen: it may be tried again
  tell(change);
}

Expected<size_t> ChangeLog::revert(size_t number, IChangeListener* done) {
  if (number == 0 || number > records_.size())
    return makeError("no change " + std::to_string(number));
  ChangeRecord& change = records_[number - 1];
  if (change.state != ChangeState::Succeeded || change.undone)
    return makeError("change " + std::to_string(number) + " is not in effect");
  if (change.revertedBy != 0)
    return makeError("change " + std::to_string(number) + " is reverted already");
  ObjectMap& map = *change.map;
  const CType& type = *change.type;
  std::string menu = change.menu;
  Reference<IObject> target;
  if (change.kind == ChangeKind::Remove) {
    target = map.createNew();
    if (!target)
      return makeError("objects cannot be added to " + menu);
  } else {
    target = Reference<IObject>(map.find(change.id));
    if (!target)
      return makeError(change.object + " is no longer in " + menu);
  }
  ObjectValues now = objectValues(*target, type);
  if (change.kind != ChangeKind::Add) {
    // Set back what the change altered; a removed object gets every value it had.
    const ObjectValues& old = change.before;
    for (const SlotText& v : old) {
      bool altered = change.kind == ChangeKind::Remove;
      for (const FieldDiff& d : change.fields)
        altered = altered || d.slot == v.slot;
      if (!altered || fieldText(*target, *v.slot) == v.text)
        continue;
      if (Expected<void> set = setFieldText(*target, *v.slot, v.text); !set) {
        // Leave the mirror as it was.
        for (const SlotText& back : now)
          (void)setFieldText(*target, *back.slot, back.text);
        return set.error();
      }
    }
  }
  size_t reverting = change.number;
  size_t made = change.kind == ChangeKind::Add
                    ? remove(map, menu, type, target.get(), done)
                    : commit(map, menu, type, target.get(),
                             change.kind == ChangeKind::Remove ? ObjectValues{} : now, done);
  ChangeRecord& revert = records_[made - 1];
  revert.reverts = reverting;
  if (revert.state != ChangeState::Failed)
    records_[reverting - 1].revertedBy = made;
  tell(revert);
  return made;
}

size_t ChangeLog::markUndone() {
  for (size_t i = records_.size(); i-- > 0;) {
    ChangeRecord& c = records_[i];
    if (c.state != ChangeState::Succeeded || c.undone)
      continue;
    c.undone = true;
    tell(c);
    return c.number;
  }
  return 0;
}

size_t ChangeLog::markRedone() {
  // The router redoes in the reverse order of its undos: the oldest of the newest undone run.
  size_t found = 0;
  for (size_t i = records_.size(); i-- > 0;) {
    const ChangeRecord& c = records_[i];
    if (c.state != ChangeState::Succeeded)
      continue;
    if (!c.undone)
      break;
    found = c.number;
  }
  if (found == 0)
    return 0;
  records_[found - 1].undone = false;
  tell(records_[found - 1]);
  return found;
}

std::vector<ChangeLog::Group> ChangeLog::groups() const {
  std::vector<Group> out;
  for (size_t i = 0; i < records_.size(); ++i) {
    uint32_t id = records_[i].safeMode;
    if (id != kNoSafeMode && !out.empty() && out.back().safeMode == id) {
      ++out.back().count;
      continue;
    }
    out.push_back({id, i, 1});
  }
  return out;
}

const ChangeRecord* ChangeLog::find(size_t number) const {
  return number == 0 || number > records_.size() ? nullptr : &records_[number - 1];
}

void ChangeLog::tell(const ChangeRecord& change) {
  if (listener_)
    listener_(change);
  // A listener may add or remove listeners (a window closing): each one still registered when
  // its turn comes is told, from a copy of the record (the list may be reallocated).
  std::vector<uint64_t> ids;
  for (const auto& [id, listener] : listeners_)
    ids.push_back(id);
  ChangeRecord copy = change;
  for (uint64_t id : ids) {
    auto it = std::find_if(listeners_.begin(), listeners_.end(),
                           [id](const auto& entry) { return entry.first == id; });
    if (it == listeners_.end())
      continue;
    Listener listener = it->second; // it may remove itself while it runs
    listener(copy);
  }
}

ChangeLog::ListenerHandle ChangeLog::addListener(Listener listener) {
  listeners_.emplace_back(++lastListener_, std::move(listener));
  return ListenerHandle(self_, lastListener_);
}

ChangeLog::ListenerHandle& ChangeLog::ListenerHandle::operator=(ListenerHandle&& other) noexcept {
  if (this != &other) {
    reset();
    log_ = std::move(other.log_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void ChangeLog::ListenerHandle::reset() {
  if (auto log = log_.lock()) {
    auto& list = (*log)->listeners_;
    std::erase_if(list, [this](const auto& entry) { return entry.first == id_; });
  }
  log_.reset();
  id_ = 0;
}

std::string describeChange(const ChangeRecord& change, const std::string& time) {
  static const char* const kinds[] = {"changed", "added", "removed"};
  std::string text =
      time + " " + change.menu + " " + change.object + " " + kinds[static_cast<int>(change.kind)];
  if (change.reverts != 0)
    text += " (reverts change " + std::to_string(change.reverts) + ")";
  const char* separator = ": ";
  for (const FieldDiff& d : change.fields) {
    text += separator + d.field + ": " + d.before + " -> " + d.after;
    separator = ", ";
  }
  return text + " - " + stateText(change);
}

} // namespace kestel
