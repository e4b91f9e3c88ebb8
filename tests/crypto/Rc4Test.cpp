#include "crypto/Rc4.h"

#include "support/Hex.h"
#include "support/Vectors.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

using test::fromHex;
using test::toHex;

// The published key-stream vectors: the stream at each offset, reached by dropping the bytes
// before it (which is how the address book discards its first 768 bytes).
TEST(Rc4, KeyStreamMatchesThePublishedVectorsAtEveryOffset) {
  size_t checked = 0;
  for (const auto& v : test::vectors()["rc4_keystream"]) {
    Bytes key = fromHex(v["key"].get<std::string>());
    Bytes expected = fromHex(v["keystream"].get<std::string>());
    Rc4 rc4(key);
    rc4.drop(size_t(test::asNumber(v["offset"])));
    Bytes stream(expected.size(), 0);
    rc4.apply(stream.data(), stream.size());
    EXPECT_EQ(toHex(stream), toHex(expected)) << v["source"] << " offset " << v["offset"];
    ++checked;
  }
  EXPECT_GT(checked, 8u);
}

TEST(Rc4, ApplyingTwiceRestoresAndSplitsDoNotMatter) {
  Bytes key{1, 2, 3};
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(i);
  Bytes whole = data, split = data;
  Rc4 a(key), b(key);
  a.apply(whole.data(), whole.size());
  b.apply(split.data(), 333);
  b.apply(split.data() + 333, split.size() - 333);
  EXPECT_EQ(whole, split);
  Rc4 c(key);
  c.apply(whole.data(), whole.size());
  EXPECT_EQ(whole, data);
}

} // namespace
} // namespace kestel
