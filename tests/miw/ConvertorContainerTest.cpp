// The values of the multi-value containers and their kin, through the convertors the slot kinds
// install: lists of bit-set entries (plain and tristate), tristate arrays, MAC networks, nested
// messages, and rows of tuples read from and written to an object record.
#include "gen/SlotFactory.h"

#include "gen/ModelTestUtil.h"
#include "miw/ConvertorBits.h"
#include "miw/ConvertorList.h"
#include "miw/SlotConvertors.h"
#include "miw/ValueCell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace kestel {
namespace {

// One slot made from its descriptor text, its convertor, and a record part that holds it.
class MadeSlot {
public:
  explicit MadeSlot(const std::string& text) : parsed_(text) {
    Expected<SlotElement> e = createSlotElement(*parsed_.node);
    EXPECT_TRUE(e.ok()) << text;
    if (!e.ok())
      return;
    slot_ = std::move(e->slot);
    struct AtZero : SlotMaster {
      uint32_t reserve(uint32_t, uint32_t, bool) override { return 0; }
    } master;
    slot_->realize(master);
    part_.reset(
        static_cast<std::byte*>(std::aligned_alloc(16, (slot_->partSize() + 15) / 16 * 16)));
    slot_->ctor(part_.get());
    Reference<IBase> made = slot_->createConvertor();
    conv_ = Reference<IConvertor>(static_cast<IConvertor*>(made.get()));
  }
  ~MadeSlot() {
    if (slot_ && part_)
      slot_->dtor(part_.get());
  }
  IConvertor& conv() const { return *conv_; }
  bool hasConvertor() const { return static_cast<bool>(conv_); }
  RecordCell cell() const { return RecordCell(*slot_, part_.get()); }

private:
  struct Free {
    void operator()(std::byte* p) const { std::free(p); }
  };
  Parsed parsed_;
  std::unique_ptr<Slot> slot_;
  std::unique_ptr<std::byte, Free> part_;
  Reference<IConvertor> conv_;
};

class ContainerConvertorTest : public ModelTest {
protected:
  void SetUp() override { installSlotConvertors(); }
};

const char* const kState = "{type:'multibits',name:'state',id:'R8',maskid:'R9',"
                           "values:{type:'static',map:['established','related','new','invalid']}}";
const char* const kFlags = "{type:'multitristate',name:'flags',id:'RA',maskid:'RB',"
                           "values:{type:'static',map:['syn','ack','fin','rst']}}";
const char* const kTri = "{type:'multitristatearray',name:'tri',id:'RB'}";
const char* const kMacs = "{type:'multimacnetwork',name:'m',id:'R1',maskid:'R2'}";
const char* const kLists = "{type:'multituple',name:'lists',optid:'u18',c:["
                           "{type:'multinetwork',name:'srclist',id:'U19',maskid:'U1A'},"
                           "{type:'multimacnetwork',name:'maclist',id:'R1B',maskid:'R1C'}]}";
const char* const kMulti = "{type:'multi',name:'multi1',optid:'u20',c:[{type:'number',name:'m1',"
                           "id:'u21',max:100}]}";

// Text in, the value the record keeps, the text shown again; refused texts keep the record.
TEST_F(ContainerConvertorTest, TextsRoundTripThroughTheRecord) {
  using MB = MaskedBytes;
  const Bytes macMask = Bytes(6, 0xFF);
  const Bytes mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  const struct {
    const char* slot;
    const char* text;
    bool ok;
    FieldValue value;
    const char* shown;
  } cases[] = {
      {kState, "related, established; invalid", true,
       std::vector<MB>{{{0x03}, {0x0F}}, {{0x08}, {0x0F}}}, "established,related;invalid"},
      {kState, "", true, std::vector<MB>{}, ""},
      {kState, ";new", true, std::vector<MB>{{{0x00}, {0x0F}}, {{0x04}, {0x0F}}}, ";new"},
      {kState, "new,new", false, {}, ""},
      {kState, "old", false, {}, ""},
      {kState, "new,", false, {}, ""},
      {kFlags, "syn,!ack;!rst", true, std::vector<MB>{{{0x01}, {0x03}}, {{0x00}, {0x08}}},
       "syn,!ack;!rst"},
      {kFlags, "! fin", true, std::vector<MB>{{{0x00}, {0x04}}}, "!fin"},
      {kFlags, "syn,!syn", false, {}, ""},
      {kFlags, "!", false, {}, ""},
      {kTri, "true,false, true", true, std::vector<Bytes>{{1}, {0}, {1}}, "true,false,true"},
      {kTri, "true,,false", true, std::vector<Bytes>{{1}, {}, {0}}, "true,,false"},
      {kTri, "yes", false, {}, ""},
      {kMacs, "00:11:22:33:44:55, 00:11:22:33:44:55/ff:ff:ff:00:00:00", true,
       std::vector<MB>{{mac, macMask}, {mac, {0xFF, 0xFF, 0xFF, 0, 0, 0}}},
       "00:11:22:33:44:55,00:11:22:33:44:55/FF:FF:FF:00:00:00"},
      {kMacs, "00:11:22:33:44/ff", false, {}, ""},
      {"{type:'macnetwork',name:'m',id:'r1',maskid:'r2'}", "00-11-22-33-44-55 / FF:FF:00:00:00:00",
       true, MB{mac, {0xFF, 0xFF, 0, 0, 0, 0}}, "00:11:22:33:44:55/FF:FF:00:00:00:00"},
      {kLists, "192.0.2.0/24 00:11:22:33:44:55, 198.18.0.1 00:11:22:33:44:55/FF:FF:FF:00:00:00",
       true,
       std::vector<TupleRow>{
           {{Ipv4Pair{0x000200C0, 0x00FFFFFF}, MB{mac, macMask}}},
           {{Ipv4Pair{0x010012C6, 0xFFFFFFFF}, MB{mac, {0xFF, 0xFF, 0xFF, 0, 0, 0}}}}},
       "192.0.2.0/24 00:11:22:33:44:55,198.18.0.1/32 00:11:22:33:44:55/FF:FF:FF:00:00:00"},
      {kLists, "", true, std::vector<TupleRow>{}, ""},
      {kLists, "192.0.2.0/24", false, {}, ""},
      {kLists, "00:11:22:33:44:55 192.0.2.0/24", false, {}, ""},
      {kMulti, "7", true, std::vector<TupleRow>{{{uint32_t(7)}}}, "7"},
      {kMulti, "7,8", false, {}, ""}, // one number holds one row
      {kMulti, "", false, {}, ""},
      {kMulti, "101", false, {}, ""},
  };
  for (const auto& c : cases) {
    MadeSlot s(c.slot);
    ASSERT_TRUE(s.hasConvertor()) << c.slot;
    RecordCell cell = s.cell();
    const FieldValue before = cell.get();
    Expected<FieldValue> v = s.conv().parse(c.text);
    ASSERT_EQ(v.ok(), c.ok) << c.slot << " " << c.text;
    if (!c.ok) {
      EXPECT_EQ(v.error().text, s.conv().describe()) << c.text;
      EXPECT_EQ(cell.get(), before);
      continue;
    }
    EXPECT_EQ(v.value(), c.value) << c.text;
    ASSERT_TRUE(cell.set(v.value())) << c.slot << " " << c.text;
    EXPECT_EQ(cell.get(), c.value) << c.text;
    EXPECT_EQ(s.conv().format(cell.get()), c.shown) << c.text;
  }
}

TEST_F(ContainerConvertorTest, ContainerRowsFollowTheirColumns) {
  MadeSlot lists(kLists);
  RecordCell cell = lists.cell();
  // A row count the single-valued column cannot hold is refused and changes nothing.
  MadeSlot multi(kMulti);
  RecordCell one = multi.cell();
  EXPECT_EQ(one.get(), FieldValue(std::vector<TupleRow>{{{uint32_t(0)}}}));
  EXPECT_FALSE(one.set(std::vector<TupleRow>{{{uint32_t(1)}}, {{uint32_t(2)}}}));
  EXPECT_FALSE(one.set(std::vector<TupleRow>{}));
  EXPECT_FALSE(one.set(std::vector<TupleRow>{{{std::string("x")}}}));
  EXPECT_EQ(one.get(), FieldValue(std::vector<TupleRow>{{{uint32_t(0)}}}));
  auto* list = static_cast<IListConvertor*>(multi.conv().cast(kListConvertorInterface));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->fixedCount(), 1u);
  EXPECT_EQ(static_cast<IListConvertor*>(lists.conv().cast(kListConvertorInterface))->fixedCount(),
            0u);
  // A row whose second cell is of the wrong kind is refused as a whole.
  EXPECT_FALSE(cell.set(std::vector<TupleRow>{{{Ipv4Pair{1, 2}, std::string("x")}}}));
  EXPECT_EQ(cell.get(), FieldValue(std::vector<TupleRow>{}));
}

