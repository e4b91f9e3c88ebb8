// Edits: add (also committed twice, with notifications racing the reply), change, remove, move,
// refetch, their failure texts and the refetch that brings the mirror back to the router's state.
#include "MapTestSupport.h"

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;

class EditTest : public ContainerTest {
protected:
  Reference<ObjectMap> makeMap(bool ordered = false) {
    ObjectMapOptions o;
    o.ordered = o.move = ordered;
    o.add = o.remove = true;
    auto map = makeRef<ObjectMap>(items.factory, Path{24, 1}, o);
    map->addListener(log.get());
    return map;
  }
  // Opens the map with the objects subscribed; answers defaults and policies.
  nv::message openWith(ObjectMap& map, std::vector<nv::message> objs) {
    map.open();
    answer(last(CMD_GETALL)); // defaults
    answer(last(CMD_GETPOLICIES));
    nv::message sub = last(CMD_SUBSCRIBE);
    if (!objs.empty())
      notify(sub, withObjects(std::move(objs)));
    log->seen.clear();
    return sub;
  }
  Reference<Item> fresh(const std::string& name) {
    auto item = makeRef<Item>(itemPacker());
    item->rec().name = name;
    return item;
  }
  ItemFactory items;
  Reference<EventLog> log = makeRef<EventLog>();
};

TEST_F(EditTest, DoubleCommitBeforeTheReplySendsOneAddAndTellsBoth) {
  auto map = makeMap();
  openWith(*map, {});
  auto item = fresh("new");
  auto first = makeRef<Done>(), second = makeRef<Done>();
  map->commit(item.get(), first.get());
  map->commit(item.get(), second.get());
  ASSERT_EQ(countOf(CMD_ADDOBJ), 1u);
  nv::message add = last(CMD_ADDOBJ);
  EXPECT_EQ(add.get(KEY_NAME), "new");
  EXPECT_FALSE(add.has(STD_ID));
  EXPECT_EQ(map->pendingAdds(), 1u);
  nv::message reply;
  reply.set(STD_ID, 40u);
  answer(add, reply);
  EXPECT_EQ(item->getID(), 40u);
  EXPECT_EQ(map->find(40), item.get());
  ASSERT_EQ(first->results.size(), 1u);
  ASSERT_EQ(second->results.size(), 1u);
  EXPECT_EQ(first->results[0].second, ChangeResult::Succeeded);
  EXPECT_EQ(second->results[0].second, ChangeResult::Succeeded);
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Added, 40, false}}));
  EXPECT_EQ(map->pendingAdds(), 0u);
}

TEST_F(EditTest, NotificationBeforeTheAddReplyIsAppliedAfterIt) {
  auto map = makeMap();
  nv::message sub = openWith(*map, {element(1, "old")});
  auto item = fresh("mine");
  map->commit(item.get());
  // The router announces the new object (with a field it filled in) before it answers.
  notify(sub, withObjects({element(7, "mine", 99), element(8, "someone else's", 0)}));
  EXPECT_EQ(map->ids(), U32s{1});
  nv::message reply;
  reply.set(STD_ID, 7u);
  answer(last(CMD_ADDOBJ), reply);
  EXPECT_EQ(map->ids(), (U32s{1, 7, 8})); // 8 was held too and applied once no add was left
  EXPECT_EQ(map->find(7), item.get());    // never created twice
  EXPECT_EQ(item->rec().value, 99u);
  EXPECT_EQ(items.made, 2u); // "old" and "someone else's"
  EXPECT_EQ(log->count(MapEventKind::Added), 2u);
}

// Ordered maps keep the router's order: objects another client added before ours, held while our
// add was out, stand before ours; those notified after our own notification stand after it.
TEST_F(EditTest, HeldObjectsKeepTheRoutersOrderAroundTheAddedOne) {
  struct Case {
    std::vector<uint32_t> notified; // ids in the notifications before the reply
    U32s order;
  };
  const Case cases[] = {
      {{8}, {1, 8, 9}},
      {{8, 9}, {1, 8, 9}},
      {{9, 8}, {1, 9, 8}},
      {{7, 9, 8}, {1, 7, 9, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.notified));
    auto map = makeMap(true);
    nv::message sub = openWith(*map, {element(1, "old")});
    auto item = fresh("mine");
    map->commit(item.get());
    for (uint32_t id : c.notified)
      notify(sub, withObjects({element(id, id == 9 ? "mine" : "someone else's")}));
    nv::message reply;
    reply.set(STD_ID, 9u);
    answer(last(CMD_ADDOBJ), reply);
    EXPECT_EQ(map->ids(), c.order);
    EXPECT_EQ(map->find(9), item.get());
  }
}

