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

// A case whose element maps one record field to one message field of the same value.
template <typename Field, typename Id, typename Wire>
Case plain(const char* name, Reference<IPackerElement> element, Field Rec::*field, Field value,
           Id id, Wire wire) {
  return {name, std::move(element), [=](Rec& r) { r.*field = value; },
          [=](nv::message& m) { m.set(id, wire); },
          [=](const Rec& a, const Rec& b) { return a.*field == b.*field; }};
}

std::vector<Case> roundTripCases() {
  nv::message inner;
  inner.set(nv::u32_id(7), 70u);
  using U32s = std::vector<uint32_t>;
  using U64s = std::vector<uint64_t>;
  using Raw = std::vector<uint8_t>;
  const std::string text("ether1\0x", 8);
  return {
      plain("BoolAsNumber", createBoolAsNumber(memberOf(&Rec::flag), nv::u32_id(1)), &Rec::flag,
            true, nv::u32_id(1), 1u),
      plain("Bool", createBool(memberOf(&Rec::flag), nv::bool_id(2)), &Rec::flag, true,
            nv::bool_id(2), true),
      plain("InvertedBool", createInvertedBool(memberOf(&Rec::flag), nv::bool_id(3)), &Rec::flag,
            true, nv::bool_id(3), false),
      plain("BoolSetOrCleared", createBoolSetOrCleared(memberOf(&Rec::flag), nv::bool_id(4)),
            &Rec::flag, true, nv::bool_id(4), true),
      plain("FlagBit", createFlagBit(memberOf(&Rec::flag), nv::u32_id(5), 0x10), &Rec::flag, true,
            nv::u32_id(5), 0x10u),
      plain("InvertedFlagBit", createInvertedFlagBit(memberOf(&Rec::flag), nv::u32_id(6), 0x10),
            &Rec::flag, false, nv::u32_id(6), 0x10u),
      plain("BoolAsConstant", createBoolAsConstant(memberOf(&Rec::flag), nv::u32_id(7), 42),
            &Rec::flag, true, nv::u32_id(7), 42u),
      plain("Number", createNumber(memberOf(&Rec::number), nv::u32_id(8)), &Rec::number,
            0xDEADBEEFu, nv::u32_id(8), 0xDEADBEEFu),
      plain("NumberAsBool", createNumberAsBool(memberOf(&Rec::number), nv::bool_id(9)),
            &Rec::number, 1u, nv::bool_id(9), true),
      plain("NumberAsList", createNumberAsList(memberOf(&Rec::number), nv::u32_array_id(10)),
            &Rec::number, 77u, nv::u32_array_id(10), U32s{77}),
      plain("ScaledNumber", createScaledNumber(memberOf(&Rec::number), nv::u32_id(11), 1000),
            &Rec::number, 5000u, nv::u32_id(11), 5u),
      plain("BigNumber", createBigNumber(memberOf(&Rec::big), nv::u64_id(12)), &Rec::big,
            uint64_t{0x0102030405060708}, nv::u64_id(12), uint64_t{0x0102030405060708}),
      plain("BigNumberAsList", createBigNumberAsList(memberOf(&Rec::big), nv::u64_array_id(13)),
            &Rec::big, uint64_t{1} << 40, nv::u64_array_id(13), U64s{1ull << 40}),
      plain("NumberPairAsList", createNumberPairAsList(memberOf(&Rec::pair), nv::u32_array_id(14)),
            &Rec::pair, NumberPair{3, 9}, nv::u32_array_id(14), U32s{3, 9}),
      plain("Address", createAddress(memberOf(&Rec::address), nv::addr6_id(15)), &Rec::address,
            kAddr, nv::addr6_id(15), kAddr),
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
      plain("Text", createText(memberOf(&Rec::text), nv::string_id(18)), &Rec::text, text,
            nv::string_id(18), text),
      plain("RawBytes", createRawBytes(memberOf(&Rec::raw), nv::raw_id(19)), &Rec::raw,
            Raw{0, 1, 0xFF}, nv::raw_id(19), Raw{0, 1, 0xFF}),
      {"Message", createMessage(memberOf(&Rec::nested), nv::message_id(20)),
       [inner](Rec& r) { r.nested = inner; },
       [inner](nv::message& m) { m.set(nv::message_id(20), inner); },
       [](const Rec& a, const Rec& b) { return nv::message::equal(a.nested, b.nested); }},
      plain("NumberList", createNumberList(memberOf(&Rec::numbers), nv::u32_array_id(21)),
            &Rec::numbers, U32s{1, 2, 3}, nv::u32_array_id(21), U32s{1, 2, 3}),
      plain("BigNumberList", createBigNumberList(memberOf(&Rec::bigs), nv::u64_array_id(22)),
            &Rec::bigs, U64s{5, 1ull << 63}, nv::u64_array_id(22), U64s{5, 1ull << 63}),
      plain("AddressList", createAddressList(memberOf(&Rec::addresses), nv::addr6_array_id(23)),
            &Rec::addresses, std::vector<nv::addr6>{kAddr, {}}, nv::addr6_array_id(23),
            std::vector<nv::addr6>{kAddr, {}}),
      plain("TextList", createTextList(memberOf(&Rec::texts), nv::string_array_id(24)), &Rec::texts,
            std::vector<std::string>{"a", "", "bc"}, nv::string_array_id(24),
            std::vector<std::string>{"a", "", "bc"}),
      plain("RawList", createRawList(memberOf(&Rec::raws), nv::raw_array_id(25)), &Rec::raws,
            std::vector<Raw>{{1}, {}}, nv::raw_array_id(25), std::vector<Raw>{{1}, {}}),
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
