#include "miw/Version.h"

#include <gtest/gtest.h>
#include <kestel/Version.h>

namespace kestel {
namespace {

constexpr uint32_t packed(uint32_t major, uint32_t minor, char stage, uint32_t low) {
  return major << 24 | minor << 16 | uint32_t(stage) << 8 | low;
}

struct VersionCase {
  const char* text;
  uint32_t router; // routerVersion
  uint32_t client; // parseVersion
};

// Both readers side by side, with the texts on which they differ.
TEST(Version, BothReaders) {
  const VersionCase cases[] = {
      {"6.48.1", packed(6, 48, 'f', 1), packed(6, 48, 'f', 1)},
      {"7.1beta4", packed(7, 1, 'b', 4), packed(7, 1, 'b', 4)},
      {"7.1alpha", packed(7, 1, 'a', 0), packed(7, 1, 'a', 0)},
      {"7.1rc2", packed(7, 1, 'c', 2), packed(7, 1, 'c', 2)},
      {"3.43", packed(3, 43, 'f', 0), packed(3, 43, 'f', 0)},
      {"3.43final", packed(3, 43, 'f', 0), packed(3, 43, 'f', 0)},
      {"3.43test", packed(3, 43, 'f', 0x80), packed(3, 43, 'f', 0x80)},
      {"3.43.5test", packed(3, 43, 'f', 0x85), packed(3, 43, 'f', 0x85)},
      {"3.43.2beta", packed(3, 43, 'b', 2), packed(3, 43, 'b', 2)},
      // Where the two differ:
      {"7.1 (stable)", packed(7, 1, 'f', 0), 0}, // text after a blank
      {"7.1final3", packed(7, 1, 'f', 3), 0},    // a number after "final"
      {"7.1.0beta4", packed(7, 1, 'b', 4), 0},   // a number after patch 0
      {"7.1.2beta4", 0, 0},                      // after a non-zero patch: neither
      {"7.1test3", 0, 0},
      // Not versions:
      {"3.x", 0, 0},
      {"3.", 0, 0},
      {"3", 0, 0},
      {"3.43.", 0, 0},
      {"3.43gamma", 0, 0},
      {"3.43beta4x", 0, 0},
      {"", 0, 0},
      {" 7.1", 0, 0},
      {"256.1", 0, 0},
      {"1.256", 0, 0},
      {"1.1.256", 0, 0},
      {"1.1beta256", 0, 0},
      {"1.1.128test", 0, 0},  // bit 7 is the test mark
      {"4294967297.1", 0, 0}, // no wrap into a small major
      {"1.99999999999999999999", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(routerVersion(c.text), c.router) << c.text;
    EXPECT_EQ(parseVersion(c.text), c.client) << c.text;
  }
}

TEST(Version, Ordering) {
  // The client's own version must read as one, or no required-client check could pass it.
  EXPECT_GT(parseVersion(kKestelVersion), parseVersion("3.0"));
  EXPECT_LT(parseVersion("3.43rc1"), parseVersion("3.43"));
  EXPECT_LT(parseVersion("3.43"), parseVersion("3.43.1"));
  EXPECT_GT(parseVersion("3.43test"), parseVersion("3.43"));
  EXPECT_LT(parseVersion("3.43alpha9"), parseVersion("3.43beta1"));
  EXPECT_LT(parseVersion("3.9"), parseVersion("3.43"));
  EXPECT_LT(parseVersion("3.255"), parseVersion("4.0"));
}

} // namespace
} // namespace kestel
