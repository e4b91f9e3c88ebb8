#include "api/object/Packer.h"

#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace kestel {
namespace {

struct AddressAndPrefix {
  nv::addr6 address{};
  uint32_t prefix = 0;
};

struct Rec {
  bool flag = false;
  uint32_t number = 0;
  uint64_t big = 0;
  nv::addr6 address{};
  AddressAndPrefix network;
  NumberPair pair;
  std::string text;
  std::vector<uint8_t> raw;
  std::vector<uint32_t> numbers;
  std::vector<uint64_t> bigs;
  std::vector<nv::addr6> addresses;
  std::vector<std::string> texts;
  std::vector<std::vector<uint8_t>> raws;
  nv::message nested;
};

using Object = RecordObject<Rec>;

const nv::addr6 kAddr{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// One element kind: an object state, the message pack must produce from it, and how to compare
// the field after unpacking that message into a fresh object.
struct Case {
  const char* name;
  Reference<IPackerElement> element;
  std::function<void(Rec&)> fill;
  std::function<void(nv::message&)> expected;
  std::function<bool(const Rec&, const Rec&)> same;
};

std::vector<Case> roundTripCases() {
  nv::message inner;
  inner.set(nv::u32_id(7), 70u);
  auto flagIs = [](const Rec& a, const Rec& b) { return a.flag == b.flag; };
  auto numberIs = [](const Rec& a, const Rec& b) { return a.number == b.number; };
  return {
      {"BoolAsNumber", createBoolAsNumber(memberOf(&Rec::flag), nv::u32_id(1)),
       [](Rec& r) { r.flag = true; }, [](nv::message& m) { m.set(nv::u32_id(1), 1u); }, flagIs},
      {"Bool", createBool(memberOf(&Rec::flag), nv::bool_id(2)), [](Rec& r) { r.flag = true; },
       [](nv::message& m) { m.set(nv::bool_id(2), true); }, flagIs},
      {"InvertedBool", createInvertedBool(memberOf(&Rec::flag), nv::bool_id(3)),
       [](Rec& r) { r.flag = true; }, [](nv::message& m) { m.set(nv::bool_id(3), false); }, flagIs},
      {"BoolSetOrCleared", createBoolSetOrCleared(memberOf(&Rec::flag), nv::bool_id(4)),
       [](Rec& r) { r.flag = true; }, [](nv::message& m) { m.set(nv::bool_id(4), true); }, flagIs},
      {"FlagBit", createFlagBit(memberOf(&Rec::flag), nv::u32_id(5), 0x10),
       [](Rec& r) { r.flag = true; }, [](nv::message& m) { m.set(nv::u32_id(5), 0x10u); }, flagIs},
      {"InvertedFlagBit", createInvertedFlagBit(memberOf(&Rec::flag), nv::u32_id(6), 0x10),
       [](Rec& r) { r.flag = false; }, [](nv::message& m) { m.set(nv::u32_id(6), 0x10u); }, flagIs},
      {"BoolAsConstant", createBoolAsConstant(memberOf(&Rec::flag), nv::u32_id(7), 42),
       [](Rec& r) { r.flag = true; }, [](nv::message& m) { m.set(nv::u32_id(7), 42u); }, flagIs},
      {"Number", createNumber(memberOf(&Rec::number), nv::u32_id(8)),
       [](Rec& r) { r.number = 0xDEADBEEF; },
       [](nv::message& m) { m.set(nv::u32_id(8), 0xDEADBEEFu); }, numberIs},
      {"NumberAsBool", createNumberAsBool(memberOf(&Rec::number), nv::bool_id(9)),
       [](Rec& r) { r.number = 1; }, [](nv::message& m) { m.set(nv::bool_id(9), true); }, numberIs},
      {"NumberAsList", createNumberAsList(memberOf(&Rec::number), nv::u32_array_id(10)),
       [](Rec& r) { r.number = 77; },
       [](nv::message& m) { m.set(nv::u32_array_id(10), std::vector<uint32_t>{77}); }, numberIs},
      {"ScaledNumber", createScaledNumber(memberOf(&Rec::number), nv::u32_id(11), 1000),
       [](Rec& r) { r.number = 5000; }, [](nv::message& m) { m.set(nv::u32_id(11), 5u); },
       numberIs},
      {"BigNumber", createBigNumber(memberOf(&Rec::big), nv::u64_id(12)),
       [](Rec& r) { r.big = 0x0102030405060708; },
       [](nv::message& m) { m.set(nv::u64_id(12), uint64_t{0x0102030405060708}); },
       [](const Rec& a, const Rec& b) { return a.big == b.big; }},
      {"BigNumberAsList", createBigNumberAsList(memberOf(&Rec::big), nv::u64_array_id(13)),
       [](Rec& r) { r.big = 1ull << 40; },
       [](nv::message& m) { m.set(nv::u64_array_id(13), std::vector<uint64_t>{1ull << 40}); },
       [](const Rec& a, const Rec& b) { return a.big == b.big; }},
      {"NumberPairAsList", createNumberPairAsList(memberOf(&Rec::pair), nv::u32_array_id(14)),
       [](Rec& r) {
         r.pair = {3, 9};
       },
       [](nv::message& m) {
         m.set(nv::u32_array_id(14), std::vector<uint32_t>{3, 9});
       },
       [](const Rec& a, const Rec& b) { return a.pair == b.pair; }},
      {"Address", createAddress(memberOf(&Rec::address), nv::addr6_id(15)),
       [](Rec& r) { r.address = kAddr; }, [](nv::message& m) { m.set(nv::addr6_id(15), kAddr); },
       [](const Rec& a, const Rec& b) { return a.address == b.address; }},
      {"AddressWithPrefix",
       createAddressWithPrefix(memberOf(&Rec::network), nv::addr6_id(16), nv::u32_id(17)),
       [](Rec& r) {
         r.network = {kAddr, 64};
       },
       [](nv::message& m) {
         m.set(nv::addr6_id(16), kAddr);
         m.set(nv::u32_id(17), 64u);
       },
       [](const Rec& a, const Rec& b) {
         return a.network.address == b.network.address && a.network.prefix == b.network.prefix;
       }},
      {"Text", createText(memberOf(&Rec::text), nv::string_id(18)),
       [](Rec& r) { r.text = std::string("ether1\0x", 8); },
       [](nv::message& m) { m.set(nv::string_id(18), std::string("ether1\0x", 8)); },
       [](const Rec& a, const Rec& b) { return a.text == b.text; }},
      {"RawBytes", createRawBytes(memberOf(&Rec::raw), nv::raw_id(19)),
       [](Rec& r) {
         r.raw = {0, 1, 0xFF};
       },
       [](nv::message& m) {
         m.set(nv::raw_id(19), std::vector<uint8_t>{0, 1, 0xFF});
       },
       [](const Rec& a, const Rec& b) { return a.raw == b.raw; }},
      {"Message", createMessage(memberOf(&Rec::nested), nv::message_id(20)),
       [inner](Rec& r) { r.nested = inner; },
       [inner](nv::message& m) { m.set(nv::message_id(20), inner); },
       [](const Rec& a, const Rec& b) { return nv::message::equal(a.nested, b.nested); }},
      {"NumberList", createNumberList(memberOf(&Rec::numbers), nv::u32_array_id(21)),
       [](Rec& r) {
         r.numbers = {1, 2, 3};
       },
       [](nv::message& m) {
         m.set(nv::u32_array_id(21), std::vector<uint32_t>{1, 2, 3});
       },
       [](const Rec& a, const Rec& b) { return a.numbers == b.numbers; }},
      {"BigNumberList", createBigNumberList(memberOf(&Rec::bigs), nv::u64_array_id(22)),
       [](Rec& r) {
         r.bigs = {5, 1ull << 63};
       },
       [](nv::message& m) {
         m.set(nv::u64_array_id(22), std::vector<uint64_t>{5, 1ull << 63});
       },
       [](const Rec& a, const Rec& b) { return a.bigs == b.bigs; }},
      {"AddressList", createAddressList(memberOf(&Rec::addresses), nv::addr6_array_id(23)),
       [](Rec& r) {
         r.addresses = {kAddr, {}};
       },
       [](nv::message& m) {
         m.set(nv::addr6_array_id(23), std::vector<nv::addr6>{kAddr, {}});
       },
       [](const Rec& a, const Rec& b) { return a.addresses == b.addresses; }},
      {"TextList", createTextList(memberOf(&Rec::texts), nv::string_array_id(24)),
       [](Rec& r) {
         r.texts = {"a", "", "bc"};
       },
       [](nv::message& m) {
         m.set(nv::string_array_id(24), std::vector<std::string>{"a", "", "bc"});
       },
       [](const Rec& a, const Rec& b) { return a.texts == b.texts; }},
      {"RawList", createRawList(memberOf(&Rec::raws), nv::raw_array_id(25)),
       [](Rec& r) {
         r.raws = {{1}, {}};
       },
       [](nv::message& m) {
         m.set(nv::raw_array_id(25), std::vector<std::vector<uint8_t>>{{1}, {}});
       },
       [](const Rec& a, const Rec& b) { return a.raws == b.raws; }},
  };
}

TEST(PackerElementTest, PackMatchesHandBuiltMessageAndUnpacksBack) {
  for (const Case& c : roundTripCases()) {
    SCOPED_TRACE(c.name);
    Object source;
    c.fill(source.rec());
    nv::message packed;
    c.element->pack(packed, &source);
    nv::message expected;
    c.expected(expected);
    EXPECT_TRUE(nv::message::equal(packed, expected));
    EXPECT_TRUE(c.element->has(packed));

    Object target;
    c.element->unpack(expected, &target);
    EXPECT_TRUE(c.same(source.rec(), target.rec()));
  }
}

TEST(PackerElementTest, AbsentFieldLeavesValueUnchanged) {
  for (const Case& c : roundTripCases()) {
    if (std::string_view(c.name) == "BoolSetOrCleared")
      continue; // absence means false there, tested below
    SCOPED_TRACE(c.name);
    Object filled;
    c.fill(filled.rec());
    Object target;
    c.fill(target.rec());
    c.element->unpack(nv::message(), &target);
    EXPECT_TRUE(c.same(filled.rec(), target.rec()));
    EXPECT_FALSE(c.element->has(nv::message()));
  }
}

TEST(PackerElementTest, UnsetRemovesFirstFieldAndListsItsTypedId) {
  for (const Case& c : roundTripCases()) {
    SCOPED_TRACE(c.name);
    nv::message msg;
    c.expected(msg);
    msg.set(SYS_UNSET, std::vector<uint32_t>{0x12345});
    c.element->unset(msg);
    EXPECT_FALSE(c.element->has(msg));
    std::vector<uint32_t> unset = msg.get(SYS_UNSET);
    ASSERT_EQ(unset.size(), 2u);
    EXPECT_EQ(unset[0], 0x12345u);
    nv::message probe;
    c.expected(probe);
    // the recorded id is one of the fields the element packs, with its kind tag
    std::vector<uint32_t> keys = probe.keys();
    EXPECT_NE(std::find(keys.begin(), keys.end(), unset[1]), keys.end());
  }
}

TEST(PackerElementTest, BooleanAndNumberMappings) {
  struct Row {
    const char* name;
    Reference<IPackerElement> element;
    nv::message in;
    bool before;
    bool after;
  };
  auto u32msg = [](uint32_t v) {
    nv::message m;
    m.set(nv::u32_id(1), v);
    return m;
  };
  member flag = memberOf(&Rec::flag);
  const Row rows[] = {
      {"number 2 is true", createBoolAsNumber(flag, nv::u32_id(1)), u32msg(2), false, true},
      {"flag bit clear", createFlagBit(flag, nv::u32_id(1), 4), u32msg(3), true, false},
      {"flag bit set among others", createFlagBit(flag, nv::u32_id(1), 4), u32msg(7), false, true},
      {"inverted flag bit clear", createInvertedFlagBit(flag, nv::u32_id(1), 4), u32msg(3), false,
       true},
      {"inverted flag bit set", createInvertedFlagBit(flag, nv::u32_id(1), 4), u32msg(4), true,
       false},
      {"other constant", createBoolAsConstant(flag, nv::u32_id(1), 5), u32msg(4), true, false},
      {"set-or-cleared absent", createBoolSetOrCleared(flag, nv::bool_id(1)), nv::message(), true,
       false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Object o;
    o.rec().flag = r.before;
    r.element->unpack(r.in, &o);
    EXPECT_EQ(o.rec().flag, r.after);
  }
}

TEST(PackerElementTest, FalseSetOrClearedFieldIsListedAsUnset) {
  Object o;
  nv::message msg;
  createBoolSetOrCleared(memberOf(&Rec::flag), nv::bool_id(0x10002))->pack(msg, &o);
  EXPECT_FALSE(msg.has(nv::bool_id(0x10002)));
  EXPECT_EQ(msg.get(SYS_UNSET), std::vector<uint32_t>{nv::bool_id(0x10002).id()});
}

TEST(PackerElementTest, NumberPairListEdges) {
  auto element = createNumberPairAsList(memberOf(&Rec::pair), nv::u32_array_id(1));
  struct Row {
    std::vector<uint32_t> list;
    bool present;
    NumberPair after;
  } rows[] = {
      {{}, false, {1, 2}}, {{}, true, {1, 2}}, {{8}, true, {8, 8}}, {{8, 9, 10}, true, {8, 9}}};
  for (const Row& r : rows) {
    Object o;
    o.rec().pair = {1, 2};
    nv::message msg;
    if (r.present)
      msg.set(nv::u32_array_id(1), r.list);
    element->unpack(msg, &o);
    EXPECT_EQ(o.rec().pair, r.after) << r.list.size();
  }
}

TEST(PackerElementTest, ScaledNumberAndPrefixRules) {
  Object o;
  o.rec().number = 1999;
  nv::message msg;
  createScaledNumber(memberOf(&Rec::number), nv::u32_id(1), 1000)->pack(msg, &o);
  EXPECT_EQ(msg.get(nv::u32_id(1)), 1u); // rounds down

  CaptureLogSink log;
  auto unscaled = createScaledNumber(memberOf(&Rec::number), nv::u32_id(1), 0);
  EXPECT_TRUE(log.contains("ERROR:"));
  nv::message seven;
  unscaled->pack(seven, &o); // must not divide by zero
  EXPECT_EQ(seven.get(nv::u32_id(1)), 1999u);

  auto prefix = createAddressWithPrefix(memberOf(&Rec::network), nv::addr6_id(1), nv::u32_id(2));
  o.rec().network = {kAddr, 48};
  nv::message none;
  none.set(nv::u32_id(2), 0xFFFFFFFFu);
  prefix->unpack(none, &o);
  EXPECT_EQ(o.rec().network.prefix, 0u);
  EXPECT_EQ(o.rec().network.address, kAddr); // address absent: kept
}

TEST(PackerTest, FlagBitsShareOneKey) {
  struct Flags {
    bool a = true, b = false, c = true;
  };
  auto packer = createPacker();
  packer->add(createFlagBit(memberOf(&Flags::a), nv::u32_id(1), 1), 10);
  packer->add(createFlagBit(memberOf(&Flags::b), nv::u32_id(1), 2), 11);
  packer->add(createFlagBit(memberOf(&Flags::c), nv::u32_id(1), 4), 12);
  RecordObject<Flags> o(packer);
  nv::message msg;
  packer->pack(msg, &o);
  EXPECT_EQ(msg.get(nv::u32_id(1)), 5u);

  RecordObject<Flags> back(packer);
  back.rec() = {false, true, false};
  packer->unpack(msg, &back);
  EXPECT_TRUE(back.rec().a);
  EXPECT_FALSE(back.rec().b);
  EXPECT_TRUE(back.rec().c);
}

TEST(PackerTest, PartialUpdateKeepsOtherFields) {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&Rec::number), nv::u32_id(1)), 1);
  packer->add(createText(memberOf(&Rec::text), nv::string_id(2)), 4);
  packer->add(createFlagBit(memberOf(&Rec::flag), nv::u32_id(3), 8), 10);
  Object o(packer);
  o.rec() = Rec{};
  o.rec().number = 5;
  o.rec().text = "old";
  o.rec().flag = true;
  nv::message update;
  update.set(nv::string_id(2), std::string("new"));
  packer->unpack(update, &o);
  EXPECT_EQ(o.rec().number, 5u);
  EXPECT_EQ(o.rec().text, "new");
  EXPECT_TRUE(o.rec().flag);
}

