// Fetching: page end rules, cookies, the union of masks, events per batch, status texts and the
// faults a broken router can produce.
#include "MapTestSupport.h"

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;
constexpr nv::raw_id RAW_COOKIE{STD_GETALL_COOKIE};
constexpr nv::string_id TEXT_COOKIE{STD_GETALL_COOKIE};

class FetchTest : public ContainerTest {
protected:
  Reference<ObjectMap> makeMap(ObjectMapOptions o = {}) {
    auto map = makeRef<ObjectMap>(items.factory, Path{24, 1}, std::move(o));
    map->addListener(log.get());
    return map;
  }
  // Fills the map with `n` objects from id 1 in one complete page, then forgets the events.
  void fill(ObjectMap& map, size_t n) {
    map.refresh();
    answer(last(CMD_GETALL), page(elements(1, n)));
    log->seen.clear();
  }
  ItemFactory items;
  Reference<EventLog> log = makeRef<EventLog>();
};

TEST_F(FetchTest, PagesEndOnlyWithTheLastIdAndNoCookie) {
  struct Case {
    const char* what;
    uint32_t getAllId;
    bool cookie;
    bool ends;
  };
  const Case cases[] = {
      {"0xFFFFFFFF without cookie ends", 0xFFFFFFFF, false, true},
      {"0xFFFFFFFE without cookie ends", 0xFFFFFFFE, false, true},
      {"a position continues", 7, false, false},
      {"0xFFFFFFFF with a cookie continues", 0xFFFFFFFF, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    posted().clear();
    auto map = makeMap();
    fill(*map, 3); // ids 1..3
    map->refresh();
    nv::message reply = page(elements(2, 1), c.getAllId);
    if (c.cookie)
      reply.set(RAW_COOKIE, std::vector<uint8_t>{1, 2, 3});
    answer(last(CMD_GETALL), reply);
    if (c.ends) {
      EXPECT_EQ(map->fetchState(), FetchState::Complete);
      EXPECT_EQ(map->ids(), U32s{2}); // 1 and 3 were in no page
      EXPECT_EQ(log->count(MapEventKind::Removed), 2u);
      EXPECT_EQ(countOf(CMD_GETALL), 2u);
      continue;
    }
    EXPECT_EQ(map->fetchState(), FetchState::Paging);
    EXPECT_EQ(map->size(), 3u); // nothing removed before the last page
    ASSERT_EQ(countOf(CMD_GETALL), 3u);
    nv::message next = last(CMD_GETALL);
    EXPECT_EQ(next.has(STD_GETALLID), c.getAllId < 0xFFFFFFFF);
    if (c.getAllId < 0xFFFFFFFF) {
      EXPECT_EQ(next.get(STD_GETALLID), c.getAllId);
    }
    std::vector<uint8_t> cookie;
    if (c.cookie)
      cookie = {1, 2, 3};
    EXPECT_EQ(next.get(RAW_COOKIE), cookie);
    EXPECT_EQ(next.get(SYS_TO), (U32s{24, 1}));
  }
}

// The looper may be reset (a connection ends) while a map waits for a reply and lives on; its
// waiting request must stay valid until the map lets it go.
TEST_F(FetchTest, AMapOutlivesTheLooperItWaitedOn) {
  auto map = makeMap();
  map->refresh();
  ASSERT_EQ(countOf(CMD_GETALL), 1u);
  resetLooper();
  map = nullptr;
}

TEST_F(FetchTest, CookieWithoutIdIsSentBackUnchangedWhateverItsKind) {
  auto map = makeMap();
  map->refresh(0x30);
  nv::message reply = page(elements(1, 2));
  reply.remove(STD_GETALLID);
  reply.set(TEXT_COOKIE, "resume-here");
  answer(last(CMD_GETALL), reply);
  nv::message next = last(CMD_GETALL);
  EXPECT_FALSE(next.has(STD_GETALLID));
  EXPECT_EQ(next.get(TEXT_COOKIE), "resume-here");
  EXPECT_EQ(next.get(STD_FILTER), 0x30u); // the remembered mask
  answer(next, page(elements(3, 1)));
  EXPECT_EQ(map->ids(), (U32s{1, 2, 3}));
  EXPECT_EQ(map->fetchState(), FetchState::Complete);
}

TEST_F(FetchTest, SecondRefreshCancelsTheFirstAndFetchesWithTheUnionOfMasks) {
  auto map = makeMap();
  map->refresh(0x10);
  nv::message first = last(CMD_GETALL);
  map->refresh(0x02);
  nv::message second = last(CMD_GETALL);
  EXPECT_EQ(first.get(STD_FILTER), 0x10u);
  EXPECT_EQ(second.get(STD_FILTER), 0x12u);
  answer(first, page(elements(1, 1))); // the cancelled request's reply is ignored
  EXPECT_EQ(map->size(), 0u);
  answer(second, page(elements(5, 1)));
  EXPECT_EQ(map->ids(), U32s{5});
  map->refresh(); // idle again: the default mask alone
  EXPECT_EQ(last(CMD_GETALL).get(STD_FILTER), kDefaultFilterMask);
}

TEST_F(FetchTest, UpToFortyNineObjectsAreAnnouncedOneByOneThenOneReset) {
  auto map = makeMap();
  map->refresh();
  answer(last(CMD_GETALL), page(elements(1, 49), 100));
  ASSERT_EQ(log->seen.size(), 49u);
  EXPECT_EQ(log->seen.front(), (Seen{MapEventKind::Added, 1, true}));
  EXPECT_EQ(log->seen.back(), (Seen{MapEventKind::Added, 49, false}));
  log->seen.clear();
  answer(last(CMD_GETALL), page(elements(50, 1))); // the 50th object of this fetch
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Reset, kNoId, false}}));

  log->seen.clear();
  map->refresh(); // a fetch of 50 unchanged objects: one reset, no changed events
  answer(last(CMD_GETALL), page(elements(1, 50)));
  EXPECT_EQ(log->seen, (std::vector<Seen>{{MapEventKind::Reset, kNoId, false}}));
  EXPECT_EQ(map->size(), 50u);
}

