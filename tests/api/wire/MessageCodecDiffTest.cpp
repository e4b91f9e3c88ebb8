// The encoder and decoder against plain reference versions written from the format alone, on
// seeded random messages: bodies built by set() (with overwrites, removals and copies), bodies
// made by decoding, nested messages and message arrays, u32 tables of every load, and damaged
// inputs. The reference encoder reads the message only through its public accessors, in the
// field order keys() reports; the reference decoder stores every record with the setters.
#include "api/wire/Message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>

namespace nv {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSysTo = 0x88FF0001; // routing arrays lead the encoding
constexpr uint32_t kSysFrom = 0x88FF0002;

// ---- reference encoder
// ---------------------------------------------------------------------------

struct Built;
using NestedMap = std::map<uint32_t, std::vector<std::shared_ptr<const struct Built>>>;

// A message and, per message field and message array, the messages it was given (the body keeps
// them only encoded).
struct Built {
  message m;
  NestedMap nested;
};

struct Ref {
  Bytes out;
  const NestedMap* nested = nullptr;

  void u8(uint32_t v) { out.push_back(uint8_t(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v);
    u16(v >> 16);
  }
  void u64(uint64_t v) {
    u32(uint32_t(v));
    u32(uint32_t(v >> 32));
  }
  void raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  void value(uint32_t id, const void* p, size_t n) {
    if (n <= 255) {
      u32(id | kShortForm);
      u8(uint32_t(n));
    } else {
      u32(id);
      u16(uint32_t(n));
    }
    raw(p, n);
  }
  template <typename V> void elements16(const V& v) {
    u16(uint32_t(v.size()));
    for (const auto& e : v) {
      u16(uint32_t(e.size()));
      raw(e.data(), e.size());
    }
  }

  void array(const message& m, uint32_t id) {
    u32(id);
    switch (id & ~kTagArray & kTagMask) {
    case kTagBool: {
      const Bytes v = m.get(bool_array_id(id));
      u16(uint32_t(v.size()));
      raw(v.data(), v.size());
      return;
    }
    case kTagU32: {
      const auto v = m.get(u32_array_id(id));
      u16(uint32_t(v.size()));
      for (uint32_t e : v)
        u32(e);
      return;
    }
    case kTagU64: {
      const auto v = m.get(u64_array_id(id));
      u16(uint32_t(v.size()));
      for (uint64_t e : v)
        u64(e);
      return;
    }
    case kTagAddr6: {
      const auto v = m.get(addr6_array_id(id));
      u16(uint32_t(v.size()));
      for (const addr6& e : v)
        raw(e.data(), 16);
      return;
    }
    case kTagString:
      return elements16(m.get(string_array_id(id)));
    case kTagRaw:
      return elements16(m.get(raw_array_id(id)));
    default: {
      std::vector<Bytes> encoded;
      for (const auto& e : nested->at(id))
        encoded.push_back(encodeRef(*e));
      elements16(encoded);
    }
    }
  }

  static Bytes encodeRef(const Built& b) {
    const message& m = b.m;
    Ref r;
    r.nested = &b.nested;
    r.u16(0x324D);
    const std::vector<uint32_t> keys = m.keys();
    std::vector<uint32_t> arrays;
    for (uint32_t id : keys)
      if (id & kTagArray)
        arrays.push_back(id);
    for (uint32_t lead : {kSysTo, kSysFrom})
      if (std::find(arrays.begin(), arrays.end(), lead) != arrays.end())
        r.array(m, lead);
    for (uint32_t id : arrays)
      if (id != kSysTo && id != kSysFrom)
        r.array(m, id);
    for (uint32_t id : keys) {
      switch (id & kTagArray ? kTagArray : id & kTagMask) {
      case kTagBool:
        r.u32(id | (m.get(bool_id(id)) ? kShortForm : 0));
        break;
      case kTagU32: {
        const uint32_t v = m.get(u32_id(id));
        if (v <= 255) {
          r.u32(id | kShortForm);
          r.u8(v);
        } else {
          r.u32(id);
          r.u32(v);
        }
        break;
      }
      default:
        break;
      }
    }
    for (uint32_t id : keys) {
      if (id & kTagArray)
        continue;
      switch (id & kTagMask) {
      case kTagU64:
        r.u32(id);
        r.u64(m.get(u64_id(id)));
        break;
      case kTagAddr6:
        r.u32(id);
        r.raw(m.get(addr6_id(id)).data(), 16);
        break;
      case kTagString: {
        const std::string s = m.get(string_id(id));
        r.value(id, s.data(), s.size());
        break;
      }
      case kTagMessage: {
        const Bytes e = encodeRef(*b.nested.at(id).front());
        r.value(id, e.data(), e.size());
        break;
      }
      case kTagRaw: {
        const Bytes e = m.get(raw_id(id));
        r.value(id, e.data(), e.size());
        break;
      }
      default:
        break;
      }
    }
    return r.out;
  }
};

// ---- seeded random messages
// ----------------------------------------------------------------------

class Maker {
public:
  explicit Maker(uint32_t seed) : rng_(seed) {}

