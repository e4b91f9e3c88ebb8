#include "api/object/MemberType.h"

#include "support/Constants.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace kestel {
namespace {

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i)
    s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

TEST(MemberTypeTest, GenericTypeIsOnePerSize) {
  for (unsigned n : {0u, 4u, 31u, 32u, 40u, 1000u}) {
    EXPECT_EQ(mbr_type_generic(n), mbr_type_generic(n)) << n;
    EXPECT_EQ(mbr_type_generic(n)->size(), n);
  }
  EXPECT_NE(mbr_type_generic(4), mbr_type_generic(5));
  EXPECT_NE(mbr_type_generic(40), mbr_type_generic(41));
  EXPECT_NE(mbr_type_generic(sizeof(std::string)), mbr_type_string());
}

TEST(MemberTypeTest, GenericSetNeedsExactLength) {
  uint32_t field = 0x11111111;
  const member_type* t = mbr_type_generic(4);
  for (std::string_view bad :
       {std::string_view("abc"), std::string_view("abcde"), std::string_view()})
    t->set(&field, bad);
  EXPECT_EQ(field, 0x11111111u);
  t->set(&field, le32(0xCAFEF00D));
  EXPECT_EQ(field, 0xCAFEF00Du);
  EXPECT_EQ(t->get(&field), le32(0xCAFEF00D));
}

// A pair is a 2-byte length L, L bytes of the first part, then the second part; a length that
// runs past the end makes the whole input the first part.
TEST(MemberTypeTest, PairDecodingEdges) {
  const std::string l3 = std::string("\x03\x00", 2), lMax = "\xff\xff";
  const struct {
    std::string in, first, second;
  } rows[] = {
      {"", "", ""},
      {std::string("\x05\x00", 2), std::string("\x05\x00", 2), ""},
      {std::string("\x00\x00x", 3), "", "x"},
      {std::string("\x02\x00", 2) + "ab", "ab", ""},
      {std::string("\x02\x00", 2) + "abcd", "ab", "cd"},
      {l3 + "ab", l3 + "ab", ""},
      {lMax + "ab", lMax + "ab", ""},
      {encodePair("key", "value"), "key", "value"},
  };
  for (const auto& r : rows) {
    std::string_view first, second;
    decodePair(r.in, first, second);
    EXPECT_EQ(first, r.first) << r.in.size();
    EXPECT_EQ(second, r.second) << r.in.size();
  }
}

TEST(MemberTypeTest, OverlongFirstPartIsCutAndLogged) {
  CaptureLogSink log;
  std::string encoded = encodePair(std::string(70000, 'a'), "b");
  EXPECT_TRUE(log.contains("ERROR:"));
  std::string_view first, second;
  decodePair(encoded, first, second);
  EXPECT_EQ(first.size(), 0xFFFFu);
  EXPECT_EQ(second, "b");
}

TEST(MemberTypeTest, NumberPairRoundTrip) {
  const member_type* t = mbr_type_NumberPair();
  NumberPair p{7, 9};
  std::string wire = t->get(&p);
  EXPECT_EQ(wire, std::string("\x04\x00", 2) + le32(7) + le32(9));
  NumberPair back;
  t->set(&back, wire);
  EXPECT_EQ(back, (NumberPair{7, 9}));
  // a 2-byte input is one malformed first part: neither number changes
  t->set(&back, std::string("\x01\x02", 2));
  EXPECT_EQ(back, (NumberPair{7, 9}));
}

TEST(MemberTypeTest, VectorTypesIgnoreTrailingPartialElement) {
  std::vector<uint32_t> numbers{1};
  mbr_type_Array()->set(&numbers, le32(5) + le32(6) + "xy");
  EXPECT_EQ(numbers, (std::vector<uint32_t>{5, 6}));
  EXPECT_EQ(mbr_type_Array()->get(&numbers), le32(5) + le32(6));

  std::vector<uint64_t> bigs;
  mbr_type_BigArray()->set(&bigs, le32(1) + le32(2) + "abc");
  EXPECT_EQ(bigs, (std::vector<uint64_t>{0x200000001ull}));
}

