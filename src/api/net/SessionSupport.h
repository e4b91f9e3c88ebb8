// What the secure and the legacy session share: the hooks they hand decoded messages and
// keep-alive probes to, the login-result event, the keep-alive timers, the overlay-agent path
// prefix, and the random bytes of frame vectors and exponents.
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Message.h"
#include "util/Event.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace kestel {

inline constexpr uint32_t kDirectConnection = 0xFFFFFFFF;
inline constexpr uint32_t kIdleProbeMs = 20000;
inline constexpr uint32_t kNoAnswerMs = 10000;

// Where a session sends what it decodes, and how it probes an idle router (the global handler
// sends CMD_NOOP to router handler 1).
struct SessionHooks {
  std::function<void(const nv::message&)> deliver;
  std::function<void()> probe;
};

// Why the secure login failed.
enum class LoginFailure {
  NoChallenge, // the router never sent its challenge (the answer timer fired)
  WrongProof,  // the router's proof did not match: it does not know the password
};

// Told to the login listener when the login fails.
class LoginResultEvent final : public Event {
public:
  explicit LoginResultEvent(LoginFailure failure) : failure_(failure) {}
  IBase* cast(unsigned int id) override {
    return id == kLoginResultEventInterface ? this : nullptr;
  }
  LoginFailure failure() const { return failure_; }

private:
  LoginFailure failure_;
};

// The idle probe and the no-answer timer of a logged-in session.
class KeepAlive {
public:
  // `probe` runs after kIdleProbeMs without a send, `dead` after kNoAnswerMs more without data.
  KeepAlive(Reactor& reactor, std::function<void()> probe, std::function<void()> dead)
      : reactor_(reactor), probe_(std::move(probe)), dead_(std::move(dead)) {}
  ~KeepAlive() { stop(); }
  KeepAlive(const KeepAlive&) = delete;
  KeepAlive& operator=(const KeepAlive&) = delete;

  // A send: restarts the idle timer.
  void sent();
  // Data from the router: stops the no-answer timer.
  void received();
  void stop();

private:
  Reactor& reactor_;
  std::function<void()> probe_;
  std::function<void()> dead_;
  Reactor::TimerId idle_ = 0;
  Reactor::TimerId noAnswer_ = 0;
};

// Prepends 2 and the agent to SYS_TO unless the connection is direct.
void addAgentPrefix(nv::message& message, uint32_t agentId);

// Fills `n` bytes from the platform's random source (vectors of frames, legacy exponents),
// quietly falling back to the standard library's generator when it fails.
void frameRandomBytes(uint8_t* out, size_t n);

} // namespace kestel
