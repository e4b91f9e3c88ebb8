// Events and their listeners: the one way the toolkit and the framework tell an object that
// something happened (a reply arrived, a timer fired, a window changed). An event is a counted
// object; the listener asks it for the concrete interface with cast(interface number) and ignores
// events it does not know. Concrete events live in the layer that knows their payload.
#pragma once

#include "util/Base.h"

namespace kestel {

// Interface numbers answered by cast() on the concrete event kinds.
enum EventInterface : unsigned int {
  kMessageEventInterface = 2001,
  kTimerEventInterface = 2002,
  kConnectionEventInterface = 2003,
  kLoginResultEventInterface = 2004, // the session layer's login outcome
};

class Event : public IBase {};

class EventListener : public IBase {
public:
  // Called on the event-loop thread; the event stays alive at least for the call.
  virtual void onEvent(Event& event) = 0;
};

} // namespace kestel
