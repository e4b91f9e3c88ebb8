// The handler behind createHandler(): a slot in the looper's table, a request counter, pending
// requests with their listeners and time-out timers, and the notification listener of one
// subscription. Internal to the net layer; other modules use IHandler from Looper.h.
#pragma once

#include "api/net/Looper.h"

#include <map>

namespace kestel {

class Handler final : public IHandler {
public:
  Handler(ILooper* looper, IHandlerHooks* hooks, uint32_t id);
  ~Handler() override;

  void detach() override;
  uint32_t id() const override { return id_; }
  void setId(uint32_t id) override { id_ = id; }
  void registerSelf() override { looper_->registerHandler(this); }
  void unregisterSelf() override { looper_->unregisterHandler(this); }

  bool subscribe(EventListener* listener, const Path& path, nv::message message) override;
  void unsubscribe(EventListener* listener) override;
  bool isSubscribed() const override { return bool(notify_); }

  void send(uint32_t to, nv::message message) override;
  void send(const Path& path, nv::message message) override;
  void send(uint32_t command, uint32_t to, nv::message message) override;
  void send(uint32_t command, const Path& path, nv::message message) override;

  uint32_t request(uint32_t to, nv::message message) override;
  uint32_t request(const Path& path, nv::message message) override;
  uint32_t request(uint32_t command, uint32_t to, nv::message message) override;
  uint32_t request(uint32_t command, const Path& path, nv::message message) override;

  void reply(const nv::message& request, nv::message reply) override;
  void replyError(const nv::message& request, uint32_t code, const std::string& text) override;

  uint32_t request(uint32_t to, nv::message message, EventListener* listener,
                   uint32_t timeoutMs) override;
  uint32_t request(const Path& path, nv::message message, EventListener* listener,
                   uint32_t timeoutMs) override;
  uint32_t request(uint32_t command, uint32_t to, nv::message message, EventListener* listener,
                   uint32_t timeoutMs) override;
  uint32_t request(uint32_t command, const Path& path, nv::message message, EventListener* listener,
                   uint32_t timeoutMs) override;

  void cancel(EventListener* listener) override;
  void receive(const nv::message& message) override;
  size_t pendingCount() const override { return pending_.size(); }

  // A pending request's timer fired.
  void onTimeout(uint32_t requestId);

private:
  struct Pending {
    Reference<EventListener> listener;
    unsigned int timer; // timer service id, kNoId for none
  };
  class TimeoutListener;

  // Sets SYS_REPLYEXP and SYS_REQID to the next request id; returns it.
  uint32_t markRequest(nv::message& message);
  void addPending(uint32_t requestId, EventListener* listener, uint32_t timeoutMs);
  void dropTimer(const Pending& pending);
  void receiveReply(const nv::message& reply);

  Reference<ILooper> looper_;
  IHandlerHooks* hooks_;
  uint32_t id_;
  uint32_t counter_ = 0;
  Reference<EventListener> notify_;
  Path subscribed_;
  std::map<uint32_t, Pending> pending_;
  Reference<TimeoutListener> timeouts_;
};

} // namespace kestel
