// Which view a slot gets, decided headless from the slot, its skin entry and the window; and the
// cells views edit through (records by slot store, list elements and the list helpers).
#include "miw/ViewChoice.h"

#include "gen/CType.h"
#include "gen/ModelTestUtil.h"
#include "gen/Skin.h"
#include "gen/SlotFactory.h"
#include "miw/ValueCell.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

class ViewChoiceTest : public ModelTest {
protected:
  std::unique_ptr<Slot> slotOf(const char* text) {
    Parsed p(text);
    EXPECT_NE(p.node, nullptr) << text;
    Expected<SlotElement> e = createSlotElement(*p.node);
    EXPECT_TRUE(e.ok()) << text;
    return e.ok() ? std::move(e.value().slot) : nullptr;
  }
};

SkinEntry skin(bool hidden, bool show, bool readOnly, const char* name = "") {
  SkinEntry e;
  e.hidden = hidden;
  e.show = show;
  e.readOnly = readOnly;
  e.name = name;
  return e;
}

TEST_F(ViewChoiceTest, SlotSkinAndWindowDecideTheView) {
  const SkinEntry none = skin(false, false, false), hidden = skin(true, false, false),
                  shown = skin(false, true, false, "Shown name"), ro = skin(false, false, true);
  const struct {
    const char* slot;
    const SkinEntry* skin;
    bool windowReadOnly, optional;
    ViewKind kind;
    bool wrapped;
    const char* label;
  } cases[] = {
      {"{type:'string',name:'n',title:'Name'}", nullptr, false, false, ViewKind::Text, false,
       "Name"},
      {"{type:'string',name:'n'}", &none, false, true, ViewKind::Text, true, "n"},
      {"{type:'string',name:'n',nonpublic:1}", nullptr, false, false, ViewKind::Hidden, false, "n"},
      {"{type:'string',name:'n'}", &hidden, false, false, ViewKind::Hidden, false, "n"},
      {"{type:'string',name:'n',hidebydefault:1}", &none, false, false, ViewKind::Hidden, false,
       "n"},
      {"{type:'string',name:'n',hidebydefault:1}", &shown, false, false, ViewKind::Text, false,
       "Shown name"},
      {"{type:'string',name:'n'}", &ro, false, true, ViewKind::ReadOnly, false, "n"},
      {"{type:'number',name:'n'}", nullptr, true, true, ViewKind::ReadOnly, false, "n"},
      {"{type:'number',name:'n',values:{type:'static',map:['off','on']}}", nullptr, false, false,
       ViewKind::Enum, false, "n"},
      {"{type:'number',name:'n',values:{type:'static',map:['off','on']}}", nullptr, true, false,
       ViewKind::ReadOnly, false, "n"},
      {"{type:'string',name:'n',values:{type:'static',map:['a','b']}}", nullptr, false, false,
       ViewKind::Text, false, "n"},
      {"{type:'set',name:'n',values:{type:'static',map:['a','b']}}", nullptr, false, false,
       ViewKind::CheckSet, false, "n"},
      {"{type:'multiipaddr',name:'n'}", nullptr, false, true, ViewKind::Multi, true, "n"},
      {"{type:'multilinestring',name:'n'}", nullptr, false, false, ViewKind::Text, false, "n"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Slot> s = slotOf(c.slot);
    ASSERT_TRUE(s) << c.slot;
    ViewChoice v = chooseView(*s, c.skin, c.windowReadOnly, c.optional);
    EXPECT_EQ(v.kind, c.kind) << c.slot;
    EXPECT_EQ(v.optional, c.wrapped) << c.slot;
    EXPECT_EQ(v.label, c.label) << c.slot;
  }
}

TEST_F(ViewChoiceTest, RecordCellsReadAndWriteTheSlotsStore) {
  // A type with one slot of each store a view edits, so the cells work on a real record.
  ASSERT_EQ(loadAndComplete("[{name:'S',title:'S',c:[{type:'map',title:'X',path:[9,1],"
                            "c:[{type:'string',name:'s',id:'s1'},{type:'number',name:'u',id:'u2'},"
                            "{type:'bool',name:'b',id:'b3'},{type:'multiipaddr',name:'m',"
                            "id:'U4'}]}]}]"),
            "");
  CType& t = lastType();
  Reference<IObject> o = t.createObject();
  ASSERT_TRUE(o);
  auto part = [&](size_t i) { return o->record().data() + t.slotOffsetAt(i); };
  RecordCell text(*t.slots()[0], part(0)), number(*t.slots()[1], part(1)),
      flag(*t.slots()[2], part(2)), list(*t.slots()[3], part(3));
  EXPECT_TRUE(text.set(std::string("wan")));
  EXPECT_EQ(text.get(), FieldValue(std::string("wan")));
  EXPECT_FALSE(text.set(uint32_t(5))) << "a value of another kind is refused";
  EXPECT_TRUE(number.set(uint32_t(1500)));
  EXPECT_EQ(number.get(), FieldValue(uint32_t(1500)));
  EXPECT_TRUE(flag.set(true));
  EXPECT_EQ(flag.get(), FieldValue(true));
  EXPECT_TRUE(list.set(std::vector<uint32_t>{1, 2}));
  ElementCell second(list, 1), beyond(list, 2);
  EXPECT_EQ(second.get(), FieldValue(uint32_t(2)));
  EXPECT_TRUE(second.set(uint32_t(7)));
  EXPECT_EQ(list.get(), FieldValue(std::vector<uint32_t>{1, 7}));
  EXPECT_FALSE(beyond.set(uint32_t(9)));
  EXPECT_FALSE(second.set(std::string("x")));
}

TEST_F(ViewChoiceTest, RecordCellsOfAddressNetworkAndByteStringLists) {
  ASSERT_EQ(loadAndComplete("[{name:'S',title:'S',c:[{type:'map',title:'X',path:[9,1],"
                            "c:[{type:'multiip6addr',name:'a',id:'A1'},"
                            "{type:'multinetwork',name:'n',id:'U2',maskid:'U3'},"
                            "{type:'multinetwork6',name:'m',id:'A4',maskid:'U5'},"
                            "{type:'multiraw',name:'r',id:'R6'}]}]}]"),
            "");
  CType& t = lastType();
  Reference<IObject> o = t.createObject();
  ASSERT_TRUE(o);
  auto part = [&](size_t i) { return o->record().data() + t.slotOffsetAt(i); };
  RecordCell ip6s(*t.slots()[0], part(0)), nets(*t.slots()[1], part(1)),
      nets6(*t.slots()[2], part(2)), raws(*t.slots()[3], part(3));
  const Addr6 a{0x20, 0x01, 0x0d, 0xb8, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4};
  const struct {
    RecordCell& cell;
    FieldValue value;
  } cases[] = {
      {ip6s, std::vector<Addr6>{a, Addr6{}}},
      {nets, std::vector<Ipv4Pair>{{0x0000000A, 0x000000FF}, {0x0100A8C0, 0xFFFFFFFF}}},
      {nets6, std::vector<Ipv6Prefix>{{a, 32}, {Addr6{}, 0}}},
      {raws, std::vector<Bytes>{{1, 2, 3}, {}}},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.cell.set(c.value));
    EXPECT_EQ(c.cell.get(), c.value);
    EXPECT_FALSE(c.cell.set(std::vector<uint32_t>{1})) << "a list of another kind is refused";
    FieldValue edited = c.cell.get();
    ElementCell first(c.cell, 0);
    EXPECT_EQ(first.get(), listElement(edited, 0));
    EXPECT_TRUE(removeListElement(edited, 0));
    EXPECT_TRUE(insertListElement(edited, 1));
    EXPECT_EQ(listSize(edited), 2u);
    EXPECT_TRUE(c.cell.set(edited));
    EXPECT_EQ(c.cell.get(), edited);
  }
  // The masks live in their own u32 list; a shorter one leaves the rest single hosts.
  const auto masksOf = [&](size_t i) {
    return reinterpret_cast<std::vector<uint32_t>*>(part(i) + t.slots()[i]->fields()[1].offset);
  };
  EXPECT_EQ(*masksOf(1), (std::vector<uint32_t>{0xFFFFFFFF, 0}));
  masksOf(1)->clear();
  masksOf(2)->clear();
  EXPECT_EQ(nets.get(),
            FieldValue(std::vector<Ipv4Pair>{{0x0100A8C0, 0xFFFFFFFF}, {0, 0xFFFFFFFF}}));
  EXPECT_EQ(nets6.get(), FieldValue(std::vector<Ipv6Prefix>{{Addr6{}, 128}, {Addr6{}, 128}}));
}

TEST(ValueCellLists, InsertRemoveAndSetKeepKindsAndBounds) {
  FieldValue numbers = std::vector<uint32_t>{5};
  EXPECT_TRUE(insertListElement(numbers, 1));
  EXPECT_TRUE(insertListElement(numbers, 0));
  EXPECT_FALSE(insertListElement(numbers, 4));
  EXPECT_EQ(numbers, FieldValue(std::vector<uint32_t>{0, 5, 0}));
  EXPECT_TRUE(removeListElement(numbers, 1));
  EXPECT_FALSE(removeListElement(numbers, 2));
  EXPECT_EQ(listSize(numbers), 2u);
  FieldValue texts = std::vector<std::string>{"a"};
  EXPECT_TRUE(insertListElement(texts, 0));
  EXPECT_TRUE(setListElement(texts, 0, std::string("z")));
  EXPECT_EQ(texts, FieldValue(std::vector<std::string>{"z", "a"}));
  FieldValue scalar = uint32_t(3);
  EXPECT_FALSE(insertListElement(scalar, 0));
  EXPECT_EQ(listSize(scalar), 0u);
  EXPECT_EQ(listElement(scalar, 0), FieldValue());
}

} // namespace
} // namespace kestel
