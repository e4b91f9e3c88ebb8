// The secure session of a router connection: the password-authenticated key exchange on channel 6
// (three messages, see LoginMessages.h), then every message to and from the router as an
// encrypted frame: u16 big-endian length of the ciphertext, a 16-byte vector, the ciphertext
// (SessionCipher). Messages posted before the login has finished are queued and sent, in order,
// right after the router's proof is accepted. Failures end the connection with their reason, or
// go to the login listener as a LoginResultEvent. Runs on the reactor's thread.
#pragma once

#include "api/net/IConnection.h"
#include "api/net/LoginMessages.h"
#include "api/net/Looper.h"
#include "api/net/SessionSupport.h"
#include "crypto/SessionCipher.h"

#include <deque>
#include <memory>
#include <unordered_set>

namespace kestel {

inline constexpr uint8_t kSecureChannel = 6;
inline constexpr uint32_t kAnswerTimeoutMs = 3000;

class SecureSession final : public ISession, public IChannelReceiver {
public:
  enum class State {
    Idle,          // not started
    ChallengeSent, // first challenge sent, waiting for the router's challenge
    ResponseSent,  // response sent, waiting for the router's proof
    LoggedIn,      // frames flow both ways
    Refused,       // the router's proof was wrong or never came: nothing more is sent
  };

  SecureSession(Reactor& reactor, IConnection& connection, SessionHooks hooks);
  ~SecureSession() override;

  // Registers for channel 6, draws the private scalar (random32) and sends the first challenge.
  void start(const std::string& user, const std::string& password, EventListener* listener);
  // Queues the message before the login has finished; sends it as a frame once logged in. A
  // message without SYS_TO is logged and dropped, and so is everything after a refusal.
  void post(const nv::message& message) override;
  void receive(uint8_t channelByte, const uint8_t* data, size_t length) override;

  // Hand-over of a logged-in session: u32 1 = overlay agent id, raw 2 = receive key, raw 3 = send
  // key, raw 4 = the vectors of the newest frames taken (16 bytes each, so a replay of them is
  // still refused), raw 5 = the part of a frame received so far. Empty when not logged in.
  nv::message describe() const;
  // Takes over a described session; false (nothing changed) unless both keys are present with
  // 36 bytes each and the vectors are whole. Registers for channel 6, is logged in and starts
  // the idle timer.
  bool adopt(const nv::message& description);
  // Removes the timers, leaves channel 6, drops queued messages and keys.
  void stop();

  State state() const { return state_; }
  uint32_t agentId() const override { return agentId_; }
  void setAgentId(uint32_t id) { agentId_ = id; }

private:
  void onAnswerTimeout();
  void onChallenge(ByteSpan data);
  void onProof(ByteSpan data);
  void onFrame(ByteSpan data);
  void sendFrame(const nv::message& message);
  void setKeys(ByteSpan receiveKey, ByteSpan sendKey);
  void fail(const std::string& reason);
  void tellListener(LoginFailure failure);

  Reactor& reactor_;
  Reference<IConnection> connection_;
  SessionHooks hooks_;
  Reference<EventListener> listener_;
  State state_ = State::Idle;
  bool registered_ = false;
  uint32_t agentId_ = kDirectConnection;
  std::unique_ptr<login::ClientExchange> exchange_;
  std::deque<nv::message> pending_;
  Bytes buffer_;
  SecureBytes receiveKey_, sendKey_;
  std::unique_ptr<SessionCipher> encryptor_, decryptor_;
  Reactor::TimerId answerTimer_ = 0;
  KeepAlive keepAlive_;
  // Vectors of the frames already taken: a frame seen again is a replay.
  std::unordered_set<std::string> seenVectors_;
  std::deque<std::string> vectorOrder_;
};

// The looper's session factory: a secure session over the current router connection on the
// current reactor, handing decoded messages to `looper` and probing through the global handler;
// null when there is no router connection.
Reference<ISession> createProxy(ILooper* looper);

// The hooks a session of `looper` uses: deliver to the looper, CMD_NOOP to router handler 1
// through the global handler.
SessionHooks looperHooks(ILooper* looper);

} // namespace kestel
