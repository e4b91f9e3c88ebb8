// Values every test suite agrees on.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestel::test {

// Tests talk only to loopback.
inline constexpr const char* kLoopback = "127.0.0.1";
inline constexpr const char* kLoopback6 = "::1";

// The longest a test waits in real time for loopback traffic; reached only when the code under
// test is broken (timers run on the manual clock, never on this one).
inline constexpr std::chrono::seconds kRealTimeLimit{5};

// The seed of the seeded generators of random-input tests, so that a failure repeats.
inline constexpr uint32_t kSeed = 20261206;

} // namespace kestel::test
