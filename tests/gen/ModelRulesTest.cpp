// Regression tests of descriptor model rules that once did not hold: a query's name slot given as
// an object, condition terms on a slot inside an owner slot and terms without a slot, the stored
// form of code-side enumeration paths, services made only through the model, and scale 0.
#include "gen/CType.h"
#include "gen/Enumerations.h"
#include "gen/JSParser.h"
#include "gen/Service.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace kestel {
namespace {

class ModelRulesTest : public ModelTest {};

std::string service(const std::string& type) { return "[{name:'S',title:'S',c:[" + type + "]}]"; }

std::vector<std::string> slotNames(const CType& t) {
  std::vector<std::string> out;
  for (const Slot* s : t.slots())
    out.push_back(s->name());
  return out;
}

TEST_F(ModelRulesTest, QueryNameSlotMovesToTheResultInEveryForm) {
  struct Case {
    const char* nameval;
    const char* rows; // the result's own slots
    std::vector<std::string> resultSlots;
  } cases[] = {
      {"'n'", "{type:'string',name:'n',id:'s1'},{type:'number',name:'x',id:'u2'}", {"n", "x"}},
      {"{type:'string',name:'n',id:'s1'}", "{type:'number',name:'x',id:'u2'}", {"n", "x"}},
  };
  for (const Case& c : cases) {
    resetModel();
    std::string doc =
        service(std::string("{type:'query',title:'Q',nameval:") + c.nameval +
                ",request:[{type:'ipaddr',name:'target',id:'u3'}],c:[" + c.rows + "]}");
    ASSERT_EQ(loadAndComplete(doc), "") << c.nameval;
    auto& q = static_cast<CQuery&>(lastType());
    EXPECT_EQ(slotNames(q), std::vector<std::string>{"target"}) << c.nameval;
    EXPECT_EQ(q.nameSlotRef(), nullptr) << c.nameval;
    EXPECT_TRUE(q.nameVal.empty()) << c.nameval;
    EXPECT_EQ(slotNames(q.result()), c.resultSlots) << c.nameval;
    ASSERT_NE(q.result().nameSlotRef(), nullptr) << c.nameval;
    EXPECT_EQ(q.result().nameSlotRef(), q.result().slot("n")) << c.nameval;
  }
}

// A map with a number `j` inside group `g`, a number `k` and a text `t`, and one condition.
const char kConditionType[] =
    "{type:'map',title:'M',path:[1,2],c:[{type:'string',name:'t',id:'s3'},"
    "{type:'group',name:'g',c:[{type:'string',name:'i',id:'s4'},{type:'number',name:'j',id:'u1'}]},"
    "{type:'number',name:'k',id:'u2'},{type:'cond',name:'c',c:[";

TEST_F(ModelRulesTest, ConditionTermsOnAnOwnerSlotTestTheInnerSlot) {
  struct Case {
    const char* terms;
    uint32_t j, k;
    bool holds;
  } cases[] = {
      {"{on:['g','j'],pred:{type:'number',value:[5]}}", 5, 0, true},
      {"{on:['g','j'],pred:{type:'number',value:[5]}}", 6, 5, false},
      {"{on:['g','j'],pred:{type:'number',value:[5]}},{on:'k',pred:{type:'number',value:[7]}}", 5,
       7, true},
      {"{on:['g','j'],pred:{type:'number',value:[5]}},{on:'k',pred:{type:'number',value:[7]}}", 5,
       8, false},
      {"{on:['g','j'],pred:{type:'not',pred:{type:'bool',value:1}}}", 0, 1, true},
      {"{on:['g','i'],pred:{type:'number',value:[0]}}", 0, 0, false}, // a text is not a number
  };
  for (const Case& c : cases) {
    resetModel();
    CaptureLogSink log;
    ASSERT_EQ(loadAndComplete(service(std::string(kConditionType) + c.terms + "]}]}")), "")
        << c.terms;
    CType& t = lastType();
    Reference<IObject> o = t.createObject();
    nv::message m;
    m.set(nv::u32_id(1), c.j);
    m.set(nv::u32_id(2), c.k);
    o->getPacker()->unpack(m, o.get());
    EXPECT_EQ(t.condition("c")->holds({&t, o->record().data()}), c.holds)
        << c.terms << " j=" << c.j << " k=" << c.k;
  }
}

TEST_F(ModelRulesTest, ConditionTermsWithoutASlotTestTheObjectAtHand) {
  struct Case {
    const char* terms;
    uint32_t k;
    bool holds;
  } cases[] = {
      {"{pred:{type:'slot',slot:'k',pred:{type:'number',value:[7]}}}", 7, true},
      {"{pred:{type:'slot',slot:'k',pred:{type:'number',value:[7]}}}", 8, false},
      {"{pred:{type:'not',pred:{type:'slot',slot:'k',pred:{type:'number',value:[7]}}}}", 8, true},
      {"{pred:{type:'slot',slot:'t',pred:{type:'string',value:'up'}}}", 0, true},
      {"{pred:{type:'kestel'}}", 0, true}, // a router fact needs no object
  };
  for (const Case& c : cases) {
    resetModel();
    ASSERT_EQ(loadAndComplete(service(std::string(kConditionType) + c.terms + "]}]}")), "")
        << c.terms;
    CType& t = lastType();
    Reference<IObject> o = t.createObject();
    nv::message m;
    m.set(nv::u32_id(2), c.k);
    m.set(nv::string_id(3), std::string("up"));
    o->getPacker()->unpack(m, o.get());
    EXPECT_EQ(t.condition("c")->holds({&t, o->record().data()}), c.holds) << c.terms << " " << c.k;
  }
}

TEST_F(ModelRulesTest, EveryFormOfAPathStoresTheSameNumbers) {
  JSParser parser;
  const JSNode* dynamic = parseDocument(parser, "{type:'dynamic',path:[1,2]}");
  ASSERT_NE(dynamic, nullptr);
  struct Case {
    const char* form;
    EnumRef e;
  } cases[] = {
      {"cenum(path(1, 2).data())", cenum(path(1, 2).data())},
      {"cenum(mapfilter{path(1, 2)})", cenum(mapfilter{path(1, 2), nullptr})},
      {"cenum(mapfilter{{1, 2}})", cenum(mapfilter{{1, 2}, nullptr})},
      {"descriptor dynamic", createEnum(*dynamic).value()},
      {"cenum(remapenum{path(1, 2)})", cenum(remapenum{path(1, 2), {}, "m"})},
      {"cenum(queryenum{path(1, 2)})", cenum(queryenum{path(1, 2), 3, {}, 0, 0})},
  };
  for (const Case& c : cases) {
    auto* computed = dynamic_cast<ComputedEnum*>(c.e.get());
    ASSERT_NE(computed, nullptr) << c.form;
    EXPECT_EQ(computed->path, (std::vector<uint32_t>{1, 2})) << c.form;
  }
}

// Services exist only in the model's list: nothing else can make one.
static_assert(!std::is_default_constructible_v<CService>);
static_assert(!std::is_constructible_v<CService, const char*, const char*, const char*, unsigned>);
static_assert(!std::is_copy_constructible_v<CService>);

TEST_F(ModelRulesTest, ServicesMadeInCodeAndFromDescriptorsAreListed) {
  CService& code = makeService("G", "Code", "Code", 1);
  ASSERT_EQ(loadText("[{name:'Doc',title:'Doc'}]"), "");
  ASSERT_EQ(services().size(), 2u);
  EXPECT_EQ(services()[0].get(), &code);
  EXPECT_EQ(getService(nullptr, "Doc"), services()[1].get());
  EXPECT_NE(findProvider("srvc"), nullptr);
}

TEST_F(ModelRulesTest, ScaleZeroIsLoggedAndTakenAsOne) {
  struct Case {
    const char* slot; // descriptor form; null: made in code with `scale`
    uint32_t scale;
    uint32_t stored;
    bool logged;
  } cases[] = {
      {"{type:'number',name:'n',id:'u1',scale:0}", 0, 1, true},
      {"{type:'number',name:'n',id:'u1',scale:3}", 0, 3, false},
      {"{type:'number',name:'n',id:'u1'}", 0, 1, false},
      {nullptr, 0, 1, true},
      {nullptr, 4, 4, false},
  };
  for (const Case& c : cases) {
    resetModel();
    CaptureLogSink log;
    const Slot* s = nullptr;
    if (c.slot) {
      ASSERT_EQ(loadText(service(std::string("{type:'map',title:'M',c:[") + c.slot + "]}")), "");
      s = lastType().slot("n");
    } else {
      s = &snumber("n").id(nv::u32_id(1), c.scale);
    }
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->fields()[0].scale, c.stored) << (c.slot ? c.slot : "code");
    EXPECT_EQ(log.contains("ERROR: scale 0 for slot <n>, taken as 1"), c.logged)
        << (c.slot ? c.slot : "code");
  }
}

} // namespace
} // namespace kestel
