#include "api/net/Framing.h"

#include "support/Constants.h"

#include <gtest/gtest.h>

#include <random>

namespace kestel {
namespace {

struct Chunk {
  uint8_t raw;
  uint8_t channel;
  Bytes payload;
  bool operator==(const Chunk&) const = default;
};

std::vector<Chunk> readAll(ChunkReader& reader, ByteSpan data) {
  std::vector<Chunk> out;
  reader.feed(data, [&](uint8_t raw, uint8_t channel, ByteSpan payload) {
    out.push_back({raw, channel, Bytes(payload.begin(), payload.end())});
    return true;
  });
  return out;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

TEST(Framing, SendsSplitInto255ByteChunksWithContinuationChannel) {
  struct Case {
    size_t size;
    std::vector<std::pair<uint8_t, uint8_t>> headers; // (length, channel byte)
  };
  const Case cases[] = {
      {600, {{255, 6}, {255, 0xFF}, {90, 0xFF}}},
      {255, {{255, 6}}},
      {256, {{255, 6}, {1, 0xFF}}},
      {0, {{0, 6}}},
      {1, {{1, 6}}},
  };
  for (const auto& c : cases) {
    Bytes payload = pattern(c.size, 3);
    Bytes out;
    appendChunks(out, 6, payload);
    size_t pos = 0;
    Bytes joined;
    for (auto [len, channel] : c.headers) {
      ASSERT_LT(pos + 1, out.size()) << c.size;
      EXPECT_EQ(out[pos], len) << c.size;
      EXPECT_EQ(out[pos + 1], channel) << c.size;
      joined.insert(joined.end(), out.begin() + long(pos) + 2, out.begin() + long(pos) + 2 + len);
      pos += 2 + len;
    }
    EXPECT_EQ(pos, out.size()) << c.size;
    EXPECT_EQ(joined, payload) << c.size;
  }
}

TEST(Framing, ContinuationKeepsTheLastNamedChannelAndReportsTheRawByte) {
  Bytes stream;
  appendChunks(stream, 6, pattern(300, 1));
  appendChunks(stream, 2, pattern(10, 2));
  stream.insert(stream.end(), {3, 0xFF, 'a', 'b', 'c'}); // continues channel 2
  ChunkReader reader;
  auto chunks = readAll(reader, stream);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].raw, 6);
  EXPECT_EQ(chunks[1].raw, 0xFF);
  EXPECT_EQ(chunks[1].channel, 6);
  EXPECT_EQ(chunks[2].channel, 2);
  EXPECT_EQ(chunks[3].raw, 0xFF);
  EXPECT_EQ(chunks[3].channel, 2);
  EXPECT_EQ(reader.pending(), 0u);
}

TEST(Framing, AStoppedReaderDropsTheRest) {
  Bytes stream;
  appendChunks(stream, 6, pattern(600, 1));
  ChunkReader reader;
  int calls = 0;
  EXPECT_FALSE(reader.feed(stream, [&](uint8_t, uint8_t, ByteSpan) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(reader.pending(), 0u);
}

// Property: however a stream of chunks is cut into two or three pieces, the receivers see the
// same chunks as from the whole stream, byte for byte, and nothing is left over.
TEST(Framing, EverySplitPointReassemblesByteExact) {
  std::mt19937 rng(test::kSeed);
  for (int round = 0; round < 2; ++round) {
    Bytes stream;
    for (int i = 0; i < 6; ++i) {
      std::uniform_int_distribution<size_t> size(0, 700);
      std::uniform_int_distribution<int> channel(0, 9);
      Bytes payload(size(rng));
      for (auto& b : payload)
        b = static_cast<uint8_t>(rng());
      appendChunks(stream, static_cast<uint8_t>(channel(rng)), payload);
    }
    ChunkReader whole;
    auto expect = readAll(whole, stream);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      size_t cut2 = cut + (cut * 31 + 7) % (stream.size() - cut + 1);
      ChunkReader reader;
      ByteSpan s(stream);
      auto got = readAll(reader, s.first(cut));
      for (auto& c : readAll(reader, s.subspan(cut, cut2 - cut)))
        got.push_back(c);
      for (auto& c : readAll(reader, s.subspan(cut2)))
        got.push_back(c);
      ASSERT_EQ(got, expect) << "round " << round << " cuts " << cut << "," << cut2;
      ASSERT_EQ(reader.pending(), 0u);
    }
  }
}

TEST(Framing, ByteAtATimeNeverLosesOrRepeats) {
  Bytes stream;
  appendChunks(stream, 6, pattern(600, 9));
  appendChunks(stream, 6, {});
  ChunkReader whole, byByte;
  auto expect = readAll(whole, stream);
  std::vector<Chunk> got;
  for (uint8_t b : stream)
    for (auto& c : readAll(byByte, ByteSpan(&b, 1)))
      got.push_back(c);
  EXPECT_EQ(got, expect);
}

} // namespace
} // namespace kestel
