// Maps built from descriptors, "object" predicates against live maps and the computed
// enumerations filled from live maps, queries and the slots of an object.
#include "MapTestSupport.h"

#include "api/container/LiveSources.h"
#include "gen/CType.h"
#include "gen/Enumerations.h"
#include "gen/ModelContext.h"
#include "gen/Service.h"

namespace kestel::test {
namespace {

using U32s = std::vector<uint32_t>;
constexpr nv::string_id F_NAME{1};
constexpr nv::u32_id F_KIND{2};
constexpr nv::u32_array_id F_VALS{3};

// Holds when the u32 field at hand equals n.
class NumberIs final : public Predicate {
public:
  explicit NumberIs(uint32_t n) : n_(n) {}
  bool evaluate(const FieldRef& f) const override {
    return f.type == memberTypeOf<uint32_t>() && *static_cast<const uint32_t*>(f.value) == n_;
  }
  const member_type* reads() const override { return memberTypeOf<uint32_t>(); }

private:
  uint32_t n_;
};

struct EnumLog final : IEnumListener {
  void enumChanged(const IEnumEvent& e) override {
    seen.emplace_back(e.type(), e.value(), e.flag());
  }
  std::vector<std::tuple<IEnumEvent::EventType, unsigned, bool>> seen;
};

EnumPairs entriesOf(const IEnum& e) {
  EnumPairs out;
  for (size_t i = 0; i < e.count(); ++i)
    out.emplace_back(e.valueAt(i), e.nameAt(i));
  return out;
}

nv::message routeElement(uint32_t id, const std::string& name, uint32_t kind) {
  nv::message m;
  m.set(STD_ID, id);
  m.set(F_NAME, name);
  m.set(F_KIND, kind);
  return m;
}

class LiveTest : public ContainerTest {
protected:
  LiveTest() {
    installLiveSources();
    routes.path(24, 2)
        .add(sstring("name").id(F_NAME))
        .add(snumber("kind").id(F_KIND))
        .add(snumberList("vals").id(F_VALS));
    routes.nameSlot("name");
    routes.removable = true;
    routes.movable = true;
    routes.writePerm = 0x80;
    routes.maxObjsMsg = "Too many routes";
    makeService(nullptr, "Routes", "Routes", 1).add(routes);
    EXPECT_TRUE(completeAllTypes().ok());
  }
  // The live map of the descriptor, opened; returns its subscribe request.
  nv::message openLive() {
    live = createContainer(routes);
    live->open();
    answer(last(CMD_GETALL)); // defaults (the map is addable)
    answer(last(CMD_GETPOLICIES));
    return last(CMD_SUBSCRIBE);
  }
  CMap& routes = cmap("Routes");
  Reference<ObjectMap> live;
};

TEST_F(LiveTest, DescriptorMapIsBuiltWithItsSettingsAndMakesDescriptorObjects) {
  setUserPolicy(0x40 | 0x80);
  nv::message sub = openLive();
  ASSERT_TRUE(live);
  EXPECT_EQ(getObjectMap(Path{24, 2}), live.get());
  EXPECT_EQ(live->path(), (U32s{24, 2}));
  EXPECT_TRUE(live->ordered());
  EXPECT_TRUE(live->commands().exists(Op::Add));
  EXPECT_TRUE(live->commands().exists(Op::Remove));
  EXPECT_TRUE(live->commands().exists(Op::Move));
  EXPECT_TRUE(live->commands().permitted(Op::Change));
  notify(sub, withObjects({routeElement(5, "default", 3)}));
  IObject* o = live->find(5);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->getCType(), &routes);
  EXPECT_EQ(o->getName(), "default");
  live->refresh();
  answerError(last(CMD_GETALL), ERROR_TOOMUCH);
  EXPECT_EQ(live->statusText(), "Too many routes");

