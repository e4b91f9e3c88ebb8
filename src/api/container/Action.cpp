#include "api/container/Action.h"

#include "api/net/Timers.h"
#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"

namespace kestel {

// The one-shot timer between a poll reply and the next poll. It outlives the action when the
// timer service still holds it, so it reaches the action only while attached.
class ObjectAction::PollTimer final : public EventListener {
public:
  explicit PollTimer(ObjectAction* owner) : owner_(owner) {}
  void onEvent(Event& event) override {
    if (owner_ && event.cast(kTimerEventInterface))
      owner_->onPollTimer();
  }
  void detach() { owner_ = nullptr; }

private:
  ObjectAction* owner_;
};

namespace {

void packInto(nv::message& request, IObject* object) {
  if (object && object->getPacker())
    object->getPacker()->pack(request, object);
}

void unpackInto(const nv::message& reply, IObject* object) {
  if (object && object->getPacker())
    object->getPacker()->unpack(reply, object);
}

CommandEntry entryFor(uint32_t command) { return CommandEntry{command, true, true}; }

} // namespace

ObjectAction::ObjectAction(IObject* parameters, IObject* status, Path path)
    : ContainerBase(std::move(path)), parameters_(parameters), status_(status),
      start_(entryFor(CMD_START)), poll_(entryFor(CMD_POLL)), cancel_(entryFor(CMD_CANCEL)),
      timer_(makeRef<PollTimer>(this)) {}

ObjectAction::~ObjectAction() {
  timer_->detach();
  if (timerArmed_)
    removeTimer(timer_.get(), nullptr);
}

void ObjectAction::setCommands(uint32_t start, uint32_t poll, uint32_t cancel) {
  start_ = entryFor(start);
  poll_ = entryFor(poll);
  cancel_ = entryFor(cancel);
}

void ObjectAction::useActionId(uint32_t id) {
  useGivenId_ = true;
  actionId_ = id;
}

void ObjectAction::start(IChangeListener* completion) {
  Reference<ObjectAction> keep(this);
  Reference<IChangeListener> done(completion);
  if (running_ && !stopping_)
    stop();
  if (running_) { // an earlier run is still being cancelled: its cancel reply only tells its own
    quiet();
    finish();
  }
  ++run_;
  stopping_ = false;
  currentStop_.reset();
  if (!start_.exists()) {
    tellChange(done.get(), parameters_.get(), ChangeResult::Failed);
    return;
  }
  nv::message msg;
  packInto(msg, parameters_.get());
  if (useGivenId_)
    msg.set(STD_ID, actionId_);
  else
    actionId_ = msg.get(STD_ID, kNoId);
  setRunning(true);
  if (!running_ || stopping_) // a listener stopped it again
    return tellChange(done.get(), parameters_.get(), ChangeResult::Failed);
  uint64_t run = run_;
  if (request(start_.command, std::move(msg),
              [this, run, done](const nv::message& reply) { onStartReply(run, reply, done); }))
    return;
  finish(); // no router connection
  tellChange(done.get(), parameters_.get(), ChangeResult::Failed);
}

void ObjectAction::onStartReply(uint64_t run, const nv::message& reply,
                                Reference<IChangeListener> done) {
  Reference<ObjectAction> keep(this);
  bool current = run == run_ && running_ && !stopping_;
  bool failed = isError(reply);
  if (current && !failed) // before the caller hears of it, so that it sees the router's id
    actionId_ = reply.get(STD_ID, actionId_);
  tellChange(done.get(), parameters_.get(),
             failed ? ChangeResult::Failed : ChangeResult::Succeeded);
  if (!current) { // stopped or started again meanwhile: the reply only answers its caller
    uint32_t id = reply.get(STD_ID, kNoId);
    if (!failed && id != kNoId && id != cancelledId_)
      cancelOrphan(id); // the router started a run nobody polls: end it there too
    return;
  }
  if (failed) {
    showError("Couldn't start", reply);
    if (run == run_ && running_)
      finish();
    return;
  }
  if (run == run_ && running_ && !stopping_) // the caller may have stopped or restarted it
    sendPoll();
}

void ObjectAction::sendPoll() {
  if (!poll_.exists()) // nothing to ask: the action runs until it is stopped
    return;
  nv::message msg;
  if (actionId_ != kNoId)
    msg.set(STD_ID, actionId_);
  uint64_t run = run_;
  pollReply_ = request(poll_.command, std::move(msg),
                       [this, run](const nv::message& reply) { onPollReply(run, reply); });
  if (!pollReply_) // the router connection is gone: no reply will ever come
    finish();
}

void ObjectAction::onPollReply(uint64_t run, const nv::message& reply) {
  if (run != run_ || !running_ || stopping_)
    return;
  Reference<ObjectAction> keep(this);
  pollReply_ = nullptr;
  if (isError(reply)) {
    showError("Couldn't continue", reply);
    if (run == run_ && running_)
      finish();
    return;
  }
  unpackInto(reply, status_.get());
  listeners_.dispatch(nullptr, [&](IActionListener& l) { l.statusChanged(*this, status_.get()); });
  if (run != run_ || !running_ || stopping_) // a listener stopped or restarted it
    return;
  if (reply.get(nv::bool_id(STD_FINISHED), false)) {
    finish();
    return;
  }
  timerArmed_ = true;
  addTimer(pollIntervalMs_, timer_.get(), nullptr, false);
}

void ObjectAction::onPollTimer() {
  timerArmed_ = false;
  if (running_ && !stopping_ && !pollReply_)
    sendPoll();
}

void ObjectAction::stop(IChangeListener* completion) {
  Reference<ObjectAction> keep(this);
  if (stopping_) { // the stop in progress answers this caller too
    if (currentStop_)
      currentStop_->add(completion);
    return;
  }
  bool cancelSent = false;
  if (running_ && cancel_.exists()) {
    nv::message msg;
    if (actionId_ != kNoId)
      msg.set(STD_ID, actionId_);
    auto waiters = std::make_shared<CompletionList>();
    waiters->add(completion);
    uint64_t run = run_;
    bool showOnError = completion != nullptr;
    Reference<PendingReply> pending =
        request(cancel_.command, std::move(msg),
                [this, run, waiters, showOnError](const nv::message& reply) {
                  onCancelReply(run, reply, *waiters, showOnError);
                });
    if (pending) {
      cancelSent = true;
      cancelledId_ = actionId_;
      stopping_ = true;
      currentStop_ = waiters;
    }
  }
  quiet();
  if (cancelSent)
    return;
  if (running_)
    finish();
  tellChange(completion, parameters_.get(), ChangeResult::Succeeded);
}

void ObjectAction::onCancelReply(uint64_t run, const nv::message& reply, CompletionList& waiters,
                                 bool showOnError) {
  Reference<ObjectAction> keep(this);
  if (run == run_ && stopping_) {
    stopping_ = false;
    currentStop_.reset();
    if (running_)
      finish();
  }
  bool failed = isError(reply);
  if (failed && showOnError)
    showError("Couldn't stop", reply);
  // A refused cancel ends the action here, but the router may still run it: the caller is told.
  waiters.tellAll(parameters_.get(), failed ? ChangeResult::Failed : ChangeResult::Succeeded);
}

void ObjectAction::cancelOrphan(uint32_t id) {
  if (!cancel_.exists())
    return;
  nv::message msg;
  msg.set(STD_ID, id);
  request(cancel_.command, std::move(msg), [](const nv::message&) {});
}

void ObjectAction::quiet() {
  cancel(pollReply_);
  if (timerArmed_) {
    timerArmed_ = false;
    removeTimer(timer_.get(), nullptr);
  }
}

void ObjectAction::finish() {
  quiet();
  setRunning(false);
}

void ObjectAction::setRunning(bool running) {
  if (running_ == running)
    return;
  running_ = running;
  listeners_.dispatch(nullptr, [&](IActionListener& l) { l.runStateChanged(*this, running); });
}

Reference<ObjectAction> createObjectAction(IObject* parameters, IObject* status, const Path& path) {
  return makeRef<ObjectAction>(parameters, status, path);
}

} // namespace kestel
