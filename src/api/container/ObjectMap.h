// The object map: the client-side mirror of one router menu. It fetches every object of the
// handler path page by page (following the router's cookies), keeps the mirror current through a
// subscription with notify-credit flow control or through a refresh timer, and carries out the
// user's edits (add, change, remove, move, refetch) as requests whose replies update the mirror
// and tell a completion listener. Readers learn of every change through map events.
//
// A hostile or broken router cannot make the map crash, loop or grow beyond what it sent: values
// of the wrong kind read as absent, a page sequence that repeats (same cookie and position) or
// keeps sending pages that bring no object it had not sent in this fetch ends the fetch with a
// status text, repeated "unknown id" answers to a fetch stop after a few retries, and
// notifications for unknown ids are applied or ignored like any other.
//
// A map is a counted object: make it with makeRef or the factories of MapFactories.h and hold it
// by Reference (replies keep it alive while they are handled).
#pragma once

#include "api/container/ContainerBase.h"
#include "api/container/GenericMap.h"
#include "api/wire/Vocabulary.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestel {

// The default filter mask of a map's requests.
inline constexpr uint32_t kDefaultFilterMask = 5;
// The command that returns notify credit to the router.
inline constexpr uint32_t CMD_NOTIFY_CREDIT = 0xfe0017;
// The credit a subscription starts with and is topped up to; it is topped up below the low mark.
inline constexpr uint32_t kNotifyCredit = 1000;
inline constexpr uint32_t kNotifyCreditLow = 500;
// From this many objects in one batch on, one reset event replaces the individual events.
inline constexpr size_t kQuietBatch = 50;
// Key of the notice text in a fetch reply, of the defaults message, and the system key that asks
// the router to deliver the current objects through a new subscription.
inline constexpr nv::string_id KEY_MAP_NOTICE{0xfe0022};
inline constexpr nv::message_id KEY_DEFAULTS{0xfe001d};
inline constexpr nv::bool_id KEY_SUBSCRIBE_CURRENT{0xff0017};
// Filter of the defaults request.
inline constexpr uint32_t kDefaultsFilter = 0x20000000;
// Policy bit that lets the user read (fetch) a menu.
inline constexpr uint32_t kReadPolicy = 0x40;

// Status texts of fetches the router's pages never end.
inline constexpr const char* kPageLoopText = "ERROR: the router sent the same page twice";
inline constexpr const char* kEndlessPagesText = "ERROR: the router's pages do not end";
// The prepared status text for ERROR_TOOMUCH unless the map is given another.
inline constexpr const char* kTooMuchText = "too many objects to show";

// How a map is made; everything but the path and the factory.
struct ObjectMapOptions {
  bool ordered = false;
  bool add = false;    // objects can be added
  bool remove = false; // objects can be removed
  bool move = false;   // objects can be moved (ordered maps only)
  uint32_t fetchAllCommand = CMD_GETALL;
  uint32_t requiredPolicy = 0;
  std::string type; // getType() of the objects it holds
  std::string tooMuchText = kTooMuchText;
  bool explicitFetch = false;      // fetch explicitly instead of through the subscription
  bool noDefaults = false;         // never ask for the defaults
  bool refetchAfterCommit = false; // fetch an object again after its change or add
  bool refetchOnOpen = false;      // every open after the first fetches everything again
};

// The states of a fetch.
enum class FetchState { Idle, Running, Paging, Complete };

class ObjectMap final : public MapBase, private ContainerBase {
public:
  ObjectMap(Reference<IObjectFactory> factory, Path path, ObjectMapOptions options);
  ~ObjectMap() override;

  // --- reading ---
  // STD_OBJ_COUNT of the last reply or notification, kept in step with adds and removes;
  // kNoId when unknown.
  uint32_t objectCount() const { return count_; }
  // The router's notice (key 0xfe0022) of the last fetch reply.
  const std::string& notice() const { return notice_; }
  FetchState fetchState() const { return fetch_; }
  // The router's values for new objects (empty until the defaults reply).
  const nv::message& defaults() const { return defaults_; }
  // The policy table: (id, flag) pairs of the CMD_GETPOLICIES reply.
  const std::map<uint32_t, bool>& policies() const { return policies_; }
  bool policiesLoaded() const { return policiesLoaded_; }
  uint32_t notifyCredit() const { return credit_; }
  bool isSubscribed() const { return subscribed(); }
  const CommandTable& commands() const { return ContainerBase::commands(); }
  const Path& path() const { return ContainerBase::path(); }
  // New objects waiting for their CMD_ADDOBJ reply.
  size_t pendingAdds() const { return pendingAdds_.size(); }
  // While a reset event that ends a batch is delivered: the events the batch replaced, one per
  // object added, changed, moved or removed, without the object (true returned); false for resets
  // after which everything must be re-read.
  bool resetBatch(const std::vector<MapEvent>*& events) const {
    events = &resetEvents_;
    return resetListsBatch_;
  }