  CMap& plain = cmap("Unfinished"); // never completed: no live map
  plain.path(24, 9);
  EXPECT_FALSE(createContainer(plain));
}

TEST_F(LiveTest, DescriptorRefreshSettingsDriveTheTimer) {
  routes.autoRefresh = 2000;
  live = createContainer(routes);
  live->open();
  EXPECT_EQ(countOf(CMD_SUBSCRIBE), 0u);
  nv::message fetch = last(CMD_GETALL);
  EXPECT_EQ(fetch.get(STD_FILTER), kDefaultFilterMask);
  answer(fetch, page({routeElement(1, "a", 1)}));
  clock().advance(2000);
  EXPECT_EQ(sentWith(CMD_GETALL).back().get(STD_FILTER), kDefaultFilterMask);
  EXPECT_GT(countOf(CMD_GETALL), 2u); // defaults, first fetch, timer fetch
}

TEST_F(LiveTest, ObjectPredicateLooksTheObjectUpInTheLiveMap) {
  nv::message sub = openLive();
  notify(sub, withObjects({routeElement(5, "a", 3), routeElement(6, "b", 4)}));
  const unsigned p[] = {24, 2, 0xFFFFFFFF};
  PredicatePtr kindThree = pobject(p, pslot("kind", std::make_unique<NumberIs>(3)));
  uint32_t five = 5, six = 6, seven = 7;
  EXPECT_TRUE(kindThree->evaluate(fieldRef(five)));
  EXPECT_FALSE(kindThree->evaluate(fieldRef(six)));
  EXPECT_FALSE(kindThree->evaluate(fieldRef(seven))); // no such object
  nv::message death;
  death.set(STD_ID, 5u);
  death.set(nv::u32_id(STD_DEAD), 1u);
  notify(sub, withObjects({death}));
  EXPECT_FALSE(kindThree->evaluate(fieldRef(five)));
}

TEST_F(LiveTest, DynamicEnumFollowsTheMapAndFiresEvents) {
  nv::message sub = openLive();
  notify(sub, withObjects({routeElement(1, "a", 1)}));
  mapfilter filter{path(24, 2), std::make_shared<NumberIs>(0)};
  // The filter reads the object at hand through a slot.
  filter.pred = std::shared_ptr<Predicate>(pslot("kind", std::make_unique<NumberIs>(1)).release());
  EnumRef e = cenum(filter);
  auto* computed = static_cast<ComputedEnum*>(e.get());
  EnumLog log;
  computed->addListener(&log);
  ASSERT_TRUE(computed->start());
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{1, "a"}}));
  log.seen.clear();
  notify(sub, withObjects({routeElement(2, "b", 1), routeElement(3, "hidden", 2)}));
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{1, "a"}, {2, "b"}}));
  notify(sub, withObjects({routeElement(1, "a2", 1)}));
  notify(sub, withObjects({routeElement(2, "b", 2)})); // the filter stops holding
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{1, "a2"}}));
  using T = IEnumEvent::EventType;
  // The flag marks the map's end of batch: object 3 (filtered out) came after 2.
  EXPECT_EQ(log.seen, (decltype(log.seen){
                          {T::Added, 2, false}, {T::Renamed, 1, true}, {T::Removed, 2, true}}));
  computed->stop();
  notify(sub, withObjects({routeElement(9, "late", 1)}));
  EXPECT_EQ(e->count(), 1u);
  computed->removeListener(&log);
}

TEST_F(LiveTest, EnumOverAPathWithoutMapWaitsForOne) {
  std::vector<unsigned> p = path(24, 2);
  EnumRef e = cenum(p.data());
  auto* computed = static_cast<ComputedEnum*>(e.get());
  ASSERT_TRUE(computed->start());
  EXPECT_EQ(e->count(), 0u);
  nv::message sub = openLive(); // registers the map; the enumeration binds and opens it
  notify(sub, withObjects({routeElement(4, "d", 0)}));
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{4, "d"}}));
}

