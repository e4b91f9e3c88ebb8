// The graph models on explicit times: sampling cadence, gaps where values stopped or came too
// late, a clock that jumps, the axis top, and rates from counters across 32- and 64-bit
// wrap-around and counter resets.
#include "miw/GraphModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestel {
namespace {

using Samples = std::vector<std::optional<double>>;
constexpr std::nullopt_t gap = std::nullopt;

TEST(GraphModelTest, NiceCeilingPicksOneTwoOrFiveTimesAPowerOfTen) {
  struct Case {
    double value, top;
  } cases[] = {{0, 1},       {-3, 1},    {0.3, 0.5}, {1, 1},      {1.01, 2},   {2, 2},
               {2.5, 5},     {5, 5},     {7, 10},    {10, 10},    {999, 1000}, {1000, 1000},
               {1001, 2000}, {1e9, 1e9}, {3e9, 5e9}, {1e-3, 1e-3}};
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(niceCeiling(c.value), c.top) << c.value;
  EXPECT_EQ(niceCeiling(std::numeric_limits<double>::quiet_NaN()), 1);
}

// One step of a scenario: set a value (when given) at `at`, then sample at `at`.
struct Step {
  int64_t at;
  std::optional<double> value;
};

TEST(GraphModelTest, SlidingModelSamplesOncePerIntervalWithGapsForStaleValues) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    Samples expected;
  } cases[] = {
      {"a value every interval", {{0, 1}, {1000, 2}, {2000, 3}}, {1, 2, 3}},
      {"late timers keep the cadence", {{0, 1}, {1100, 2}, {2050, 3}, {2999, 4}}, {1, 2, 3}},
      {"a value held while fresh", {{0, 5}, {1000, {}}, {2000, {}}, {3000, {}}}, {5, 5, 5, gap}},
      {"no value yet", {{0, {}}, {1000, 7}}, {gap, 7}},
      {"values stop, then resume", {{0, 1}, {1000, {}}, {5000, 9}}, {1, 1, 1, gap, gap, 9}},
      {"a burst keeps the last value", {{0, 1}, {400, 2}, {800, 3}, {1000, {}}}, {1, 3}},
      {"a long pause fills at most the window",
       {{0, 1}, {100000, 2}},
       {gap, gap, gap, gap, gap, gap, gap, 2}},
      {"the clock going back restarts the cadence",
       {{5000, 1}, {2000, 2}, {2500, {}}, {3000, 3}},
       {1, 3}},
      {"infinite values are dropped",
       {{0, 1}, {1000, std::numeric_limits<double>::infinity()}},
       {1, 1}},
  };
  for (const Case& c : cases) {
    SlidingGraphModel model(8, 1000, 2000);
    for (const Step& s : c.steps) {
      if (s.value)
        model.setValue(s.at, *s.value);
      model.sample(s.at);
    }
    EXPECT_EQ(model.samples(), c.expected) << c.what;
    EXPECT_EQ(model.latest(), c.expected.back()) << c.what;
  }
}

TEST(GraphModelTest, SlidingModelKeepsItsWindowAndScalesToIt) {
  SlidingGraphModel model(4, 1000, 1000, 10);
  EXPECT_EQ(model.scaleTop(), 10) << "the floor stands for an empty graph";
  for (int i = 0; i < 6; ++i) {
    model.setValue(i * 1000, i == 1 ? 730 : i);
    model.sample(i * 1000);
  }
  EXPECT_EQ(model.samples(), (Samples{2, 3, 4, 5})) << "the oldest slide out";
  EXPECT_EQ(model.scaleTop(), 10) << "730 slid out with its sample";
  model.setValue(6000, 19);
  model.sample(6000);
  EXPECT_EQ(model.scaleTop(), 20);
  model.clearValue();
  model.sample(7000);
  EXPECT_EQ(model.latest(), gap);
}

TEST(GraphModelTest, DataRateModelComputesRatesAcrossWrapsAndResets) {
  constexpr uint64_t k32 = 0xFFFFFFFFull, k64 = ~0ull;
  struct Case {
    const char* what;
    CounterWidth width;
    uint32_t scale;
    std::vector<std::pair<int64_t, uint64_t>> readings;
    std::optional<double> rate;
  } cases[] = {
      {"one reading gives no rate", CounterWidth::Bits64, 1, {{0, 100}}, gap},
      {"bytes per second as bits", CounterWidth::Bits64, 8, {{0, 1000}, {1000, 2000}}, 8000},
      {"over half a second", CounterWidth::Bits64, 1, {{0, 0}, {500, 100}}, 200},
      {"an idle link", CounterWidth::Bits64, 1, {{0, 42}, {1000, 42}}, 0},
      {"a repeated read keeps the rate",
       CounterWidth::Bits64,
       1,
       {{0, 0}, {1000, 500}, {1300, 500}},
       500},
      {"a repeated read does not shorten the next step",
       CounterWidth::Bits64,
       1,
       {{0, 0}, {1000, 500}, {1300, 500}, {2000, 1500}},
       1000},
      {"unchanged for an interval after a rate",
       CounterWidth::Bits64,
       1,
       {{0, 0}, {1000, 500}, {2000, 500}},
       0},
      {"32-bit wrap", CounterWidth::Bits32, 1, {{0, k32 - 99}, {1000, 100}}, 200},
      {"64-bit wrap", CounterWidth::Bits64, 1, {{0, k64 - 9}, {2000, 10}}, 10},
      {"32-bit reset", CounterWidth::Bits32, 1, {{0, 1000000000ull}, {1000, 5}}, gap},
      {"64-bit reset", CounterWidth::Bits64, 1, {{0, 7000000000ull}, {1000, 5}}, gap},
      {"a rate again after a reset",
       CounterWidth::Bits64,
       1,
       {{0, 5000}, {1000, 5}, {2000, 305}},
       300},
      {"a 32-bit counter out of range restarts",
       CounterWidth::Bits32,
       1,
       {{0, 10}, {1000, 1ull << 40}},
       gap},
      {"same time replaces the reading",
       CounterWidth::Bits64,
       1,
       {{0, 0}, {0, 50}, {1000, 150}},
       100},
      {"a reading back in time replaces it",
       CounterWidth::Bits64,
       1,
       {{5000, 0}, {1000, 500}, {2000, 1500}},
       1000},
  };
  for (const Case& c : cases) {
    DataRateGraphModel model(c.scale, c.width, 8, 1000, 2000);
    for (auto [at, counter] : c.readings)
      model.setCounter(at, counter);
    EXPECT_EQ(model.rate(), c.rate) << c.what;
    model.sample(c.readings.back().first);
    EXPECT_EQ(model.latest(), c.rate) << c.what;
  }
}

TEST(GraphModelTest, DataRateModelShowsGapsWhenReadingsStop) {
  DataRateGraphModel model(8, CounterWidth::Bits64, 10, 1000, 1500);
  uint64_t counter = 0;
  for (int64_t t = 0; t <= 3000; t += 1000) {
    model.setCounter(t, counter);
    counter += 125000; // 1 Mbit/s
    model.sample(t);
  }
  model.sample(6000);
  EXPECT_EQ(model.samples(), (Samples{gap, 1e6, 1e6, 1e6, 1e6, gap, gap}));
  EXPECT_EQ(model.scaleTop(), 1e6);
}

} // namespace
} // namespace kestel
