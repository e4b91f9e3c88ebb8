#include "api/wire/Message.h"

#include "api/wire/Vocabulary.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <random>

namespace nv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const message& m) {
  Bytes out;
  EXPECT_TRUE(m.flatten(out));
  EXPECT_LE(out.size(), m.encodedSizeBound());
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes word(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

const Bytes kMagic = {0x4D, 0x32};

TEST(MessageCodec, EmptyMessageIsTheMagicAlone) {
  EXPECT_EQ(encode(message{}), kMagic);
  message m;
  EXPECT_TRUE(m.parse(kMagic));
  EXPECT_EQ(m.size(), 0u);
  EXPECT_TRUE(m.parse(nullptr, 0));
  EXPECT_EQ(m.size(), 0u);
}

struct ExactCase {
  const char* name;
  message m;
  Bytes bytes;
};

std::vector<ExactCase> exactCases() {
  std::vector<ExactCase> cases;
  auto add = [&](const char* name, auto build, Bytes fields) {
    message m;
    build(m);
    cases.push_back({name, m, concat({kMagic, fields})});
  };
  add(
      "u32 255 short", [](message& m) { m.set(u32_id(0xFE0001), 255u); },
      concat({word(0x09FE0001), {0xFF}}));
  add(
      "u32 256 long", [](message& m) { m.set(u32_id(0xFE0001), 256u); },
      concat({word(0x08FE0001), word(256)}));
  add("bool true", [](message& m) { m.set(bool_id(0xFE0007), true); }, {0x07, 0x00, 0xFE, 0x01});
  add(
      "bool false", [](message& m) { m.set(bool_id(0xFE0007), false); }, word(0x00FE0007));
  add(
      "u64", [](message& m) { m.set(u64_id(0x10002), 0x0102030405060708ull); },
      concat({word(0x10010002), {8, 7, 6, 5, 4, 3, 2, 1}}));
  add(
      "addr6",
      [](message& m) {
        m.set(addr6_id(3), addr6{0xFE, 0x80, 15, 1});
      },
      concat({word(0x18000003), {0xFE, 0x80, 15, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));
  add(
      "string 255", [](message& m) { m.set(string_id(4), std::string(255, 'a')); },
      concat({word(0x21000004), {255}, Bytes(255, 'a')}));
  add(
      "string 256", [](message& m) { m.set(string_id(4), std::string(256, 'b')); },
      concat({word(0x20000004), {0x00, 0x01}, Bytes(256, 'b')}));
  add(
      "raw",
      [](message& m) {
        m.set(raw_id(5), Bytes{9, 8});
      },
      concat({word(0x31000005), {2, 9, 8}}));
  add(
      "nested", [](message& m) { m.set(message_id(6), message{}); },
      concat({word(0x29000006), {2, 0x4D, 0x32}}));
  add(
      "bool array",
      [](message& m) {
        m.set(bool_array_id(7), Bytes{1, 0, 5});
      },
      concat({word(0x80000007), {3, 0, 1, 0, 1}}));
  add(
      "u32 array",
      [](message& m) {
        m.set(u32_array_id(8), {1, 0x10000});
      },
      concat({word(0x88000008), {2, 0}, word(1), word(0x10000)}));
  add(
      "u64 array", [](message& m) { m.set(u64_array_id(9), {1}); },
      concat({word(0x90000009), {1, 0, 1, 0, 0, 0, 0, 0, 0, 0}}));
  add(
      "addr6 array", [](message& m) { m.set(addr6_array_id(10), {addr6{}}); },
      concat({word(0x9800000A), {1, 0}, Bytes(16, 0)}));
  add(
      "string array",
      [](message& m) {
        m.set(string_array_id(11), {"ab", ""});
      },
      concat({word(0xA000000B), {2, 0, 2, 0, 'a', 'b', 0, 0}}));
  add(
      "empty message array", [](message& m) { m.set(message_array_id(12), {}); },
      concat({word(0xA800000C), {0, 0}}));
  add(
      "message array",
      [](message& m) {
        message one;
        one.set(bool_id(1), true);
        m.set(message_array_id(12), {message{}, one});
      },
      concat({word(0xA800000C), {2, 0, 2, 0}, kMagic, {6, 0}, kMagic, word(0x01000001)}));
  add(
      "raw array", [](message& m) { m.set(raw_array_id(13), {Bytes{7}}); },
      concat({word(0xB000000D), {1, 0, 1, 0, 7}}));
  // Routing fields lead: SYS_TO, then SYS_FROM, then the other arrays, bools, u32, scalars.
  add(
      "routing first",
      [](message& m) {
        m.set(u32_id(0xFE0001), 1u);
        m.set(kestel::SYS_FROM, {2});
        m.set(string_array_id(0x10), {});
        m.set(kestel::SYS_TO, {3});
        m.set(bool_id(1), true);
      },
      concat({word(0x88FF0001),
              {1, 0},
              word(3),
              word(0x88FF0002),
              {1, 0},
              word(2),
              word(0xA0000010),
              {0, 0},
              word(0x01000001),
              word(0x09FE0001),
              {1}}));
  return cases;
}

TEST(MessageCodec, EncodesByteExactAndDecodesBack) {
  for (const ExactCase& c : exactCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.m), c.bytes);
    bool ok = false;
    message back = message::fromBytes(c.bytes, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(message::equal(back, c.m));
  }
}

// Bit 24 is the wire's short-form flag (for bools the value); a key that carries it must neither
// turn a false bool true nor change a value's length form.
TEST(MessageCodec, KeyBit24NeverReachesTheWire) {
  message m;
  m.set(bool_id(0x1000005), false);
  m.set(u32_id(0x1000006), 1000u);
  EXPECT_TRUE(m.has(bool_id(5)));
  EXPECT_EQ(m.get(u32_id(6)), 1000u);
  EXPECT_EQ(encode(m), concat({kMagic, word(0x00000005), word(0x08000006), word(1000)}));
  message back(encode(m));
  EXPECT_FALSE(back.get(bool_id(5), true));
  EXPECT_EQ(back.get(u32_id(0x1000006)), 1000u);
}

TEST(MessageCodec, RejectsMalformedInput) {
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"one byte", {0x4D}},
      {"first word above 255", {0x00, 0x01}},
      {"kind tag 0x38", concat({kMagic, word(0x38000001)})},
      {"kind tag 0xB8", concat({kMagic, word(0xB8000001), {0, 0}})},
      {"u32 long cut", concat({kMagic, word(0x08000001), {1, 2}})},
      {"u32 short cut", concat({kMagic, word(0x09000001)})},
      {"u64 cut", concat({kMagic, word(0x10000001), {1, 2, 3, 4, 5, 6, 7}})},
      {"addr6 cut", concat({kMagic, word(0x18000001), Bytes(15, 0)})},
      {"string past end", concat({kMagic, word(0x21000001), {5, 'a'}})},
      {"long length cut", concat({kMagic, word(0x20000001), {5}})},
      {"array count cut", concat({kMagic, word(0x88000001), {1}})},
      {"u32 array past end", concat({kMagic, word(0x88000001), {2, 0}, word(1)})},
      {"huge string array", concat({kMagic, word(0xA0000001), {0xFF, 0xFF}, {0, 0}})},
      {"string element past end", concat({kMagic, word(0xA0000001), {1, 0, 3, 0, 'a'}})},
      {"one stray byte", concat({kMagic, {0}})},
      {"three stray bytes", concat({kMagic, word(0x01000001), {0, 0, 0}})},
      {"older: type 6", {1, 0, 6, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
      {"older: type 0", {1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
      {"older: record cut", {1, 0, 2, 1, 0, 0, 0, 1, 0, 0, 0, 1, 2}},
      {"older: missing record", {2, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1}},
  };
  for (const auto& [name, bytes] : cases) {
    bool ok = true;
    (void)message::fromBytes(bytes, &ok);
    EXPECT_FALSE(ok) << name;
  }
}

TEST(MessageCodec, FailedParseKeepsFieldsDecodedBeforeTheFault) {
  const Bytes bytes = concat({kMagic, word(0x09000001), {7}, word(0x38000002)});
  bool ok = true;
  message m = message::fromBytes(bytes, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(m.get(u32_id(1)), 7u);
}

TEST(MessageCodec, RepeatedIdKeepsTheLastValue) {
  const Bytes bytes = concat({kMagic,
                              word(0x09000001),
                              {1},
                              word(0x21000002),
                              {1, 'a'},
                              word(0x88000003),
                              {1, 0},
                              word(5),
                              word(0x09000001),
                              {2},
                              word(0x21000002),
                              {1, 'b'},
                              word(0x88000003),
                              {0, 0}});
  message m(bytes);
  EXPECT_EQ(m.size(), 3u);
  EXPECT_EQ(m.get(u32_id(1)), 2u);
  EXPECT_EQ(m.get(string_id(2)), "b");
  EXPECT_EQ(m.count(u32_array_id(3)), 0u);
  EXPECT_TRUE(m.has(u32_array_id(3)));
}

TEST(MessageCodec, ParseAddsToExistingFields) {
  message m;
  m.set(string_id(2), "old");
  m.set(u32_id(3), 3u);
  ASSERT_TRUE(m.parse(concat({kMagic, word(0x21000002), {3, 'n', 'e', 'w'}})));
  EXPECT_EQ(m.get(string_id(2)), "new");
  EXPECT_EQ(m.get(u32_id(3)), 3u);
  EXPECT_EQ(m.size(), 2u);
}

TEST(MessageCodec, DecodesOlderRecordFormat) {
  // One record: string, key 0x03000006 (namespace selector 3: 0xFF), "abc" plus terminator.
  const Bytes example = {1, 0, 3, 0x06, 0x00, 0x00, 0x03, 1, 0, 0, 0, 4, 0, 'a', 'b', 'c', 0};
  bool ok = false;
  message m = message::fromBytes(example, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(m.keys(), std::vector<uint32_t>{0x20FF0006});
  EXPECT_EQ(m.get(string_id(0xFF0006)), "abc");

  const Bytes records = {
      5,   0,                                           // five records
      1,   0x01, 0, 0,    0x01, 1, 0, 0, 0, 2,          // bool 0xFE0001 = true (nonzero)
      2,   0x02, 0, 0x77, 0x02, 1, 0, 0, 0, 9, 1, 0, 0, // u32 0xFD0002 = 0x109 (bits 16-23 ignored)
      2,   0x03, 0, 0,    0x07, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, // u32 array 3 (selector 7 -> 0)
      3,   0x04, 0, 0,    0x00, 0, 0, 0, 0,                         // empty string array 4
      4,   0x05, 0, 0,    0x00, 1, 0, 0, 0, 2, 0, 7, 8,             // raw 5, terminator not dropped
      0xEE}; // bytes after the records are ignored
  // A string record of length 0 has no terminator to drop: it is empty.
  m = message::fromBytes(Bytes{1, 0, 3, 9, 0, 0, 0, 1, 0, 0, 0, 0, 0}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(m.has(string_id(9)));
  EXPECT_EQ(m.get(string_id(9), "x"), "");

  m = message::fromBytes(records, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(m.get(bool_id(0xFE0001)));
  EXPECT_EQ(m.get(u32_id(0xFD0002)), 0x109u);
  EXPECT_EQ(m.get(u32_array_id(3)), (std::vector<uint32_t>{1, 2}));
  EXPECT_TRUE(m.has(string_array_id(4)));
  EXPECT_EQ(m.get(raw_id(5)), (Bytes{7, 8}));
  EXPECT_EQ(m.size(), 5u);

  // One record of a message array 6: an empty message and zero bytes.
  m = message::fromBytes(Bytes{1, 0, 5, 6, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0x4D, 0x32, 0, 0}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(m.count(message_array_id(6)), 2u);
  EXPECT_EQ(m.get(message_array_id(6)).size(), 2u);
}

TEST(MessageCodec, RefusesValuesBeyondTheWireLimits) {
  const std::vector<std::pair<const char*, message>> cases = [] {
    std::vector<std::pair<const char*, message>> out;
    message a;
    a.set(string_id(1), std::string(65536, 'x'));
    out.push_back({"string", a});
    message b;
    b.set(u32_array_id(1), std::vector<uint32_t>(65536));
    out.push_back({"array count", b});
    message c;
    c.set(raw_array_id(1), {Bytes(65536)});
    out.push_back({"array element", c});
    return out;
  }();
  for (const auto& [name, m] : cases) {
    kestel::CaptureLogSink log;
    Bytes out = {1, 2};
    EXPECT_FALSE(m.flatten(out)) << name;
    EXPECT_EQ(out, (Bytes{1, 2})) << name;
    EXPECT_TRUE(log.contains("ERROR: can't encode message: field 1 holds more than 65535")) << name;
    Bytes buf(m.encodedSizeBound());
    size_t cap = buf.size();
    EXPECT_EQ(m.flatten(buf.data(), cap), 0u) << name;
    EXPECT_EQ(cap, 0u) << name;
  }
  message edge;
  edge.set(string_id(1), std::string(65535, 'x'));
  edge.set(u32_array_id(2), std::vector<uint32_t>(65535, 1));
  EXPECT_TRUE(message::equal(message(encode(edge)), edge));
}

TEST(MessageCodec, SizeBoundFollowsThePerKindAllowance) {
  message m;
  m.set(bool_id(1), true);                // 4
  m.set(u32_id(2), 1u);                   // 8
  m.set(u64_id(3), 1u);                   // 12
  m.set(addr6_id(4), addr6{});            // 20
  m.set(string_id(5), "abc");             // 3 + 6
  m.set(u32_array_id(6), {1, 2});         // 6 + 8
  m.set(string_array_id(7), {"a", "bc"}); // 6 + (1 + 2) + (2 + 2)
  EXPECT_EQ(m.encodedSizeBound(), 2u + 4 + 8 + 12 + 20 + 9 + 14 + 13);
  EXPECT_EQ(encode(m).size(), 2u + 4 + 5 + 12 + 20 + 8 + 14 + 13);
}

TEST(MessageCodec, BufferFormWritesExactlyOrWarns) {
  message m;
  m.set(u32_id(1), 1000u);
  m.set(string_id(2), "abc");
  const Bytes expected = encode(m);
  Bytes buf(expected.size() + 4, 0xAA);
  size_t cap = buf.size();
  EXPECT_EQ(m.flatten(buf.data(), cap), expected.size());
  EXPECT_EQ(cap, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buf.begin()));
  EXPECT_EQ(buf.back(), 0xAA);

  kestel::CaptureLogSink log;
  Bytes small(expected.size() - 1, 0xAA);
  cap = small.size();
  EXPECT_EQ(m.flatten(small.data(), cap), 0u);
  EXPECT_EQ(cap, 0u);
  EXPECT_TRUE(log.contains("WARNING: too small buffer for flatten"));
  EXPECT_EQ(small, Bytes(expected.size() - 1, 0xAA));
}

// A seeded generator of messages of every kind, nested up to three levels.
class RandomMessages {
public:
  explicit RandomMessages(uint32_t seed) : rng_(seed) {}

  message next(int depth = 0) {
    message m;
    const int fields = pick(0, 12);
    for (int i = 0; i < fields; ++i)
      addField(m, depth);
    return m;
  }

private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  uint32_t key() { return uint32_t(pick(0, 3)) << 16 | uint32_t(pick(0, 40)); }
  uint32_t u32() { return pick(0, 1) ? uint32_t(pick(0, 300)) : uint32_t(rng_()); }
  std::string text() { return std::string(size_t(pick(0, 1) ? pick(0, 20) : pick(250, 300)), 'q'); }
  Bytes bytes() { return Bytes(size_t(pick(0, 300)), uint8_t(pick(0, 255))); }
  addr6 addr() {
    addr6 a{};
    for (auto& b : a)
      b = uint8_t(pick(0, 255));
    return a;
  }
  template <typename T, typename F> std::vector<T> many(F f) {
    std::vector<T> v(size_t(pick(0, 5)));
    for (auto& e : v)
      e = f();
    return v;
  }

  void addField(message& m, int depth) {
    switch (pick(0, depth < 3 ? 13 : 11)) {
    case 0:
      return m.set(bool_id(key()), pick(0, 1) == 1);
    case 1:
      return m.set(u32_id(key()), u32());
    case 2:
      return m.set(u64_id(key()), uint64_t(rng_()) << 32 | rng_());
    case 3:
      return m.set(addr6_id(key()), addr());
    case 4:
      return m.set(string_id(key()), text());
    case 5:
      return m.set(raw_id(key()), bytes());
    case 6:
      return m.set(bool_array_id(key()), many<uint8_t>([&] { return uint8_t(pick(0, 1)); }));
    case 7:
      return m.set(u32_array_id(key()), many<uint32_t>([&] { return u32(); }));
    case 8:
      return m.set(u64_array_id(key()), many<uint64_t>([&] { return uint64_t(rng_()); }));
    case 9:
      return m.set(addr6_array_id(key()), many<addr6>([&] { return addr(); }));
    case 10:
      return m.set(string_array_id(key()), many<std::string>([&] { return text(); }));
    case 11:
      return m.set(raw_array_id(key()), many<Bytes>([&] { return bytes(); }));
    case 12:
      return m.set(message_array_id(key()), many<message>([&] { return next(depth + 1); }));
    default:
      return m.set(message_id(key()), next(depth + 1));
    }
  }

  std::mt19937 rng_;
};

TEST(MessageCodec, DecodeOfEncodeIsEqualForRandomMessages) {
  RandomMessages gen(20261206);
  for (int i = 0; i < 400; ++i) {
    const message m = gen.next();
    const Bytes bytes = encode(m);
    bool ok = false;
    const message back = message::fromBytes(bytes, &ok);
    ASSERT_TRUE(ok) << i;
    ASSERT_TRUE(message::equal(back, m)) << i;
    ASSERT_EQ(back.size(), m.size()) << i;
    ASSERT_EQ(encode(back).size(), bytes.size()) << i;
    message copy = m;
    copy.set(u32_id(0x7FFFFF), 1u);
    ASSERT_FALSE(message::equal(copy, m)) << i;
  }
}

// A message decoded into a fresh body keeps its nodes and grown table next to the body; one decoded
// into a body that already exists does not. Both must hold the same fields in the same order, also
// after the fresh one outgrows that room through many later changes.
TEST(MessageCodec, FreshAndReusedBodiesDecodeAndChangeAlike) {
  RandomMessages gen(20261207);
  for (int i = 0; i < 200; ++i) {
    const Bytes bytes = encode(gen.next());
    message fresh;
    message reused;
    reused.set(bool_id(0x7F0001), true);
    reused.remove(bool_id(0x7F0001));
    ASSERT_TRUE(fresh.parse(bytes)) << i;
    ASSERT_TRUE(reused.parse(bytes)) << i;
    std::string& early = fresh.ref(string_id(0x7F0002));
    early = "kept across later growth";
    reused.set(string_id(0x7F0002), early);
    for (message* m : {&fresh, &reused}) {
      for (uint32_t k = 0; k < 40; ++k) {
        m->set(u32_id(0x7F0100 + k * 7), k);
        m->set(string_id(0x7F0200 + k), std::string(k, 'x'));
        m->set(u32_array_id(0x7F0300 + k), {k, k + 1});
      }
      for (uint32_t k = 0; k < 40; k += 2) {
        m->remove(string_id(0x7F0200 + k));
        m->remove(u32_id(0x7F0100 + k * 7));
      }
    }
    ASSERT_EQ(early, "kept across later growth") << i;
    ASSERT_EQ(fresh.keys(), reused.keys()) << i;
    ASSERT_EQ(encode(fresh), encode(reused)) << i;
    const message copy = fresh;
    fresh.set(u32_id(0x7F0400), 1u);
    ASSERT_EQ(encode(copy), encode(reused)) << i;
  }
}

} // namespace
} // namespace nv
