#include "app/TerminalSession.h"

#include "api/net/Events.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <algorithm>

namespace kestel {

class TerminalSession::Link final : public EventListener, public IHandlerHooks {
public:
  Link(Reactor& reactor, TerminalSession* owner)
      : reactor_(reactor), owner_(owner), handler_(createHandler(this)) {}

  IHandler& handler() { return *handler_; }

  // The session goes. With its open reply still to come the link stays (held by the pending
  // request) to close the router's session once the reply names it; otherwise it lets go of the
  // handler at once.
  void orphan(bool awaitingReply) {
    owner_ = nullptr;
    if (!awaitingReply)
      letGo();
  }

  void onEvent(Event& event) override {
    const nv::message* reply = messageOf(event);
    if (!reply)
      return;
    if (owner_)
      return owner_->onOpenReply(*reply);
    uint32_t id = reply->get(STD_ID, kNoTerminalSession);
    if (!isError(*reply) && id != kNoTerminalSession) {
      nv::message close;
      close.set(STD_ID, id);
      handler_->send(kTerminalClose, kTerminalHandler, std::move(close));
    }
    letGo();
  }
  void onRequest(IHandler*, const nv::message& message) override {
    if (owner_)
      owner_->onMessage(message);
  }
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

private:
  // Drops the handler on a later turn: this may run inside the handler's own receive.
  void letGo() {
    reactor_.post([self = Reference<Link>(this)] {
      if (self->handler_)
        self->handler_->detach();
      self->handler_ = nullptr;
    });
  }

  Reactor& reactor_;
  TerminalSession* owner_;
  Reference<IHandler> handler_;
};

TerminalSession::TerminalSession(Reactor& reactor, TerminalSessionClient& client, std::string title)
    : reactor_(reactor), client_(client), link_(makeRef<Link>(reactor, this)),
      title_(std::move(title)) {}

TerminalSession::~TerminalSession() {
  if (state_ == State::Open)
    post(kTerminalClose, nv::message());
  reactor_.removeTimer(timer_);
  link_->orphan(state_ == State::Opening);
}

uint32_t TerminalSession::handlerId() const { return link_->handler().id(); }

void TerminalSession::open(const std::string& login, const TerminalTarget& target, int columns,
                           int rows) {
  if (state_ != State::Idle)
    return;
  columns_ = sentColumns_ = std::max(columns, 1);
  rows_ = sentRows_ = std::max(rows, 1);
  nv::message request;
  request.set(kTerminalLogin, login);
  request.set(kTerminalType, kTerminalTypeName);
  request.set(kTerminalColumns, uint32_t(columns_));
  request.set(kTerminalRows, uint32_t(rows_));
  request.set(kTerminalKind, static_cast<uint32_t>(target.kind));
  if (target.kind == TerminalKind::Telnet || target.kind == TerminalKind::MacTelnet) {
    request.set(kTerminalTargetAddress, target.address);
    request.set(kTerminalTargetUser, target.user);
  }
  if (target.kind == TerminalKind::Guest) {
    nv::message options;
    options.set(kTerminalGuestLink, target.guestLink);
    request.set(kTerminalOptions, options);
  }
  state_ = State::Opening;
  logLine("sending login msg");
  link_->handler().request(kTerminalOpen, kTerminalHandler, std::move(request), link_.get(),
                           kOpenTimeoutMs);
}

void TerminalSession::onOpenReply(const nv::message& reply) {
  unsigned int code = 0;
  uint32_t id = reply.get(STD_ID, kNoTerminalSession);
  if (isError(reply, &code) || id == kNoTerminalSession) {
    if (state_ == State::Closed)
      return;
    logf("ERROR: could not login (", code, ")");
    error_ = "could not login (" + std::to_string(code) + ")";
    heldInput_.clear();
    end(State::Failed);
    return;
  }
  logLine("login reply");
  id_ = id;
  if (state_ == State::Closed) { // the window went while the reply was on its way
    post(kTerminalClose, nv::message());
    return;
  }
  state_ = State::Open;
  client_.stateChanged();
  if (columns_ != sentColumns_ || rows_ != sentRows_)
    sendWindowSize();
  sendData(std::exchange(heldInput_, {}));
}

void TerminalSession::input(std::string_view bytes) {
  if (state_ == State::Opening)
    heldInput_.append(bytes);
  else if (state_ == State::Open)
    sendData(bytes);
}

void TerminalSession::sendData(std::string_view bytes) {
  while (!bytes.empty()) {
    size_t n = std::min(bytes.size(), kMaxDataBytes);
    nv::message data;
    data.set(kTerminalBytes, std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(n)));
    data.set(kTerminalReceived, received_);
    post(kTerminalData, std::move(data));
    bytes.remove_prefix(n);
  }
}

