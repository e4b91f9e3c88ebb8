// Events that carry a message: a reply, a notification or a synthesized time-out reply handed to
// an EventListener. The event holds its own copy of the message.
#pragma once

#include "api/wire/Message.h"
#include "util/Event.h"

namespace kestel {

// cast(kMessageEventInterface) on an event gives this interface.
class IMessageEvent : public Event {
public:
  virtual const nv::message& message() const = 0;
};

Reference<Event> createMessageEvent(const nv::message& message);

// The message of a message event, or null when the event is of another kind.
const nv::message* messageOf(Event& event);

} // namespace kestel
