#include "api/wire/Message.h"

#include "api/wire/Vocabulary.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

TEST(Message, BasicRoundTrip) {
  message m;
  m.set(u32_id(0xFE0001), 7u);
  m.set(string_id(0xFE0010), "ether1");
  m.set(bool_id(0xFE0007), true);
  m.set(u32_array_id(0xFF0001), {1, 2, 3});
  message inner;
  inner.set(u32_id(0x10001), 300u);
  m.set(message_id(0xFE000F), inner);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(m.flatten(bytes));
  bool ok = false;
  message back = message::fromBytes(bytes, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(back, m);
  EXPECT_EQ(back.get(message_id(0xFE000F)).get(u32_id(0x10001)), 300u);
}

} // namespace
} // namespace nv