TEST(PackerTest, ReadOnlyElementsUnpackButDoNotPack) {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&Rec::number), nv::u32_id(1)), 1);
  packer->addReadOnly(createText(memberOf(&Rec::text), nv::string_id(2)), 2);
  EXPECT_TRUE(packer->has(2));
  EXPECT_FALSE(packer->isWritable(2));
  EXPECT_TRUE(packer->isWritable(1));
  EXPECT_FALSE(packer->has(3));

  Object o(packer);
  o.rec().text = "status";
  nv::message msg;
  packer->pack(msg, &o);
  EXPECT_EQ(msg.size(), 1u);
  EXPECT_FALSE(msg.has(nv::string_id(2)));

  nv::message in;
  in.set(nv::string_id(2), std::string("running"));
  packer->unpack(in, &o);
  EXPECT_EQ(o.rec().text, "running");
}

TEST(PackerTest, ValuesAreCopiedOnlyAsTheFieldsType) {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&Rec::number), nv::u32_id(1)), 5);
  packer->add(createText(memberOf(&Rec::text), nv::string_id(2)), 4);
  Object o(packer);
  EXPECT_TRUE(packer->setValue(5, &o, uint32_t{0x01020304}));
  EXPECT_TRUE(packer->setValue(4, &o, std::string("note")));
  EXPECT_FALSE(packer->setValue(4, &o, uint32_t{1})); // a u32 is not a string
  EXPECT_FALSE(packer->setValue(9, &o, uint32_t{1}));
  std::string text;
  EXPECT_TRUE(packer->getValue(4, &o, text));
  EXPECT_EQ(text, "note");
  uint64_t wide = 7;
  EXPECT_FALSE(packer->getValue(5, &o, wide));
  EXPECT_EQ(wide, 7u);
  EXPECT_EQ(o.getSubtype(), std::string("\x04\x03\x02\x01", 4));
}