  // --- keeping current ---
  // Subscribes, or for a map driven by its refresh timer alone fetches (and arms the timer).
  // With the refetch-on-open option, each later open fetches everything again unless a fetch
  // is running.
  void open() override;
  // Starts a fetch with `mask` (0: the default mask); a running fetch is cancelled and its mask
  // joins the new one.
  void refresh(uint32_t mask = 0);
  // Subscribes once (on a handler of the map's own): unless the explicit-fetch flag is set, asks
  // for the defaults (maps that can add) and then the policy table; a map driven by its refresh
  // timer alone does not subscribe. The request carries the notify credit (1000) as
  // SYS_ORIGINATOR and, unless both a refresh policy and explicit fetch are set, asks the router
  // to deliver the current objects through the subscription. With explicit fetch or a refresh
  // policy a fetch starts at once. Notifications then update, add (or hold while adds are
  // outstanding), hide and remove objects; the credit is returned below 500.
  void subscribe();
  // Sends CMD_UNSUBSCRIBE with the subscribe request's keys; nothing when not subscribed or when
  // the map is driven by its refresh timer alone.
  void unsubscribe();

  // --- editing ---
  // A new object made from the defaults, not yet in the map; null when the factory makes none.
  Reference<IObject> createNew();
  // Adds an object without id (one CMD_ADDOBJ however often it is committed before the reply;
  // every listener is told), or changes one with id (CMD_SETOBJ; success at once when the map
  // has no change command). The listener learns the outcome; an add the map cannot send fails.
  // A refused edit shows "Couldn't add <name>" / "Couldn't change <name>" with the router's
  // error and fetches everything again.
  void commit(IObject* object, IChangeListener* done = nullptr);
  // CMD_REMOVEOBJ for an object with id; "unknown id" counts as removed. Without id or remove
  // command the listener is told of failure and nothing is sent.
  void remove(IObject* object, IChangeListener* done = nullptr);
  // Ordered maps: moves the object before `nextId` (kNoId: to the end). Without id or move
  // command the listener is told of failure; a move before itself succeeds at once.
  void move(IObject* object, uint32_t nextId, IChangeListener* done = nullptr);
  // Fetches the object again with `mask` ORed with the default mask; "unknown id" removes it,
  // other errors change nothing.
  void refetch(IObject* object, uint32_t mask = 0);

  // --- configuration ---
  // key kNoId: the sub-handler becomes `value`; any other key: every request carries the u32
  // key = value.
  void setKey(uint32_t key, uint32_t value);
  void setRequestExtender(IRequestExtender* extender) {
    ContainerBase::setRequestExtender(extender);
  }
  // Stops the timer, ORs `policy` into the default mask, stores both; an open map then fetches
  // (or arms the timer while a fetch runs).
  void setRefresh(uint32_t intervalMs, uint32_t policy);
  void setDefaultMask(uint32_t mask) { defaultMask_ = mask; }
  uint32_t defaultMask() const { return defaultMask_; }
  void setMaxObjects(uint32_t max) { maxObjs_ = max; }
  // Changing the query terms of a subscribed map subscribes again.
  void setQuery(std::vector<nv::message> terms);
  // An object any predicate rejects is not shown.
  void addPredicate(std::shared_ptr<const Predicate> predicate);

private:
  class NotifyListener;
  class TimerListener;
  struct PendingAdd {
    Reference<IObject> object; // kept alive until the reply
    CompletionList done;
  };
  // Events of one page or notification batch: announced one by one after the batch, or replaced
  // by one reset event when the batch is quiet.
  struct Batch {
    struct Item {
      MapEventKind kind;
      uint32_t id;
      Reference<IObject> object;
    };
    explicit Batch(bool q) : quiet(q) {}
    void add(MapEventKind kind, uint32_t id, IObject* object) {
      events.push_back({kind, id, nullptr, false});
      if (!quiet)
        items.push_back({kind, id, Reference<IObject>(object)});
    }
    bool quiet;
    std::vector<Item> items;
    std::vector<MapEvent> events; // of every item, quiet or not, without the object
  };