TEST_F(LiveTest, RemapNamesObjectsThroughTheInnerEnumeration) {
  static const MapEntry kinds[] = {{1, "static"}, {3, "dynamic"}, {0, nullptr}};
  nv::message sub = openLive();
  notify(sub, withObjects({routeElement(1, "a", 3), routeElement(2, "b", 7)}));
  EnumRef e = cenum(remapenum{path(24, 2), createEnum(kinds), "kind"});
  ASSERT_TRUE(static_cast<ComputedEnum*>(e.get())->start());
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{1, "dynamic"}, {2, "b"}}));
}

TEST_F(LiveTest, QueryEnumAsksOnceAndReadsBothValueArrays) {
  EnumRef e = cenum(queryenum{path(24, 3), 0x10, {}, 0x5, 0x6});
  auto* computed = static_cast<ComputedEnum*>(e.get());
  ASSERT_TRUE(computed->start());
  nv::message q = last(0x10);
  EXPECT_EQ(q.get(SYS_TO), (U32s{24, 3}));
  nv::message reply;
  reply.set(nv::u32_array_id(0x5), U32s{10, 20});
  reply.set(nv::u32_array_id(0x6), U32s{30});
  answer(q, reply);
  EXPECT_EQ(entriesOf(*e), (EnumPairs{{10, "10"}, {20, "20"}, {30, "30"}}));

  EnumRef failing = cenum(queryenum{path(24, 3), 0x11, {}, 0x5, 0});
  static_cast<ComputedEnum*>(failing.get())->start();
  EnumRef gone = cenum(queryenum{path(24, 3), 0x12, {}, 0x5, 0});
  static_cast<ComputedEnum*>(gone.get())->start();
  nv::message goneRequest = last(0x12);
  gone = nullptr; // the enumeration goes before the reply
  answerError(last(0x11), ERROR_FAILED);
  answer(goneRequest, reply);
  EXPECT_EQ(failing->count(), 0u);
}

TEST_F(LiveTest, QueryEnumSendsItsParametersInOrder) {
  auto number = [](std::string key, uint64_t n) {
    return JSValue{std::move(key), JSNodeKind::Number, n, {}, {}};
  };
  auto text = [](const char* key, const char* t) {
    return JSValue{key, JSNodeKind::String, 0, t, {}};
  };
  auto node = [](std::vector<JSValue> members) {
    return JSValue{{}, JSNodeKind::Object, 0, {}, std::move(members)};
  };
  JSValue list{"v", JSNodeKind::Array, 0, {}, {number({}, 4), number({}, 5)}};
  std::vector<JSValue> params = {
      node({number("k", 1)}),                         // a flag
      node({number("k", 2), number("v", 7)}),         // a u32
      node({text("k", "0x10"), text("v", "eth1")}),   // a string, its key written in hex
      node({number("k", 3), list}),                   // a u32 list
      node({number("v", 9)}),                         // no key: nothing
      node({number("k", 0x1000000), number("v", 1)}), // no such key: nothing
      node({number("k", 2), number("v", 8)}),         // added later: replaces the first
  };
  EnumRef e = cenum(queryenum{path(24, 3), 0x10, params, 0x5, 0});
  ASSERT_TRUE(static_cast<ComputedEnum*>(e.get())->start());
  nv::message q = last(0x10);
  EXPECT_TRUE(q.get(nv::bool_id(1)));
  EXPECT_EQ(q.get(nv::u32_id(2)), 8u);
  EXPECT_EQ(q.get(nv::string_id(0x10)), "eth1");
  EXPECT_EQ(q.get(nv::u32_array_id(3)), (U32s{4, 5}));
  EXPECT_FALSE(q.has(nv::u32_id(9)));
}

// A record laid out in code, with the slot lookup a descriptor type would give.
struct ListRecord {
  std::vector<uint32_t> vals;
  std::vector<std::string> names;
  uint32_t kind = 0;
  std::string label;
};

