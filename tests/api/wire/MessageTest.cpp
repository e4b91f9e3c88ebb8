#include "api/wire/Message.h"

#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace nv {
namespace {

u32_id u32k(uint32_t key) { return u32_id(key); }

std::vector<uint32_t> u32Keys(const message& m) {
  std::vector<uint32_t> out;
  for (uint32_t id : m.keys())
    out.push_back(id & kKeyMask);
  return out;
}

TEST(Message, EmptyMessageHasNothingAndGettersReturnDefaults) {
  message m;
  EXPECT_EQ(m.size(), 0u);
  EXPECT_TRUE(m.keys().empty());
  EXPECT_FALSE(m.has(u32k(1)));
  EXPECT_FALSE(m.has(bool_id(1)));
  EXPECT_FALSE(m.has(string_array_id(1)));
  EXPECT_EQ(m.get(u32k(1), 77u), 77u);
  EXPECT_TRUE(m.get(bool_id(1), true));
  EXPECT_EQ(m.get(string_id(1), "dflt"), "dflt");
  EXPECT_EQ(m.count(u32_array_id(1)), 0u);
  EXPECT_TRUE(m.get(message_id(1)).empty());
  EXPECT_FALSE(m.hasField(0xFFFFFFFF)); // the empty-slot marker is no field id
  EXPECT_FALSE(m.hasField(0xFFFFFFFE));
}

TEST(Message, SameIdTwiceKeepsOneFieldWithLastValue) {
  message m;
  m.set(u32k(5), 1u);
  m.set(u32k(5), 2u);
  m.set(string_id(5), "a");
  m.set(string_id(5), "b");
  m.set(u32_array_id(5), {1, 2, 3});
  m.set(u32_array_id(5), {9});
  EXPECT_EQ(m.size(), 3u);
  EXPECT_EQ(m.get(u32k(5)), 2u);
  EXPECT_EQ(m.get(string_id(5)), "b");
  EXPECT_EQ(m.get(u32_array_id(5)), std::vector<uint32_t>{9});
}

TEST(Message, SameKeyDifferentKindsAreDifferentFields) {
  message m;
  m.set(bool_id(0xFE0007), true);
  m.set(u32k(0xFE0007), 3u);
  m.remove(bool_id(0xFE0007));
  EXPECT_FALSE(m.has(bool_id(0xFE0007)));
  EXPECT_EQ(m.get(u32k(0xFE0007)), 3u);
  EXPECT_EQ(m.size(), 1u);
}

TEST(Message, SecondBoolMovesInlineBoolIntoTable) {
  message m;
  m.set(bool_id(1), true);
  EXPECT_EQ(m.keys(), std::vector<uint32_t>{1});
  m.set(bool_id(2), false);
  m.set(bool_id(1), true); // overwrite in the table, no duplicate
  EXPECT_EQ(m.size(), 2u);
  EXPECT_TRUE(m.get(bool_id(1)));
  EXPECT_FALSE(m.get(bool_id(2), true));
  EXPECT_EQ(m.keys(), (std::vector<uint32_t>{1, 2}));
  m.remove(bool_id(1));
  EXPECT_FALSE(m.has(bool_id(1)));
  EXPECT_TRUE(m.has(bool_id(2)));

  message single;
  single.set(bool_id(3), false);
  single.remove(bool_id(3));
  EXPECT_FALSE(single.has(bool_id(3)));
  EXPECT_EQ(single.size(), 0u);
  single.set(bool_id(4), true);
  EXPECT_TRUE(single.get(bool_id(4)));
}

// Slot order of keys() shows the table's capacity: ids 0x08000000 + k sit at k+4 modulo 11, 22 or
// 44, except that key 0 wraps to slot 7, 18 or 40 and 0x1a to 0, 0 or 22.
TEST(Message, U32TableGrowsAtSixthAndThirteenthField) {
  message m;
  for (uint32_t k : {0x0, 0xb, 0x4, 0x5, 0x6})
    m.set(u32k(k), k + 100);
  // Capacity 11: 0xb collides with 0x0 in slot 7 and probes to 8.
  EXPECT_EQ(u32Keys(m), (std::vector<uint32_t>{0x4, 0x5, 0x6, 0x0, 0xb}));
  m.set(u32k(0x7), 107u); // 6th: capacity 22, 0xb in slot 7, 0x0 in 18
  EXPECT_EQ(u32Keys(m), (std::vector<uint32_t>{0x4, 0x5, 0x6, 0x7, 0xb, 0x0}));
  for (uint32_t k : {0x9, 0xa, 0xc, 0xd, 0xe, 0x1a})
    m.set(u32k(k), k + 100);
  // Still 22: 0x1a's home slot 0 is taken, it probes to the free slot 4.
  EXPECT_EQ(u32Keys(m),
            (std::vector<uint32_t>{0x4, 0x5, 0x6, 0x7, 0x1a, 0x9, 0xa, 0xb, 0xc, 0xd, 0xe, 0x0}));
  m.set(u32k(0xf), 115u); // 13th: capacity 44, 0x1a moves to slot 22 and 0x0 to 40
  EXPECT_EQ(u32Keys(m), (std::vector<uint32_t>{0x4, 0x5, 0x6, 0x7, 0x9, 0xa, 0xb, 0xc, 0xd, 0xe,
                                               0xf, 0x1a, 0x0}));
  for (uint32_t k : u32Keys(m))
    EXPECT_EQ(m.get(u32k(k)), k + 100) << k;
}

TEST(Message, RemovedIdLeavesTombstoneThatLaterInsertReuses) {
  message m;
  m.set(u32k(0x0), 1u);            // home slot 7
  m.set(u32k(0xb), 2u);            // home 7, probes to 8
  m.remove(u32k(0x0));             // slot 7 becomes a tombstone
  EXPECT_EQ(m.get(u32k(0xb)), 2u); // lookup passes over the tombstone
  m.set(u32k(0xb), 3u);            // overwrite, not a second entry in the tombstone
  EXPECT_EQ(m.size(), 1u);
  m.set(u32k(0x16), 4u); // home 7: reuses the tombstone
  EXPECT_EQ(u32Keys(m), (std::vector<uint32_t>{0x16, 0xb}));
  EXPECT_EQ(m.get(u32k(0x16)), 4u);
  EXPECT_EQ(m.get(u32k(0xb)), 3u);
}

TEST(Message, CopyIsIndependentAfterChange) {
  message a;
  a.set(u32k(1), 1u);
  a.set(string_id(2), "x");
  message b = a;
  b.set(u32k(1), 2u);
  b.remove(string_id(2));
  EXPECT_EQ(a.get(u32k(1)), 1u);
  EXPECT_EQ(a.get(string_id(2)), "x");
  EXPECT_EQ(b.get(u32k(1)), 2u);
  message c;
  c = a;
  c.set(bool_id(3), true);
  EXPECT_FALSE(a.has(bool_id(3)));
}

TEST(Message, CopyOfPinnedBodyIsDeepAtOnce) {
  message a;
  uint32_t& v = a.ref(u32k(1));
  v = 5;
  message b = a;
  message c;
  c = a;
  v = 6; // writes through the reference must not reach the copies
  EXPECT_EQ(a.get(u32k(1)), 6u);
  EXPECT_EQ(b.get(u32k(1)), 5u);
  EXPECT_EQ(c.get(u32k(1)), 5u);
  std::vector<uint32_t>& arr = a.ref(u32_array_id(2));
  arr.push_back(7);
  EXPECT_EQ(a.get(u32_array_id(2)), std::vector<uint32_t>{7});
  EXPECT_FALSE(b.has(u32_array_id(2)));
}

TEST(Message, RefOnSharedBodyDetachesFirst) {
  message a;
  a.set(string_id(1), "one");
  message b = a;
  b.ref(string_id(1)) += "!";
  EXPECT_EQ(a.get(string_id(1)), "one");
  EXPECT_EQ(b.get(string_id(1)), "one!");
  EXPECT_FALSE(b.get(bool_id(9)));
  b.ref(bool_id(9)) = true;
  EXPECT_TRUE(b.get(bool_id(9)));
}

TEST(Message, RemoveMatchingDeletesEveryKindOfOneNamespace) {
  message m;
  m.set(bool_id(0x2C0001), true);
  m.set(u32k(0x2C0002), 1u);
  m.set(string_id(0x2C0003), "s");
  m.set(u32_array_id(0x2C0004), {1});
  m.set(u32k(0xFE0001), 9u);
  m.removeMatching(0x2C0000, 0xFF0000);
  EXPECT_EQ(m.keys(), std::vector<uint32_t>{u32k(0xFE0001).id()});
}

TEST(Message, KeysListBoolsThenU32ThenScalarsThenArrays) {
  message m;
  m.set(u32_array_id(1), {});
  m.set(string_id(2), "");
  m.set(u32k(3), 0u);
  m.set(bool_id(4), false);
  EXPECT_EQ(m.keys(), (std::vector<uint32_t>{bool_id(4).id(), u32k(3).id(), string_id(2).id(),
                                             u32_array_id(1).id()}));
}

TEST(Message, EqualIgnoresOrderAndSeesExtraFields) {
  message inner1;
  inner1.set(string_id(1), "m");
  inner1.set(string_id(2), "n");
  message inner2;
  inner2.set(string_id(2), "n");
  inner2.set(string_id(1), "m");
  message a;
  a.set(u32k(1), 1u);
  a.set(bool_id(2), true);
  a.set(message_id(3), inner1);
  a.set(message_array_id(4), {inner1, inner2});
  message b;
  b.set(message_array_id(4), {inner2, inner1});
  b.set(message_id(3), inner2);
  b.set(bool_id(2), true);
  b.set(u32k(1), 1u);
  EXPECT_NE(a.getEncoded(message_id(3)), b.getEncoded(message_id(3)));
  EXPECT_TRUE(message::equal(a, b));
  b.set(u32k(9), 0u);
  EXPECT_FALSE(message::equal(a, b));
  EXPECT_FALSE(message::equal(b, a));
  b.remove(u32k(9));
  b.set(bool_id(2), false);
  EXPECT_FALSE(message::equal(a, b));
}

TEST(Message, CommonFieldsAndRemoveEqualKeepWhatChanged) {
  message before;
  before.set(u32k(1), 1u);
  before.set(string_id(2), "name");
  before.set(u32_array_id(3), {1, 2});
  message after = before;
  after.set(string_id(2), "renamed");
  after.set(bool_id(4), true);
  EXPECT_EQ(message::commonFields(after, before),
            (std::vector<uint32_t>{u32k(1).id(), u32_array_id(3).id()}));
  after.removeEqual(before);
  EXPECT_EQ(after.keys(), (std::vector<uint32_t>{bool_id(4).id(), string_id(2).id()}));
}

// Past 16 list fields the comparison looks fields up through a sorted index.
TEST(Message, EqualAndRemoveEqualOnManyListFields) {
  message a;
  message b;
  for (uint32_t k = 0; k < 40; ++k) {
    a.set(string_id(k), std::to_string(k));
    a.set(u32_array_id(k), {k});
    b.set(u32_array_id(39 - k), {39 - k});
    b.set(string_id(39 - k), std::to_string(39 - k));
  }
  EXPECT_TRUE(message::equal(a, b));
  b.set(string_id(17), "changed");
  b.set(u32_array_id(3), {});
  EXPECT_FALSE(message::equal(a, b));
  EXPECT_EQ(message::commonFields(a, b).size(), 78u);
  b.removeEqual(a);
  std::vector<uint32_t> left = b.keys();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<uint32_t>{string_id(17).id(), u32_array_id(3).id()}));
}

