#include "api/net/Handler.h"

#include "api/net/Events.h"
#include "api/net/Timers.h"
#include "api/wire/Vocabulary.h"

#include <cstdint>

namespace kestel {

// Receives the handler's request timers; outlives the handler while a timer holds it, so it
// forgets the handler when that goes.
class Handler::TimeoutListener final : public EventListener {
public:
  explicit TimeoutListener(Handler* owner) : owner_(owner) {}
  void onEvent(Event& event) override {
    auto* timer = static_cast<ITimerEvent*>(event.cast(kTimerEventInterface));
    if (timer && owner_)
      owner_->onTimeout(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(timer->context())));
  }
  Handler* owner_;
};

Reference<IHandler> createHandler(IHandlerHooks* hooks, uint32_t id) {
  return Reference<IHandler>(new Handler(getLooper(), hooks, id));
}

Handler::Handler(ILooper* looper, IHandlerHooks* hooks, uint32_t id)
    : looper_(looper), hooks_(hooks), id_(id), timeouts_(new TimeoutListener(this)) {
  registerSelf();
}

Handler::~Handler() {
  unregisterSelf();
  for (auto& [requestId, pending] : pending_)
    dropTimer(pending);
  timeouts_->owner_ = nullptr;
}

void Handler::detach() {
  unregisterSelf();
  notify_ = nullptr;
}

bool Handler::subscribe(EventListener* listener, const Path& path, nv::message message) {
  if (notify_ || !listener)
    return false;
  notify_ = listener;
  subscribed_ = path;
  request(CMD_SUBSCRIBE, path, std::move(message));
  return true;
}

void Handler::unsubscribe(EventListener* listener) {
  if (!notify_ || notify_.get() != listener)
    return;
  send(CMD_UNSUBSCRIBE, subscribed_, nv::message());
  notify_ = nullptr;
  subscribed_.clear();
}

void Handler::send(uint32_t to, nv::message message) {
  auto from = message.get(SYS_FROM);
  from.insert(from.begin(), id_);
  message.set(SYS_FROM, std::move(from));
  if (to != 0 && !routerConnection())
    return;
  Reference<ILooper> looper = looper_;
  looper->post(to, std::move(message));
}

void Handler::send(const Path& path, nv::message message) {
  size_t n = 0;
  while (n < path.size() && path[n] != kNoId)
    ++n;
  if (n == 0)
    return;
  message.set(SYS_TO, Path(path.begin() + 1, path.begin() + static_cast<ptrdiff_t>(n)));
  send(path[0], std::move(message));
}

void Handler::send(uint32_t command, uint32_t to, nv::message message) {
  message.set(SYS_CMD, command);
  send(to, std::move(message));
}

void Handler::send(uint32_t command, const Path& path, nv::message message) {
  message.set(SYS_CMD, command);
  send(path, std::move(message));
}

uint32_t Handler::markRequest(nv::message& message) {
  message.set(SYS_REPLYEXP, true);
  message.set(SYS_REQID, ++counter_);
  return counter_;
}

uint32_t Handler::request(uint32_t to, nv::message message) {
  uint32_t id = markRequest(message);
  send(to, std::move(message));
  return id;
}

uint32_t Handler::request(const Path& path, nv::message message) {
  uint32_t id = markRequest(message);
  send(path, std::move(message));
  return id;
}

uint32_t Handler::request(uint32_t command, uint32_t to, nv::message message) {
  message.set(SYS_CMD, command);
  return request(to, std::move(message));
}

uint32_t Handler::request(uint32_t command, const Path& path, nv::message message) {
  message.set(SYS_CMD, command);
  return request(path, std::move(message));
}

// The pending entry is recorded before the request leaves, so that a local handler answering
// at once finds it.
uint32_t Handler::request(uint32_t to, nv::message message, EventListener* listener,
                          uint32_t timeoutMs) {
  uint32_t id = markRequest(message);
  addPending(id, listener, timeoutMs);
  send(to, std::move(message));
  return id;
}