struct ListType final : ISlotLookup {
  bool slotField(std::string_view slot, SlotFieldInfo& out) const override {
    static const ListRecord probe{};
    auto at = [](const void* field) {
      return size_t(static_cast<const std::byte*>(field) -
                    reinterpret_cast<const std::byte*>(&probe));
    };
    if (slot == "vals")
      out = {at(&probe.vals), memberTypeOf<std::vector<uint32_t>>()};
    else if (slot == "names")
      out = {at(&probe.names), memberTypeOf<std::vector<std::string>>()};
    else if (slot == "kind")
      out = {at(&probe.kind), memberTypeOf<uint32_t>()};
    else if (slot == "label")
      out = {at(&probe.label), memberTypeOf<std::string>()};
    else
      return false;
    return true;
  }
};

TEST(ObjectEnumTest, SlotAndOffsetEnumsComeFromTheObjectAtHand) {
  ListRecord rec{{7, 8, 9}, {"seven", "eight"}, 100, "x"};
  ListType type;
  ObjectView view{&type, &rec};

  EnumRef slots = cenum(slotenum{"vals", "names"});
  auto* s = static_cast<ComputedEnum*>(slots.get());
  EXPECT_FALSE(s->start()); // filled from objects, not from a source
  s->bindObject(view);
  EXPECT_EQ(entriesOf(*slots), (EnumPairs{{7, "seven"}, {8, "eight"}, {9, "9"}}));
  EnumLog log;
  s->addListener(&log);
  rec.vals = {9, 7};
  rec.names = {"nine", "seven"};
  s->bindObject(view); // rebinding tells only the differences
  using T = IEnumEvent::EventType;
  EXPECT_EQ(log.seen, (decltype(log.seen){{T::Removed, 8, false}, {T::Renamed, 9, true}}));
  s->removeListener(&log);

  for (const char* wrongSlot : {"label", "missing", ""}) {
    EnumRef wrong = cenum(slotenum{wrongSlot, "names"}); // no values there
    static_cast<ComputedEnum*>(wrong.get())->bindObject(view);
    EXPECT_EQ(wrong->count(), 0u) << wrongSlot;
  }
  EnumRef one = cenum(slotenum{"kind", "missing"}); // a single number, named by its digits
  static_cast<ComputedEnum*>(one.get())->bindObject(view);
  EXPECT_EQ(entriesOf(*one), (EnumPairs{{100, "100"}}));

  static const MapEntry base[] = {{1, "one"}, {2, "two"}, {0, nullptr}};
  EnumRef offset = cenum(offsetenum{"kind", createEnum(base)});
  static_cast<ComputedEnum*>(offset.get())->bindObject(view);
  EXPECT_EQ(entriesOf(*offset), (EnumPairs{{101, "one"}, {102, "two"}}));
}

TEST_F(LiveTest, PairAndWrappersPassStartAndBindingOnToTheirParts) {
  nv::message sub = openLive();
  notify(sub, withObjects({routeElement(1, "a", 1)}));
  std::vector<unsigned> p = path(24, 2);
  EnumRef pair = cenum(cenum(p.data()), cenum(slotenum{"vals", "names"}));
  EnumRef withDefault = cenum(defenum{0, "none", pair});
  withDefault->startSources();
  ListRecord rec{{4}, {"four"}, 0, ""};
  ListType type;
  withDefault->bindObject(ObjectView{&type, &rec});
  auto* both = static_cast<PairEnum*>(pair.get());
  EXPECT_EQ(entriesOf(*both->first()), (EnumPairs{{1, "a"}}));
  EXPECT_EQ(entriesOf(*both->second()), (EnumPairs{{4, "four"}}));
  EXPECT_EQ(entriesOf(*withDefault), (EnumPairs{{0, "none"}, {1, "a"}}));
  notify(sub, withObjects({routeElement(2, "b", 1)}));
  EXPECT_EQ(withDefault->count(), 3u);
}

} // namespace
} // namespace kestel::test
