// A router session the live containers work over: connects, logs in and loads the descriptor
// model as the loader does (ReadyStep), then hands the logged-in session to the process-wide
// looper and makes its connection the router connection, so object maps, holders, actions,
// queries and wizards reach the router through the looper's global handler. One per process (the
// looper is process-wide). Runs on the reactor's thread.
#pragma once

#include "api/net/PollReactor.h"
#include "app/ReadyStep.h"
#include "app/SessionLink.h"
#include "util/Expected.h"

#include <memory>
#include <string>

namespace kestel {

class LiveSession {
public:
  explicit LiveSession(PollReactor& reactor) : reactor_(reactor) {}
  ~LiveSession() { close(); }
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  // Runs the reactor until the session is ready (the looper has it) or failed; the error is the
  // loader's text ("wrong username or password", "Could not start plugins", …). Progress texts
  // go to `progress`.
  [[nodiscard]] Expected<void> open(ReadyRequest request, ReadyStep::Progress progress);
  // Takes the session from the looper and closes the connection; nothing when not open.
  void close();
  bool isOpen() const { return link_ && link_->isOpen(); }
  // The reason the connection closed after open() succeeded; empty while it stands.
  const std::string& closedReason() const { return closed_; }

private:
  PollReactor& reactor_;
  std::unique_ptr<SessionLink> link_;
  std::string closed_;
};

} // namespace kestel
