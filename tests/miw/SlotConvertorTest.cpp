// Slots choose their convertor through makers the convertor layer installs per slot kind; this
// installs them the way the application does and checks what each slot configuration ends up
// accepting, and that every value slot of the sample descriptor set gets a convertor that reads
// back what it shows for a fresh object.
#include "gen/SlotFactory.h"

#include "gen/CType.h"
#include "gen/ModelTestUtil.h"
#include "miw/Convertor.h"
#include "miw/SlotConvertors.h"
#include "miw/ValueCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace kestel {
namespace {

class SlotConvertorTest : public ModelTest {
protected:
  void SetUp() override { installSlotConvertors(); }
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
      {"{type:'integer',name:'a'}", "-5", true},
      {"{type:'integer',name:'a',min:0xFFFFFFFD,max:3}", "-4", false},
      {"{type:'number',name:'a',radix:16}", "ff", true},
      {"{type:'ipaddr',name:'a'}", "0.0.0.0", true},
      {"{type:'ipaddr',name:'a',zeroinvalid:1}", "0.0.0.0", false},
      {"{type:'ip6addr',name:'a'}", "198.18.0.1", false},
      {"{type:'ip6addr',name:'a',allowipv4:1}", "198.18.0.1", true},
      {"{type:'addr',name:'a',allow:'4'}", "fe80::1", false},
      {"{type:'addr',name:'a',allow:'46'}", "fe80::1", true},
      {"{type:'macaddr',name:'a'}", "00:11:22:33:44:55", true},
      {"{type:'numberrange',name:'a'}", "7..3", false},
      {"{type:'integerrange',name:'a'}", "-7..3", true},
      {"{type:'numberlist',name:'a'}", "1,2,3", true},
      {"{type:'enm',name:'a',values:{type:'static',map:['off','on']}}", "on", true},
      {"{type:'enm',name:'a',strict:1,values:{type:'static',map:['off','on']}}", "5", false},
      {"{type:'bool',name:'a'}", "true", true},
      {"{type:'tristate',name:'a'}", "", true},
      {"{type:'timezone',name:'a'}", "+02:00", true},
      {"{type:'interval',name:'a'}", "1d 00:00:00", true},
      {"{type:'date',name:'a'}", "Feb/30/2024", false},
      {"{type:'bitrate',name:'a'}", "10 Mbps", true},
      {"{type:'version',name:'a'}", "7.1", true},
      {"{type:'changerate',name:'a',scale:8}", "1.5 Mbps", true},
      {"{type:'changerate',name:'a'}", "1.5 Mbps", false},
      {"{type:'bigchangerate',name:'a'}", "1.5k/s", true},
      {"{type:'fixedpoint',name:'a',scale:16}", "1.0625", true},
      {"{type:'fixedpoint',name:'a',scale:16,min:16,max:32}", "2.5", false},
      {"{type:'ipaddrandport',name:'a',portid:'u2'}", "192.0.2.1:65536", false},
      {"{type:'ipaddrandport',name:'a',portid:'u2',defport:80}", "192.0.2.1", true},
      {"{type:'network',name:'a',maskid:'u2',hostnonzero:1}", "192.0.2.0/24", false},
      {"{type:'network',name:'a',maskid:'u2',hostnonzero:1}", "192.0.2.1/255.255.255.0", true},
      {"{type:'network',name:'a',maskid:'u2'}", "192.0.2.0/255.0.255.0", false},
      {"{type:'network6',name:'a',id:'a1',maskid:'u2',deflen:64}", "2001:db8::", true},
      {"{type:'network6',name:'a',id:'a1',maskid:'u2',hostnonzero:1}", "2001:db8::/32", false},
      {"{type:'raw',name:'a'}", "01:ab:FF", true},
  };
  for (const Case& c : cases) {
    Parsed p(c.slot);
    ASSERT_NE(p.node, nullptr) << c.slot;
    Expected<SlotElement> e = createSlotElement(*p.node);
    ASSERT_TRUE(e.ok()) << c.slot;
    Reference<IBase> made = e->slot->createConvertor();
    ASSERT_TRUE(made) << c.slot;
    auto* conv = static_cast<IConvertor*>(made.get());
    EXPECT_EQ(conv->check(c.text), c.accepted) << c.slot << " " << c.text;
  }
}

std::string sampleDir() { return std::string(KESTEL_SOURCE_DIR) + "/sim/sample/"; }

TEST_F(SlotConvertorTest, SampleValueSlotsReadBackWhatTheyShow) {
  for (const char* doc : {"nimblux.jg", "ipv6.jg", "tools.jg"})
    ASSERT_TRUE(loadDescriptors(sampleDir() + doc).ok()) << doc;
  ASSERT_TRUE(completeAllTypes().ok());
  const std::vector<std::string_view>& kinds = convertedSlotKinds();
  std::set<std::string> withValue, without;
  forEachType([&](CType& t, CService&) {
    Reference<IObject> o = t.createObject();
    ASSERT_TRUE(o);
    for (size_t i = 0; i < t.slots().size(); ++i) {
      const Slot& s = *t.slots()[i];
      if (s.fields().empty() || !s.fields()[0].letter)
        continue; // holds no value
      if (!std::binary_search(kinds.begin(), kinds.end(), std::string_view(s.kind()))) {
        without.insert(s.kind());
        continue;
      }
      withValue.insert(s.kind());
      Reference<IBase> made = s.createConvertor();
      ASSERT_TRUE(made) << t.title() << "." << s.name();
      auto* conv = static_cast<IConvertor*>(made.get());
      // What an editor of the slot reads from a new object.
      FieldValue v = RecordCell(s, o->record().data() + t.slotOffsetAt(i)).get();
      std::string text = conv->format(v);
      Expected<FieldValue> back = conv->parse(text);
      // A required field starts empty (or zero where zero is refused): nothing to read back.
      const auto* bytes = std::get_if<Bytes>(&v);
      if (!back && (text.empty() || (bytes && bytes->empty()) || s.option("zeroinvalid") ||
                    s.option("hostnonzero")))
        continue;
      ASSERT_TRUE(back.ok()) << t.title() << "." << s.name() << " (" << s.kind() << ") shows \""
                             << text << "\"";
      EXPECT_EQ(conv->format(back.value()), text) << t.title() << "." << s.name();
    }
  });
  EXPECT_GE(withValue.size(), 27u);
  EXPECT_EQ(without, std::set<std::string>{}); // every value kind of the samples has a convertor
}

} // namespace
} // namespace kestel