TEST_F(EditTest, ObjectKnownByNotificationIsReplacedByTheAddedOne) {
  auto map = makeMap();
  nv::message sub = openWith(*map, {});
  auto item = fresh("mine");
  map->commit(item.get());
  nv::message reply;
  reply.set(STD_ID, 5u);
  // Another path made the router's copy known first (no add outstanding at that moment is not
  // needed: insert it directly through a fetch).
  map->refresh();
  answer(last(CMD_GETALL), page({element(5, "copy")}));
  answer(last(CMD_ADDOBJ), reply);
  EXPECT_EQ(map->find(5), item.get());
  EXPECT_EQ(map->size(), 1u);
  EXPECT_EQ(log->count(MapEventKind::Removed), 1u);
}

TEST_F(EditTest, FailedEditsShowTheirTextRefetchAndTellTheListener) {
  struct Case {
    const char* what;
    uint32_t command;
    std::string text;
  };
  const Case cases[] = {
      {"change", CMD_SETOBJ, "Couldn't change b"},
      {"remove", CMD_REMOVEOBJ, "Couldn't remove b"},
      {"move", CMD_MOVEOBJ, "Couldn't move b"},
      {"add", CMD_ADDOBJ, "Couldn't add new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    posted().clear();
    boxes.boxes.clear();
    auto map = makeMap(true);
    openWith(*map, {element(1, "a", 1), element(2, "b", 2)});
    auto done = makeRef<Done>();
    IObject* target = map->find(2);
    auto item = fresh("new");
    if (c.command == CMD_SETOBJ) {
      recOf(target).value = 77; // edited locally, refused by the router
      map->commit(target, done.get());
    } else if (c.command == CMD_REMOVEOBJ) {
      map->remove(target, done.get());
    } else if (c.command == CMD_MOVEOBJ) {
      map->move(target, 1, done.get());
    } else {
      map->commit(item.get(), done.get());
    }
    size_t fetches = countOf(CMD_GETALL);
    answerError(last(c.command), ERROR_NOTALLOWED, "not permitted by policy");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].rfind(c.text + " - not permitted by policy", 0), 0u) << boxes.boxes[0];
    ASSERT_EQ(done->results.size(), 1u);
    EXPECT_EQ(done->results[0].second, ChangeResult::Failed);
    ASSERT_EQ(countOf(CMD_GETALL), fetches + 1);
    // The refetch brings back the router's state.
    answer(last(CMD_GETALL), page({element(1, "a", 1), element(2, "b", 2)}));
    EXPECT_EQ(map->ids(), (U32s{1, 2}));
    EXPECT_EQ(recOf(map->find(2)).value, 2u);
    EXPECT_EQ(map->pendingAdds(), 0u);
  }
}

TEST_F(EditTest, ChangeSendsIdAndFieldsAndAnnounces) {
  auto map = makeMap();
  openWith(*map, {element(3, "x", 1)});
  IObject* x = map->find(3);
  recOf(x).value = 5;
  auto done = makeRef<Done>();
  map->commit(x, done.get());
  nv::message set = last(CMD_SETOBJ);
  EXPECT_EQ(set.get(STD_ID), 3u);
  EXPECT_EQ(set.get(KEY_VALUE), 5u);
  EXPECT_EQ(set.get(SYS_TO), (U32s{24, 1}));
  answer(set);
  EXPECT_EQ(done->results.at(0).second, ChangeResult::Succeeded);
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Changed, 3, false}}));
}

TEST_F(EditTest, RemoveKeepsTheCountInStepAndUnknownIdIsSilent) {
  auto map = makeMap();
  nv::message sub = openWith(*map, {});
  nv::message counted = withObjects({element(1, "a"), element(2, "b")});
  counted.set(nv::u32_id(STD_OBJ_COUNT), 2u);
  notify(sub, counted);
  Reference<IObject> a(map->find(1));
  map->remove(a.get());
  EXPECT_EQ(last(CMD_REMOVEOBJ).get(STD_ID), 1u);
  answer(last(CMD_REMOVEOBJ));
  EXPECT_EQ(map->objectCount(), 1u);
  EXPECT_FALSE(a->hasID());
  EXPECT_EQ(map->ids(), U32s{2});

  size_t fetches = countOf(CMD_GETALL);
  auto done = makeRef<Done>();
  map->remove(map->find(2), done.get());
  answerError(last(CMD_REMOVEOBJ), ERROR_UNKNOWNID);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(countOf(CMD_GETALL), fetches);
  EXPECT_EQ(map->size(), 0u);
  EXPECT_EQ(done->results.at(0).second, ChangeResult::Succeeded);
}

TEST_F(EditTest, MovePlacesBeforeTheTargetOrAtTheEnd) {
  auto map = makeMap(true);
  openWith(*map, {element(1, "a"), element(2, "b"), element(3, "c")});
  map->move(map->find(3), 1);
  EXPECT_EQ(last(CMD_MOVEOBJ).get(STD_NEXTID), 1u);
  answer(last(CMD_MOVEOBJ));
  EXPECT_EQ(map->ids(), (U32s{3, 1, 2}));
  map->move(map->find(3), kNoId);
  EXPECT_FALSE(last(CMD_MOVEOBJ).has(STD_NEXTID));
  answer(last(CMD_MOVEOBJ));
  EXPECT_EQ(map->ids(), (U32s{1, 2, 3}));
  EXPECT_EQ(log->count(MapEventKind::Moved), 2u);
}

