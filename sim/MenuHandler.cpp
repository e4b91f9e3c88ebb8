#include "sim/MenuHandler.h"

#include "sim/EditHistory.h"
#include "util/Log.h"

#include <algorithm>

namespace kestel::sim {
namespace {

constexpr uint32_t kNoId = MenuStore::kNone;
constexpr uint32_t kNotAnId = 0xFFFFFFFE;
// A subscriber that set no credit is sent at most this many notifications per turn of the
// loop, so one large delivery does not keep the others waiting.
constexpr int kBatchesPerTurn = 16;

} // namespace

nv::message errorReply(uint32_t code, const std::string& text) {
  nv::message reply;
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, code);
  if (!text.empty())
    reply.set(SYS_ERRSTR, text);
  return reply;
}

MenuHandler::MenuHandler(Reactor& reactor, MenuStore& store, const MenuOptions& options)
    : reactor_(reactor), store_(store), options_(options) {
  store_.addObserver([this, alive = std::weak_ptr<bool>(alive_)](
                         MenuStore::Id id, MenuStore::Change change, size_t position) {
    if (!alive.expired())
      onChange(id, change, position);
  });
}

MenuHandler::~MenuHandler() {
  for (auto& [key, timer] : slowTimers_)
    reactor_.removeTimer(timer);
  reactor_.removeTimer(backlogTimer_);
}

std::optional<nv::message> MenuHandler::handle(const RouterRequest& request) {
  const nv::message& m = request.message;
  uint32_t command = m.get(SYS_CMD);
  const MenuShape& shape = store_.shape();
  switch (command) {
  case CMD_GETALL:
    return fetch(request);
  case CMD_GETOBJ: {
    if (!permits(request.user, shape.readPolicy))
      return errorReply(ERROR_NOTALLOWED);
    nv::message object = store_.get(m.get(STD_ID, kNoId));
    return object.empty() ? errorReply(ERROR_UNKNOWNID) : object;
  }
  case CMD_GETCOUNT: {
    nv::message reply;
    reply.set(kObjectCount, uint32_t(store_.size()));
    return reply;
  }
  case CMD_SETOBJ:
  case CMD_ADDOBJ:
  case CMD_REMOVEOBJ:
  case CMD_MOVEOBJ:
    return edit(request, command);
  case CMD_GETPOLICIES:
    return policies(request.user);
  case CMD_SUBSCRIBE:
    return subscribe(request);
  case CMD_UNSUBSCRIBE:
    unsubscribe(request);
    break;
  case kCreditCommand:
    grant(request);
    break;
  default:
    return errorReply(ERROR_NOTIMP);
  }
  if (m.get(SYS_REPLYEXP))
    return nv::message();
  return std::nullopt;
}

