// Asking an Expected for what it does not hold is a programming error: it asserts, whatever the
// held type, instead of throwing past a module boundary.
#include <gtest/gtest.h>

#include <string>

#include "util/Expected.h"

namespace kestel {
namespace {

Expected<std::string> failing() { return makeError("no such thing"); }
Expected<std::string> succeeding() { return std::string("value"); }
Expected<void> failingVoid() { return makeError("no such thing"); }

TEST(ExpectedDeathTest, WrongAccessAsserts) {
  struct Case {
    const char* name;
    void (*access)();
  } cases[] = {
      {"value of an error", [] { (void)failing().value().size(); }},
      {"dereference of an error", [] { (void)(*failing()).size(); }},
      {"member of an error", [] { (void)failing()->size(); }},
      {"error of a value", [] { (void)succeeding().error().text.size(); }},
      {"error of success", [] { (void)Expected<void>().error().text.size(); }},
  };
  for (const auto& c : cases)
    EXPECT_DEATH(c.access(), "ASSERT in util/expected:[0-9]+") << c.name;
}

TEST(Expected, HoldsTheValueOrTheError) {
  auto value = succeeding();
  ASSERT_TRUE(value.ok());
  EXPECT_EQ("value", *value);
  EXPECT_EQ("value", std::move(value).value());
  for (const Error& error : {failing().error(), failingVoid().error()})
    EXPECT_EQ("no such thing", error.text);
  EXPECT_FALSE(failingVoid().ok());
  EXPECT_TRUE(Expected<void>().ok());
}

} // namespace
} // namespace kestel