TEST(MemberTypeTest, MalformedStringListKeepsField) {
  std::vector<std::string> texts{"keep"};
  const member_type* t = mbr_type_StringArray();
  t->set(&texts, le32(5) + "abc"); // length runs past the end
  EXPECT_EQ(texts, std::vector<std::string>{"keep"});
  std::vector<std::string> two{"a", ""};
  t->set(&texts, t->get(&two));
  EXPECT_EQ(texts, two);
}

// Any bytes may arrive as wire bytes: set must stay inside the field, and what get returns must
// read back to the same bytes.
template <typename T> void checkArbitraryBytes(const member_type* type, std::mt19937& rng) {
  std::uniform_int_distribution<int> len(0, 40), byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    std::string in(len(rng), '\0');
    for (char& c : in)
      c = static_cast<char>(byte(rng));
    T field{};
    type->set(&field, in);
    std::string once = type->get(&field);
    T again{};
    type->set(&again, once);
    EXPECT_EQ(type->get(&again), once);
  }
}

TEST(MemberTypeTest, ArbitraryWireBytesReadBackStable) {
  std::mt19937 rng(test::kSeed);
  checkArbitraryBytes<std::string>(mbr_type_string(), rng);
  checkArbitraryBytes<NumberPair>(mbr_type_NumberPair(), rng);
  checkArbitraryBytes<std::vector<uint8_t>>(mbr_type_Raw(), rng);
  checkArbitraryBytes<std::vector<uint32_t>>(mbr_type_Array(), rng);
  checkArbitraryBytes<std::vector<uint64_t>>(mbr_type_BigArray(), rng);
  checkArbitraryBytes<std::vector<nv::addr6>>(mbr_type_AddressArray(), rng);
  checkArbitraryBytes<std::vector<std::string>>(mbr_type_StringArray(), rng);
  checkArbitraryBytes<std::vector<std::vector<uint8_t>>>(mbr_type_RawArray(), rng);
  checkArbitraryBytes<nv::message>(mbr_type_Message(), rng);
  checkArbitraryBytes<uint64_t>(mbr_type_generic(8), rng);
}

struct Triple {
  uint32_t number = 0;
  std::string text;
  NumberPair range;
};

TEST(MemberTypeTest, CompositeTypesSplitAndJoinTheirMembers) {
  member number(0, mbr_type_generic(4));
  member text(static_cast<uint32_t>(sizeof(uint64_t)), mbr_type_string());
  auto pair = createPairType(number, text);
  Triple in;
  ASSERT_EQ(reinterpret_cast<char*>(&in.text) - reinterpret_cast<char*>(&in), 8);
  in.number = 42;
  in.text = "eth";
  std::string wire = pair->get(&in);
  EXPECT_EQ(wire, std::string("\x04\x00", 2) + le32(42) + "eth");
  Triple out;
  pair->set(&out, wire);
  EXPECT_EQ(out.number, 42u);
  EXPECT_EQ(out.text, "eth");
  EXPECT_GE(pair->size(), 8 + sizeof(std::string));

  uint32_t rangeAt =
      static_cast<uint32_t>(reinterpret_cast<char*>(&in.range) - reinterpret_cast<char*>(&in));
  auto triple = createTripleType(number, text, member(rangeAt, mbr_type_NumberPair()));
  in.range = {1, 2};
  Triple copy;
  triple->set(&copy, triple->get(&in));
  EXPECT_EQ(copy.number, 42u);
  EXPECT_EQ(copy.text, "eth");
  EXPECT_EQ(copy.range, (NumberPair{1, 2}));
  EXPECT_EQ(triple->size(), sizeof(Triple));
}

TEST(MemberTypeTest, MemberSharesItsTypeUntilTheLastCopyGoes) {
  // A composite descriptor lives exactly as long as its holders (ASan reports a leak or a
  // use after free otherwise).
  member kept;
  {
    auto pair = createPairType(member(0, mbr_type_generic(4)), member(4, mbr_type_generic(4)));
    member a(0, pair.get());
    member b = a;
    kept = b;
    const member& same = b;
    b = same; // self-assignment keeps the type alive
  }
  uint64_t v = 0x0000000200000001ull;
  std::string wire = kept.type()->get(&v);
  EXPECT_EQ(wire, std::string("\x04\x00", 2) + le32(1) + le32(2));
}

} // namespace
} // namespace kestel
