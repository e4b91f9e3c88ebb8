// The router handler in front of one menu store: fetches in pages with cookies, one object, the
// edits with their refusals, the defaults and the policy table, and subscriptions that push every
// change (made by any client, or by the churn) within the credit each subscriber grants.
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Vocabulary.h"
#include "sim/MenuStore.h"
#include "sim/RouterLogin.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace kestel::sim {

// How the menus behave, from the program's switches.
struct MenuOptions {
  uint32_t pageSize = 100;  // the most objects in one page or notification
  uint32_t slowPagesMs = 0; // every page is answered this much later
  bool failCommits = false; // every edit is refused
  uint32_t dropSubscriptionAfter =
      0; // a subscription is forgotten after this many objects; 0: never
};

// Protocol numbers the menus use beyond the shared vocabulary.
inline constexpr uint32_t kCreditCommand = 0xFE0017;      // the subscriber grants more
inline constexpr nv::bool_id kDeliverCurrent{0xFF0017};   // subscribe: send what there is
inline constexpr nv::message_id kDefaultsReply{0xFE001D}; // the defaults of new objects
inline constexpr uint32_t kDefaultsFilter = 0x20000000;   // STD_FILTER asking for them
inline constexpr nv::u32_id kMaxObjects{STD_MAXOBJS};
inline constexpr nv::u32_id kObjectCount{STD_OBJ_COUNT};
inline constexpr nv::u32_id kCookie{STD_GETALL_COOKIE};
inline constexpr nv::u32_id kDead{STD_DEAD};
inline constexpr nv::bool_id kFinished{STD_FINISHED};
inline constexpr nv::bool_id kPolicyGranted{2};
// A page or notification stays well below the largest frame a session carries.
inline constexpr size_t kMaxBatchBytes = 48000;
// Nothing more is pushed to a client while this much waits to be sent to it; pushing resumes
// on a timer once it has taken its share.
inline constexpr size_t kMaxPeerBacklog = size_t(1) << 20;
inline constexpr uint32_t kBacklogRetryMs = 20;

class EditHistory;

class MenuHandler {
public:
  MenuHandler(Reactor& reactor, MenuStore& store, const MenuOptions& options);
  ~MenuHandler();
  MenuHandler(const MenuHandler&) = delete;
  MenuHandler& operator=(const MenuHandler&) = delete;

  std::optional<nv::message> handle(const RouterRequest& request);
  // Where the edits made here are recorded for undo, redo and safe mode; none by default.
  void setHistory(EditHistory* history) { history_ = history; }

  // Live subscriptions (dead peers are counted until the next push finds them); for tests.
  size_t subscriptionCount() const { return subscriptions_.size(); }

private:
  struct Subscription {
    std::weak_ptr<RouterPeer> peer;
    std::vector<uint32_t> returnPath;
    bool limited = false;
    int64_t credit = 0;
    int64_t window = 0;
    size_t initialNext = 0; // the next position of the current objects to deliver
    bool delivering = false;
    bool refreshWanted = false;
    std::deque<MenuStore::Id> pending;
    std::unordered_set<MenuStore::Id> queued;
    uint64_t pushed = 0;
  };

  // One page of a fetch as the reply to `request`: objects from the position that STD_GETALLID
  // and the cookie name, STD_GETALLID of the next object and the cookie, or 0xFFFFFFFF and no
  // cookie on the last page. ERROR_UNKNOWNID when the position is gone (the client starts over).
  nv::message page(const nv::message& request) const;
  std::optional<nv::message> fetch(const RouterRequest& request);
  nv::message edit(const RouterRequest& request, uint32_t command);
  nv::message policies(const SimUser& user) const;
  nv::message subscribe(const RouterRequest& request);
  void unsubscribe(const RouterRequest& request);
  void grant(const RouterRequest& request);
  void onChange(MenuStore::Id id, MenuStore::Change change, size_t position);
  void schedulePump();
  void pump();
  // Sends one notification to `s`; false when it has nothing to send or no credit left.
  bool pushOne(Subscription& s, RouterPeer& peer);
  nv::message notification(const Subscription& s) const;

  Reactor& reactor_;
  MenuStore& store_;
  const MenuOptions& options_;
  std::vector<std::unique_ptr<Subscription>> subscriptions_;
  bool pumpPosted_ = false;
  Reactor::TimerId backlogTimer_ = 0;
  std::map<uint64_t, Reactor::TimerId> slowTimers_; // pages waiting to be answered
  uint64_t nextSlowKey_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  EditHistory* history_ = nullptr;
};

// An error reply body.
nv::message errorReply(uint32_t code, const std::string& text = {});
// True when `user` holds every bit of `policy`.
inline bool permits(const SimUser& user, uint32_t policy) {
  return (user.policy & policy) == policy;
}

} // namespace kestel::sim
