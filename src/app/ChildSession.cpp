#include "app/ChildSession.h"

#include "api/wire/Vocabulary.h"
#include "app/CommandLine.h"
#include "gen/Service.h"
#include "gen/Skin.h"
#include "util/Log.h"

#include <unistd.h>

namespace kestel {

ChildSession::ChildSession(Reactor& reactor, nv::message parameters, std::string appData, Done done)
    : reactor_(reactor), parameters_(std::move(parameters)), appData_(std::move(appData)),
      done_(std::move(done)) {}

ChildSession::~ChildSession() { cancel(); }

void ChildSession::start() {
  if (!adopt())
    return;
  cache_ = makeRef<DescriptorCache>(appData_);
  std::vector<std::string> documents = parameters_.get(param::kDocuments);
  if (!documents.empty()) {
    timer_ = reactor_.addTimer(
        1,
        [this] {
          timer_ = 0;
          finish();
        },
        false);
    return;
  }
  // The raw channel serves a direct legacy session only; everything else asks the file handler.
  if (legacy_ && legacy_->agentId() == kDirectConnection)
    cache_->setFetcher(std::make_unique<StreamFileFetcher>(*connection_));
  else
    cache_->setFetcher(std::make_unique<MessageFileFetcher>(*port_));
  cache_->setListener([this] { onCacheEvent(); });
  Bytes index = parameters_.get(param::kIndexBytes);
  if (index.empty())
    cache_->start();
  else
    cache_->startFromIndex(index);
}

bool ChildSession::adopt() {
  if (!parameters_.has(param::kConnectionState) || !parameters_.has(param::kLooperState)) {
    fail("no session was handed over");
    return false;
  }
  nv::message described = parameters_.get(param::kConnectionState);
  // The standard descriptors are never the router's socket, whatever the pipe says.
  if (described.get(nv::u64_id(3)) <= uint64_t(STDERR_FILENO)) {
    fail("the handed-over connection is not usable");
    return false;
  }
  connection_ = createConnection(reactor_);
  if (!connection_->adopt(described)) {
    connection_ = nullptr;
    fail("the handed-over connection is not usable");
    return false;
  }
  SessionHooks hooks{[this](const nv::message& m) { onMessage(m); },
                     [this] {
                       nv::message noop;
                       noop.set(SYS_TO, std::vector<uint32_t>{1});
                       noop.set(SYS_FROM, std::vector<uint32_t>{0});
                       noop.set(SYS_CMD, CMD_NOOP);
                       post(noop);
                     }};
  nv::message state = parameters_.get(param::kLooperState);
  bool adopted = false;
  if (parameters_.get(param::kLegacyLogin)) {
    legacy_ = makeRef<LegacySession>(reactor_, *connection_, hooks);
    adopted = legacy_->adopt(state);
  } else {
    secure_ = makeRef<SecureSession>(reactor_, *connection_, hooks);
    adopted = secure_->adopt(state);
  }
  if (!adopted) {
    fail("the handed-over session is not usable");
    return false;
  }
  watch_ = makeRef<CloseWatch>(
      [this](const std::string& reason) { fail(reason.empty() ? "connection closed" : reason); });
  connection_->addListener(watch_.get());
  port_ = std::make_unique<SessionRequestPort>(reactor_, [this](const nv::message& m) { post(m); });
  logLine("session handed over");
  return true;
}

ISession* ChildSession::session() const {
  if (legacy_)
    return legacy_.get();
  return secure_.get();
}

void ChildSession::post(const nv::message& message) {
  if (legacy_)
    legacy_->post(message);
  else if (secure_)
    secure_->post(message);
}

void ChildSession::onMessage(const nv::message& message) {
  if (port_ && port_->deliver(message))
    return;
  if (deliver_)
    deliver_(message);
}

void ChildSession::onCacheEvent() {
  if (finished_ || !cache_->finished() || timer_)
    return;
  // The rest runs from a timer, outside the fetcher's callback.
  timer_ = reactor_.addTimer(
      1,
      [this] {
        timer_ = 0;
        finish();
      },
      false);
}

void ChildSession::finish() {
  if (finished_)
    return;
  if (!cache_->error().empty())
    return fail(cache_->error());
  std::vector<std::string> documents = parameters_.get(param::kDocuments);
  bool loaded = true;
  if (documents.empty()) {
    loaded = cache_->load();
  } else {
    for (const std::string& path : documents)
      loaded = loaded && loadDescriptors(path).ok();
  }
  if (!loaded)
    return fail(kCouldNotStartPlugins);
  if (Expected<void> r = completeAllTypes(); !r)
    logf("descriptor types: ", r.error().text);
  Bytes skin = parameters_.get(param::kSkinBytes);
  if (!skin.empty())
    activeSkin().load(std::string_view(reinterpret_cast<const char*>(skin.data()), skin.size()));
  Reference<ChildSession> keep(this);
  finished_ = true;
  ReadyOutcome outcome;
  outcome.ok = true;
  outcome.cache = cache_;
  if (done_)
    done_(outcome);
}

void ChildSession::cancel() {
  finished_ = true;
  reactor_.removeTimer(timer_);
  timer_ = 0;
  if (watch_) {
    watch_->detach();
    if (connection_)
      connection_->removeListener(watch_.get());
    watch_ = nullptr;
  }
  if (cache_)
    cache_->cancel();
  if (secure_)
    secure_->stop();
  if (legacy_)
    legacy_->stop();
  if (connection_)
    connection_->close(CloseMode::Now);
}

void ChildSession::fail(std::string error) {
  if (finished_)
    return;
  Reference<ChildSession> keep(this);
  logf("ERROR: ", error);
  cancel();
  ReadyOutcome outcome;
  outcome.error = std::move(error);
  outcome.cache = cache_;
  if (done_)
    done_(outcome);
}

} // namespace kestel
