#include "app/ReadyStep.h"

#include "api/net/LoginHandler.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"
#include "gen/Skin.h"
#include "gen/Slot.h"
#include "kestel/Version.h"
#include "miw/Version.h"
#include "util/Log.h"

namespace kestel {

ReadyStep::ReadyStep(Reactor& reactor, ReadyRequest request, Progress progress, Done done)
    : reactor_(reactor), request_(std::move(request)), progress_(std::move(progress)),
      done_(std::move(done)) {}

ReadyStep::~ReadyStep() { cancel(); }

void ReadyStep::start(ConnectionOptions options) {
  connect_ = makeRef<ConnectStep>(reactor_, request_.connect,
                                  [this](const ConnectOutcome& o) { onLoggedIn(o); });
  connect_->start(std::move(options));
}

void ReadyStep::cancel() {
  finished_ = true;
  if (watch_) {
    watch_->detach();
    if (connect_ && connect_->connection())
      connect_->connection()->removeListener(watch_.get());
    watch_ = nullptr;
  }
  reactor_.removeTimer(timer_);
  timer_ = 0;
  skinFetcher_.reset();
  if (cache_)
    cache_->cancel();
  if (connect_)
    connect_->cancel();
}

void ReadyStep::onLoggedIn(const ConnectOutcome& outcome) {
  if (finished_)
    return;
  if (outcome.kind != ConnectOutcome::LoggedIn)
    return fail(outcome.text);
  std::string required = outcome.reply.get(kLoginReplyRequiredClient);
  if (!required.empty() && parseVersion(required) > parseVersion(kKestelVersion)) {
    progress_({});
    return fail(kNeedsNewerClient);
  }
  skinName_ = outcome.reply.get(kLoginReplySkin);
  loginReply_ = outcome.reply;
  // What the session knows of its user from here on: the containers' permissions and refresh
  // timers read the policy bits, the defaults of "current user" fields the name.
  setUserPolicy(outcome.reply.get(kLoginReplyPolicy));
  setLoggedInUser(request_.connect.login);
  if (connect_->connection()) {
    watch_ = makeRef<CloseWatch>([this](const std::string& reason) { onConnectionClosed(reason); });
    connect_->connection()->addListener(watch_.get());
  }
  port_ = std::make_unique<SessionRequestPort>(reactor_,
                                               [this](const nv::message& m) { connect_->post(m); });
  connect_->setDeliver([this](const nv::message& m) { port_->deliver(m); });
  if (loggedIn_) {
    loggedIn_();
    if (finished_)
      return;
  }
  cache_ = makeRef<DescriptorCache>(request_.appData);
  if (!request_.explicitFiles.empty())
    return startSkin();
  // The raw channel serves a direct legacy session only; everything else asks the file handler.
  if (outcome.legacy && connect_->connection())
    cache_->setFetcher(std::make_unique<StreamFileFetcher>(*connect_->connection()));
  else
    cache_->setFetcher(std::make_unique<MessageFileFetcher>(*port_));
  cache_->setListener([this] { onCacheEvent(); });
  downloading_ = true;
  meter_.begin(reactor_.now(), 0);
  cache_->start();
}

void ReadyStep::onConnectionClosed(const std::string& reason) {
  fail(reason.empty() ? "connection closed" : reason);
}

void ReadyStep::onCacheEvent() {
  if (finished_ || !downloading_)
    return;
  if (!cache_->finished()) {
    if (auto text = meter_.update(reactor_.now(), cache_->bytesSoFar(), cache_->total()))
      progress_(*text);
    return;
  }
  downloading_ = false;
  startSkin();
}

void ReadyStep::startSkin() {
  if (skinName_.empty())
    return finishSoon();
  progress_("Downloading skin...");
  skinBuffer_ = std::make_unique<MemorySink>();
  skinFetcher_ = std::make_unique<MessageFileFetcher>(*port_);
  skinFetcher_->fetch(*skinBuffer_, "skins/" + skinName_ + ".json", false,
                      [this] { onSkinEvent(); });
}

void ReadyStep::onSkinEvent() {
  if (finished_ || !skinFetcher_->isDone())
    return;
  const Bytes& b = skinBuffer_->bytes();
  activeSkin().load(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  finishSoon();
}

// The rest runs from a timer, outside the fetchers' callbacks.
void ReadyStep::finishSoon() {
  timer_ = reactor_.addTimer(
      1,
      [this] {
        timer_ = 0;
        finish();
      },
      false);
}

void ReadyStep::finish() {
  if (finished_)
    return;
  skinFetcher_.reset();
  if (!cache_->error().empty())
    return fail(cache_->error());
  bool loaded = true;
  if (request_.explicitFiles.empty()) {
    loaded = cache_->load();
  } else {
    for (const std::string& path : request_.explicitFiles)
      loaded = loaded && loadDescriptors(path).ok();
  }
  if (!loaded)
    return fail(kCouldNotStartPlugins);
  if (Expected<void> r = completeAllTypes(); !r)
    logf("descriptor types: ", r.error().text);
  Reference<ReadyStep> keep(this);
  finished_ = true;
  ReadyOutcome outcome;
  outcome.ok = true;
  outcome.cache = cache_;
  if (done_)
    done_(outcome);
}

void ReadyStep::fail(std::string error) {
  if (finished_)
    return;
  Reference<ReadyStep> keep(this);
  cancel();
  ReadyOutcome outcome;
  outcome.error = std::move(error);
  outcome.cache = cache_;
  if (done_)
    done_(outcome);
}

} // namespace kestel
