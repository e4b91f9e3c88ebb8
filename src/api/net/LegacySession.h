// The legacy session of a router connection: a Diffie-Hellman handshake on channel 5 (g = 5, the
// fixed 1984-bit modulus, values as 248 bytes), then every message as a frame of a u16
// big-endian length, ten check bytes and the payload transformed by a stream state keyed from a
// half of the shared secret. The user name and password are not part of it: the connect flow
// sends them afterwards through the session. Failures end the connection with their reason.
// Runs on the reactor's thread; owned through Reference.
#pragma once

#include "api/net/IConnection.h"
#include "api/net/LegacyCrypto.h"
#include "api/net/Looper.h"
#include "api/net/SessionSupport.h"
#include "crypto/StreamState.h"
#include "util/Bytes.h"

#include <deque>
#include <memory>

namespace kestel {

inline constexpr uint8_t kLegacyChannel = 5;

// The legacy challenge step after the handshake: command 4 to the login handler (13, 4) answers
// with a 16-byte challenge (raw 9); the login request (command 7) then carries the login name
// (string 1) and this response (raw 10): a zero byte and MD5(0 | password | challenge).
inline constexpr size_t kLegacyChallengeLength = 16;
Bytes legacyLoginResponse(std::string_view password, ByteSpan challenge);

class LegacySession final : public ISession, public IChannelReceiver {
public:
  // Registers for channel 5. The seed state is keyed from clock readings.
  LegacySession(Reactor& reactor, IConnection& connection, SessionHooks hooks);
  ~LegacySession() override;

  // The first post starts the handshake; messages are queued until it is over, then sent in
  // order. A message without SYS_TO is logged and dropped.
  void post(const nv::message& message) override;
  // Starts the handshake without a message (does nothing when it already started).
  void startHandshake();
  void receive(uint8_t channelByte, const uint8_t* data, size_t length) override;

  // Called once when the handshake is over (the router answered with a usable value).
  void setReadyCallback(std::function<void()> ready) { ready_ = std::move(ready); }
  bool handshakePending() const { return state_ != State::Established; }

  // Hand-over: u32 1 = overlay agent id, raw 2 = send state, raw 3 = receive state (each the
  // permutation followed by i, j and f), raw 4 = the part of a frame received so far. Empty
  // while the handshake is pending.
  nv::message describe() const;
  // Takes over a described session; false (nothing changed) unless both states are present.
  // Starts the idle timer.
  bool adopt(const nv::message& description);
  // Removes the timers, leaves channel 5, drops queued messages and states.
  void stop();

  uint32_t agentId() const override { return agentId_; }
  void setAgentId(uint32_t id) { agentId_ = id; }

private:
  void onHandshake(ByteSpan data);
  void onFrame(ByteSpan data);
  void sendFrame(const nv::message& message);
  void fail(const std::string& reason);

  Reactor& reactor_;
  Reference<IConnection> connection_;
  SessionHooks hooks_;
  std::function<void()> ready_;
  enum class State {
    Idle,          // nothing sent yet
    HandshakeSent, // our value is out, waiting for the router's
    Established,   // both stream states exist: frames flow
  };
  State state_ = State::Idle;
  bool registered_ = false;
  uint32_t agentId_ = kDirectConnection;
  std::unique_ptr<legacy::Number> exponent_;
  StreamState seed_;
  std::unique_ptr<StreamState> send_, receive_;
  std::deque<nv::message> queue_;
  Bytes buffer_;
  KeepAlive keepAlive_;
};

// A legacy session over the current router connection on the current reactor for `looper`
// (the connect flow installs it with ILooper::setSession); null when there is no connection.
Reference<LegacySession> createLegacyProxy(ILooper* looper);

} // namespace kestel