TEST_F(FetchTest, OrderedMapKeepsTheRouterOrderAcrossPages) {
  ObjectMapOptions o;
  o.ordered = true;
  auto map = makeMap(o);
  map->refresh();
  answer(last(CMD_GETALL), page({element(9, "a"), element(3, "b")}, 1));
  answer(last(CMD_GETALL), page({element(7, "c")}));
  EXPECT_EQ(map->ids(), (U32s{9, 3, 7}));
  map->refresh(); // the router reordered
  answer(last(CMD_GETALL), page({element(7, "c"), element(9, "a"), element(3, "b")}));
  EXPECT_EQ(map->ids(), (U32s{7, 9, 3}));
}

TEST_F(FetchTest, ErrorRepliesEmptyTheMapAndShowTheStatusText) {
  struct Case {
    uint32_t code;
    std::string text;
    std::string status;
  };
  ObjectMapOptions o;
  o.tooMuchText = "Too many routes to show";
  const Case cases[] = {
      {ERROR_FAILED, "disk full", "ERROR: disk full"},
      {ERROR_NOTALLOWED, "", "ERROR: " + getErrorDescription(ERROR_NOTALLOWED, "")},
      {ERROR_TOOMUCH, "ignored", "Too many routes to show"},
  };
  for (const Case& c : cases) {
    auto map = makeMap(o);
    fill(*map, 3);
    Reference<IObject> first(map->find(1));
    map->refresh();
    answerError(last(CMD_GETALL), c.code, c.text);
    EXPECT_EQ(map->statusText(), c.status);
    EXPECT_EQ(map->size(), 0u);
    EXPECT_FALSE(first->hasID()); // the owner let it go
    EXPECT_EQ(log->seen.back().kind, MapEventKind::Reset);
    map->refresh(); // a later good fetch heals the map
    answer(last(CMD_GETALL), page(elements(1, 1)));
    EXPECT_EQ(map->statusText(), "");
    EXPECT_EQ(map->size(), 1u);
  }
}

TEST_F(FetchTest, NoticeAndCountAreStored) {
  auto map = makeMap();
  map->refresh();
  nv::message reply = page(elements(1, 2));
  reply.set(KEY_MAP_NOTICE, "showing the first 2");
  reply.set(nv::u32_id(STD_OBJ_COUNT), 5000u);
  answer(last(CMD_GETALL), reply);
  EXPECT_EQ(map->notice(), "showing the first 2");
  EXPECT_EQ(map->objectCount(), 5000u);
  EXPECT_EQ(log->seen.back().kind, MapEventKind::Reset); // listeners told of the notice
  map->refresh();
  answer(last(CMD_GETALL), page(elements(1, 2)));
  EXPECT_EQ(map->objectCount(), kNoId);
}

TEST_F(FetchTest, LoopingCookieIsDetectedAndEndsTheFetch) {
  auto map = makeMap();
  map->refresh();
  nv::message reply = page(elements(1, 2), 4);
  reply.set(RAW_COOKIE, std::vector<uint8_t>{9});
  answer(last(CMD_GETALL), reply);
  nv::message other = page(elements(3, 1), 4);
  other.set(RAW_COOKIE, std::vector<uint8_t>{10});
  answer(last(CMD_GETALL), other);
  answer(last(CMD_GETALL), reply); // back to the first position: a loop
  EXPECT_EQ(map->statusText(), kPageLoopText);
  EXPECT_EQ(map->size(), 0u);
  EXPECT_EQ(map->fetchState(), FetchState::Idle);
  EXPECT_EQ(countOf(CMD_GETALL), 3u);
  EXPECT_EQ(map->pendingAdds(), 0u);
}