  Built make(int depth) {
    Built b;
    const int fields = pick(0, 40);
    for (int i = 0; i < fields; ++i)
      addField(b, depth);
    // Removals leave tombstones in the u32 table; a copy lives in a body without room.
    for (int i = pick(0, 3); i > 0; --i) {
      const std::vector<uint32_t> keys = b.m.keys();
      if (!keys.empty()) {
        const uint32_t id = keys[size_t(pick(0, int(keys.size()) - 1))];
        b.m.removeField(id);
        b.nested.erase(id);
      }
    }
    if (pick(0, 3) == 0) {
      message copy = b.m;
      copy.set(u32_id(0x0F0001), uint32_t(pick(0, 1000))); // detaches into a fresh copy
      b.m = copy;
    }
    return b;
  }

private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  uint32_t key() { return 0x0E0000 | uint32_t(pick(0, 30)); } // few keys: overwrites happen
  uint32_t number() {
    static const uint32_t edges[] = {0, 1, 255, 256, 65535, 65536, 0xFFFFFFFF};
    return pick(0, 1) ? edges[pick(0, 6)] : uint32_t(rng_());
  }
  std::string text() {
    static const int lengths[] = {0, 1, 20, 255, 256, 300};
    std::string s(size_t(lengths[pick(0, 5)]), 'x');
    for (char& c : s)
      c = char(pick(0, 255));
    return s;
  }
  Bytes bytes() {
    const std::string s = text();
    return Bytes(s.begin(), s.end());
  }
  addr6 address() {
    addr6 a{};
    for (uint8_t& x : a)
      x = uint8_t(pick(0, 255));
    return a;
  }
  template <typename F> auto many(F f) {
    std::vector<decltype(f())> v;
    for (int n = pick(0, 4); n > 0; --n)
      v.push_back(f());
    return v;
  }

  void addField(Built& b, int depth) {
    message& m = b.m;
    const uint32_t k = key();
    switch (pick(0, 14)) {
    case 0:
      return m.set(bool_id(k), pick(0, 1) == 1);
    case 1:
    case 2:
    case 3:
      return m.set(u32_id(k), number());
    case 4:
      return m.set(u64_id(k), uint64_t(rng_()) << 32 | rng_());
    case 5:
      return m.set(addr6_id(k), address());
    case 6:
      return m.set(string_id(k), text());
    case 7:
      return m.set(raw_id(k), bytes());
    case 8:
      if (depth > 0) {
        auto n = std::make_shared<const Built>(make(depth - 1));
        m.set(message_id(k), n->m);
        b.nested[message_id(k).id()] = {n};
      }
      return;
    case 9:
      return m.set(bool_array_id(k), many([&] { return uint8_t(pick(0, 1)); }));
    case 10:
      // Now and then the routing arrays, which the encoder puts first.
      return m.set(u32_array_id(pick(0, 2) ? k : 0xFF0000 | uint32_t(pick(1, 2))),
                   many([&] { return number(); }));
    case 11:
      return m.set(u64_array_id(k), many([&] { return uint64_t(rng_()); }));
    case 12:
      return m.set(string_array_id(k), many([&] { return text(); }));
    case 13:
      return m.set(addr6_array_id(k), many([&] { return address(); }));
    default:
      if (depth > 0) {
        std::vector<std::shared_ptr<const Built>> made =
            many([&] { return std::make_shared<const Built>(make(depth - 1)); });
        std::vector<message> v;
        for (const auto& e : made)
          v.push_back(e->m);
        if (pick(0, 1)) {
          m.set(message_array_id(k), v);
        } else { // the same array element by element
          m.remove(message_array_id(k));
          for (const message& e : v)
            m.append(message_array_id(k), e);
        }
        b.nested[message_array_id(k).id()] = made;
      }
      return;
    }
  }

