#include "gen/SlotFactory.h"

#include "ModelTestUtil.h"
#include "api/object/Packer.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

class SlotTest : public ModelTest {};

// A map with one slot list; returns the type (completed) or fails the test.
CType* typeWith(const std::string& slots, std::string* error = nullptr) {
  std::string doc =
      "[{name:'S',title:'S',c:[{type:'map',title:'T',path:[1,2],c:[" + slots + "]}]}]";
  std::string e = loadAndComplete(doc);
  if (error)
    *error = e;
  if (!e.empty())
    return nullptr;
  return services().back()->types().front().get();
}

std::unique_ptr<Slot> slotFrom(const std::string& text, std::string* error = nullptr) {
  Parsed p(text);
  if (!p.node)
    return nullptr;
  Expected<SlotElement> e = createSlotElement(*p.node);
  if (!e) {
    if (error)
      *error = e.error().text;
    return nullptr;
  }
  return std::move(e->slot);
}

TEST_F(SlotTest, FactoryKnowsExactlyTheListedKinds) {
  const char* listed =
      "about active addr age alias as autoset bigbytes bigbitrate bigbitchangerate bigchangerate "
      "bigdecimal bignumber bigunit bitrate bool buttonsep bytes changerate clockdate clocktime "
      "columnalias comment community concat cond contextmenu date dateandtime decimal deck doit "
      "dynamic enable enm file filter fixedpoint flag graph graphbox gridmultinumber gridcell "
      "grid group hyperlink integer integerrange interval invalid ip6addr ipaddr ipaddrandport "
      "kbytes label lookup macaddr macnetwork message multilinestring multi multituple "
      "multinumber multiipaddr multiip6addr multinumberrange multinetwork multinetwork6 "
      "multimacnetwork multibignumber multibits multitristate multitristatearray multistring "
      "multiraw netmask network network6 networkmap not number numberrange numberlist "
      "numberrangelist numbertable numbar numflag object objtype opt packet password prefix "
      "preset raw script secret separator set status statusbar string stringarray tab table "
      "timezone toggle toolbar tristate tuple union unit version";
  std::istringstream in(listed);
  std::vector<std::string> kinds;
  for (std::string k; in >> k;)
    kinds.push_back(k);
  ASSERT_EQ(kinds.size(), 113u);
  EXPECT_EQ(slotKinds().size(), 113u);
  for (const std::string& k : kinds) {
    bool nothing = k == "cond" || k == "networkmap";
    EXPECT_EQ(makeSlotOfKind(k, "x") == nullptr, nothing) << k;
  }
  CaptureLogSink log;
  std::string error;
  EXPECT_EQ(slotFrom("{type:'strin',name:'a'}", &error), nullptr);
  EXPECT_EQ(error, "unknown slot type strin");
}

TEST_F(SlotTest, KindErrorsStopTheSlot) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"{type:'addr',name:'a',allow:'4x'}", "ERROR: unknown flag in saddress allow"},
      {"{type:'enm',name:'e'}", "senum(\"e\") does not have values"},
      {"{type:'set',name:'s'}", "ERROR: sset"
                                "s"
                                " has no enum!"},
      {"{type:'group',name:'g',keys:['a','b'],c:[{type:'string',name:'a'}]}",
       "no sgroup slot for key b"},
      {"{type:'number',name:'n',values:{type:'nonsense'}}", "unknown enum nonsense"},
  };
  CaptureLogSink log;
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(slotFrom(c.text, &error), nullptr) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST_F(SlotTest, AllowLettersSetTheirBits) {
  struct Case {
    const char* letters;
    uint32_t bits;
  } cases[] = {{"46", 0x3},   {"4", 0x1},    {"v", 0x4}, {"t/", 0x18},
               {"iRD", 0xE0}, {"m%", 0x300}, {"", 0},    {"46vt/iRDm%", 0x3FF}};
  for (const Case& c : cases) {
    Expected<uint32_t> bits = parseAllowFlags(c.letters);
    ASSERT_TRUE(bits.ok()) << c.letters;
    EXPECT_EQ(bits.value(), c.bits) << c.letters;
  }
  CaptureLogSink log;
  EXPECT_FALSE(parseAllowFlags("4 ").ok());
  EXPECT_FALSE(parseAllowFlags("6V").ok());
}