TEST_F(FetchTest, EmptyPagesThatNeverEndAreCutOff) {
  auto map = makeMap();
  map->refresh();
  for (uint32_t i = 0; i < 100 && map->statusText().empty(); ++i) {
    nv::message reply = page({}, i); // a fresh position every time, never an object
    answer(last(CMD_GETALL), reply);
  }
  EXPECT_EQ(map->statusText(), kEndlessPagesText);
  EXPECT_LT(countOf(CMD_GETALL), 20u);

  // Pages that only repeat objects of this fetch under ever new cookies make no progress either.
  map->refresh();
  for (uint32_t i = 0; i < 100 && map->fetchState() != FetchState::Idle; ++i) {
    nv::message reply = page(elements(1, 3), 1);
    reply.set(RAW_COOKIE, std::vector<uint8_t>{uint8_t(i), uint8_t(i >> 8)});
    answer(last(CMD_GETALL), reply);
  }
  EXPECT_EQ(map->statusText(), kEndlessPagesText);
  EXPECT_LT(countOf(CMD_GETALL), 40u);
}

TEST_F(FetchTest, UnknownIdAnswersRestartTheFetchOnlyAFewTimes) {
  auto map = makeMap();
  map->refresh(0x8);
  for (int i = 0; i < 10 && map->fetchState() != FetchState::Idle; ++i)
    answerError(last(CMD_GETALL), ERROR_UNKNOWNID);
  EXPECT_EQ(countOf(CMD_GETALL), 4u); // the first and three restarts
  EXPECT_EQ(sentWith(CMD_GETALL)[1].get(STD_FILTER), 0x8u);
  EXPECT_EQ(map->statusText(), "ERROR: " + getErrorDescription(ERROR_UNKNOWNID, ""));
}

TEST_F(FetchTest, MalformedElementsAreSkippedWithoutGrowth) {
  auto map = makeMap();
  map->refresh();
  nv::message wrongId = element(1, "x");
  wrongId.remove(STD_ID);
  wrongId.set(nv::string_id(STD_ID.key), "1"); // an id of the wrong kind
  nv::message reserved = element(0xFFFFFFFE, "r");
  std::vector<nv::message> objs{wrongId, reserved, element(4, "a"), element(4, "b"),
                                element(4, "c")};
  nv::message reply = page(objs);
  reply.set(nv::u32_id(STD_OBJ_COUNT), 0xFFFFFFF0u); // a huge count allocates nothing
  answer(last(CMD_GETALL), reply);
  EXPECT_EQ(map->ids(), U32s{4});
  EXPECT_EQ(recOf(map->find(4)).name, "c");
  EXPECT_EQ(items.made, 1u);

  map->refresh();
  nv::message badObjs;
  badObjs.set(nv::u32_id(STD_OBJS.key), 5u); // STD_OBJS of the wrong kind: no objects
  badObjs.set(STD_GETALLID, kNoId);
  answer(last(CMD_GETALL), badObjs);
  EXPECT_EQ(map->size(), 0u);
  EXPECT_EQ(map->statusText(), "");
}

TEST_F(FetchTest, ListenerRemovedDuringDispatchHearsNothingMore) {
  auto map = makeMap();
  auto quitter = makeRef<EventLog>();
  map->addListener(quitter.get());
  quitter->onEvent = [&](const MapEvent&) { map->removeListener(quitter.get()); };
  map->refresh();
  answer(last(CMD_GETALL), page(elements(1, 5)));
  EXPECT_EQ(quitter->seen.size(), 1u);
  EXPECT_EQ(log->seen.size(), 5u);
}

TEST_F(FetchTest, ObjectListenerHearsOnlyItsObject) {
  auto map = makeMap();
  fill(*map, 3);
  auto mine = makeRef<EventLog>();
  map->addListener(mine.get(), map->find(2));
  map->refresh();
  answer(last(CMD_GETALL), page(elements(1, 3)));
  EXPECT_EQ(mine->seen, (std::vector<Seen>{{MapEventKind::Changed, 2, true}}));
}

TEST_F(FetchTest, ObjectNotifiedDuringAFetchIsNotRemovedAsStale) {
  ObjectMapOptions o;
  o.ordered = true;
  auto map = makeMap(o);
  map->open();
  nv::message sub = last(CMD_SUBSCRIBE);
  notify(sub, withObjects({element(1, "a"), element(2, "b"), element(5, "e")}));
  map->refresh();
  nv::message first = page({element(1, "a"), element(2, "b")});
  first.set(RAW_COOKIE, std::vector<uint8_t>{2});
  answer(last(CMD_GETALL), first);
  // The router moves 5 to the front (into the part already read) and says so.
  nv::message moved = element(5, "e");
  moved.set(STD_NEXTID, 1u);
  notify(sub, withObjects({moved}));
  answer(last(CMD_GETALL), page({}));
  EXPECT_EQ(map->ids(), (U32s{5, 1, 2}));
}

} // namespace
} // namespace kestel::test