// Members that do not fit the record or name another type: nothing may be touched.
TEST(PackerTest, FieldsOutsideTheRecordOrOfAnotherTypeAreSkipped) {
  struct Small {
    uint32_t n = 9;
    alignas(8) unsigned char pad[48]{};
  };
  RecordObject<Small> o;
  const Reference<IPackerElement> elements[] = {
      createNumber(member(sizeof(Small) - 2, mbr_type_generic(4)), nv::u32_id(1)), // past the end
      createNumber(member(0xFFFFFFFE, mbr_type_generic(4)), nv::u32_id(1)),        // wraps
      createText(member(8, mbr_type_generic(sizeof(std::string))), nv::string_id(2)),
      createText(member(9, mbr_type_string()), nv::string_id(2)), // misaligned
  };
  nv::message in;
  in.set(nv::u32_id(1), 1u);
  in.set(nv::string_id(2), std::string("x"));
  for (const auto& e : elements) {
    nv::message out;
    e->pack(out, &o);
    EXPECT_EQ(out.size(), 0u);
    e->unpack(in, &o);
    EXPECT_EQ(o.rec().n, 9u);
    EXPECT_TRUE(std::all_of(std::begin(o.rec().pad), std::end(o.rec().pad),
                            [](unsigned char c) { return c == 0; }));
    EXPECT_FALSE(e->setValue(&o, &o.rec().n, mbr_type_generic(4)));
  }
}

TEST(PackerDeathTest, MemberOfWrongSizeStops) {
  EXPECT_DEATH(createNumber(member(0, mbr_type_generic(2)), nv::u32_id(1)),
               "ASSERT in api/packer:");
  EXPECT_DEATH(createText(member(0, mbr_type_Raw()), nv::string_id(1)), "ASSERT in api/packer:");
  EXPECT_DEATH(createBool(member(), nv::bool_id(1)), "ASSERT in api/packer:");
}

} // namespace
} // namespace kestel
