// Connect and get ready, the headless part of the loader that the command line shares: connect
// and log in, refuse a router that needs a newer client, bring the descriptor cache up to date,
// fetch the skin and load the descriptor model. Progress texts go to the progress callback; the
// outcome goes to `done` exactly once; a connection that closes before then ends the step with
// its reason. Runs on the reactor's thread; owned through Reference.
#pragma once

#include "api/net/CloseWatch.h"
#include "app/ConnectStep.h"
#include "app/DescriptorCache.h"
#include "app/DownloadProgress.h"
#include "app/RequestPort.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestel {

struct ReadyRequest {
  ConnectRequest connect;
  std::string appData;                    // where the cache folders live
  std::vector<std::string> explicitFiles; // when set: these documents instead of the cache
};

struct ReadyOutcome {
  bool ok = false;
  std::string error; // the connection failure, the cache's error text, or a load failure
  Reference<DescriptorCache> cache;
};

inline constexpr const char* kNeedsNewerClient = "router requires newer kestel, please upgrade";
inline constexpr const char* kCouldNotStartPlugins = "Could not start plugins";

class ReadyStep final : public IBase {
public:
  using Progress = std::function<void(const std::string& status)>;
  using Done = std::function<void(const ReadyOutcome&)>;

  ReadyStep(Reactor& reactor, ReadyRequest request, Progress progress, Done done);

  void start(ConnectionOptions options = {});
  // Drops everything (connection closed); `done` is not called.
  void cancel();

  // Heard once the router has accepted the login, before the descriptors are brought up to date.
  void setOnLoggedIn(std::function<void()> loggedIn) { loggedIn_ = std::move(loggedIn); }
  // The router's login reply; empty before the login is over.
  const nv::message& loginReply() const { return loginReply_; }

  ConnectStep* connectStep() const { return connect_.get(); }
  RequestPort* port() const { return port_.get(); }
  DescriptorCache* cache() const { return cache_.get(); }
  // The skin document fetched after the descriptors; empty when the router has none.
  Bytes skinBytes() const { return skinBuffer_ ? skinBuffer_->bytes() : Bytes(); }

private:
  ~ReadyStep() override;
  void onConnectionClosed(const std::string& reason);
  void onLoggedIn(const ConnectOutcome& outcome);
  void onCacheEvent();
  void startSkin();
  void onSkinEvent();
  void finishSoon();
  void finish();
  void fail(std::string error);

  Reactor& reactor_;
  ReadyRequest request_;
  Progress progress_;
  Done done_;
  std::function<void()> loggedIn_;
  Reference<ConnectStep> connect_;
  Reference<CloseWatch> watch_; // the connection after the login, on the step's behalf
  std::unique_ptr<SessionRequestPort> port_;
  Reference<DescriptorCache> cache_;
  DownloadProgress meter_;
  std::string skinName_;
  nv::message loginReply_;
  std::unique_ptr<MessageFileFetcher> skinFetcher_;
  std::unique_ptr<MemorySink> skinBuffer_;
  Reactor::TimerId timer_ = 0;
  bool downloading_ = false;
  bool finished_ = false;
};

} // namespace kestel
