// Slots choose their convertor through makers the convertor layer installs per slot kind; this
// installs makers built from the convertor layer's kinds the way the application does and checks
// what each slot configuration ends up accepting.
#include "gen/SlotFactory.h"

#include "ModelTestUtil.h"
#include "miw/Convertor.h"
#include "miw/ConvertorNumber.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

Reference<IConvertor> numberMaker(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  Reference<IConvertor> number = numberConvertor(
      {n.radixValue(), n.minValue(), n.maxValue(), n.defValue()}, RadixWords::Plain);
  if (!n.enumeration())
    return number;
  return altConvertor({enumConvertor(n.enumeration().get(), n.radixValue(), true), number});
}

Reference<IConvertor> textMaker(const Slot& slot) {
  const auto& s = static_cast<const SString&>(slot);
  if (s.strict() && s.enumeration())
    return enumConvertor(s.enumeration().get(), 10, true);
  return textConvertor(s.minLen(), s.maxLen());
}

class SlotConvertorTest : public ModelTest {
protected:
  void SetUp() override {
    ModelTest::SetUp();
    installConvertorMaker("number", [](const Slot& s) { return Reference<IBase>(numberMaker(s)); });
    installConvertorMaker("string", [](const Slot& s) { return Reference<IBase>(textMaker(s)); });
  }
  void TearDown() override {
    clearConvertorMakers();
    ModelTest::TearDown();
  }
};

TEST_F(SlotConvertorTest, SlotConfigurationDecidesWhatIsAccepted) {
  struct Case {
    const char* slot;
    const char* text;
    bool accepted;
  } cases[] = {
      {"{type:'number',name:'a',min:5,max:9}", "7", true},
      {"{type:'number',name:'a',min:5,max:9}", "10", false},
      {"{type:'number',name:'a',values:{type:'static',map:['off','on']}}", "on", true},
      {"{type:'number',name:'a',values:{type:'static',map:['off','on']}}", "12", true},
      {"{type:'string',name:'a',min:2,max:3}", "abcd", false},
      {"{type:'string',name:'a',min:2,max:3}", "ab", true},
      {"{type:'string',name:'a',strict:1,values:{type:'static',map:['x','y']}}", "y", true},
      {"{type:'string',name:'a',strict:1,values:{type:'static',map:['x','y']}}", "z", false},
      {"{type:'string',name:'a',values:{type:'static',map:['x','y']}}", "z", true},
  };
  for (const Case& c : cases) {
    Parsed p(c.slot);
    Expected<SlotElement> e = createSlotElement(*p.node);
    ASSERT_TRUE(e.ok()) << c.slot;
    Reference<IBase> made = e->slot->createConvertor();
    ASSERT_TRUE(made) << c.slot;
    auto* conv = static_cast<IConvertor*>(made.get());
    EXPECT_EQ(conv->check(c.text), c.accepted) << c.slot << " " << c.text;
  }
  EXPECT_FALSE(makeSlotOfKind("raw", "r")->createConvertor());
}

} // namespace
} // namespace kestel
