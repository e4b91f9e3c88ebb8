#include "gen/Enumerations.h"

#include "gen/JSParser.h"
#include "gen/RouterFacts.h"
#include "support/ModelFixture.h"
#include "util/Log.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

using Pairs = std::vector<std::pair<uint32_t, std::string>>;

class EnumerationsTest : public test::ModelFixture {};

Pairs entries(const IEnum& e) {
  Pairs out;
  for (size_t i = 0; i < e.count(); ++i)
    out.emplace_back(e.valueAt(i), e.nameAt(i));
  return out;
}

Expected<EnumRef> read(std::string_view text) {
  JSParser p;
  const JSNode* n = parseDocument(p, text);
  EXPECT_NE(n, nullptr) << text;
  return createEnum(*n);
}

TEST(Enumerations, StaticTables) {
  struct Case {
    const char* text;
    Pairs expect;
  };
  const Case cases[] = {
      {"{type:'static',map:['a','','c']}", {{0, "a"}, {2, "c"}}},
      {"{type:'static',map:{'1':'one','5':'five'}}", {{1, "one"}, {5, "five"}}},
      {"{type:'static',map:{'10':'ten','0x10':'hex','7':'','012':'twelve'}}",
       {{10, "ten"}, {0, "hex"}, {12, "twelve"}}},
      {"{type:'static',map:[]}", {}},
  };
  for (const Case& c : cases) {
    Expected<EnumRef> e = read(c.text);
    ASSERT_TRUE(e.ok()) << c.text;
    EXPECT_EQ(entries(*e.value()), c.expect) << c.text;
  }
  EnumRef e = read("{type:'static',map:['a','','c']}").value();
  std::string name = "keep";
  EXPECT_FALSE(e->nameOf(1, name));
  EXPECT_EQ(name, "keep");
  EXPECT_TRUE(e->nameOf(2, name));
  EXPECT_EQ(name, "c");
  unsigned v = 99;
  EXPECT_TRUE(string2enum("c", e.get(), &v));
  EXPECT_EQ(v, 2u);
  EXPECT_FALSE(string2enum("", e.get(), &v));
  EXPECT_FALSE(string2enum("C", e.get(), &v));
  EXPECT_EQ(v, 2u);
}

TEST(Enumerations, DescriptorErrors) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"{map:['a']}", "node without type"},
      {"{type:3}", "node without type"},
      {"'static'", "node without type"},
      {"{type:'stat'}", "unknown enum stat"},
      {"{type:'static'}", "bad static map"},
      {"{type:'static',map:'a'}", "bad static map"},
      {"{type:'static',map:{'1':2}}", "bad static map"},
      {"{type:'static',map:['a',1]}", "bad static map"},
      {"{type:'defenum',defid:0,defname:'none'}", "node without type"},
      {"{type:'defenum',values:{type:'nope'}}", "unknown enum nope"},
      {"{type:'pair',c:[{type:'static',map:[]}]}", "node without type"},
      {"{type:'dynamic',path:[1],pred:{type:'x'}}", "unknown pred type x"},
      {"{type:'enumfilter',values:{type:'static',map:[]},filters:[{id:1,pred:{}}]}",
       "unknown pred type "},
  };
  for (const Case& c : cases) {
    CaptureLogSink log;
    Expected<EnumRef> e = read(c.text);
    ASSERT_FALSE(e.ok()) << c.text;
    EXPECT_EQ(e.error().text, c.error) << c.text;
    EXPECT_TRUE(log.contains(c.error)) << c.text;
  }
}

TEST_F(EnumerationsTest, WrapperKinds) {
  EnumRef d = read("{type:'defenum',defid:0xFFFF,defname:'auto',"
                   "values:{type:'static',map:['x','y']}}")
                  .value();
  EXPECT_EQ(entries(*d), (Pairs{{0xFFFF, "auto"}, {0, "x"}, {1, "y"}}));
  unsigned v = 0;
  EXPECT_TRUE(string2enum("auto", d.get(), &v));
  EXPECT_EQ(v, 0xFFFFu);

  RouterFacts f;
  f.hasPassword = false;
  setRouterFacts(f);
  EnumRef filtered = read("{type:'enumfilter',on:'mode',values:{type:'static',map:['a','b','c']},"
                          "filters:[{id:1,pred:{type:'haspwd'}},{pred:{type:'kestel'}},"
                          "{id:2,pred:{type:'kestel'}}]}")
                         .value();
  EXPECT_EQ(entries(*filtered), (Pairs{{0, "a"}, {2, "c"}}));
  EXPECT_FALSE(string2enum("b", filtered.get(), &v));
  f.hasPassword = true;
  setRouterFacts(f);
  EXPECT_EQ(entries(*filtered), (Pairs{{0, "a"}, {1, "b"}, {2, "c"}}));

  EnumRef pair =
      read("{type:'pair',c:[{type:'static',map:['p']},{type:'static',map:['q']}]}").value();
  auto* pe = static_cast<PairEnum*>(pair.get());
  EXPECT_EQ(entries(*pe->first()), (Pairs{{0, "p"}}));
  EXPECT_EQ(entries(*pe->second()), (Pairs{{0, "q"}}));
}