TEST_F(SlotTest, FlagBitsAndCommonKeys) {
  auto s = slotFrom("{type:'string',name:'a',title:'A',hide:1,nonpublic:1,override:0,"
                    "hardfilter:1,inlinepostfix:1,hidebydefault:1,lastcol:1,tag:4,width:9,"
                    "postfix:'ms',on:'c1',sorted:1}");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->flagBits(), 0x7Bu);
  EXPECT_EQ(s->tagValue(), 4u);
  EXPECT_EQ(s->widthValue(), 9u);
  EXPECT_EQ(s->postfixText(), "ms");
  EXPECT_EQ(s->conditionName(), "c1");
  EXPECT_TRUE(s->sorted());
  EXPECT_EQ(s->index(), NO_INDEX);
  auto plain = slotFrom("{type:'string',name:'b'}");
  EXPECT_EQ(plain->flagBits(), 0u);
  EXPECT_EQ(plain->tagValue(), 0xFFFFFFFFu);
}

TEST_F(SlotTest, TextColumns) {
  struct Case {
    const char* keys;
    uint32_t cols;
  } cases[] = {
      {"big:1,cols:15", 15},     {"cols:15,big:1", 15}, {"big:1", 10}, {"big:1,cols:4", 10},
      {"verybig:1,cols:15", 20}, {"cols:7", 7},         {"", 0}};
  for (const Case& c : cases) {
    auto s = slotFrom(std::string("{type:'string',name:'a'") + (*c.keys ? "," : "") + c.keys + "}");
    ASSERT_TRUE(s) << c.keys;
    EXPECT_EQ(static_cast<SString&>(*s).columns(), c.cols) << c.keys;
  }
}

TEST_F(SlotTest, IdLetterMustMatchTheKind) {
  struct Case {
    const char* text;
    char letter;
    uint32_t key;
  } cases[] = {
      {"{type:'string',name:'a',id:'s1'}", 's', 1},
      {"{type:'string',name:'a',id:'u1'}", 0, 0},
      {"{type:'number',name:'a',id:'u1F'}", 'u', 0x1F},
      {"{type:'number',name:'a',id:'b2'}", 'b', 2},
      {"{type:'number',name:'a',id:'s2'}", 0, 0},
      {"{type:'ip6addr',name:'a',id:'a3'}", 'a', 3},
      {"{type:'macaddr',name:'a',id:'u3'}", 0, 0},
      {"{type:'numberlist',name:'a',id:'U10'}", 'U', 0x10},
      {"{type:'addr',name:'a',id:'m4'}", 'm', 4},
      {"{type:'multiraw',name:'a',id:'R5'}", 'R', 5},
      {"{type:'bignumber',name:'a',id:'q6'}", 'q', 6},
      {"{type:'label',name:'a',id:'u6'}", 0, 0},
  };
  for (const Case& c : cases) {
    auto s = slotFrom(c.text);
    ASSERT_TRUE(s) << c.text;
    char letter = s->fields().empty() ? 0 : s->fields()[0].letter;
    EXPECT_EQ(letter, c.letter) << c.text;
    if (c.letter) {
      EXPECT_EQ(s->fields()[0].key, c.key) << c.text;
    }
  }
}

TEST_F(SlotTest, NumberDefaults) {
  setRouterTime(86400 * 3 + 3600 + 5);
  CType* t = typeWith("{type:'number',name:'min5',id:'u1',min:5,max:9},"
                      "{type:'number',name:'def7',id:'u2',min:5,def:7},"
                      "{type:'number',name:'opt',id:'u3',def:7,optval:0},"
                      "{type:'integer',name:'int',id:'u4',def:'-3'},"
                      "{type:'clockdate',name:'d',id:'u5',todaydef:1},"
                      "{type:'clocktime',name:'t',id:'u6',nowdef:1},"
                      "{type:'string',name:'who',id:'s7',defuser:1},"
                      "{type:'string',name:'txt',id:'s8',def:'abc'},"
                      "{type:'number',name:'zero',id:'u9'}");
  ASSERT_TRUE(t);
  auto& min5 = static_cast<SNumber&>(*t->slot("min5"));
  EXPECT_EQ(min5.defValue(), 5u);
  EXPECT_EQ(min5.unsetValue(), 5u);
  EXPECT_EQ(static_cast<SNumber&>(*t->slot("def7")).unsetValue(), 7u);
  EXPECT_EQ(static_cast<SNumber&>(*t->slot("opt")).unsetValue(), 0u);
  EXPECT_TRUE(t->hasNonZeroDefaults());
  setLoggedInUser("admin");
  Reference<IObject> o = t->createObject();
  ASSERT_TRUE(o);
  IPacker* p = o->getPacker();
  uint32_t v = 0;
  std::string s;
  struct Want {
    uint32_t key, value;
  } numbers[] = {{1, 5}, {2, 7}, {3, 7}, {4, 0xFFFFFFFD}, {5, 86400 * 3}, {6, 3605}, {9, 0}};
  for (const Want& w : numbers) {
    ASSERT_TRUE(p->getValue(w.key, o.get(), v)) << w.key;
    EXPECT_EQ(v, w.value) << w.key;
  }
  ASSERT_TRUE(p->getValue(7, o.get(), s));
  EXPECT_EQ(s, "admin");
  ASSERT_TRUE(p->getValue(8, o.get(), s));
  EXPECT_EQ(s, "abc");
  // Back to the defaults after a change.
  nv::message m;
  m.set(nv::u32_id(1), 8u);
  m.set(nv::string_id(8), std::string("changed"));
  p->unpack(m, o.get());
  o->setToDefaults();
  ASSERT_TRUE(p->getValue(1, o.get(), v));
  EXPECT_EQ(v, 5u);
  ASSERT_TRUE(p->getValue(8, o.get(), s));
  EXPECT_EQ(s, "abc");
}

