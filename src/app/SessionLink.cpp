#include "app/SessionLink.h"

#include "api/net/Looper.h"
#include "api/net/ReactorScope.h"

namespace kestel {

std::unique_ptr<SessionLink> SessionLink::fromReady(Reference<ReadyStep> step) {
  std::unique_ptr<SessionLink> link(new SessionLink);
  ConnectStep* connect = step->connectStep();
  ISession* session = connect->secureSession();
  link->legacy_ = session == nullptr;
  if (!session)
    session = connect->legacySession();
  link->cache_ = step->cache();
  connect->setDeliver([](const nv::message& message) { getLooper()->deliver(message); });
  link->ready_ = std::move(step);
  link->adopt(connect->connection(), session);
  return link;
}

std::unique_ptr<SessionLink> SessionLink::fromChild(Reference<ChildSession> child) {
  std::unique_ptr<SessionLink> link(new SessionLink);
  link->legacy_ = child->legacy();
  link->cache_ = child->cache();
  child->setDeliver([](const nv::message& message) { getLooper()->deliver(message); });
  IConnection* connection = child->connection();
  ISession* session = child->session();
  link->child_ = std::move(child);
  link->adopt(connection, session);
  return link;
}

SessionLink::~SessionLink() { close(); }

void SessionLink::adopt(IConnection* connection, ISession* session) {
  connection_ = connection;
  setRouterConnection(connection);
  getLooper()->setSession(session);
  watch_ = makeRef<CloseWatch>([this](const std::string& reason) { onConnectionClosed(reason); });
  connection->addListener(watch_.get());
}

void SessionLink::detach() {
  if (watch_) {
    watch_->detach();
    if (connection_)
      connection_->removeListener(watch_.get());
    watch_ = nullptr;
  }
  if (ready_) {
    if (ConnectStep* connect = ready_->connectStep())
      connect->setDeliver(nullptr);
  }
  if (child_)
    child_->setDeliver(nullptr);
  resetLooper();
  connection_ = nullptr;
}

void SessionLink::close() {
  if (!connection_)
    return;
  detach();
  if (ready_)
    ready_->cancel();
  if (child_)
    child_->cancel();
  ready_ = nullptr;
  child_ = nullptr;
  cache_ = nullptr;
}

void SessionLink::onConnectionClosed(const std::string& reason) {
  Closed closed = std::move(onClosed_);
  detach();
  // The connection is still telling its listeners: the step that owns it goes after that.
  currentReactor().post([ready = std::move(ready_), child = std::move(child_)] {
    if (ready)
      ready->cancel();
    if (child)
      child->cancel();
  });
  cache_ = nullptr;
  if (closed)
    closed(reason.empty() ? "connection closed" : reason);
}

} // namespace kestel