TEST_F(ContainerConvertorTest, ErrorTextsNameWhatIsExpected) {
  const struct {
    const char* slot;
    const char* field;
    const char* text;
  } cases[] = {
      {kState, "Connection State", "Error in Connection State - list of list of names expected!"},
      {kFlags, "TCP Flags",
       "Error in TCP Flags - list of list of names, each may be preceded by ! expected!"},
      {kTri, "Tri", "Error in Tri - list of true, false or nothing expected!"},
      {kMacs, "Src. MAC", "Error in Src. MAC - list of mac network expected!"},
      {kMulti, "Multi",
       "Error in Multi - list of number in range [0;100] with at least 1 and at most 1 elements "
       "expected!"},
      {"{type:'message',name:'vendor',id:'mB'}", "Vendor Options",
       "Error in Vendor Options - empty value expected!"},
  };
  for (const auto& c : cases) {
    MadeSlot s(c.slot);
    ASSERT_TRUE(s.hasConvertor()) << c.slot;
    EXPECT_EQ(inputErrorText(c.field, s.conv()), c.text);
  }
}

TEST_F(ContainerConvertorTest, NestedMessagesShowTheirFieldsOnOneLine) {
  MadeSlot s("{type:'object',name:'router',id:'m4'}");
  RecordCell cell = s.cell();
  EXPECT_EQ(s.conv().format(cell.get()), "");
  EXPECT_TRUE(s.conv().parse("").ok());
  EXPECT_FALSE(s.conv().parse("u32").ok());
  nv::message inner;
  inner.set(nv::u32_id(0x12), 7u);
  inner.set(nv::string_id(0x13), std::string("edge"));
  nv::message m;
  m.set(nv::u32_id(0x10), 5u);
  m.set(nv::message_id(0x11), inner);
  ASSERT_TRUE(cell.set(m));
  std::string expected;
  m.dump(expected); // the diagnostic dump is the oracle: its lines, trimmed, on one line
  std::string joined;
  size_t from = 0;
  while (from < expected.size()) {
    size_t end = expected.find('\n', from);
    std::string line = expected.substr(from, end - from);
    line.erase(0, line.find_first_not_of(' '));
    joined += (joined.empty() ? "" : "; ") + line;
    from = end + 1;
  }
  EXPECT_EQ(s.conv().format(cell.get()), joined);
  nv::message big;
  for (uint32_t i = 0; i < 50; ++i)
    big.set(nv::string_id(0x100 + i), std::string(20, 'x'));
  const std::string shown = s.conv().format(big);
  EXPECT_EQ(shown.size(), 203u);
  EXPECT_EQ(shown.substr(200), "...");
  EXPECT_FALSE(cell.set(std::string("x")));
}

// A descriptor's bit numbers never size a byte string beyond the bit limit.
TEST(BitEntryConvertor, HugeBitNumbersAreRefused) {
  const MapEntry bits[] = {{1, "low"}, {0xFFFFFFFF, "huge"}, {40000, "far"}, {0, nullptr}};
  Reference<IEnum> e = createEnum(bits);
  for (BitEntry form : {BitEntry::Plain, BitEntry::Tristate}) {
    Reference<IConvertor> c = bitEntryConvertor(e.get(), form);
    EXPECT_FALSE(c->parse("huge").ok());
    EXPECT_FALSE(c->parse("far").ok());
    Expected<FieldValue> low = c->parse("low");
    ASSERT_TRUE(low.ok());
    EXPECT_EQ(std::get<MaskedBytes>(low.value()).mask.size(), 1u);
    EXPECT_EQ(c->format(MaskedBytes{Bytes(8, 0xFF), Bytes(8, 0xFF)}), "low");
  }
}

} // namespace
} // namespace kestel
