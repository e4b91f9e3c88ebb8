// A model-based property test: a small in-process router (a store, paged fetches with cookies,
// edits with their notifications, and another client editing too) and an object map driven by
// random interleavings of client edits, router turns, message deliveries and refreshes. Once
// every request is answered and every message delivered, the map must equal the router's store.
#include "MapTestSupport.h"

#include <algorithm>
#include <deque>
#include <map>
#include <random>

namespace kestel::test {
namespace {

constexpr nv::u32_id COOKIE{STD_GETALL_COOKIE};

class FakeRouter {
public:
  FakeRouter(FakeSession& session, bool ordered) : session_(session), ordered_(ordered) {}
  std::map<uint32_t, Rec> store;
  std::vector<uint32_t> order; // the router's order of the ids

  // Answers the next request the client posted; false when there is none.
  bool serveOne(std::mt19937& rng) {
    auto& posted = session().posted;
    while (served_ < posted.size() && !posted[served_].get(SYS_REPLYEXP))
      ++served_;
    if (served_ >= posted.size())
      return false;
    nv::message req = posted[served_++];
    uint32_t cmd = req.get(SYS_CMD);
    if (cmd == CMD_SUBSCRIBE) {
      subscriber_ = req;
      return true;
    }
    nv::message reply, note;
    bool fail = rng() % 5 == 0; // the router refuses one edit in five
    if (cmd == CMD_GETALL)
      reply = page(req);
    else if (cmd == CMD_ADDOBJ && !fail)
      note = add(req, reply);
    else if (cmd == CMD_SETOBJ && !fail && store.count(req.get(STD_ID)))
      note = change(req.get(STD_ID), req.get(KEY_NAME), req.get(KEY_VALUE));
    else if (cmd == CMD_REMOVEOBJ && !fail && store.count(req.get(STD_ID)))
      note = remove(req.get(STD_ID));
    else if (cmd == CMD_MOVEOBJ && !fail && movable(req.get(STD_ID), req.get(STD_NEXTID, kNoId)))
      note = move(req.get(STD_ID), req.get(STD_NEXTID, kNoId));
    else if (cmd != CMD_GETPOLICIES)
      reply = error();
    // The notification may reach the client before or after the reply.
    bool noteFirst = rng() % 2 == 0;
    if (noteFirst && !note.empty())
      queueNote(note);
    queueReply(req, reply);
    if (!noteFirst && !note.empty())
      queueNote(note);
    return true;
  }
  // Another client's edit, pushed to the subscriber.
  void otherClient(std::mt19937& rng) {
    if (store.empty() || rng() % 3 == 0) {
      nv::message ignored;
      nv::message req;
      req.set(KEY_NAME, "other");
      queueNote(add(req, ignored));
      return;
    }
    auto it = std::next(store.begin(), rng() % store.size());
    if (ordered_ && rng() % 3 == 0) {
      uint32_t next = rng() % 2 ? order[rng() % order.size()] : kNoId;
      if (movable(it->first, next))
        queueNote(move(it->first, next));
      return;
    }
    queueNote(rng() % 2 ? remove(it->first) : change(it->first, "edited", rng() % 100));
  }
  // Delivers the oldest queued message; false when none is queued.
  bool deliverOne() {
    if (outbox_.empty())
      return false;
    nv::message m = std::move(outbox_.front());
    outbox_.pop_front();
    getLooper()->deliver(m);
    return true;
  }

private:
  FakeSession& session() { return session_; }
  nv::message error() {
    nv::message r;
    r.set(SYS_STATUS, STATUS_ERROR);
    r.set(SYS_ERRNO, ERROR_FAILED);
    return r;
  }
  // Three objects per page, after the object named by the cookie (from the start again when it
  // is gone).
  nv::message page(const nv::message& req) {
    auto it = order.begin();
    if (req.has(COOKIE))
      if (auto at = std::find(order.begin(), order.end(), req.get(COOKIE)); at != order.end())
        it = std::next(at);
    std::vector<nv::message> objs;
    for (; it != order.end() && objs.size() < 3; ++it)
      objs.push_back(element(*it, store[*it].name, store[*it].value));
    nv::message r = withObjects(objs);
    if (it != order.end())
      r.set(COOKIE, objs.back().get(STD_ID));
    else
      r.set(STD_GETALLID, kNoId);
    return r;
  }
  bool movable(uint32_t id, uint32_t next) const {
    return ordered_ && store.count(id) && id != next && (next == kNoId || store.count(next));
  }
  nv::message move(uint32_t id, uint32_t next) {
    order.erase(std::find(order.begin(), order.end(), id));
    order.insert(next == kNoId ? order.end() : std::find(order.begin(), order.end(), next), id);
    nv::message m = element(id, store[id].name, store[id].value);
    m.set(STD_NEXTID, next);
    return withObjects({m});
  }
  nv::message add(const nv::message& req, nv::message& reply) {
    uint32_t id = nextId_++;
    store[id] = Rec{req.get(KEY_NAME), req.get(KEY_VALUE)};
    order.push_back(id);
    reply.set(STD_ID, id);
    nv::message m = element(id, store[id].name, store[id].value);
    if (ordered_)
      m.set(STD_NEXTID, kNoId);
    return withObjects({m});
  }
  nv::message change(uint32_t id, const std::string& name, uint32_t value) {
    store[id] = Rec{name, value};
    return withObjects({element(id, name, value)});
  }
  nv::message remove(uint32_t id) {
    store.erase(id);
    order.erase(std::find(order.begin(), order.end(), id));
    nv::message dead;
    dead.set(STD_ID, id);
    dead.set(nv::u32_id(STD_DEAD), 1u);
    return withObjects({dead});
  }
  void queueReply(const nv::message& req, nv::message reply) {
    reply.set(SYS_TO, req.get(SYS_FROM));
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, req.get(SYS_REQID));
    outbox_.push_back(reply);
  }
  void queueNote(nv::message note) {
    if (subscriber_.empty())
      return;
    note.set(SYS_TO, subscriber_.get(SYS_FROM));
    note.set(SYS_CMD, CMD_NOTIFY);
    outbox_.push_back(note);
  }

