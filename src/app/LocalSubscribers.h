// The subscribers of a list this program serves itself through the looper (the address book, the
// neighbour list), speaking the object maps' subscription protocol: CMD_SUBSCRIBE remembers the
// subscriber's return path, answers with the object count and, when the request asks for the
// current objects, sends them at once in one notification; CMD_UNSUBSCRIBE forgets it. Every
// change then goes to each subscriber as a CMD_NOTIFY with the changed objects (death notices
// for removed ones), or without objects to make the subscriber fetch everything again. Delivery
// is local and immediate, so the notify credit a subscriber returns needs no bookkeeping.
#pragma once

#include "api/net/Looper.h"
#include "api/wire/Message.h"

#include <functional>
#include <vector>

namespace kestel {

class LocalSubscribers {
public:
  using Current = std::function<std::vector<nv::message>()>;

  // Takes CMD_SUBSCRIBE, CMD_UNSUBSCRIBE and the credit command; false for any other request.
  // `current` gives the objects a new subscriber receives.
  bool handle(IHandler* handler, const nv::message& request, const Current& current);
  // Sends CMD_NOTIFY with `objects` (empty: fetch everything again) and the object count to
  // every subscriber.
  void notify(IHandler* handler, const std::vector<nv::message>& objects, uint32_t count) const;
  size_t size() const { return subscribers_.size(); }

private:
  std::vector<Path> subscribers_; // return paths, one subscription each
};

// The notice that the object `id` is gone.
nv::message deathNotice(uint32_t id);

} // namespace kestel
