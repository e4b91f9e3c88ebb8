// Descriptors come from the router and may pair any predicate kind with any slot. Every field
// kind must read a slot only when the slot's storage is what the kind expects; any other pairing
// is false and logs one "ERROR:" line naming the slot. Run under AddressSanitizer, a wrong read
// (a u32 taken for a std::string, …) would show here.
#include "gen/Predicate.h"

#include "ModelTestUtil.h"
#include "gen/CType.h"
#include "gen/SlotCondition.h"

#include <gtest/gtest.h>

#include <string>

namespace kestel {
namespace {

struct SlotStore {
  const char* slot;
  const char* reads; // the kind that matches its storage; "" none
};

// Slots of every storage shape, each holding a value the matching kind accepts.
const SlotStore kSlots[] = {
    {"n", "u32"},     {"s", "string"}, {"q", ""}, {"r", ""},    {"U", "u32list"},
    {"m", "message"}, {"a", ""},       {"S", ""}, {"b", "u32"},
};

struct KindCase {
  const char* pred;
  const char* reads;
};

// Each kind holds for the values put into the record below.
const KindCase kKinds[] = {
    {"{type:'bool',value:0}", "u32"},
    {"{type:'number',value:[0]}", "u32"},
    {"{type:'bitmap'}", "u32"},
    {"{type:'numarrayany',value:0}", "u32list"},
    {"{type:'string',value:''}", "string"},
    {"{type:'message'}", "message"},
    {"{type:'object',path:[1]}", "objectid"}, // no directory: false on every slot
};

class PredicateStoreTest : public ModelTest {
protected:
  void SetUp() override {
    ModelTest::SetUp();
    std::string e =
        loadAndComplete("[{name:'S',title:'S',c:[{type:'map',title:'T',path:[1,2],c:["
                        "{type:'number',name:'n',id:'u1'},{type:'string',name:'s',id:'s2'},"
                        "{type:'bignumber',name:'q',id:'q3'},{type:'macaddr',name:'r',id:'r4'},"
                        "{type:'multinumber',name:'U',id:'U5'},{type:'message',name:'m',id:'m6'},"
                        "{type:'ip6addr',name:'a',id:'a7'},{type:'multistring',name:'S',id:'S8'},"
                        "{type:'bool',name:'b',id:'b9'}]}]}]");
    ASSERT_EQ(e, "");
    type_ = &lastType();
    object_ = type_->createObject();
    ASSERT_TRUE(object_);
    nv::message values;
    values.set(nv::u32_array_id(5), std::vector<uint32_t>{0});
    object_->getPacker()->unpack(values, object_.get());
  }
  void TearDown() override {
    object_ = nullptr; // before its type goes with the model
    ModelTest::TearDown();
  }
  PredicatePtr read(const std::string& text) {
    JSParser p;
    const JSNode* n = parseDocument(p, text);
    EXPECT_NE(n, nullptr) << text;
    Expected<PredicatePtr> pred = createPredicate(*n);
    EXPECT_TRUE(pred.ok()) << text;
    return pred ? std::move(pred.value()) : nullptr;
  }
  ObjectView view() const { return {type_, object_->record().data()}; }

  CType* type_ = nullptr;
  Reference<IObject> object_;
};

TEST_F(PredicateStoreTest, SlotPredicatesReadOnlyTheMatchingStore) {
  for (const SlotStore& s : kSlots) {
    for (const KindCase& k : kKinds) {
      std::string text = std::string("{type:'slot',slot:'") + s.slot + "',pred:" + k.pred + "}";
      bool matches = std::string_view(s.reads) == k.reads;
      bool mismatch =
          std::string_view(k.reads) == "objectid" ? std::string_view(s.reads) != "u32" : !matches;
      CaptureLogSink log;
      PredicatePtr p = read(text);
      ASSERT_TRUE(p);
      ObjectView o = view();
      EXPECT_EQ(p->evaluate(objectRef(o)), matches) << text;
      EXPECT_EQ(p->evaluate(objectRef(o)), matches) << text;
      size_t errors = 0;
      for (const std::string& line : log.lines())
        errors += line.rfind("ERROR: slot predicate on " + std::string(s.slot) + ":", 0) == 0;
      EXPECT_EQ(errors, mismatch ? 1u : 0u) << text; // once per type, not per evaluation
    }
  }
}

TEST_F(PredicateStoreTest, ConditionTermsReadOnlyTheMatchingStore) {
  for (const SlotStore& s : kSlots) {
    for (const KindCase& k : kKinds) {
      bool matches = std::string_view(s.reads) == k.reads;
      bool mismatch =
          std::string_view(k.reads) == "objectid" ? std::string_view(s.reads) != "u32" : !matches;
      CaptureLogSink log;
      auto cond = scond("c");
      cond->on(s.slot, read(k.pred));
      EXPECT_EQ(cond->holds(view()), matches) << s.slot << " " << k.pred;
      EXPECT_EQ(cond->holds(view()), matches) << s.slot << " " << k.pred;
      size_t errors = 0;
      for (const std::string& line : log.lines())
        errors += line.find("ERROR: condition c tests slot " + std::string(s.slot) + " ") == 0;
      EXPECT_EQ(errors, mismatch ? 1u : 0u) << s.slot << " " << k.pred;
    }
  }
}

TEST_F(PredicateStoreTest, CompositesPassTheFieldTypeThrough) {
  ObjectView o = view();
  // Negation and alternatives see the same typed field; a mismatching inner kind is false.
  EXPECT_TRUE(read("{type:'slot',slot:'s',pred:{type:'not',pred:{type:'number',value:[0]}}}")
                  ->evaluate(objectRef(o)));
  EXPECT_TRUE(read("{type:'slot',slot:'n',pred:{type:'or',pred:[{type:'string',value:''},"
                   "{type:'number',value:[0]}]}}")
                  ->evaluate(objectRef(o)));
  // A "slot" predicate applied to a field (not an object) holds nothing.
  EXPECT_FALSE(read("{type:'slot',slot:'n',pred:{type:'slot',slot:'n'}}")->evaluate(objectRef(o)));
  uint32_t number = 0;
  EXPECT_FALSE(read("{type:'slot',slot:'n'}")->evaluate(fieldRef(number)));
  // Enumeration entries see the object: a field kind on the object itself is false.
  EXPECT_FALSE(read("{type:'string',value:''}")->evaluate(objectRef(o)));
}

} // namespace
} // namespace kestel
