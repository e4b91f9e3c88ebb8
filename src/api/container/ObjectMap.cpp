// The object map's fetch and subscription: pages, stale objects, status text, notifications and
// notify credit, defaults, policies and the refresh timer. Edits are in ObjectMapEdits.cpp.
#include "api/container/ObjectMap.h"

#include "api/container/MapRegistry.h"
#include "api/net/Events.h"
#include "api/net/Timers.h"
#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"
#include "gen/ModelContext.h"

#include <algorithm>

namespace kestel {

namespace {

// Empty pages in a row after which a fetch is given up.
constexpr unsigned kMaxEmptyPages = 16;
// Fetches restarted in a row because the router answered "unknown id".
constexpr unsigned kMaxUnknownIdRetries = 3;
// Key of a policy entry's flag.
constexpr nv::bool_id KEY_POLICY_FLAG{2};

bool isCookie(uint32_t fieldId) { return (fieldId & nv::kKeyMask) == STD_GETALL_COOKIE; }

// The reply's cookie field(s), whatever their kind, and nothing else; empty without a cookie.
nv::message cookieOf(const nv::message& reply) {
  std::vector<uint32_t> keys = reply.keys();
  if (std::none_of(keys.begin(), keys.end(), isCookie))
    return {};
  nv::message cookie = reply;
  for (uint32_t id : keys)
    if (!isCookie(id))
      cookie.removeField(id);
  return cookie;
}

// A flag the router may send as a bool or as a u32.
bool flagSet(const nv::message& m, uint32_t key) {
  return m.get(nv::u32_id(key), 0) != 0 || m.get(nv::bool_id(key), false);
}

void unpackInto(const nv::message& m, IObject* object) {
  if (IPacker* packer = object->getPacker())
    packer->unpack(m, object);
}

} // namespace

class ObjectMap::NotifyListener final : public EventListener {
public:
  explicit NotifyListener(ObjectMap* map) : map_(map) {}
  void onEvent(Event& event) override {
    if (const nv::message* m = messageOf(event); m && map_)
      map_->onNotification(*m);
  }
  void detach() { map_ = nullptr; }

private:
  ObjectMap* map_;
};

class ObjectMap::TimerListener final : public EventListener {
public:
  explicit TimerListener(ObjectMap* map) : map_(map) {}
  void onEvent(Event& event) override {
    if (event.cast(kTimerEventInterface) && map_)
      map_->onTimer();
  }
  void detach() { map_ = nullptr; }

private:
  ObjectMap* map_;
};

ObjectMap::ObjectMap(Reference<IObjectFactory> factory, Path path, ObjectMapOptions options)
    : MapBase(options.ordered, options.type), ContainerBase(std::move(path)),
      factory_(std::move(factory)), options_(std::move(options)) {
  uint32_t policy = userPolicy();
  bool read = (policy & kReadPolicy) != 0;
  bool change = (policy & options_.requiredPolicy) == options_.requiredPolicy;
  CommandTable& c = ContainerBase::commands();
  c[Op::FetchAll] = {options_.fetchAllCommand, true, read};
  c[Op::FetchOne] = {CMD_GETOBJ, true, read};
  c[Op::Change] = {CMD_SETOBJ, true, change};
  c[Op::Add] = {CMD_ADDOBJ, options_.add, change && options_.add};
  c[Op::Remove] = {CMD_REMOVEOBJ, options_.remove, change && options_.remove};
  c[Op::Move] = {options_.ordered ? CMD_MOVEOBJ : kNoId, options_.move, options_.move && change};
  c[Op::NotifyCredit] = {CMD_NOTIFY_CREDIT, true, false};
}

ObjectMap::~ObjectMap() {
  unsubscribe();
  if (notifyListener_)
    notifyListener_->detach();
  if (timer_) {
    timer_->detach();
    removeTimer(timer_.get(), nullptr);
  }
  unregisterObjectMap(this);
  disownAll();
  for (auto& [raw, pending] : pendingAdds_)
    pending.done.tellAll(raw, ChangeResult::Failed);
}

void ObjectMap::open() {
  Reference<ObjectMap> self(this);
  bool again = opened_;
  opened_ = true;
  subscribe();
  if (fetch_ == FetchState::Running || fetch_ == FetchState::Paging)
    return;
  if (!subscribed() || (again && options_.refetchOnOpen))
    refresh();
}

nv::message ObjectMap::fetchRequest(uint32_t mask) const {
  nv::message request;
  if (maxObjs_ != 0)
    request.set(nv::u32_id(STD_MAXOBJS), maxObjs_);
  if (!query_.empty())
    request.set(STD_QUERY, query_);
  address(request, mask);
  return request;
}

void ObjectMap::refresh(uint32_t mask) {
  Reference<ObjectMap> self(this);
  uint32_t m = mask != 0 ? mask : defaultMask_;
  stale_.clear();
  for (uint32_t id : store_.ids())
    stale_.insert(id);
  if (fetchReply_) {
    cancel(fetchReply_);
    m |= fetchMask_;
  }
  fetchMask_ = m;
  handled_ = 0;
  progress_ = 0;
  notifiedDuringFetch_.clear();
  previousId_ = kNoId;
  seenPages_.clear();
  emptyPages_ = 0;
  sendPage(fetchRequest(m), FetchState::Running);
}

void ObjectMap::sendPage(nv::message request, FetchState state) {
  uint32_t command = ContainerBase::commands()[Op::FetchAll].command;
  fetchReply_ =
      ContainerBase::request(command, std::move(request), [this](const nv::message& reply) {
        fetchReply_ = nullptr;
        onPage(reply);
      });
  fetch_ = fetchReply_ ? state : FetchState::Idle;
}

void ObjectMap::onPage(const nv::message& reply) {
  Reference<ObjectMap> self(this);
  unsigned int code = 0;
  std::string text;
  if (isError(reply, &code, &text)) {
    onFetchError(code, text);
    return;
  }
  unknownIdRetries_ = 0;
  bool tellState = !status_.empty();
  status_.clear();
  count_ = reply.get(nv::u32_id(STD_OBJ_COUNT), kNoId);
  notice_ = reply.get(KEY_MAP_NOTICE);
  tellState = tellState || !notice_.empty();

  size_t before = progress_;
  Batch batch(handled_ + reply.count(STD_OBJS) >= kQuietBatch);
  reply.forEach(STD_OBJS, [&](const nv::message& element) { applyElement(element, batch); });
  uint32_t getAllId = reply.get(STD_GETALLID, kNoId);
  nv::message cookie = cookieOf(reply);
  bool last = getAllId >= 0xFFFFFFFE && cookie.empty();
  bool endless = false;
  if (!last) {
    emptyPages_ = progress_ == before ? emptyPages_ + 1 : 0;
    endless = emptyPages_ > kMaxEmptyPages;
  }
  bool loops = !last && !endless && pageRepeats(cookie, getAllId);
  if (last)
    finishFetch(batch);
  else if (endless || loops)
    return failFetch(endless ? kEndlessPagesText : kPageLoopText);
  else
    requestNextPage(std::move(cookie), getAllId);
  flush(batch, tellState);
}

void ObjectMap::requestNextPage(nv::message next, uint32_t getAllId) {
  if (!query_.empty())
    next.set(STD_QUERY, query_);
  address(next, fetchMask_);
  if (getAllId < 0xFFFFFFFF)
    next.set(STD_GETALLID, getAllId);
  sendPage(std::move(next), FetchState::Paging);
}

bool ObjectMap::pageRepeats(nv::message position, uint32_t getAllId) {
  position.set(STD_GETALLID, getAllId);
  std::vector<uint8_t> bytes;
  if (!position.flatten(bytes))
    return false; // a cookie too large to encode cannot be sent back either; the send fails
  return !seenPages_.insert(std::string(bytes.begin(), bytes.end())).second;
}

IObject* ObjectMap::applyElement(const nv::message& element, Batch& batch) {
  uint32_t id = element.get(STD_ID, kNoId);
  if (id >= 0xFFFFFFFE)
    return nullptr;
  ++handled_;
  Reference<IObject> object(store_.find(id));
  bool isNew = !object;
  if (isNew && !(object = factory_->create(element)))
    return nullptr;
  unpackInto(element, object.get());
  if (stale_.erase(id) > 0 || isNew || notifiedDuringFetch_.erase(id) > 0)
    ++progress_; // an object this fetch had not brought yet
  if (hides(*object)) {
    if (!isNew)
      dropInto(id, batch);
    return nullptr;
  }
  if (isNew)
    adopt(id, object);
  store_.placeAfter(id, previousId_);
  previousId_ = id;
  batch.add(isNew ? MapEventKind::Added : MapEventKind::Changed, id, object.get());
  return object.get();
}

void ObjectMap::finishFetch(Batch& batch) {
  fetch_ = FetchState::Complete;
  if (stale_.size() >= kQuietBatch)
    batch.quiet = true;
  for (uint32_t id : stale_)
    dropInto(id, batch);
  stale_.clear();
  notifiedDuringFetch_.clear();
  previousId_ = kNoId;
  seenPages_.clear();
  emptyPages_ = 0;
  if (refreshInterval_ != 0 && (userPolicy() & refreshPolicy_) == refreshPolicy_)
    armTimer();
}

void ObjectMap::flush(Batch& batch, bool tellState) {
  if (!batch.quiet)
    for (size_t i = 0; i < batch.items.size(); ++i) {
      const Batch::Item& item = batch.items[i];
      emit(item.kind, item.id, item.object.get(), i + 1 < batch.items.size());
    }
  if (!batch.quiet && !tellState)
    return;
  // Readers that keep their own order learn what the batch touched and need not re-read all.
  resetEvents_ = batch.quiet ? std::move(batch.events) : std::vector<MapEvent>();
  resetListsBatch_ = true;
  emitReset();
  resetListsBatch_ = false;
  resetEvents_.clear();
}

void ObjectMap::dropInto(uint32_t id, Batch& batch) {
  if (Reference<IObject> object = takeOut(id))
    batch.add(MapEventKind::Removed, id, object.get());
}

void ObjectMap::onFetchError(uint32_t code, const std::string& text) {
  fetch_ = FetchState::Idle;
  if (code == ERROR_UNKNOWNID && unknownIdRetries_ < kMaxUnknownIdRetries) {
    ++unknownIdRetries_;
    refresh(fetchMask_);
    return;
  }
  unknownIdRetries_ = 0;
  failFetch(code == ERROR_TOOMUCH ? options_.tooMuchText
                                  : "ERROR: " + getErrorDescription(code, text));
}

void ObjectMap::failFetch(std::string status) {
  cancel(fetchReply_);
  fetch_ = FetchState::Idle;
  disownAll();
  stale_.clear();
  notifiedDuringFetch_.clear();
  seenPages_.clear();
  previousId_ = kNoId;
  status_ = std::move(status);
  emitReset();
}

void ObjectMap::onNotification(const nv::message& notification) {
  Reference<ObjectMap> self(this);
  if (notification.has(nv::u32_id(STD_OBJ_COUNT)))
    count_ = notification.get(nv::u32_id(STD_OBJ_COUNT));
  if (!status_.empty())
    return;
  if (!notification.has(STD_OBJS)) {
    refresh();
    return;
  }
  size_t objects = notification.count(STD_OBJS);
  Batch batch(outstandingAdds_ == 0 && objects >= kQuietBatch);
  notification.forEach(STD_OBJS, [&](const nv::message& m) { applyNotified(m, batch); });
  takeCredit(objects);
  flush(batch, false);
}

void ObjectMap::applyNotified(const nv::message& element, Batch& batch) {
  uint32_t id = element.get(STD_ID, kNoId);
  bool dead = flagSet(element, STD_DEAD);
  if (!dead && requestExtender() && !requestExtender()->accepts(element))
    return;
  if (dead) {
    if (!store_.find(id) && outstandingAdds_ > 0)
      held_.emplace_back(id, element); // it may end a held object or one of our adds
    else
      dropInto(id, batch);
    return;
  }
  if (id >= 0xFFFFFFFE)
    return;
  // The router just said the object exists: a page of a running fetch that was read before the
  // change must not remove it as stale.
  stale_.erase(id);
  Reference<IObject> object(store_.find(id));
  if (!object) {
    if (outstandingAdds_ > 0) {
      held_.emplace_back(id, element); // may be the answer to one of our adds
      return;
    }
    if (!(object = factory_->create(element)))
      return;
    unpackInto(element, object.get());
    if (hides(*object))
      return;
    adopt(id, object);
    if (fetch_ == FetchState::Running || fetch_ == FetchState::Paging)
      notifiedDuringFetch_.insert(id);
    store_.placeBefore(id, element.get(STD_NEXTID, kNoId));
    batch.add(MapEventKind::Added, id, object.get());
    return;
  }
  unpackInto(element, object.get());
  if (hides(*object)) {
    dropInto(id, batch);
    return;
  }
  if (ordered() && element.has(STD_NEXTID)) {
    uint32_t next = element.get(STD_NEXTID);
    if (store_.nextOf(id) != next && next != id) {
      store_.placeBefore(id, next);
      batch.add(MapEventKind::Moved, id, object.get());
    }
  }
  batch.add(MapEventKind::Changed, id, object.get());
}

void ObjectMap::takeCredit(size_t objects) {
  credit_ = objects >= credit_ ? 0 : credit_ - static_cast<uint32_t>(objects);
  if (credit_ >= kNotifyCreditLow)
    return;
  nv::message refill;
  refill.set(SYS_ORIGINATOR, kNotifyCredit - credit_);
  sendOnSubscription(ContainerBase::commands()[Op::NotifyCredit].command, std::move(refill));
  credit_ = kNotifyCredit;
}

nv::message ObjectMap::subscribeRequest() {
  nv::message request;
  if (!query_.empty())
    request.set(STD_QUERY, query_);
  address(request, refreshPolicy_ != 0 ? refreshPolicy_ : defaultMask_);
  request.set(SYS_ORIGINATOR, kNotifyCredit);
  if (!(refreshPolicy_ != 0 && options_.explicitFetch))
    request.set(KEY_SUBSCRIBE_CURRENT, true);
  return request;
}

void ObjectMap::subscribe() {
  Reference<ObjectMap> self(this);
  if (subscribed())
    return;
  if (!notifyListener_)
    notifyListener_ = makeRef<NotifyListener>(this);
  if (!options_.explicitFetch) {
    if (ContainerBase::commands().exists(Op::Add) && !options_.noDefaults)
      fetchDefaults();
    else
      fetchPolicies();
  }
  if (refreshInterval_ != 0 && refreshPolicy_ == 0)
    return; // driven by the refresh timer alone
  credit_ = kNotifyCredit;
  if (subscribeOwn(notifyListener_.get(), subscribeRequest()) &&
      (options_.explicitFetch || refreshPolicy_ != 0))
    refresh();
}

void ObjectMap::unsubscribe() {
  if (!subscribed() || (refreshInterval_ != 0 && refreshPolicy_ == 0))
    return;
  unsubscribeOwn(subscribeRequest());
}

void ObjectMap::setQuery(std::vector<nv::message> terms) {
  bool again = subscribed();
  unsubscribe();
  query_ = std::move(terms);
  if (again)
    subscribe();
}

void ObjectMap::addPredicate(std::shared_ptr<const Predicate> predicate) {
  if (predicate)
    predicates_.push_back(std::move(predicate));
}

void ObjectMap::fetchDefaults() {
  nv::message request;
  address(request, kDefaultsFilter);
  request.set(nv::u32_id(STD_MAXOBJS), 0u);
  ContainerBase::request(CMD_GETALL, std::move(request), [this](const nv::message& reply) {
    Reference<ObjectMap> self(this);
    if (!isError(reply) && reply.has(KEY_DEFAULTS)) {
      defaults_ = reply.get(KEY_DEFAULTS);
      for (uint32_t key : {STD_INACTIVE, STD_DYNAMIC, STD_DISABLED})
        defaults_.removeMatching(key, nv::kKeyMask);
    }
    fetchPolicies();
  });
}

void ObjectMap::fetchPolicies() {
  ContainerBase::request(CMD_GETPOLICIES, {}, [this](const nv::message& reply) {
    if (!isError(reply))
      reply.forEach(STD_OBJS, [&](const nv::message& entry) {
        policies_[entry.get(STD_ID, kNoId)] = entry.get(KEY_POLICY_FLAG);
      });
    policiesLoaded_ = true;
  });
}

void ObjectMap::setRefresh(uint32_t intervalMs, uint32_t policy) {
  Reference<ObjectMap> self(this);
  if (timer_)
    removeTimer(timer_.get(), nullptr);
  defaultMask_ |= policy;
  refreshInterval_ = intervalMs;
  refreshPolicy_ = policy;
  if (!opened_ || intervalMs == 0)
    return;
  if (fetch_ == FetchState::Running || fetch_ == FetchState::Paging)
    armTimer();
  else
    refresh();
}

void ObjectMap::armTimer() {
  if (!timer_)
    timer_ = makeRef<TimerListener>(this);
  removeTimer(timer_.get(), nullptr);
  addTimer(refreshInterval_, timer_.get(), nullptr, false);
}

void ObjectMap::onTimer() {
  Reference<ObjectMap> self(this);
  if (fetch_ == FetchState::Running || fetch_ == FetchState::Paging)
    armTimer();
  else
    refresh(defaultMask_ | refreshPolicy_);
}

void ObjectMap::setKey(uint32_t key, uint32_t value) {
  if (key == kNoId) {
    setSubHandler(value);
    return;
  }
  ContainerBase::setRequestExtender(createKeyExtender(key, value).get());
}

} // namespace kestel