void TerminalSession::resize(int columns, int rows) {
  columns_ = std::max(columns, 1);
  rows_ = std::max(rows, 1);
  if (state_ == State::Open && (columns_ != sentColumns_ || rows_ != sentRows_))
    sendWindowSize();
}

void TerminalSession::sendWindowSize() {
  sentColumns_ = columns_;
  sentRows_ = rows_;
  logf("sending winch ", columns_, "x", rows_);
  nv::message size;
  size.set(kTerminalColumns, uint32_t(columns_));
  size.set(kTerminalRows, uint32_t(rows_));
  post(kTerminalWindowSize, std::move(size));
}

void TerminalSession::close() {
  if (state_ == State::Open)
    post(kTerminalClose, nv::message());
  if (state_ == State::Open || state_ == State::Opening || state_ == State::Idle) {
    heldInput_.clear();
    end(State::Closed);
  }
}

void TerminalSession::connectionLost() {
  if (state_ == State::Open || state_ == State::Opening)
    onRouterClose();
}

void TerminalSession::onMessage(const nv::message& message) {
  uint32_t command = message.get(SYS_CMD);
  if (command != kTerminalData && command != kTerminalClose) {
    logLine("WARNING: Terminal unknown cmd recvd");
    return;
  }
  if (state_ != State::Open || message.get(STD_ID, kNoTerminalSession) != id_) {
    logf("terminal: ", command == kTerminalData ? "data" : "close", " for session ",
         message.get(STD_ID, kNoTerminalSession), " which is not open here; dropped");
    return;
  }
  if (command == kTerminalClose)
    onRouterClose();
  else
    onData(message);
}

// A data message without bytes is the router's acknowledgement: nothing to show.
void TerminalSession::onData(const nv::message& message) {
  if (!message.has(kTerminalBytes))
    return;
  std::vector<uint8_t> bytes = message.get(kTerminalBytes);
  queue_.append(bytes.begin(), bytes.end());
  if (queue_.size() > kMaxQueued) {
    reactor_.removeTimer(std::exchange(timer_, 0));
    return handOver(true);
  }
  if (!timer_ && !queue_.empty())
    timer_ = reactor_.addTimer(
        kHandOverMs,
        [this] {
          timer_ = 0;
          handOver(true);
        },
        false);
}

void TerminalSession::handOver(bool acknowledge) {
  if (queue_.empty())
    return;
  std::string bytes = std::exchange(queue_, {});
  received_ += uint32_t(bytes.size());
  client_.output(bytes);
  if (!acknowledge || state_ != State::Open)
    return;
  nv::message ack;
  ack.set(kTerminalReceived, received_);
  post(kTerminalData, std::move(ack));
}

// What came before the end is still shown; then the title says the session is over.
void TerminalSession::onRouterClose() {
  reactor_.removeTimer(std::exchange(timer_, 0));
  handOver(false);
  title_ += kDisconnectedSuffix;
  heldInput_.clear();
  end(State::Disconnected);
}

void TerminalSession::end(State state) {
  state_ = state;
  reactor_.removeTimer(std::exchange(timer_, 0));
  if (state == State::Closed)
    queue_.clear();
  client_.stateChanged();
}

void TerminalSession::post(uint32_t command, nv::message message) {
  message.set(STD_ID, id_);
  link_->handler().send(command, kTerminalHandler, std::move(message));
}

} // namespace kestel
