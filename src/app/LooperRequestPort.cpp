#include "app/LooperRequestPort.h"

#include "api/net/Events.h"

namespace kestel {

// Takes one reply for one request; a forgotten waiter drops it.
class LooperRequestPort::Waiter final : public EventListener {
public:
  Waiter(LooperRequestPort* port, ReplyFn onReply) : port_(port), onReply_(std::move(onReply)) {}
  void onEvent(Event& event) override {
    const nv::message* reply = messageOf(event);
    if (!reply || !port_)
      return;
    LooperRequestPort* port = std::exchange(port_, nullptr);
    ReplyFn onReply = std::move(onReply_);
    port->waiting_.erase(id);
    if (onReply)
      onReply(*reply);
  }
  void drop() {
    port_ = nullptr;
    onReply_ = nullptr;
  }
  uint32_t id = 0;

private:
  LooperRequestPort* port_;
  ReplyFn onReply_;
};

class LooperRequestPort::Hooks final : public IHandlerHooks {
public:
  void onRequest(IHandler*, const nv::message&) override {}
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}
};

LooperRequestPort::LooperRequestPort()
    : hooks_(std::make_unique<Hooks>()), handler_(createHandler(hooks_.get())) {}

LooperRequestPort::~LooperRequestPort() {
  for (auto& [id, waiter] : waiting_)
    waiter->drop();
  waiting_.clear();
  handler_->detach();
}

uint32_t LooperRequestPort::request(const std::vector<uint32_t>& to, uint32_t command,
                                    nv::message body, ReplyFn onReply) {
  auto waiter = makeRef<Waiter>(this, std::move(onReply));
  uint32_t id =
      handler_->request(command, Path(to), std::move(body), waiter.get(), kReplyTimeoutMs);
  waiter->id = id;
  waiting_[id] = waiter;
  return id;
}

void LooperRequestPort::send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) {
  handler_->send(command, Path(to), std::move(body));
}

void LooperRequestPort::forget(uint32_t requestId) {
  auto it = waiting_.find(requestId);
  if (it == waiting_.end())
    return;
  it->second->drop();
  waiting_.erase(it);
}

} // namespace kestel
