// Tells a callback when a connection closes, with the connection's reason (empty for a normal
// close). Connections hold their listeners counted, so an owner that holds the connection lets
// this watch listen on its behalf (the two holding each other would keep both alive) and
// detaches it when it goes.
#pragma once

#include "api/net/IConnection.h"

#include <functional>
#include <string>
#include <utility>

namespace kestel {

class CloseWatch final : public EventListener {
public:
  using Closed = std::function<void(const std::string& reason)>;

  explicit CloseWatch(Closed closed) : closed_(std::move(closed)) {}
  // Nothing is told from now on.
  void detach() { closed_ = nullptr; }

  void onEvent(Event& event) override {
    auto* c = static_cast<IConnectionEvent*>(event.cast(kConnectionEventInterface));
    if (closed_ && c && c->state() == IConnectionEvent::Closed)
      closed_(c->reason());
  }

private:
  Closed closed_;
};

} // namespace kestel
