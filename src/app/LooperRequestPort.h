// A request port over a handler of the process-wide looper: what the application's own tools
// (the file transfers) use once the session belongs to the looper. Each request's reply goes to
// its callback exactly once, or nowhere after forget(). Runs on the reactor's thread.
#pragma once

#include "api/net/Looper.h"
#include "app/RequestPort.h"

#include <map>

namespace kestel {

class LooperRequestPort final : public RequestPort {
public:
  static constexpr uint32_t kReplyTimeoutMs = 20000;

  LooperRequestPort();
  ~LooperRequestPort() override;
  LooperRequestPort(const LooperRequestPort&) = delete;
  LooperRequestPort& operator=(const LooperRequestPort&) = delete;

  uint32_t request(const std::vector<uint32_t>& to, uint32_t command, nv::message body,
                   ReplyFn onReply) override;
  void send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) override;
  void forget(uint32_t requestId) override;

private:
  class Waiter;
  class Hooks;
  std::unique_ptr<Hooks> hooks_;
  Reference<IHandler> handler_;
  std::map<uint32_t, Reference<Waiter>> waiting_;
};

} // namespace kestel
