// The models behind the graph widgets: a window of samples taken at a fixed interval, the newest
// last, with gaps where no value was known, and the top of the value axis that fits them. The
// sliding model samples a value the caller keeps setting (a rate the router reports); the
// data-rate model turns a growing counter into a per-second rate first, across counter
// wrap-around, and leaves a gap where the counter went back (the router restarted). Neither
// reads a clock: every call carries the time, so the owner's timer decides when samples are
// taken.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kestel {

class IGraphModel {
public:
  virtual ~IGraphModel() = default;
  // The samples, oldest first; at most capacity() of them. A gap is empty.
  virtual const std::vector<std::optional<double>>& samples() const = 0;
  virtual size_t capacity() const = 0;
  // The top of the value axis: the smallest 1, 2 or 5 times a power of ten that is not below
  // any sample (and not below the model's floor).
  virtual double scaleTop() const = 0;
  // The value of the newest sample; empty when it is a gap or there is none.
  virtual std::optional<double> latest() const = 0;
};

// The smallest 1, 2 or 5 times a power of ten that is at least `value` (1 for 0 and below).
double niceCeiling(double value);

class SlidingGraphModel final : public IGraphModel {
public:
  // `capacity` samples (at least 2), taken every `intervalMs` (at least 1); a value older than
  // `staleMs` at sampling time is no longer shown: the sample is a gap. `floor` is the least
  // axis top (a graph of an idle link still has a scale).
  SlidingGraphModel(size_t capacity, uint32_t intervalMs, uint32_t staleMs, double floor = 1);

  // The value now known (a NaN or infinite value is dropped).
  void setValue(int64_t nowMs, double value);
  // Forgets the values known: the next samples are gaps until a new value comes.
  void clearValue() { current_.reset(), previous_.reset(); }
  // Takes the samples due by `nowMs`: one per whole interval since the last one (the first call
  // takes one and starts the cadence). The newest sample takes the value known now; samples
  // caught up for earlier times take the value known at their time, never one set later. A
  // clock that went back takes none and restarts the cadence there; more than `capacity`
  // intervals at once take `capacity` samples.
  void sample(int64_t nowMs);

  const std::vector<std::optional<double>>& samples() const override { return samples_; }
  size_t capacity() const override { return capacity_; }
  double scaleTop() const override;
  std::optional<double> latest() const override;
  uint32_t intervalMs() const { return intervalMs_; }

private:
  struct Known {
    double value;
    int64_t at;
  };
  void push(std::optional<double> sample);
  std::optional<double> valueAt(int64_t t, bool newest) const;

  size_t capacity_;
  uint32_t intervalMs_;
  uint32_t staleMs_;
  double floor_;
  std::vector<std::optional<double>> samples_;
  std::optional<Known> current_, previous_; // the last two values set
  std::optional<int64_t> lastSample_;
};

// Bits of the counter a data-rate model follows: where it wraps.
enum class CounterWidth { Bits32, Bits64 };

class DataRateGraphModel final : public IGraphModel {
public:
  // Each unit of the counter counts `scale` units of the rate (8: a byte counter, a bit rate).
  DataRateGraphModel(uint32_t scale, CounterWidth width, size_t capacity, uint32_t intervalMs,
                     uint32_t staleMs);

  // A reading of the counter. The rate since the previous reading becomes the value sampled:
  // a counter below the previous reading has wrapped when that makes a step of less than half
  // the counter's range, otherwise it was reset and there is no rate until the next reading.
  // A reading at the same or an earlier time than the previous one only replaces it; the same
  // counter again within one interval is a repeated read and changes nothing (a full interval
  // without growth is an idle link: rate 0).
  void setCounter(int64_t nowMs, uint64_t counter);
  // Forgets the readings (the object went away): gaps until two new readings give a rate.
  void forget();
  void sample(int64_t nowMs) { graph_.sample(nowMs); }
  // The rate of the last two readings; empty before two or after a reset.
  std::optional<double> rate() const { return rate_; }

  const std::vector<std::optional<double>>& samples() const override { return graph_.samples(); }
  size_t capacity() const override { return graph_.capacity(); }
  double scaleTop() const override { return graph_.scaleTop(); }
  std::optional<double> latest() const override { return graph_.latest(); }

private:
  uint32_t scale_;
  CounterWidth width_;
  SlidingGraphModel graph_;
  std::optional<std::pair<int64_t, uint64_t>> last_; // time and counter of the last reading
  std::optional<double> rate_;
};

} // namespace kestel
