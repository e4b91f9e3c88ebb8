// Requests to router handlers from the application's own code, outside the looper: a port sends
// each request from one fixed local handler id through a post function (the login step's
// session) and takes replies back from whoever receives the router's messages. Each request gets
// its reply exactly once: the router's, or after the time-out a synthesized ERROR_TIMEOUT reply.
// Runs on the reactor's thread.
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Message.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace kestel {

class RequestPort {
public:
  using ReplyFn = std::function<void(const nv::message&)>;
  virtual ~RequestPort() = default;
  // Sends `command` with `body` to router handler `to`; returns the request id.
  virtual uint32_t request(const std::vector<uint32_t>& to, uint32_t command, nv::message body,
                           ReplyFn onReply) = 0;
  // Sends without awaiting a reply.
  virtual void send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) = 0;
  // Forgets a pending request: its reply, if it comes, goes nowhere.
  virtual void forget(uint32_t requestId) = 0;
};

class SessionRequestPort final : public RequestPort {
public:
  static constexpr uint32_t kLocalHandlerId = 3;
  static constexpr uint32_t kReplyTimeoutMs = 20000;

  SessionRequestPort(Reactor& reactor, std::function<void(const nv::message&)> post);
  ~SessionRequestPort() override;
  SessionRequestPort(const SessionRequestPort&) = delete;
  SessionRequestPort& operator=(const SessionRequestPort&) = delete;

  uint32_t request(const std::vector<uint32_t>& to, uint32_t command, nv::message body,
                   ReplyFn onReply) override;
  void send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) override;
  void forget(uint32_t requestId) override;

  // Takes a message from the router; true when it was a reply to one of this port's requests.
  bool deliver(const nv::message& message);

private:
  struct Pending {
    ReplyFn onReply;
    Reactor::TimerId timer;
  };
  void answer(uint32_t requestId, const nv::message& reply);

  Reactor& reactor_;
  std::function<void(const nv::message&)> post_;
  uint32_t nextId_ = 0;
  std::map<uint32_t, Pending> pending_;
};

} // namespace kestel
