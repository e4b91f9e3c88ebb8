// The logged-in router session once the loader's steps are over. The step that made it (the
// loader's ReadyStep, or the ChildSession of a session handed to this process) stays alive with
// the link; its session goes to the process-wide looper and its connection becomes the router
// connection, so object maps, holders, actions and queries reach the router through the
// looper's global handler. The link watches the connection: `setOnClosed` hears once when it
// ends. One per process (the looper is process-wide). Runs on the reactor's thread.
#pragma once

#include "app/ChildSession.h"
#include "app/ReadyStep.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel {

class SessionLink {
public:
  using Closed = std::function<void(const std::string& reason)>;

  // `step` has finished with success.
  static std::unique_ptr<SessionLink> fromReady(Reference<ReadyStep> step);
  // `child` has finished with success.
  static std::unique_ptr<SessionLink> fromChild(Reference<ChildSession> child);

  ~SessionLink();
  SessionLink(const SessionLink&) = delete;
  SessionLink& operator=(const SessionLink&) = delete;

  // Null once closed.
  IConnection* connection() const { return connection_; }
  bool legacy() const { return legacy_; }
  DescriptorCache* cache() const { return cache_; }
  bool isOpen() const { return connection_ != nullptr; }

  // Called once, when the connection ends by itself (not after close()); the reason is the
  // connection's ("connection closed" when it gave none).
  void setOnClosed(Closed closed) { onClosed_ = std::move(closed); }
  // Takes the session from the looper and closes the connection; `onClosed` is not called.
  void close();

private:
  SessionLink() = default;
  void adopt(IConnection* connection, ISession* session);
  void onConnectionClosed(const std::string& reason);
  // Takes the session from the looper and drops the step; the connection is left as it is.
  void detach();

  Reference<ReadyStep> ready_;
  Reference<ChildSession> child_;
  Reference<CloseWatch> watch_;
  IConnection* connection_ = nullptr;
  DescriptorCache* cache_ = nullptr;
  bool legacy_ = false;
  Closed onClosed_;
};

} // namespace kestel