  std::mt19937 rng_;
};

// ---- reference decoder
// ---------------------------------------------------------------------------

// Decodes the current form with the setters; false where the format says the input is malformed.
bool decodeRef(const Bytes& in, message& m) {
  size_t at = 0;
  auto need = [&](size_t n) { return in.size() - at >= n; };
  auto take = [&](size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
      v |= uint64_t(in[at + i]) << (8 * i);
    at += n;
    return v;
  };
  auto bytesOf = [&](size_t n) {
    Bytes b(in.begin() + long(at), in.begin() + long(at + n));
    at += n;
    return b;
  };
  if (in.empty())
    return true;
  if (!need(2) || take(2) != 0x324D)
    return false;
  while (need(4)) {
    const uint32_t wire = uint32_t(take(4));
    const uint32_t id = wire & ~kShortForm;
    const bool shortForm = (wire & kShortForm) != 0;
    const uint32_t kind = id & ~kTagArray & kTagMask;
    if (kind > kTagRaw)
      return false;
    if (id & kTagArray) {
      if (!need(2))
        return false;
      const size_t count = take(2);
      static const size_t sizes[] = {1, 4, 8, 16};
      if (kind <= kTagAddr6) {
        const size_t size = sizes[kind >> 27];
        if (!need(count * size))
          return false;
        Bytes all = bytesOf(count * size);
        if (all.empty() && kind != kTagBool) {
          if (kind == kTagU32)
            m.set(u32_array_id(id), {});
          else if (kind == kTagU64)
            m.set(u64_array_id(id), {});
          else
            m.set(addr6_array_id(id), {});
          continue;
        }
        if (kind == kTagBool) {
          for (uint8_t& b : all)
            b = b ? 1 : 0;
          m.set(bool_array_id(id), all);
        } else if (kind == kTagU32) {
          std::vector<uint32_t> v(count);
          std::memcpy(v.data(), all.data(), all.size());
          m.set(u32_array_id(id), v);
        } else if (kind == kTagU64) {
          std::vector<uint64_t> v(count);
          std::memcpy(v.data(), all.data(), all.size());
          m.set(u64_array_id(id), v);
        } else {
          std::vector<addr6> v(count);
          std::memcpy(v.data(), all.data(), all.size());
          m.set(addr6_array_id(id), v);
        }
        continue;
      }
      std::vector<Bytes> elements;
      for (size_t i = 0; i < count; ++i) {
        if (!need(2))
          return false;
        const size_t len = take(2);
        if (!need(len))
          return false;
        elements.push_back(bytesOf(len));
      }
      if (kind == kTagString) {
        std::vector<std::string> v;
        for (const Bytes& e : elements)
          v.emplace_back(e.begin(), e.end());
        m.set(string_array_id(id), v);
      } else if (kind == kTagRaw) {
        m.set(raw_array_id(id), elements);
      } else {
        std::vector<message> v;
        for (const Bytes& e : elements)
          v.emplace_back(e);
        m.set(message_array_id(id), v);
      }
      continue;
    }
    switch (kind) {
    case kTagBool:
      m.set(bool_id(id), shortForm);
      break;
    case kTagU32:
      if (!need(shortForm ? 1 : 4))
        return false;
      m.set(u32_id(id), uint32_t(take(shortForm ? 1 : 4)));
      break;
    case kTagU64:
      if (!need(8))
        return false;
      m.set(u64_id(id), take(8));
      break;
    case kTagAddr6: {
      if (!need(16))
        return false;
      const Bytes b = bytesOf(16);
      addr6 a;
      std::copy(b.begin(), b.end(), a.begin());
      m.set(addr6_id(id), a);
      break;
    }
    default: {
      if (!need(shortForm ? 1 : 2))
        return false;
      const size_t len = take(shortForm ? 1 : 2);
      if (!need(len))
        return false;
      const Bytes b = bytesOf(len);
      if (kind == kTagString)
        m.set(string_id(id), std::string(b.begin(), b.end()));
      else if (kind == kTagRaw)
        m.set(raw_id(id), b);
      else
        m.set(message_id(id), message(b));
    }
    }
  }
  return at == in.size();
}

// ---- the differential cases
// ----------------------------------------------------------------------

TEST(MessageCodecDiff, EncoderWritesWhatTheReferenceWrites) {
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE(seed);
    Maker maker(seed);
    const Built b = maker.make(2);
    const Bytes want = Ref::encodeRef(b);
    Bytes got;
    ASSERT_TRUE(b.m.flatten(got));
    ASSERT_EQ(got, want);
    EXPECT_LE(got.size(), b.m.encodedSizeBound());
    // Appending keeps what the vector held.
    Bytes appended = {0xAA};
    ASSERT_TRUE(b.m.flatten(appended));
    EXPECT_EQ(Bytes(appended.begin() + 1, appended.end()), want);
    // A caller's buffer of exactly the size, one byte short, and of the bound.
    for (size_t capacity : {want.size(), want.size() - 1, b.m.encodedSizeBound()}) {
      Bytes buf(capacity + 8, 0xEE);
      size_t cap = capacity;
      const size_t n = b.m.flatten(buf.data(), cap);
      if (capacity < want.size()) {
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(cap, 0u);
      } else {
        ASSERT_EQ(n, want.size());
        EXPECT_EQ(cap, want.size());
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + long(n)), want);
      }
      // Nothing is written past the capacity the caller gave.
      for (size_t i = capacity; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " of capacity " << capacity;
    }
  }
}

