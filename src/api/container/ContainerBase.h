// What every live container (object maps, holders, actions, queries, setup managers, doit)
// shares: the handler path its requests go to (with an optional sub-handler and request
// extender), the command table, requests sent through the connection's global handler with
// their replies routed back to the container (and dropped once it is gone), a subscription on a
// handler of its own, listener lists whose dispatch survives listeners being removed while it
// runs, and the completion listeners of commits. Nothing here knows what an object map holds.
// Single-threaded: everything runs on the reactor's thread.
#pragma once

#include "api/net/Looper.h"
#include "api/object/Object.h"
#include "api/wire/Message.h"
#include "util/Base.h"
#include "util/Event.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace kestel {

// The outcome of one commit, remove or move, as its completion listener learns it.
enum class ChangeResult { Failed, Succeeded };

// Told exactly once when the change it was passed with is answered (or known to need no
// answer).
class IChangeListener : public IBase {
public:
  virtual void changeDone(IObject* object, ChangeResult result) = 0;
};

// Completion listeners waiting for the same change; told in the order they were queued.
class CompletionList {
public:
  void add(IChangeListener* listener);
  bool empty() const { return listeners_.empty(); }
  // Tells every queued listener and empties the list (listeners queued meanwhile wait).
  void tellAll(IObject* object, ChangeResult result);

private:
  std::vector<Reference<IChangeListener>> listeners_;
};

// Tells one listener (none is fine).
void tellChange(IChangeListener* listener, IObject* object, ChangeResult result);

// The operations of the command table.
enum class Op : uint8_t { FetchAll, FetchOne, Change, Add, Remove, Move, NotifyCredit };
inline constexpr size_t kOpCount = 7;

// One operation: its command number (kNoId when the operation does not exist), whether the
// container supports it and whether the logged-in user may use it.
struct CommandEntry {
  uint32_t command = kNoId;
  bool supported = false;
  bool permitted = false;
  // The operation can be sent at all.
  bool exists() const { return command != kNoId && supported; }
};

class CommandTable {
public:
  CommandEntry& operator[](Op op) { return entries_[static_cast<size_t>(op)]; }
  const CommandEntry& operator[](Op op) const { return entries_[static_cast<size_t>(op)]; }
  bool exists(Op op) const { return (*this)[op].exists(); }
  bool permitted(Op op) const { return (*this)[op].permitted; }

private:
  std::array<CommandEntry, kOpCount> entries_{};
};

// Listeners of type L, each for every event or for one object only, in registration order. A
// listener removed while events are delivered is only marked and skipped; the list is swept
// once the outermost dispatch has ended, so a listener may remove itself or others (or add new
// ones, which get events from the next dispatch on) from inside its callback.
template <typename L> class ListenerList {
public:
  // `object` null: every event; otherwise only the events about that object.
  void add(L* listener, IObject* object = nullptr) {
    if (listener)
      entries_.push_back({Reference<L>(listener), Reference<IObject>(object), false});
  }
  // Drops every registration of the listener; unknown listeners are ignored.
  void remove(L* listener) {
    for (Entry& e : entries_)
      if (e.listener.get() == listener)
        e.removed = true;
    sweep();
  }
  // Calls f(L&) for each live listener registered for every event or for `object` (all of them
  // when `object` is null).
  template <typename F> void dispatch(const IObject* object, F&& f) {
    ++nesting_;
    size_t n = entries_.size(); // listeners added meanwhile wait for the next dispatch
    for (size_t i = 0; i < n; ++i) {
      if (entries_[i].removed)
        continue;
      if (object && entries_[i].object && entries_[i].object.get() != object)
        continue;
      Reference<L> keep = entries_[i].listener; // the callback may drop the last other count
      f(*keep);
    }
    --nesting_;
    sweep();
  }
  size_t size() const {
    size_t n = 0;
    for (const Entry& e : entries_)
      n += e.removed ? 0 : 1;
    return n;
  }
  bool empty() const { return size() == 0; }

private:
  struct Entry {
    Reference<L> listener;
    Reference<IObject> object;
    bool removed;
  };
  void sweep() {
    if (nesting_ != 0)
      return;
    std::erase_if(entries_, [](const Entry& e) { return e.removed; });
  }
  std::vector<Entry> entries_;
  unsigned nesting_ = 0;
};