  FakeSession& session_;
  bool ordered_;
  size_t served_ = 0;
  uint32_t nextId_ = 1;
  nv::message subscriber_;
  std::deque<nv::message> outbox_;
};

class MapModelTest : public ContainerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MapModelTest, MirrorEqualsTheRouterAtQuiescence) {
  bool ordered = GetParam();
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    posted().clear();
    FakeRouter router(*session, ordered);
    ItemFactory items;
    ObjectMapOptions o;
    o.add = o.remove = true;
    o.ordered = o.move = ordered;
    auto map = makeRef<ObjectMap>(items.factory, Path{24, 7}, o);
    map->open();
    std::vector<Reference<IObject>> mine;
    for (int step = 0; step < 300; ++step) {
      std::vector<uint32_t> ids = map->ids();
      IObject* some = ids.empty() ? nullptr : map->find(ids[rng() % ids.size()]);
      switch (rng() % 8) {
      case 0: {
        auto item = makeRef<Item>(itemPacker());
        item->rec() = Rec{"mine", uint32_t(rng() % 100)};
        mine.push_back(item);
        map->commit(item.get());
        if (rng() % 3 == 0)
          map->commit(item.get()); // committed again before the reply
        break;
      }
      case 1:
        if (some) {
          recOf(some).value = rng() % 100;
          map->commit(some);
        }
        break;
      case 2:
        if (some)
          map->remove(some);
        break;
      case 3:
        router.otherClient(rng);
        break;
      case 4:
        if (some && ordered && rng() % 2)
          map->move(some, rng() % 2 ? ids[rng() % ids.size()] : kNoId);
        else
          map->refresh();
        break;
      case 5:
        router.serveOne(rng);
        break;
      default:
        router.deliverOne();
        break;
      }
    }
    for (int guard = 0; guard < 10000 && (router.serveOne(rng) || router.deliverOne()); ++guard) {
    }
    EXPECT_EQ(map->statusText(), "");
    EXPECT_EQ(map->pendingAdds(), 0u);
    ASSERT_EQ(map->ids(), router.order);
    for (const auto& [id, rec] : router.store) {
      EXPECT_EQ(recOf(map->find(id)).name, rec.name) << id;
      EXPECT_EQ(recOf(map->find(id)).value, rec.value) << id;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(UnorderedAndOrdered, MapModelTest, ::testing::Bool());

} // namespace
} // namespace kestel::test
