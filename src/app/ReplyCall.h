// An event listener that hands one reply to a callback, and only while its owner lives: the owner
// keeps a `std::shared_ptr<bool>` and gives out weak pointers to it, so a reply arriving after the
// owner is gone is dropped instead of calling into freed memory.
#pragma once

#include "api/net/Events.h"

#include <functional>
#include <memory>
#include <utility>

namespace kestel {

class ReplyCall final : public EventListener {
public:
  ReplyCall(std::weak_ptr<bool> owner, std::function<void(const nv::message&)> call)
      : owner_(std::move(owner)), call_(std::move(call)) {}
  void onEvent(Event& event) override {
    const nv::message* reply = messageOf(event);
    if (reply && !owner_.expired() && call_)
      std::exchange(call_, nullptr)(*reply);
  }

private:
  std::weak_ptr<bool> owner_;
  std::function<void(const nv::message&)> call_;
};

} // namespace kestel