TEST(Enumerations, ComputedKindsKeepTheirConfiguration) {
  EnumRef dyn = read("{type:'dynamic',path:[1,2,3,4,5],pred:{type:'kestel'}}").value();
  auto* d = static_cast<ComputedEnum*>(dyn.get());
  EXPECT_EQ(d->kind(), ComputedEnum::Kind::Dynamic);
  EXPECT_EQ(d->path, (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_TRUE(d->pred);
  EnumRef q = read("{type:'queryenum',path:[7],cmd:0x10,params:[{id:'u1',value:3},'x'],"
                   "valuesid:'U1f',bvaluesid:'Uzz'}")
                  .value();
  auto* qe = static_cast<ComputedEnum*>(q.get());
  EXPECT_EQ(qe->command, 16u);
  ASSERT_EQ(qe->params.size(), 2u);
  EXPECT_EQ(qe->params[0].children[1].number, 3u);
  EXPECT_EQ(qe->params[1].text, "x");
  EXPECT_EQ(qe->valuesField, 0x1Fu);
  EXPECT_EQ(qe->secondValuesField, 0u);
  EnumRef r =
      read("{type:'remapenum',path:[3],master:'m',values:{type:'static',map:['a']}}").value();
  EXPECT_EQ(static_cast<ComputedEnum*>(r.get())->master, "m");
  EnumRef s = read("{type:'slotenum',values:'ids',names:'labels'}").value();
  EXPECT_EQ(static_cast<ComputedEnum*>(s.get())->namesSlot, "labels");
  EnumRef o = read("{type:'offsetenum',slot:'base',values:{type:'static',map:['a']}}").value();
  EXPECT_EQ(static_cast<ComputedEnum*>(o.get())->kind(), ComputedEnum::Kind::Offset);
}

// Filters read the bound object's fields through "slot" predicates.
struct ModeType : ISlotLookup {
  bool slotField(std::string_view slot, SlotFieldInfo& out) const override {
    out = {0, memberTypeOf<uint32_t>()};
    return slot == "mode";
  }
};

TEST(Enumerations, FiltersFollowTheBoundObject) {
  EnumRef e =
      read("{type:'enumfilter',on:'mode',values:{type:'static',map:['a','b','c']},"
           "filters:[{id:2,pred:{type:'slot',slot:'mode',pred:{type:'number',value:[1]}}}]}")
          .value();
  auto* f = static_cast<FilterEnum*>(e.get());
  ModeType type;
  uint32_t mode = 0;
  f->bind({&type, &mode});
  EXPECT_EQ(entries(*f), (Pairs{{0, "a"}, {1, "b"}}));
  std::string name;
  EXPECT_FALSE(f->nameOf(2, name));
  mode = 1;
  EXPECT_EQ(entries(*f), (Pairs{{0, "a"}, {1, "b"}, {2, "c"}}));
  EXPECT_TRUE(f->nameOf(2, name));
  EXPECT_EQ(name, "c");
}

struct Recorder : IEnumListener {
  void enumChanged(const IEnumEvent& e) override {
    seen.push_back(std::to_string(e.type()) + ":" + std::to_string(e.value()) +
                   (e.flag() ? "!" : ""));
  }
  std::vector<std::string> seen;
};

TEST(Enumerations, ComputedEntriesNotifyListeners) {
  const unsigned* p = nullptr;
  std::vector<unsigned> where = path(20, 1);
  p = where.data();
  EnumRef e = cenum(p);
  auto* c = static_cast<ComputedEnum*>(e.get());
  EXPECT_EQ(c->path, (std::vector<uint32_t>{20, 1}));
  Recorder r;
  c->addListener(&r);
  c->setEntry(5, "ether1");
  c->setEntry(6, "ether2");
  c->setEntry(5, "wan", true);
  c->removeEntry(9);
  c->removeEntry(6);
  c->removeListener(&r);
  c->setEntry(7, "x");
  EXPECT_EQ(r.seen, (std::vector<std::string>{"0:5", "0:6", "2:5!", "1:6"}));
  EXPECT_EQ(entries(*c), (Pairs{{5, "wan"}, {7, "x"}}));
  Reference<IEnumEvent> ev = createEnumEvent(IEnumEvent::Removed, 3, true);
  EXPECT_EQ(ev->type(), IEnumEvent::Removed);
}

TEST(Enumerations, CodeTablesWrappedInPlace) {
  static const char* const kNames[] = {"off", "", "on", nullptr};
  static const MapEntry kMap[] = {{10, "ten"}, {0, ""}, {3, "three"}, {0, nullptr}};
  EXPECT_EQ(entries(*createEnum(kNames)), (Pairs{{0, "off"}, {2, "on"}}));
  EXPECT_EQ(entries(*cenum(kMap)), (Pairs{{10, "ten"}, {3, "three"}}));
  unsigned v = 0;
  EXPECT_TRUE(string2enum("three", cenum(kMap).get(), &v));
  EXPECT_EQ(v, 3u);
  EnumRef def = cenum(defenum{99, "none", cenum(kNames)});
  EXPECT_EQ(entries(*def), (Pairs{{99, "none"}, {0, "off"}, {2, "on"}}));
  EXPECT_EQ(path(1, 2, 3, 4).back(), 0xFFFFFFFFu);
}

} // namespace
} // namespace kestel