TEST_F(SlotTest, SlotBelongsToOneTypeOnly) {
  CaptureLogSink log;
  CMap& a = cmap("A");
  CMap& b = cmap("B");
  SString& s = sstring("name");
  a.add(s);
  b.add(s);
  EXPECT_EQ(a.slots().size(), 1u);
  EXPECT_TRUE(b.slots().empty());
  EXPECT_EQ(s.index(), 0u);
  makeService(nullptr, "A", "A", 1).add(a).add(b);
}

TEST_F(SlotTest, OverrideReplacesInPlace) {
  CType* t = typeWith("{type:'string',name:'a',id:'s1'},{type:'number',name:'b',id:'u2'},"
                      "{type:'string',name:'c',id:'s3'},"
                      "{type:'number',name:'b',id:'u9',override:1,title:'B2'}");
  ASSERT_TRUE(t);
  ASSERT_EQ(t->slots().size(), 3u);
  EXPECT_EQ(t->slots()[1]->titleText(), "B2");
  EXPECT_TRUE(t->packer()->has(9));
  EXPECT_FALSE(t->packer()->has(2));
  std::string error;
  CaptureLogSink log;
  EXPECT_EQ(typeWith("{type:'number',name:'zz',id:'u9',override:1}", &error), nullptr);
}

TEST_F(SlotTest, ViewsAndConvertorsComeFromInstalledMakers) {
  struct View : IView {
    void update() override {}
  } custom;
  SString& s = sstring("a");
  EXPECT_EQ(s.createView(nullptr, nullptr, false), nullptr);
  EXPECT_FALSE(s.createConvertor());
  Views::add(&s, &custom);
  EXPECT_EQ(s.createView(nullptr, nullptr, true), &custom);
  struct Conv : IBase {};
  installConvertorMaker("string", [](const Slot&) { return Reference<IBase>(new Conv); });
  EXPECT_TRUE(s.createConvertor());
}

TEST_F(SlotTest, SlotRefFindsSlotsByName) {
  CType* t = typeWith("{type:'string',name:'a',id:'s1'}");
  ASSERT_TRUE(t);
  Reference<IObject> o = t->createObject();
  EXPECT_EQ(ASlotRef("a").lookupSlot(o.get()), t->slot("a"));
  CaptureLogSink log;
  EXPECT_EQ(ASlotRef("zz").lookupSlot(o.get()), nullptr);
}

TEST_F(SlotTest, TracedFieldsLogTheirLoads) {
  CType* t = typeWith("{type:'numberlist',name:'!ports',id:'U5'},{type:'number',name:'n',id:'u6'}");
  ASSERT_TRUE(t);
  EXPECT_EQ(tracedFields(), std::vector<uint32_t>{5});
  Reference<IObject> o = t->createObject();
  nv::message m;
  m.set(nv::u32_array_id(5), std::vector<uint32_t>{1, 2});
  m.set(nv::u32_id(6), 1u);
  CaptureLogSink log;
  o->getPacker()->unpack(m, o.get());
  EXPECT_TRUE(log.contains("MultiView::load 5 sz=2"));
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(SlotTest, SlotListsAddSlotsThenConditions) {
  SlotList inner;
  inner.add(sstring("a").id(nv::string_id(1))).add(*scond("hidden").release());
  SlotList outer;
  outer.add(snumber("b").id(nv::u32_id(2))).add(inner);
  ASSERT_EQ(outer.slotList().size(), 2u);
  CMap& m = cmap("M");
  m.add(outer);
  // The condition made by scond is owned by the caller's list here; the type only refers to it.
  std::unique_ptr<SlotCondition> owned(outer.conditions()[0]);
  makeService(nullptr, "M", "M", 1).add(m);
  ASSERT_TRUE(completeAllTypes().ok());
  EXPECT_EQ(m.slots()[0]->name(), "b");
  EXPECT_EQ(m.slots()[1]->name(), "a");
  EXPECT_EQ(m.condition("hidden"), owned.get());
}

} // namespace
} // namespace kestel
