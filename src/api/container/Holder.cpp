#include "api/container/Holder.h"

#include "api/net/Timers.h"
#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"
#include "gen/CType.h"

#include <algorithm>
#include <map>

namespace kestel {

namespace {

// Holders by handler path. An entry lives exactly as long as its holder, so nothing of one
// test or session is seen by the next.
std::map<Path, ObjectHolder*>& registry() {
  static std::map<Path, ObjectHolder*> holders;
  return holders;
}

Path untilEnd(const Path& path) {
  return Path(path.begin(), std::find(path.begin(), path.end(), kNoId));
}

} // namespace

class ObjectHolder::RefreshTimer final : public EventListener {
public:
  explicit RefreshTimer(ObjectHolder* owner) : owner_(owner) {}
  void onEvent(Event& event) override {
    if (!owner_ || !event.cast(kTimerEventInterface))
      return;
    owner_->timerArmed_ = false;
    owner_->refresh();
  }
  void detach() { owner_ = nullptr; }

private:
  ObjectHolder* owner_;
};

ObjectHolder::ObjectHolder(IObject* object, Path path)
    : ContainerBase(std::move(path)),
      object_(object), get_{CMD_GET, true, true}, set_{CMD_SET, true, true},
      timer_(makeRef<RefreshTimer>(this)) {
  if (object_) {
    object_->setID(NO_ID);
    object_->setOwner(this);
  }
}

ObjectHolder::~ObjectHolder() {
  if (registered_) {
    auto it = registry().find(this->path());
    if (it != registry().end() && it->second == this) // a later holder may have taken the path
      registry().erase(it);
  }
  timer_->detach();
  stopTimer();
  if (object_ && object_->getOwner() == this)
    object_->setOwner(nullptr);
}

void ObjectHolder::setCommands(uint32_t get, uint32_t set) {
  get_ = CommandEntry{get, true, true};
  set_ = CommandEntry{set, true, true};
}

void ObjectHolder::setRefresh(uint32_t intervalMs, uint32_t filter) {
  intervalMs_ = intervalMs;
  filter_ = filter;
  if (intervalMs_ == 0)
    stopTimer();
}

void ObjectHolder::refresh() {
  cancel(read_);
  stopTimer();
  if (!get_.exists())
    return;
  nv::message msg;
  address(msg, kHolderDefaultFilter | filter_);
  read_ =
      request(get_.command, std::move(msg), [this](const nv::message& reply) { onRead(reply); });
}

void ObjectHolder::onRead(const nv::message& reply) {
  Reference<ObjectHolder> keep(this);
  read_ = nullptr;
  unsigned int code = 0;
  std::string text;
  if (isError(reply, &code, &text)) {
    status_ = "ERROR: " + getErrorDescription(code, text);
  } else {
    status_.clear();
    if (object_ && object_->getPacker())
      object_->getPacker()->unpack(reply, object_.get());
  }
  announce();
  if (intervalMs_ != 0 && !read_ && !timerArmed_) {
    timerArmed_ = true;
    addTimer(intervalMs_, timer_.get(), nullptr, false);
  }
}

void ObjectHolder::commit(IChangeListener* completion) {
  Reference<IChangeListener> done(completion);
  if (!set_.exists()) {
    tellChange(done.get(), object_.get(), ChangeResult::Succeeded);
    return;
  }
  nv::message msg;
  if (object_ && object_->getPacker())
    object_->getPacker()->pack(msg, object_.get());
  if (requestExtender()) // a write carries the object's members, no read filter
    requestExtender()->extend(msg);
  auto pending = request(set_.command, std::move(msg),
                         [this, done](const nv::message& reply) { onWritten(reply, done.get()); });
  if (!pending)
    tellChange(done.get(), object_.get(), ChangeResult::Failed);
}

void ObjectHolder::onWritten(const nv::message& reply, IChangeListener* completion) {
  Reference<ObjectHolder> keep(this);
  if (isError(reply)) {
    showError("Couldn't change " + (object_ ? object_->getName() : std::string()), reply);
    refresh(); // the router's values replace what it refused
    tellChange(completion, object_.get(), ChangeResult::Failed);
    return;
  }
  tellChange(completion, object_.get(), ChangeResult::Succeeded);
  announce();
}

void ObjectHolder::announce() {
  listeners_.dispatch(nullptr, [&](IHolderListener& l) { l.holderChanged(*this); });
}

void ObjectHolder::stopTimer() {
  if (!timerArmed_)
    return;
  timerArmed_ = false;
  removeTimer(timer_.get(), nullptr);
}

std::string ObjectHolder::getType() const {
  CType* type = object_ ? object_->getCType() : nullptr;
  return type ? type->title() : std::string();
}

Reference<ObjectHolder> createObjectHolder(IObject* object, const Path& path,
                                           HolderRegistration registration) {
  auto holder = makeRef<ObjectHolder>(object, path);
  if (registration == HolderRegistration::Register) {
    registry()[holder->path()] = holder.get();
    holder->registered_ = true;
  }
  return holder;
}

ObjectHolder* getObjectHolder(const Path& path) {
  auto it = registry().find(untilEnd(path));
  return it == registry().end() ? nullptr : it->second;
}

} // namespace kestel