// Messages nested n levels deep whose innermost fields were set in the given order, so that the
// bytes differ at every level while the decoded messages are equal.
message chain(int n, bool reversed) {
  message m;
  m.set(string_id(reversed ? 1 : 2), "a");
  m.set(string_id(reversed ? 2 : 1), "a");
  for (int i = 0; i < n; ++i) {
    message outer;
    outer.set(message_id(3), m);
    m = outer;
  }
  return m;
}

// Beyond the nesting bound nested messages compare by their bytes only, and the dump stops.
TEST(Message, DeepNestingIsBounded) {
  EXPECT_TRUE(message::equal(chain(kMaxNesting, false), chain(kMaxNesting, true)));
  EXPECT_FALSE(message::equal(chain(kMaxNesting + 1, false), chain(kMaxNesting + 1, true)));
  EXPECT_TRUE(message::equal(chain(kMaxNesting + 5, false), chain(kMaxNesting + 5, false)));
  std::string text;
  chain(kMaxNesting + 5, false).dump(text);
  EXPECT_NE(text.find("(nested deeper than 32 levels)"), std::string::npos);
  EXPECT_EQ(text.find("string"), std::string::npos);
}

TEST(Message, NestedMessageThatCannotBeEncodedIsRefused) {
  kestel::CaptureLogSink log;
  message inner;
  inner.set(string_id(1), std::string(70000, 'x'));
  message m;
  m.set(message_id(2), message{});
  m.set(message_id(2), inner);
  EXPECT_FALSE(m.has(message_id(2)));
  EXPECT_TRUE(log.contains("ERROR:"));
}

} // namespace
} // namespace nv