TEST(MessageCodecDiff, DecodedBodiesEncodeAsTheReferenceDoes) {
  for (uint32_t seed = 1000; seed < 1300; ++seed) {
    SCOPED_TRACE(seed);
    Maker maker(seed);
    const Built b = maker.make(2);
    Bytes bytes;
    ASSERT_TRUE(b.m.flatten(bytes));
    const message decoded(bytes);
    EXPECT_TRUE(message::equal(decoded, b.m));
    // Reading the elements one at a time gives what get() gives.
    for (uint32_t id : decoded.keys()) {
      if ((id & kTagMask) != (kTagArray | kTagMessage))
        continue;
      std::vector<message> seen;
      decoded.forEach(message_array_id(id), [&](const message& e) { seen.push_back(e); });
      const std::vector<message> all = decoded.get(message_array_id(id));
      ASSERT_EQ(seen.size(), all.size());
      for (size_t i = 0; i < all.size(); ++i)
        EXPECT_TRUE(message::equal(seen[i], all[i]));
    }
    // Decoded bodies hold their lists in another order and in their own room: same size, same
    // content.
    Bytes again;
    ASSERT_TRUE(decoded.flatten(again));
    EXPECT_EQ(again.size(), bytes.size());
    EXPECT_TRUE(message::equal(message(again), b.m));
  }
}

TEST(MessageCodecDiff, AppendingAMessageToItselfTakesItAsItWas) {
  message m;
  m.set(u32_id(0x0E0001), 7u);
  m.append(message_array_id(0x0E0002), m);
  m.append(message_array_id(0x0E0002), m);
  const std::vector<message> elements = m.get(message_array_id(0x0E0002));
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0].size(), 1u);
  EXPECT_EQ(elements[1].size(), 2u);
  EXPECT_EQ(elements[1].get(message_array_id(0x0E0002)).size(), 1u);
}