// Adds keys to every request of a container and may refuse notified objects.
class IRequestExtender : public IBase {
public:
  virtual void extend(nv::message& request) const = 0;
  // False when a notified object (not a death notice) is to be skipped.
  virtual bool accepts(const nv::message& notified) const {
    (void)notified;
    return true;
  }
};

// The extender setKey installs: the u32 `key` = `value` in every request.
Reference<IRequestExtender> createKeyExtender(uint32_t key, uint32_t value);

class ContainerBase {
public:
  using ReplyFn = std::function<void(const nv::message& reply)>;
  // A request in flight; cancel() makes its reply (if it ever comes) go unnoticed.
  class PendingReply;

  explicit ContainerBase(Path path);
  // Cancels every request still in flight and ends the subscription.
  virtual ~ContainerBase();
  ContainerBase(const ContainerBase&) = delete;
  ContainerBase& operator=(const ContainerBase&) = delete;

  // The handler path as given (a 0xFFFFFFFF element ends it).
  const Path& path() const { return path_; }
  // The path requests go to: the given path with the sub-handler appended when set.
  Path requestPath() const;
  uint32_t subHandler() const { return subHandler_; }
  void setSubHandler(uint32_t subHandler) { subHandler_ = subHandler; }
  IRequestExtender* requestExtender() const { return extender_.get(); }
  void setRequestExtender(IRequestExtender* extender) { extender_ = extender; }
  CommandTable& commands() { return commands_; }
  const CommandTable& commands() const { return commands_; }

  // The addressing keys of every request: the extender's keys and STD_FILTER = `mask`.
  void address(nv::message& request, uint32_t mask) const;

  // Sends `command` with `request` to the request path through the global handler; `onReply`
  // gets the reply (or nothing after cancel or once the container is gone). Nothing is sent,
  // and null is returned, when there is no router connection and the path does not start with
  // 0 (a handler of this program).
  Reference<PendingReply> request(uint32_t command, nv::message request, ReplyFn onReply);
  // Sends `command` with `message` to the request path, expecting no reply.
  void send(uint32_t command, nv::message message);
  // Forgets the request: its reply is ignored. Null is fine.
  void cancel(Reference<PendingReply>& pending);
  // Requests still waiting for their reply.
  size_t pendingCount() const { return pending_.size(); }

  // Subscribes `listener` (CMD_NOTIFY messages arrive as message events) with `request` on a
  // handler of the container's own; false when already subscribed or nothing could be sent.
  bool subscribeOwn(EventListener* listener, nv::message request);
  // Sends CMD_UNSUBSCRIBE with `request` and drops the subscription's handler; nothing when not
  // subscribed.
  void unsubscribeOwn(nv::message request);
  bool subscribed() const { return bool(notifyHandler_); }
  // Sends `command` with `message` through the subscription's handler (flow control of the
  // subscription); through the global handler when not subscribed.
  void sendOnSubscription(uint32_t command, nv::message message);

private:
  friend class PendingReply;
  void forget(PendingReply* pending);

  Path path_;
  uint32_t subHandler_ = kNoId;
  Reference<IRequestExtender> extender_;
  CommandTable commands_;
  // Held strongly: a reset looper drops the handler's references while the container lives on.
  std::map<PendingReply*, Reference<PendingReply>> pending_;
  Reference<IHandler> notifyHandler_;
};

class ContainerBase::PendingReply final : public EventListener {
public:
  PendingReply(ContainerBase* owner, ReplyFn fn) : owner_(owner), fn_(std::move(fn)) {}
  void onEvent(Event& event) override;
  // Cuts the tie to the container; the reply is then ignored.
  void detach() { owner_ = nullptr; }
  bool live() const { return owner_ != nullptr; }

private:
  ContainerBase* owner_;
  ReplyFn fn_;
};

} // namespace kestel
