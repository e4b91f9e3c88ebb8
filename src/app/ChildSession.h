// The session another instance handed to this process ("-" on the command line): adopts the
// connection (1003) and the secure or legacy session (1018, 1020) so that the encrypted stream
// carries on where the parent left it, rebuilds the descriptor cache from the parent's index
// (1004: the same decision step, fetching only what this cache lacks; without it the index is
// fetched), loads the descriptor model, or the documents of 1006, and the skin (1022). Nothing is
// sent to log in again. The outcome goes to `done` exactly once; a connection that closes
// before then ends the start with its reason. Runs on the reactor's thread; owned through
// Reference.
#pragma once

#include "app/DescriptorCache.h"
#include "app/ReadyStep.h"
#include "app/RequestPort.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel {

class ChildSession final : public IBase {
public:
  using Done = std::function<void(const ReadyOutcome&)>;

  // `appData`: where the cache folders live.
  ChildSession(Reactor& reactor, nv::message parameters, std::string appData, Done done);

  void start();
  // Drops everything (connection closed); `done` is not called.
  void cancel();

  const nv::message& parameters() const { return parameters_; }
  Connection* connection() const { return connection_.get(); }
  bool legacy() const { return legacy_.get() != nullptr; }
  // The adopted secure or legacy session; null before start() and after cancel().
  ISession* session() const;
  RequestPort* port() const { return port_.get(); }
  DescriptorCache* cache() const { return cache_.get(); }

  // Router messages that are no reply to the port's requests go here.
  void setDeliver(std::function<void(const nv::message&)> deliver) {
    deliver_ = std::move(deliver);
  }
  // Sends a message through the adopted session.
  void post(const nv::message& message);

private:
  ~ChildSession() override;
  bool adopt();
  void onMessage(const nv::message& message);
  void onCacheEvent();
  void finish();
  void fail(std::string error);

  Reactor& reactor_;
  nv::message parameters_;
  std::string appData_;
  Done done_;
  std::function<void(const nv::message&)> deliver_;
  Reference<Connection> connection_;
  Reference<SecureSession> secure_;
  Reference<LegacySession> legacy_;
  Reference<CloseWatch> watch_;
  std::unique_ptr<SessionRequestPort> port_;
  Reference<DescriptorCache> cache_;
  Reactor::TimerId timer_ = 0;
  bool finished_ = false;
};

} // namespace kestel
