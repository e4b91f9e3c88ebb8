#include "api/net/Events.h"

namespace kestel {

namespace {

class MessageEvent final : public IMessageEvent {
public:
  explicit MessageEvent(const nv::message& message) : message_(message) {}
  IBase* cast(unsigned int id) override { return id == kMessageEventInterface ? this : nullptr; }
  const nv::message& message() const override { return message_; }

private:
  nv::message message_;
};

} // namespace

Reference<Event> createMessageEvent(const nv::message& message) {
  return Reference<Event>(new MessageEvent(message));
}

const nv::message* messageOf(Event& event) {
  auto* m = static_cast<IMessageEvent*>(event.cast(kMessageEventInterface));
  return m ? &m->message() : nullptr;
}

} // namespace kestel