std::optional<nv::message> MenuHandler::fetch(const RouterRequest& request) {
  const nv::message& m = request.message;
  if (!permits(request.user, store_.shape().readPolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (m.get(STD_FILTER) & kDefaultsFilter) {
    nv::message reply;
    reply.set(kDefaultsReply, store_.shape().defaults);
    reply.set(STD_GETALLID, kNoId);
    return reply;
  }
  if (!options_.slowPagesMs)
    return page(m);
  // Answered later, from the store as it then stands.
  uint64_t key = nextSlowKey_++;
  slowTimers_[key] = reactor_.addTimer(
      options_.slowPagesMs,
      [this, alive = std::weak_ptr<bool>(alive_), peer = std::weak_ptr<RouterPeer>(request.peer),
       copy = m, from = request.path, key] {
        if (alive.expired())
          return;
        slowTimers_.erase(key);
        if (auto p = peer.lock())
          p->reply(copy, page(copy), from);
      },
      false);
  return std::nullopt;
}

nv::message MenuHandler::page(const nv::message& request) const {
  size_t size = store_.size();
  uint32_t limit = request.get(kMaxObjects);
  if (limit && size > limit)
    return errorReply(ERROR_TOOMUCH);
  size_t start = 0;
  uint32_t next = request.get(STD_GETALLID, kNoId);
  bool hasCookie = request.has(kCookie);
  uint32_t cookie = request.get(kCookie);
  if (next < kNotAnId) {
    // The cookie is where the next object stood; when the order has changed since, the id says.
    if (hasCookie && cookie < size && store_.idAt(cookie) == next) {
      start = cookie;
    } else if (auto at = store_.positionOf(next)) {
      start = *at;
    } else {
      return errorReply(ERROR_UNKNOWNID, "the object the fetch was to go on from is gone");
    }
  } else if (hasCookie) {
    if (cookie > size)
      return errorReply(ERROR_UNKNOWNID, "the fetch's place is gone");
    start = cookie;
  }
  nv::message reply;
  size_t bytes = 0, count = 0, at = start;
  for (; at < size && count < options_.pageSize; ++at, ++count) {
    ByteSpan record = store_.encoded(store_.idAt(at));
    if (count && bytes + record.size() + 2 > kMaxBatchBytes)
      break;
    bytes += record.size() + 2;
    reply.appendEncodedUnchecked(STD_OBJS, record); // the store's own encoding
  }
  reply.set(kObjectCount, uint32_t(size));
  if (at >= size) {
    reply.set(STD_GETALLID, kNoId);
  } else {
    reply.set(STD_GETALLID, store_.idAt(at));
    reply.set(kCookie, uint32_t(at));
  }
  return reply;
}

nv::message MenuHandler::edit(const RouterRequest& request, uint32_t command) {
  const nv::message& m = request.message;
  if (!permits(request.user, store_.shape().writePolicy))
    return errorReply(ERROR_NOTALLOWED);
  if (options_.failCommits)
    return errorReply(ERROR_FAILED, "the router refused the change (--fail-commits)");
  const MenuShape& shape = store_.shape();
  bool allowed =
      !shape.readOnly &&
      (command == CMD_SETOBJ || (command == CMD_ADDOBJ && shape.addable) ||
       (command == CMD_REMOVEOBJ && shape.removable) || (command == CMD_MOVEOBJ && shape.movable));
  if (!allowed)
    return errorReply(ERROR_NOTIMP);
  uint32_t id = m.get(STD_ID, kNoId);
  nv::message before = history_ && command != CMD_ADDOBJ ? store_.get(id) : nv::message();
  EditResult result;
  switch (command) {
  case CMD_ADDOBJ:
    result = store_.add(m);
    break;
  case CMD_SETOBJ:
    result = store_.change(id, m);
    break;
  case CMD_REMOVEOBJ:
    result = store_.remove(id);
    break;
  default:
    result = store_.move(id, m.get(STD_NEXTID, kNoId));
    break;
  }
  if (!result.ok())
    return errorReply(result.error, result.text);
  if (history_)
    history_->recordEdit(store_, command, command == CMD_ADDOBJ ? result.id : id, std::move(before),
                         request);
  nv::message reply;
  reply.set(STD_ID, result.id);
  reply.set(kObjectCount, uint32_t(store_.size()));
  return reply;
}

// One entry per permission the menu asks for: the policy bits and whether this user has them.
nv::message MenuHandler::policies(const SimUser& user) const {
  nv::message reply;
  const MenuShape& shape = store_.shape();
  for (uint32_t policy : {shape.readPolicy, shape.writePolicy}) {
    nv::message entry;
    entry.set(STD_ID, policy);
    entry.set(kPolicyGranted, permits(user, policy));
    reply.append(STD_OBJS, entry);
  }
  return reply;
}

nv::message MenuHandler::subscribe(const RouterRequest& request) {
  const nv::message& m = request.message;
  if (!permits(request.user, store_.shape().readPolicy))
    return errorReply(ERROR_NOTALLOWED);
  unsubscribe(request); // one subscription per return path
  auto s = std::make_unique<Subscription>();
  s->peer = request.peer;
  s->returnPath = m.get(SYS_FROM);
  s->limited = m.has(SYS_ORIGINATOR);
  s->credit = s->window = m.get(SYS_ORIGINATOR);
  s->delivering = m.get(kDeliverCurrent);
  subscriptions_.push_back(std::move(s));
  if (subscriptions_.back()->delivering)
    schedulePump();
  nv::message reply;
  reply.set(kObjectCount, uint32_t(store_.size()));
  return reply;
}

void MenuHandler::unsubscribe(const RouterRequest& request) {
  std::vector<uint32_t> from = request.message.get(SYS_FROM);
  std::erase_if(subscriptions_, [&](const std::unique_ptr<Subscription>& s) {
    return s->peer.lock() == request.peer && s->returnPath == from;
  });
}

// The subscriber took some notifications and grants as many again, up to its first credit.
void MenuHandler::grant(const RouterRequest& request) {
  std::vector<uint32_t> from = request.message.get(SYS_FROM);
  Subscription* target = nullptr;
  for (auto& s : subscriptions_) {
    if (s->peer.lock() != request.peer)
      continue;
    if (s->returnPath == from) {
      target = s.get();
      break;
    }
    if (!target)
      target = s.get(); // sent from another handler of the same client
  }
  if (!target || !target->limited)
    return;
  int64_t more = request.message.get(SYS_ORIGINATOR);
  target->credit = std::min(target->window, target->credit + more);
  schedulePump();
}

void MenuHandler::onChange(MenuStore::Id id, MenuStore::Change change, size_t position) {
  if (subscriptions_.empty())
    return;
  for (auto& s : subscriptions_) {
    if (change == MenuStore::Change::Moved) {
      s->refreshWanted = true; // a notification cannot say where an object now stands
      continue;
    }
    // The delivery of the current objects goes by position: keep it on the same object.
    if (s->delivering && position < s->initialNext) {
      if (change == MenuStore::Change::Removed)
        --s->initialNext;
      else if (change == MenuStore::Change::Added)
        ++s->initialNext;
    }
    if (s->queued.insert(id).second)
      s->pending.push_back(id);
  }
  schedulePump();
}

void MenuHandler::schedulePump() {
  if (pumpPosted_)
    return;
  pumpPosted_ = true;
  reactor_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired())
      return;
    pumpPosted_ = false;
    pump();
  });
}

