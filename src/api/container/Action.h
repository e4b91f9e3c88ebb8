// An action: a router-side operation that takes parameters, starts, reports progress through
// polls until it finishes, and can be cancelled. The parameter object is packed into the start
// request; every poll reply is unpacked into the status object. It does not show progress
// itself: listeners learn the running state and each status change.
//
// Lifecycle: idle -> running (start; the start reply sends the first poll) -> polling (every
// poll reply without STD_FINISHED arms a one-shot timer of the poll interval that sends the next
// poll) -> idle (STD_FINISHED, an error, or stop). A stop with a cancel command passes through
// stopping until the cancel reply. Replies that belong to an earlier run are ignored, except
// that a run the router started after it was stopped or replaced here is cancelled there too.
#pragma once

#include "api/container/ContainerBase.h"
#include "api/object/Object.h"
#include "util/Base.h"
#include "util/Event.h"

#include <cstdint>
#include <memory>

namespace kestel {

class ObjectAction;

inline constexpr uint32_t kDefaultPollIntervalMs = 1000;

class IActionListener : public IBase {
public:
  // The action started (running) or ended (not running: finished, failed or stopped).
  virtual void runStateChanged(ObjectAction& action, bool running) = 0;
  // A poll reply was unpacked into the status object.
  virtual void statusChanged(ObjectAction& action, IObject* status) = 0;
};

class ObjectAction final : public IBase, public ContainerBase {
public:
  ObjectAction(IObject* parameters, IObject* status, Path path);
  ~ObjectAction() override;

  // The commands; kNoId for one the router handler lacks. Defaults: CMD_START, CMD_POLL,
  // CMD_CANCEL.
  void setCommands(uint32_t start, uint32_t poll, uint32_t cancel);
  void setPollInterval(uint32_t ms) { pollIntervalMs_ = ms; }
  uint32_t pollInterval() const { return pollIntervalMs_; }
  // Uses `id` as STD_ID of every start request instead of the parameters' own STD_ID.
  void useActionId(uint32_t id);

  // Stops a running instance, then sends the start request. `completion` learns whether the
  // router accepted the start; on a refusal "Couldn't start" is shown with the router's error
  // and the action ends. Without a start command or a router connection the action does not
  // start and `completion` is told of failure.
  void start(IChangeListener* completion = nullptr);
  // Ignored while a stop is in progress. With a cancel command the action stays stopping until
  // the cancel reply, which ends it and tells `completion` of success ("Couldn't stop" is shown
  // on a refused cancel when `completion` is given); without one it ends at once and
  // `completion` is told of success.
  void stop(IChangeListener* completion = nullptr);

  bool running() const { return running_; }
  bool stopping() const { return stopping_; }
  // The id the router gave the running action; kNoId until known.
  uint32_t actionId() const { return actionId_; }
  IObject* parameters() const { return parameters_.get(); }
  IObject* status() const { return status_.get(); }

  void addListener(IActionListener* listener) { listeners_.add(listener); }
  void removeListener(IActionListener* listener) { listeners_.remove(listener); }

private:
  class PollTimer;

  void onStartReply(uint64_t run, const nv::message& reply, Reference<IChangeListener> done);
  void sendPoll();
  // Cancels a run the router started after it was stopped or replaced here.
  void cancelOrphan(uint32_t id);
  void onPollReply(uint64_t run, const nv::message& reply);
  void onCancelReply(uint64_t run, const nv::message& reply, CompletionList& waiters,
                     bool showOnError);
  void onPollTimer();
  // Drops the outstanding poll and its timer.
  void quiet();
  // Ends the run: not running, listeners told.
  void finish();
  void setRunning(bool running);

  Reference<IObject> parameters_, status_;
  CommandEntry start_, poll_, cancel_;
  uint32_t pollIntervalMs_ = kDefaultPollIntervalMs;
  uint32_t actionId_ = kNoId;
  bool useGivenId_ = false;
  bool running_ = false;
  bool stopping_ = false;
  bool timerArmed_ = false;
  uint64_t run_ = 0; // counts starts: replies of older runs are recognised and dropped
  Reference<PendingReply> pollReply_;
  // The action id the last cancel was sent for (kNoId: none or unknown).
  uint32_t cancelledId_ = kNoId;
  Reference<PollTimer> timer_;
  // The completion listeners of the stop in progress (shared with its cancel reply).
  std::shared_ptr<CompletionList> currentStop_;
  ListenerList<IActionListener> listeners_;
};

// An action with its parameter object, status object and handler path (ending at the first
// 0xFFFFFFFF).
Reference<ObjectAction> createObjectAction(IObject* parameters, IObject* status, const Path& path);

} // namespace kestel
