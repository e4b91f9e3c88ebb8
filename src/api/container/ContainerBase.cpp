#include "api/container/ContainerBase.h"

#include "api/net/Events.h"
#include "api/wire/Vocabulary.h"

#include <algorithm>

namespace kestel {

void CompletionList::add(IChangeListener* listener) {
  if (listener)
    listeners_.push_back(Reference<IChangeListener>(listener));
}

void CompletionList::tellAll(IObject* object, ChangeResult result) {
  std::vector<Reference<IChangeListener>> now;
  now.swap(listeners_);
  for (auto& listener : now)
    listener->changeDone(object, result);
}

void tellChange(IChangeListener* listener, IObject* object, ChangeResult result) {
  if (listener)
    listener->changeDone(object, result);
}

namespace {

class KeyExtender final : public IRequestExtender {
public:
  KeyExtender(uint32_t key, uint32_t value) : key_(key), value_(value) {}
  void extend(nv::message& request) const override { request.set(nv::u32_id(key_), value_); }

private:
  uint32_t key_, value_;
};

// A path whose first hop is 0 names a handler of this program, which answers without a router.
bool needsRouter(const Path& path) { return path.empty() || path.front() != 0; }

} // namespace

Reference<IRequestExtender> createKeyExtender(uint32_t key, uint32_t value) {
  return makeRef<KeyExtender>(key, value);
}

ContainerBase::ContainerBase(Path path) : path_(std::move(path)) {
  auto end = std::find(path_.begin(), path_.end(), kNoId);
  path_.erase(end, path_.end());
}

ContainerBase::~ContainerBase() {
  for (auto& [raw, pending] : pending_)
    pending->detach();
  pending_.clear();
  if (notifyHandler_)
    notifyHandler_->detach();
}

Path ContainerBase::requestPath() const {
  Path to = path_;
  if (subHandler_ != kNoId)
    to.push_back(subHandler_);
  return to;
}

void ContainerBase::address(nv::message& request, uint32_t mask) const {
  if (extender_)
    extender_->extend(request);
  request.set(STD_FILTER, mask);
}

Reference<ContainerBase::PendingReply> ContainerBase::request(uint32_t command, nv::message request,
                                                              ReplyFn onReply) {
  if (needsRouter(path_) && !routerConnection())
    return {};
  auto pending = makeRef<PendingReply>(this, std::move(onReply));
  pending_.emplace(pending.get(), pending);
  getGlobalHandler()->request(command, requestPath(), std::move(request), pending.get(), 0);
  return pending;
}

void ContainerBase::send(uint32_t command, nv::message message) {
  getGlobalHandler()->send(command, requestPath(), std::move(message));
}

void ContainerBase::cancel(Reference<PendingReply>& pending) {
  if (!pending)
    return;
  if (pending->live()) {
    forget(pending.get());
    getGlobalHandler()->cancel(pending.get());
  }
  pending = nullptr;
}

void ContainerBase::forget(PendingReply* pending) {
  pending->detach();
  pending_.erase(pending);
}

void ContainerBase::PendingReply::onEvent(Event& event) {
  const nv::message* reply = messageOf(event);
  if (!owner_ || !reply)
    return;
  Reference<PendingReply> self(this);
  owner_->forget(this);
  ReplyFn fn = std::move(fn_);
  fn(*reply);
}

bool ContainerBase::subscribeOwn(EventListener* listener, nv::message request) {
  if (notifyHandler_ || (needsRouter(path_) && !routerConnection()))
    return false;
  notifyHandler_ = createHandler(nullptr);
  if (notifyHandler_->subscribe(listener, requestPath(), std::move(request)))
    return true;
  notifyHandler_->detach();
  notifyHandler_ = nullptr;
  return false;
}

void ContainerBase::unsubscribeOwn(nv::message request) {
  if (!notifyHandler_)
    return;
  Reference<IHandler> handler = std::move(notifyHandler_);
  handler->send(CMD_UNSUBSCRIBE, requestPath(), std::move(request));
  handler->detach();
}

void ContainerBase::sendOnSubscription(uint32_t command, nv::message message) {
  if (notifyHandler_)
    notifyHandler_->send(command, requestPath(), std::move(message));
  else
    send(command, std::move(message));
}

} // namespace kestel
