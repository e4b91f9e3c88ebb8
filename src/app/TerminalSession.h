// One terminal session with the router's terminal handler (76), through a handler of the looper:
// the open request with the login, the terminal type, the window size and the kind (with the
// target of relayed kinds), then data both ways, window sizes and the close. Bytes from the router
// wait in a queue and go to the owner on a short timer, after which an acknowledgement with the
// receive counter tells the router how much was taken. Input of any length goes out whole, in
// data messages of bounded size. Runs on the reactor's thread.
#pragma once

#include "api/net/Looper.h"
#include "api/net/Reactor.h"
#include "api/net/TerminalHandler.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestel {

// Whom a session talks to.
struct TerminalTarget {
  TerminalKind kind = TerminalKind::Console;
  std::string address;    // relayed kinds: the address asked for ("addr")
  std::string user;       // relayed kinds: the user asked for ("user")
  uint32_t guestLink = 0; // a guest router's console: its link number
};

// What a session tells its owner (the terminal pane, the command line).
class TerminalSessionClient {
public:
  virtual ~TerminalSessionClient() = default;
  // Bytes from the router, in order.
  virtual void output(std::string_view bytes) = 0;
  // The state or the title changed: opened, failed, disconnected.
  virtual void stateChanged() = 0;
};

class TerminalSession {
public:
  enum class State { Idle, Opening, Open, Failed, Disconnected, Closed };

  // Received bytes wait this long for the owner, so that a burst is taken in one piece.
  static constexpr uint32_t kHandOverMs = 10;
  // Bytes per outgoing data message.
  static constexpr size_t kMaxDataBytes = 8192;
  // A router that sends faster than the owner is given its bytes: past this many waiting bytes
  // they are handed over at once instead of growing the queue.
  static constexpr size_t kMaxQueued = size_t(1) << 20;
  static constexpr uint32_t kOpenTimeoutMs = 20000;
  static constexpr const char* kDisconnectedSuffix = " (Disconnected)";

  TerminalSession(Reactor& reactor, TerminalSessionClient& client, std::string title);
  // Closes the session. Dropped while its open reply is still to come, it leaves its handler
  // behind until the reply (then closing the router's session) or the open time-out.
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  // Sends the open request; only from Idle.
  void open(const std::string& login, const TerminalTarget& target, int columns, int rows);
  // Keystrokes, pasted text and the emulator's replies. Input given before the router's open
  // reply is held and sent after it; after the session ended it is dropped.
  void input(std::string_view bytes);
  // The window has a new size; sent once a session id is held and the size differs from the
  // last one sent.
  void resize(int columns, int rows);
  // The window closes: tells the router (also when its open reply is still to come) and stops.
  void close();
  // The router connection ended: the session is over, as when the router closes it.
  void connectionLost();

  State state() const { return state_; }
  uint32_t sessionId() const { return id_; }
  const std::string& title() const { return title_; }
  // The open failure shown in the window; empty otherwise.
  const std::string& error() const { return error_; }
  // Bytes handed to the owner so far (modulo 2^32), as acknowledged to the router.
  uint32_t received() const { return received_; }
  size_t queued() const { return queue_.size(); }
  // The handler's slot in the looper's table; for tests.
  uint32_t handlerId() const;

private:
  // The handler's hooks and the open request's listener. It outlives a session dropped while its
  // open reply is still to come, to close the router's session once the id is known.
  class Link;
  friend class Link;

  void onMessage(const nv::message& message);
  void onOpenReply(const nv::message& reply);
  void onData(const nv::message& message);
  void onRouterClose();
  void handOver(bool acknowledge);
  void sendData(std::string_view bytes);
  void sendWindowSize();
  void post(uint32_t command, nv::message message);
  void end(State state);

  Reactor& reactor_;
  TerminalSessionClient& client_;
  Reference<Link> link_;
  State state_ = State::Idle;
  uint32_t id_ = kNoTerminalSession;
  int columns_ = 0, rows_ = 0;         // the window's size
  int sentColumns_ = 0, sentRows_ = 0; // the size the router knows
  uint32_t received_ = 0;
  std::string queue_;     // received, not yet handed over
  std::string heldInput_; // typed before the open reply
  Reactor::TimerId timer_ = 0;
  std::string title_;
  std::string error_;
};

} // namespace kestel