uint32_t Handler::request(const Path& path, nv::message message, EventListener* listener,
                          uint32_t timeoutMs) {
  uint32_t id = markRequest(message);
  addPending(id, listener, timeoutMs);
  send(path, std::move(message));
  return id;
}

uint32_t Handler::request(uint32_t command, uint32_t to, nv::message message,
                          EventListener* listener, uint32_t timeoutMs) {
  message.set(SYS_CMD, command);
  return request(to, std::move(message), listener, timeoutMs);
}

uint32_t Handler::request(uint32_t command, const Path& path, nv::message message,
                          EventListener* listener, uint32_t timeoutMs) {
  message.set(SYS_CMD, command);
  return request(path, std::move(message), listener, timeoutMs);
}

void Handler::addPending(uint32_t requestId, EventListener* listener, uint32_t timeoutMs) {
  unsigned int timer = kNoId;
  if (timeoutMs != 0) {
    void* context = reinterpret_cast<void*>(static_cast<uintptr_t>(requestId));
    timer = addTimer(timeoutMs, timeouts_.get(), context, false);
  }
  pending_[requestId] = Pending{Reference<EventListener>(listener), timer};
}

void Handler::dropTimer(const Pending& pending) {
  if (pending.timer != kNoId)
    removeTimerByID(pending.timer);
}

void Handler::reply(const nv::message& request, nv::message reply) {
  auto from = request.get(SYS_FROM);
  if (from.empty())
    return;
  reply.set(SYS_TO, Path(from.begin() + 1, from.end()));
  if (from[0] == kNoId || request.get(SYS_TYPE, TYPE_REQUEST) == TYPE_REPLY ||
      !request.get(SYS_REPLYEXP))
    return;
  reply.set(SYS_REQID, request.get(SYS_REQID));
  reply.set(SYS_TYPE, TYPE_REPLY);
  send(from[0], std::move(reply));
}

void Handler::replyError(const nv::message& request, uint32_t code, const std::string& text) {
  nv::message error;
  error.set(SYS_STATUS, STATUS_ERROR);
  error.set(SYS_ERRNO, code);
  if (!text.empty())
    error.set(SYS_ERRSTR, text);
  reply(request, std::move(error));
}

void Handler::cancel(EventListener* listener) {
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->second.listener.get() != listener)
      continue;
    dropTimer(it->second);
    pending_.erase(it);
    return;
  }
}

void Handler::receive(const nv::message& message) {
  Reference<Handler> self(this); // a listener may drop the last reference to this handler
  if (message.get(SYS_TYPE, TYPE_REQUEST) == TYPE_REPLY) {
    receiveReply(message);
    return;
  }
  if (message.get(SYS_CMD) == CMD_NOTIFY && notify_) {
    Reference<EventListener> listener = notify_;
    listener->onEvent(*createMessageEvent(message));
  }
  if (hooks_)
    hooks_->onRequest(this, message);
}

void Handler::receiveReply(const nv::message& reply) {
  if (!reply.has(SYS_REQID))
    return;
  uint32_t requestId = reply.get(SYS_REQID);
  auto it = pending_.find(requestId);
  if (it == pending_.end()) {
    if (hooks_)
      hooks_->onUnmatchedReply(this, reply, requestId);
    return;
  }
  Pending pending = std::move(it->second);
  pending_.erase(it);
  dropTimer(pending);
  if (pending.listener)
    pending.listener->onEvent(*createMessageEvent(reply));
}

void Handler::onTimeout(uint32_t requestId) {
  auto it = pending_.find(requestId);
  if (it == pending_.end())
    return;
  Reference<Handler> self(this);
  Reference<EventListener> listener = std::move(it->second.listener);
  pending_.erase(it); // its one-shot timer is already gone
  nv::message timedOut;
  timedOut.set(SYS_STATUS, STATUS_ERROR);
  timedOut.set(SYS_ERRNO, ERROR_TIMEOUT);
  if (listener)
    listener->onEvent(*createMessageEvent(timedOut));
}

} // namespace kestel