// An element appended as its encoding encodes exactly as the message appended with append().
TEST(MessageCodecDiff, AppendingEncodedElementsMatchesAppendingMessages) {
  constexpr message_array_id kObjs{0x0E0003};
  message byMessage, byBytes;
  for (uint32_t seed = 4000; seed < 4040; ++seed) {
    const Built b = Maker(seed).make(1);
    Bytes encoded;
    ASSERT_TRUE(b.m.flatten(encoded));
    byMessage.append(kObjs, b.m);
    ASSERT_TRUE(byBytes.appendEncodedUnchecked(kObjs, encoded));
  }
  Bytes a, b;
  ASSERT_TRUE(byMessage.flatten(a));
  ASSERT_TRUE(byBytes.flatten(b));
  EXPECT_EQ(a, b);
  EXPECT_FALSE(byBytes.appendEncodedUnchecked(kObjs, Bytes(kMaxWireLength + 1)));
  EXPECT_EQ(byBytes.count(kObjs), 40u);
}

// Strings and nested messages that set() keeps in the body's room: a deep copy of a pinned body
// owns them and outlives its source, and a writable reference turns them into owned values in
// place; both still encode as the reference does.
TEST(MessageCodecDiff, RoomKeptValuesSurviveCopiesAndReferences) {
  constexpr u32_id kPin{0x0F0002};
  for (uint32_t seed = 3000; seed < 3200; ++seed) {
    SCOPED_TRACE(seed);
    const Built b = Maker(seed).make(2);
    Built twin = Maker(seed).make(2); // the same fields in a body of its own
    std::vector<uint32_t> strings;
    for (uint32_t id : b.m.keys())
      if ((id & kTagMask) == kTagString)
        strings.push_back(id);

    Built pinned{b.m, b.nested};
    pinned.m.set(kPin, 9u);
    twin.m.ref(kPin) = 9; // pins: every copy from now on is deep
    auto copy = std::make_unique<message>(twin.m);
    for (uint32_t id : strings)
      twin.m.ref(string_id(id)) += "!";
    twin.m = message(); // the copy outlives the body it was copied from
    Bytes got;
    ASSERT_TRUE(copy->flatten(got));
    EXPECT_EQ(got, Ref::encodeRef(pinned));

    // References into the strings of an unshared body built by set().
    Built changed = Maker(seed).make(2);
    for (uint32_t id : strings) {
      std::string& s = changed.m.ref(string_id(id));
      EXPECT_EQ(s, b.m.get(string_id(id)));
      s += "!";
    }
    Built want{b.m, b.nested};
    for (uint32_t id : strings)
      want.m.set(string_id(id), b.m.get(string_id(id)) + "!");
    Bytes changedBytes;
    ASSERT_TRUE(changed.m.flatten(changedBytes));
    EXPECT_EQ(changedBytes, Ref::encodeRef(want));
  }
}

TEST(MessageCodecDiff, SettingAMessageIntoItselfTakesItAsItWas) {
  message m;
  m.set(string_id(0x0E0001), std::string(40, 'q'));
  m.set(message_id(0x0E0002), m);
  m.set(message_id(0x0E0002), m);
  const message inner = m.get(message_id(0x0E0002));
  EXPECT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner.get(string_id(0x0E0001)), std::string(40, 'q'));
  EXPECT_EQ(inner.get(message_id(0x0E0002)).size(), 1u);
}

TEST(MessageCodecDiff, DecoderAgreesWithTheReferenceOnDamagedInput) {
  std::mt19937 rng(77);
  for (uint32_t seed = 2000; seed < 2300; ++seed) {
    SCOPED_TRACE(seed);
    Maker maker(seed);
    Bytes bytes;
    ASSERT_TRUE(maker.make(1).m.flatten(bytes));
    for (int damage = 0; damage < 8; ++damage) {
      Bytes in = bytes;
      if (damage == 1 && in.size() > 2)
        in.resize(2 + rng() % (in.size() - 2)); // cut short
      else if (damage > 1 && in.size() > 2)
        in[2 + rng() % (in.size() - 2)] ^= uint8_t(1u << (rng() % 8)); // one bit flipped
      message got;
      message want;
      const bool ok = got.parse(in);
      const bool refOk = decodeRef(in, want);
      ASSERT_EQ(ok, refOk) << "damage " << damage;
      if (ok) {
        EXPECT_TRUE(message::equal(got, want)) << "damage " << damage;
      }
    }
  }
}

} // namespace
} // namespace nv
