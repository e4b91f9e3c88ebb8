#include "app/LoaderFlow.h"

#include "api/net/IConnection.h"
#include "api/wire/Vocabulary.h"
#include "app/AddressBookFile.h"
#include "app/CommandLine.h"
#include "app/ConnectAddress.h"
#include "miw/ConvertorTime.h"
#include "util/Log.h"

namespace kestel {

namespace {

constexpr const char* kHttp = "http://";

// Failures that trying again cannot mend: the router answered and said no.
bool retryable(const std::string& text) {
  for (const char* final :
       {"wrong username or password", "router does not support secure connection",
        "could not start authentication", kNeedsNewerClient, kAgentNotFound, "invalid address - "})
    if (text.rfind(final, 0) == 0)
      return false;
  return true;
}

} // namespace

// Hears the connection come up, which ends the connecting phase.
class LoaderFlow::UpWatch final : public EventListener {
public:
  explicit UpWatch(LoaderFlow* owner) : owner_(owner) {}
  void detach() { owner_ = nullptr; }
  void onEvent(Event& event) override {
    auto* c = static_cast<IConnectionEvent*>(event.cast(kConnectionEventInterface));
    if (owner_ && c && c->state() == IConnectionEvent::Up)
      owner_->onUp();
  }

private:
  LoaderFlow* owner_;
};

LoaderFlow::LoaderFlow(Reactor& reactor, std::string appData, LoaderFlowHooks hooks)
    : reactor_(reactor), appData_(std::move(appData)), hooks_(std::move(hooks)) {}

LoaderFlow::~LoaderFlow() { disconnect(); }

void LoaderFlow::setBook(std::string path, std::string masterPassword) {
  bookPath_ = std::move(path);
  masterPassword_ = std::move(masterPassword);
}

nv::message LoaderFlow::parametersFrom(const LoaderForm& form) const {
  nv::message p;
  p.set(param::kAddress, form.address);
  p.set(param::kLogin, form.login);
  p.set(param::kPassword, form.password);
  if (!form.session.empty())
    p.set(param::kChosenSession, form.session);
  if (!form.secure)
    p.set(param::kSecure, false);
  if (form.newWindow)
    p.set(param::kNewProcess, true);
  p.set(param::kAutoReconnect, form.autoReconnect);
  if (!form.agent.empty()) {
    nv::message agent;
    agent.set(param::kAddress, form.agent);
    p.set(param::kHoplink, agent);
  }
  if (!bookPath_.empty()) {
    p.set(param::kAddressBook, bookPath_);
    p.set(param::kMasterPassword, masterPassword_);
  }
  if (!documents_.empty())
    p.set(param::kDocuments, documents_);
  return p;
}

nv::message LoaderFlow::parametersFrom(const nv::message& e) const {
  LoaderForm form;
  form.address = e.get(entry::kAddress);
  form.login = e.get(entry::kLogin);
  form.password = e.get(entry::kPassword);
  form.session = e.get(entry::kSession);
  form.agent = e.get(entry::kAgent);
  form.secure = !e.has(entry::kSecure) || e.get(entry::kSecure);
  return parametersFrom(form);
}

nv::message LoaderFlow::entryFrom(const LoaderForm& form) {
  nv::message e;
  e.set(entry::kAddress, form.address);
  e.set(entry::kLogin, form.login);
  e.set(entry::kPassword, form.keepPassword ? form.password : std::string());
  e.set(entry::kKeepPassword, form.keepPassword);
  e.set(entry::kNote, form.note);
  e.set(entry::kGroup, form.group);
  e.set(entry::kSecure, form.secure);
  if (!form.session.empty())
    e.set(entry::kSession, form.session);
  e.set(entry::kAgent, form.agent);
  return e;
}

size_t LoaderFlow::connectToAll(const LoaderForm& form, const std::vector<nv::message>& entries) {
  size_t started = 0;
  for (const nv::message& e : entries) {
    if (e.get(entry::kAddress) == form.address)
      continue;
    nv::message p = parametersFrom(e);
    if (!hooks_.startChild)
      continue;
    if (Expected<void> child = hooks_.startChild(p); child)
      ++started;
    else
      logf("could not start ", e.get(entry::kAddress), ": ", child.error().text);
  }
  connect(parametersFrom(form));
  return started;
}

void LoaderFlow::connect(const nv::message& parameters) {
  if (phase_ == LoaderPhase::Countdown) { // the button reads "Cancel" meanwhile
    reactor_.removeTimer(timer_);
    timer_ = 0;
    setStatus(failure_);
    setPhase(LoaderPhase::Idle);
    return;
  }
  logLine("ConnectWindow::onConnect");
  disconnect();
  parameters_ = parameters;
  if (parameters_.has(param::kHoplink)) {
    // Reaching a router through an agent needs the agent's managed entry.
    std::string agent = parameters_.get(param::kHoplink).get(param::kAddress);
    if (!hooks_.findEntry || !hooks_.findEntry(agent))
      return fail(kAgentNotFound, false);
    return fail(kNoHoplinkConnection, false);
  }
  run(parameters_);
}

void LoaderFlow::run(const nv::message& parameters) {
  std::string text = parameters.get(param::kAddress);
  if (text.rfind(kHttp, 0) == 0) {
    if (hooks_.openUrl)
      hooks_.openUrl(text);
    if (hooks_.exit)
      hooks_.exit(0);
    return;
  }
  Expected<ConnectAddress> address = parseConnectAddress(text);
  if (!address)
    return fail(address.error().text, false);
  setStatus("Connecting to " + text + "...");
  setPhase(LoaderPhase::Connecting);
  ReadyRequest request;
  request.connect.address = address->host;
  request.connect.port = address->port;
  request.connect.transport = address->transport;
  request.connect.login = parameters.get(param::kLogin);
  request.connect.password = parameters.get(param::kPassword);
  request.connect.legacyMode = legacyMode_;
  request.appData = appData_;
  request.explicitFiles = parameters.get(param::kDocuments);
  step_ = makeRef<ReadyStep>(
      reactor_, std::move(request), [this](const std::string& t) { onProgress(t); },
      [this](const ReadyOutcome& outcome) { onDone(outcome); });
  step_->setOnLoggedIn([this] { onLoggedIn(); });
  step_->start();
  if (step_ && step_->connectStep() && step_->connectStep()->connection()) {
    watch_ = makeRef<UpWatch>(this);
    step_->connectStep()->connection()->addListener(watch_.get());
  }
}

void LoaderFlow::onUp() {
  if (phase_ != LoaderPhase::Connecting)
    return;
  setStatus("Logging in...");
  setPhase(LoaderPhase::LoggingIn);
}

void LoaderFlow::onLoggedIn() {
  // The session window asks for a new password when the router wants one.
  if (step_->loginReply().get(kLoginReplyChangePassword))
    parameters_.set(kLoginReplyChangePassword, true);
  setStatus("Downloading descriptors...");
  setPhase(LoaderPhase::Downloading);
}

void LoaderFlow::onProgress(const std::string& text) {
  if (!text.empty())
    setStatus(text);
}

void LoaderFlow::onDone(const ReadyOutcome& outcome) {
  if (!outcome.ok)
    return fail(outcome.error, retryable(outcome.error));
  setPhase(LoaderPhase::Starting);
  // The rest runs from a timer, outside the step's callback.
  timer_ = reactor_.addTimer(
      1,
      [this] {
        timer_ = 0;
        if (parameters_.get(param::kNewProcess))
          startInChild();
        else
          startHere();
      },
      false);
}

void LoaderFlow::startHere() {
  if (!hooks_.startSession)
    return fail(kCouldNotStartPlugins, false);
  if (watch_) {
    watch_->detach();
    if (IConnection* c = step_->connectStep()->connection())
      c->removeListener(watch_.get());
    watch_ = nullptr;
  }
  Reference<ReadyStep> step = std::move(step_);
  nv::message parameters = std::move(parameters_);
  parameters_ = {};
  setStatus({});
  hooks_.startSession(std::move(step), std::move(parameters));
}

void LoaderFlow::startInChild() {
  ConnectStep* logged = step_->connectStep();
  HandOffSource source;
  source.connection = dynamic_cast<Connection*>(logged->connection());
  source.secure = logged->secureSession();
  source.legacy = logged->legacySession();
  if (step_->cache())
    source.indexBytes = step_->cache()->indexBytes();
  source.skinBytes = step_->skinBytes();
  Expected<void> handed = !source.connection ? Expected<void>(Error{"only a TCP session can be "
                                                                    "handed to a new window"})
                          : hooks_.handOff   ? hooks_.handOff(parameters_, source)
                                             : Expected<void>(Error{"no hand-off"});
  if (!handed)
    return fail(handed.error().text, false);
  disconnect();
  setStatus({});
  setPhase(LoaderPhase::Idle);
}

void LoaderFlow::fail(const std::string& text, bool retry) {
  logf("connect failed: ", text);
  nv::message parameters = parameters_;
  disconnect();
  if (retry && !text.empty()) {
    parameters_ = parameters; // the countdown tries the same again
    return startCountdown(text);
  }
  failure_ = text;
  setStatus(text);
  setPhase(LoaderPhase::Idle);
}

void LoaderFlow::startCountdown(const std::string& failure) {
  failure_ = failure;
  countdown_ = kReconnectSeconds;
  setPhase(LoaderPhase::Countdown);
  tick();
  timer_ = reactor_.addTimer(
      1000, [this] { tick(); }, true);
}

void LoaderFlow::tick() {
  if (countdown_ > 0) {
    setStatus(failure_ + ". Will retry in " + std::to_string(countdown_) + " seconds");
    --countdown_;
    return;
  }
  reactor_.removeTimer(timer_);
  timer_ = 0;
  logLine("Reconnecting....");
  setStatus("Reconnecting....");
  nv::message parameters = parameters_;
  run(parameters);
}

void LoaderFlow::showDisconnected(const nv::message& parameters, bool autoReconnect) {
  disconnect();
  parameters_ = parameters;
  parameters_.remove(param::kDisconnected);
  disconnectedAt_ = reactor_.now();
  disconnectedAddress_ = parameters.get(param::kAddress);
  std::string text = "Router " + disconnectedAddress_ + " has been disconnected";
  if (autoReconnect)
    return startCountdown(text);
  setPhase(LoaderPhase::Disconnected);
  showElapsed();
  timer_ = reactor_.addTimer(
      1000, [this] { showElapsed(); }, true);
}

void LoaderFlow::showElapsed() {
  auto seconds = uint32_t((reactor_.now() - disconnectedAt_) / 1000);
  setStatus("Router " + disconnectedAddress_ + " has been disconnected " +
            intervalText(seconds, 1) + " ago");
}

void LoaderFlow::cancel() {
  disconnect();
  parameters_ = {};
  failure_.clear();
  setStatus({});
  setPhase(LoaderPhase::Idle);
}

void LoaderFlow::disconnect() {
  if (step_ || timer_)
    logLine("disconnect");
  reactor_.removeTimer(timer_);
  timer_ = 0;
  countdown_ = 0;
  if (watch_) {
    watch_->detach();
    if (step_ && step_->connectStep() && step_->connectStep()->connection())
      step_->connectStep()->connection()->removeListener(watch_.get());
    watch_ = nullptr;
  }
  if (step_) {
    step_->cancel();
    step_ = nullptr;
  }
  parameters_ = {};
}

void LoaderFlow::setPhase(LoaderPhase phase) {
  phase_ = phase;
  if (hooks_.phase)
    hooks_.phase(phase);
}

void LoaderFlow::setStatus(std::string text) {
  status_ = std::move(text);
  if (hooks_.status)
    hooks_.status(status_);
}

} // namespace kestel