void MenuHandler::pump() {
  bool more = false, waiting = false;
  for (size_t i = 0; i < subscriptions_.size();) {
    Subscription& s = *subscriptions_[i];
    auto peer = s.peer.lock();
    bool dropped = !peer || !peer->alive();
    int batches = 0;
    while (!dropped) {
      if (peer->backlog() > kMaxPeerBacklog) {
        waiting = true;
        break;
      }
      if (!pushOne(s, *peer))
        break;
      if (options_.dropSubscriptionAfter && s.pushed >= options_.dropSubscriptionAfter) {
        logf("sim: ", store_.shape().title, ": subscription dropped after ", s.pushed,
             " objects (--drop-subscription)");
        dropped = true;
      } else if (!s.limited && ++batches == kBatchesPerTurn) {
        more = true;
        break;
      }
    }
    if (dropped)
      subscriptions_.erase(subscriptions_.begin() + long(i));
    else
      ++i;
  }
  if (more)
    schedulePump();
  if (waiting && !backlogTimer_)
    backlogTimer_ = reactor_.addTimer(
        kBacklogRetryMs,
        [this] {
          backlogTimer_ = 0;
          pump();
        },
        false);
}

nv::message MenuHandler::notification(const Subscription& s) const {
  nv::message n;
  n.set(SYS_TO, s.returnPath);
  n.set(SYS_FROM, store_.shape().path);
  n.set(SYS_CMD, CMD_NOTIFY);
  n.set(kObjectCount, uint32_t(store_.size()));
  return n;
}

bool MenuHandler::pushOne(Subscription& s, RouterPeer& peer) {
  if (s.refreshWanted) {
    // Without objects a notification asks the subscriber to fetch everything again, which
    // also covers whatever was still queued for it.
    s.refreshWanted = false;
    s.pending.clear();
    s.queued.clear();
    s.delivering = false;
    peer.send(notification(s));
    return true;
  }
  if (s.limited && s.credit <= 0)
    return false;
  size_t limit = options_.pageSize;
  if (s.limited)
    limit = std::min<size_t>(limit, size_t(s.credit));
  if (options_.dropSubscriptionAfter) // the fault: exactly that many objects, then silence
    limit = std::min<size_t>(limit, options_.dropSubscriptionAfter - s.pushed);
  nv::message n = notification(s);
  size_t count = 0, bytes = 0;
  auto fits = [&](size_t length) {
    if (count && bytes + length + 2 > kMaxBatchBytes)
      return false;
    bytes += length + 2;
    ++count;
    return true;
  };
  // While the current objects are still being delivered, changes fill at most half of each
  // notification: a churn faster than the deliveries must not keep them waiting for ever.
  size_t changes = s.delivering ? std::max<size_t>(1, limit / 2) : limit;
  while (!s.pending.empty() && count < changes) {
    MenuStore::Id id = s.pending.front();
    ByteSpan record = store_.encoded(id);
    nv::message object = record.empty() ? nv::message() : nv::message(record);
    if (record.empty()) { // a death notice
      object.set(STD_ID, id);
      object.set(kDead, 1u);
    }
    if (!fits(record.empty() ? 16 : record.size()))
      break;
    n.append(STD_OBJS, object);
    s.pending.pop_front();
    s.queued.erase(id);
  }
  while (s.delivering && count < limit) {
    if (s.initialNext >= store_.size()) {
      s.delivering = false;
      break;
    }
    ByteSpan record = store_.encoded(store_.idAt(s.initialNext));
    if (!fits(record.size()))
      break;
    n.append(STD_OBJS, nv::message(record));
    ++s.initialNext;
  }
  if (!count)
    return false;
  s.credit -= int64_t(count);
  s.pushed += count;
  peer.send(n);
  return true;
}

} // namespace kestel::sim