  // Fetch.
  nv::message fetchRequest(uint32_t mask) const;
  void sendPage(nv::message request, FetchState state);
  void onPage(const nv::message& reply);
  // Asks for the page after the reply's: its cookie (copied unchanged) and page id.
  void requestNextPage(nv::message cookie, uint32_t getAllId);
  // True when this fetch saw the position (cookie and page id) before.
  bool pageRepeats(nv::message cookie, uint32_t getAllId);
  void onFetchError(uint32_t code, const std::string& text);
  // Ends the fetch: empties the map and shows `status` in its place.
  void failFetch(std::string status);
  void finishFetch(Batch& batch);
  // Applies one fetched element; returns the object placed (null when skipped).
  IObject* applyElement(const nv::message& element, Batch& batch);
  void flush(Batch& batch, bool tellState);
  // Removes the object (when known), its removed event going into the batch.
  void dropInto(uint32_t id, Batch& batch);

  // Subscription.
  void onNotification(const nv::message& notification);
  void applyNotified(const nv::message& element, Batch& batch);
  void takeCredit(size_t objects);
  nv::message subscribeRequest();
  void fetchDefaults();
  void fetchPolicies();

  // Replies of the edits.
  void onAddReply(const Reference<IObject>& object, const nv::message& reply);
  // Applies the held notifications of `id` (all of them for kNoId).
  void replayHeld(uint32_t id);
  void failChange(const char* what, IObject* object, const nv::message& reply,
                  IChangeListener* done);
  // Removes the object from the map and announces it.
  void dropObject(uint32_t id);
  // Takes the object out of the map (null when unknown). A running fetch that was to place its
  // next object after this one places it after the object before it instead, so the rest of the
  // fetch keeps the router's order rather than starting again at the front.
  Reference<IObject> takeOut(uint32_t id);

  void armTimer();
  void onTimer();
  bool hides(const IObject& object) const { return !objectPasses(predicates_, object); }

  Reference<IObjectFactory> factory_;
  ObjectMapOptions options_;
  bool opened_ = false;

  // Fetch state.
  FetchState fetch_ = FetchState::Idle;
  Reference<PendingReply> fetchReply_;
  uint32_t fetchMask_ = 0;
  std::set<uint32_t> stale_;
  uint32_t previousId_ = kNoId;     // the object the fetch placed last
  size_t handled_ = 0;              // objects handled in this fetch
  std::set<std::string> seenPages_; // (position, cookie) of every page of this fetch
  size_t progress_ = 0;             // objects this fetch brought for the first time
  // Objects a notification brought while this fetch ran: a page bringing one is progress too.
  std::set<uint32_t> notifiedDuringFetch_;
  unsigned emptyPages_ = 0;       // pages in a row that brought no object for the first time
  unsigned unknownIdRetries_ = 0; // fetches restarted for ERROR_UNKNOWNID in a row
  uint32_t count_ = kNoId;
  std::string notice_;

  // Request settings.
  uint32_t defaultMask_ = kDefaultFilterMask;
  uint32_t maxObjs_ = 0;
  std::vector<nv::message> query_;
  ObjectPredicates predicates_;

  // Subscription.
  Reference<NotifyListener> notifyListener_;
  uint32_t credit_ = kNotifyCredit;
  nv::message defaults_;
  std::map<uint32_t, bool> policies_;
  bool policiesLoaded_ = false;

  // Adds.
  std::map<IObject*, PendingAdd> pendingAdds_;
  size_t outstandingAdds_ = 0;
  std::vector<std::pair<uint32_t, nv::message>> held_;

  // The batch a reset event ends (see resetBatch).
  std::vector<MapEvent> resetEvents_;
  bool resetListsBatch_ = false;

  // Refresh timer.
  uint32_t refreshInterval_ = 0;
  uint32_t refreshPolicy_ = 0;
  Reference<TimerListener> timer_;
};

} // namespace kestel
