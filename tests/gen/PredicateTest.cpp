#include "gen/Predicate.h"

#include "gen/JSParser.h"
#include "gen/RouterFacts.h"
#include "gen/SlotCondition.h"
#include "support/ModelFixture.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <map>

namespace kestel {
namespace {

PredicatePtr read(std::string_view text) {
  JSParser p;
  const JSNode* n = parseDocument(p, text);
  EXPECT_NE(n, nullptr) << text;
  if (!n)
    return nullptr;
  Expected<PredicatePtr> pred = createPredicate(*n);
  EXPECT_TRUE(pred.ok()) << text;
  return pred ? std::move(pred.value()) : nullptr;
}

class PredicateTest : public test::ModelFixture {
protected:
  void SetUp() override {
    RouterFacts f;
    f.boardName = "NX-2011UiAS";
    f.architecture = "arm64";
    f.boardFamily = boardFamilyOf(f.boardName, f.architecture);
    f.daughterboard = "wifi-ac";
    f.systemCaps = {false, true, false, true}; // four known bits
    f.quickSetCaps = 1u << 3;
    f.hasPassword = true;
    f.packages = {"wireless", "routing"};
    setRouterFacts(f);
  }
};

TEST_F(PredicateTest, FieldKinds) {
  struct Case {
    const char* pred;
    uint32_t field;
    bool expect;
  };
  const Case cases[] = {
      {"{type:'bitmap',mask:0x0F,value:5}", 5, true},
      {"{type:'bitmap',mask:0x0F,value:5}", 0x15, true},
      {"{type:'bitmap',mask:0x0F,value:5}", 0xF5, true},
      {"{type:'bitmap',mask:0x0F,value:5}", 6, false},
      {"{type:'bitmap'}", 123, true}, // mask and value 0
      {"{type:'number',value:[1,7,9]}", 7, true},
      {"{type:'number',value:[1,7,9]}", 8, false},
      {"{type:'number'}", 0, false},
      {"{type:'bool',value:1}", 2, true},
      {"{type:'bool',value:1}", 0, false},
      {"{type:'bool',value:0}", 0, true},
      {"{type:'bool'}", 1, false},
      {"{type:'not',pred:{type:'bool',value:1}}", 0, true},
      {"{type:'or',pred:[{type:'number',value:[1]},{type:'number',value:[2]}]}", 2, true},
      {"{type:'or',pred:[{type:'number',value:[1]},{type:'number',value:[2]}]}", 3, false},
  };
  for (const Case& c : cases) {
    PredicatePtr p = read(c.pred);
    ASSERT_TRUE(p) << c.pred;
    EXPECT_EQ(p->evaluate(fieldRef(c.field)), c.expect) << c.pred << " on " << c.field;
    EXPECT_FALSE(p->evaluate({}) && std::string_view(c.pred).find("not") == std::string::npos)
        << c.pred << ": a field test without a field";
  }
  std::string text = "eth1";
  EXPECT_TRUE(read("{type:'string',value:'eth1'}")->evaluate(fieldRef(text)));
  EXPECT_FALSE(read("{type:'string',value:'eth'}")->evaluate(fieldRef(text)));
  std::vector<uint32_t> arr = {4, 5, 6};
  EXPECT_TRUE(read("{type:'numarrayany',value:5}")->evaluate(fieldRef(arr)));
  EXPECT_FALSE(read("{type:'numarrayany',value:7}")->evaluate(fieldRef(arr)));
  nv::message none, some;
  some.set(nv::u32_id(1), 5u);
  EXPECT_TRUE(read("{type:'message'}")->evaluate(fieldRef(none)));
  EXPECT_FALSE(read("{type:'message'}")->evaluate(fieldRef(some)));
}

TEST_F(PredicateTest, RouterFactKinds) {
  struct Case {
    const char* pred;
    bool expect;
  };
  const Case cases[] = {
      {"{type:'addon',value:'wireless'}", true},
      {"{type:'addon',value:'ups'}", false},
      {"{type:'arch',value:'arm64'}", true},
      {"{type:'arch',value:'arm'}", false},
      {"{type:'board',value:'nx2000'}", true}, // the family
      {"{type:'board',value:'NX-2011UiAS'}", true},
      {"{type:'board',value:'NX-2011'}", false},
      {"{type:'board',value:'^NX-20[0-9]+Ui',re:1}", true},
      {"{type:'board',value:'^Halo',re:1}", false},
      {"{type:'board',value:'NX-(2011UiAS',re:1}", false}, // does not compile: plain compare
      {"{type:'board',value:'nx2000',re:0}", true},
      {"{type:'daughterboard',value:'wifi-ac'}", true},
      {"{type:'daughterboard',value:''}", false},
      {"{type:'syscap',value:1}", true},
      {"{type:'syscap',value:2}", false},
      {"{type:'syscap',value:3}", true},
      {"{type:'syscap',value:4}", false}, // the number of known bits
      {"{type:'syscap',value:0xFFFFFFFFFFFF}", false},
      {"{type:'quickset',bit:3}", true},
      {"{type:'quickset',bit:35}", true}, // modulo 32
      {"{type:'quickset',bit:4}", false},
      {"{type:'haspwd'}", true},
      {"{type:'kestel'}", true},
      {"{type:'supportmsgid'}", false},
      {"{type:'or',pred:[]}", false},
      {"{type:'or'}", false},
      {"{type:'not'}", false},
      {"{type:'not',pred:{type:'not'}}", true},
      {"{type:'or',pred:[{type:'arch',value:'x'},{type:'haspwd'}]}", true},
  };
  for (const Case& c : cases) {
    PredicatePtr p = read(c.pred);
    ASSERT_TRUE(p) << c.pred;
    EXPECT_EQ(p->evaluate({}), c.expect) << c.pred;
  }
  EXPECT_TRUE(holds(nullptr));
}

TEST_F(PredicateTest, BoardFamiliesFromTable) {
  EXPECT_EQ(boardFamilyOf("NX-1100AHx4", "arm64"), "nx1000");
  EXPECT_EQ(boardFamilyOf("NX-2011UiAS", "mipsbe"), "nx2000-legacy");
  EXPECT_EQ(boardFamilyOf("Halo ax", "arm"), "halo");
  EXPECT_EQ(boardFamilyOf("Unknown", "arm"), "");
}

TEST_F(PredicateTest, UnknownTypesRejectTheDescriptor) {
  for (const char* text :
       {"{type:'boolean'}", "{kind:'bool'}", "{type:5}", "7", "{type:'not',pred:{type:'nope'}}",
        "{type:'or',pred:[{type:'kestel'},{}]}", "{type:'slot',slot:'x',pred:{type:''}}"}) {
    CaptureLogSink log;
    JSParser p;
    Expected<PredicatePtr> r = createPredicate(*parseDocument(p, text));
    ASSERT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error().text.rfind("unknown pred type ", 0), 0u) << text;
    EXPECT_EQ(log.lines(), std::vector<std::string>{r.error().text});
  }
  JSParser p;
  EXPECT_EQ(createPredicate(*parseDocument(p, "{type:'boolean'}")).error().text,
            "unknown pred type boolean");
}

// A type whose slots sit at fixed offsets of a record.
struct Record {
  uint32_t enabled;
  uint32_t peer;
  std::string name;
};
class RecordType : public ISlotLookup {
public:
  bool slotField(std::string_view slot, SlotFieldInfo& out) const override {
    ++lookups;
    if (slot == "enabled")
      out = {offsetof(Record, enabled), memberTypeOf<uint32_t>()};
    else if (slot == "peer")
      out = {offsetof(Record, peer), memberTypeOf<uint32_t>()};
    else if (slot == "name")
      out = {offsetof(Record, name), memberTypeOf<std::string>()};
    else
      return false;
    return true;
  }
  mutable int lookups = 0;
};

class Directory : public IObjectDirectory {
public:
  bool findObject(const std::vector<uint32_t>& path, uint32_t id, ObjectView& out) override {
    if (path != std::vector<uint32_t>{20, 1})
      return false;
    auto it = objects.find(id);
    if (it == objects.end())
      return false;
    out = {&type, &it->second};
    return true;
  }
  RecordType type;
  std::map<uint32_t, Record> objects;
};

TEST_F(PredicateTest, SlotAndObjectKinds) {
  RecordType type;
  Record r{1, 7, "wan"};
  ObjectView obj{&type, &r};
  PredicatePtr bySlot = read("{type:'slot',slot:'name',pred:{type:'string',value:'wan'}}");
  EXPECT_TRUE(bySlot->evaluate(objectRef(obj)));
  EXPECT_TRUE(bySlot->evaluate(objectRef(obj)));
  EXPECT_EQ(type.lookups, 1); // looked up once, then remembered
  r.name = "lan";
  EXPECT_FALSE(bySlot->evaluate(objectRef(obj)));
  {
    CaptureLogSink log;
    EXPECT_FALSE(read("{type:'slot',slot:'mtu'}")->evaluate(objectRef(obj)));
    EXPECT_TRUE(log.contains("SlotRefmtu: slot not found"));
  }
  Directory dir;
  dir.objects[7] = Record{1, 0, "peer"};
  setObjectDirectory(&dir);
  PredicatePtr byObject = read("{type:'slot',slot:'peer',pred:{type:'object',path:[20,1],"
                               "pred:{type:'slot',slot:'enabled',pred:{type:'bool',value:1}}}}");
  EXPECT_TRUE(byObject->evaluate(objectRef(obj)));
  dir.objects[7].enabled = 0;
  EXPECT_FALSE(byObject->evaluate(objectRef(obj)));
  r.peer = 8; // no such object
  EXPECT_FALSE(byObject->evaluate(objectRef(obj)));
  const unsigned path[] = {20, 1, 0xFFFFFFFF};
  uint32_t id = 7;
  dir.objects[7].enabled = 1;
  EXPECT_TRUE(
      pobject(path, pslot("enabled", read("{type:'bool',value:1}")))->evaluate(fieldRef(id)));
  setObjectDirectory(nullptr);
  EXPECT_FALSE(pobject(path, nullptr)->evaluate(fieldRef(id)));
}

TEST_F(PredicateTest, SlotConditions) {
  JSParser p;
  const JSNode* n =
      parseDocument(p, "{type:'cond',name:'wired',hide:1,oron:'other',c:["
                       "{on:'enabled',pred:{type:'bool',value:1}},{pred:{type:'haspwd'}},"
                       "{on:['owner','inner'],pred:{type:'kestel'}}]}");
  Expected<std::unique_ptr<SlotCondition>> c = SlotCondition::fromNode(*n);
  ASSERT_TRUE(c.ok());
  SlotCondition& cond = *c.value();
  EXPECT_EQ(cond.name(), "wired");
  EXPECT_TRUE(cond.hides());
  EXPECT_EQ(cond.orOnName(), "other");
  ASSERT_EQ(cond.terms().size(), 3u);
  EXPECT_EQ(cond.terms()[2].owner, "owner");
  EXPECT_EQ(cond.terms()[2].slot, "inner");
  cond.terms().pop_back();
  RecordType type;
  Record r{1, 0, ""};
  EXPECT_TRUE(cond.holds({&type, &r}));
  r.enabled = 0;
  EXPECT_FALSE(cond.holds({&type, &r}));
  auto other = scond("other");
  other->on("name", read("{type:'string',value:''}"));
  cond.resolveOrOn(other.get());
  EXPECT_TRUE(cond.holds({&type, &r}));
  other->resolveOrOn(&cond); // a cycle ends
  r.name = "x";
  EXPECT_FALSE(cond.holds({&type, &r}));
  JSParser q;
  EXPECT_FALSE(SlotCondition::fromNode(*parseDocument(q, "{c:[{pred:{type:'x'}}]}")).ok());
}

} // namespace
} // namespace kestel