TEST_F(EditTest, OperationsThatDoNotExistSendNothing) {
  ObjectMapOptions o; // neither add nor remove nor move
  auto map = makeRef<ObjectMap>(items.factory, Path{24, 1}, o);
  map->refresh();
  answer(last(CMD_GETALL), page({element(1, "a")}));
  auto done = makeRef<Done>();
  auto item = fresh("n");
  map->commit(item.get(), done.get());
  map->remove(map->find(1), done.get());
  map->move(map->find(1), kNoId, done.get());
  EXPECT_EQ(countOf(CMD_ADDOBJ) + countOf(CMD_REMOVEOBJ) + countOf(CMD_MOVEOBJ), 0u);
  ASSERT_EQ(done->results.size(), 3u);
  for (auto& r : done->results)
    EXPECT_EQ(r.second, ChangeResult::Failed);
}

TEST_F(EditTest, RefetchUpdatesOrRemovesTheObject) {
  auto map = makeMap();
  openWith(*map, {element(1, "a", 1), element(2, "b", 2)});
  map->refetch(map->find(1), 0x100);
  nv::message get = last(CMD_GETOBJ);
  EXPECT_EQ(get.get(STD_ID), 1u);
  EXPECT_EQ(get.get(STD_FILTER), 0x100u | kDefaultFilterMask);
  answer(get, element(1, "a2", 3));
  EXPECT_EQ(recOf(map->find(1)).name, "a2");
  map->refetch(map->find(2));
  answerError(last(CMD_GETOBJ), ERROR_UNKNOWNID);
  EXPECT_EQ(map->ids(), U32s{1});
  map->refetch(map->find(1));
  answerError(last(CMD_GETOBJ), ERROR_FAILED); // other errors change nothing
  EXPECT_EQ(map->ids(), U32s{1});
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(EditTest, MapGoingAwayWithRequestsOutIsSafe) {
  auto map = makeMap();
  nv::message sub = openWith(*map, {element(1, "a")});
  auto done = makeRef<Done>();
  auto item = fresh("n");
  map->commit(item.get(), done.get());
  map->refresh();
  nv::message add = last(CMD_ADDOBJ), fetch = last(CMD_GETALL);
  map = nullptr;
  EXPECT_EQ(countOf(CMD_UNSUBSCRIBE), 1u);
  ASSERT_EQ(done->results.size(), 1u); // the pending add is told it failed
  EXPECT_EQ(done->results[0].second, ChangeResult::Failed);
  answer(add);
  answer(fetch, page({element(2, "b")}));
  notify(sub, withObjects({element(3, "c")}));
  SUCCEED();
}

// A running fetch places each object after the one it placed last. When that one goes away
// between two pages (a death notice, the map's own remove), the next page goes on after the
// object before it, not at the front.
TEST_F(EditTest, FetchGoesOnInOrderWhenItsLastPlacedObjectIsRemoved) {
  for (bool byNotice : {true, false}) {
    SCOPED_TRACE(byNotice ? "death notice" : "own remove");
    posted().clear();
    auto map = makeMap(true);
    nv::message sub = openWith(*map, {element(1, "a"), element(2, "b"), element(3, "c")});
    map->refresh();
    nv::message first = page({element(1, "a"), element(2, "b")}, 3);
    first.set(nv::u32_id(STD_GETALL_COOKIE), 2u);
    answer(last(CMD_GETALL), first);
    nv::message second = last(CMD_GETALL);
    if (byNotice) {
      nv::message death;
      death.set(STD_ID, 2u);
      death.set(nv::u32_id(STD_DEAD), 1u);
      notify(sub, withObjects({death}));
    } else {
      map->remove(map->find(2));
      answer(last(CMD_REMOVEOBJ));
    }
    answer(second, page({element(3, "c"), element(4, "d")}));
    EXPECT_EQ(map->fetchState(), FetchState::Complete);
    EXPECT_EQ(map->ids(), (U32s{1, 3, 4}));
  }
}

// The add's reply comes after a page brought the new object: the map's own object takes its
// place in the router's order.
TEST_F(EditTest, AddReplyAfterAPageKeepsTheNewObjectWhereThePageSetIt) {
  auto map = makeMap(true);
  openWith(*map, {element(1, "a"), element(2, "b")});
  auto item = fresh("new");
  map->commit(item.get());
  nv::message add = last(CMD_ADDOBJ);
  map->refresh();
  answer(last(CMD_GETALL), page({element(1, "a"), element(7, "new"), element(2, "b")}));
  nv::message reply;
  reply.set(STD_ID, 7u);
  answer(add, reply);
  EXPECT_EQ(map->find(7), item.get());
  EXPECT_EQ(map->ids(), (U32s{1, 7, 2}));
}

} // namespace
} // namespace kestel::test
