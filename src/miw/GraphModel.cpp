#include "miw/GraphModel.h"

#include <algorithm>
#include <cmath>

namespace kestel {

double niceCeiling(double value) {
  if (!(value > 0) || !std::isfinite(value))
    return 1;
  // log10 may land just below a whole power (2.9999... for 1000): the candidates start one
  // step lower than needed, which costs a comparison and no wrong answer.
  double base = std::pow(10.0, std::floor(std::log10(value)) - 1);
  for (;;) {
    for (double m : {1.0, 2.0, 5.0})
      if (m * base >= value * (1 - 1e-12))
        return m * base;
    base *= 10;
  }
}

SlidingGraphModel::SlidingGraphModel(size_t capacity, uint32_t intervalMs, uint32_t staleMs,
                                     double floor)
    : capacity_(std::max<size_t>(capacity, 2)), intervalMs_(std::max<uint32_t>(intervalMs, 1)),
      staleMs_(staleMs), floor_(floor) {
  samples_.reserve(capacity_ + 1);
}

void SlidingGraphModel::setValue(int64_t nowMs, double value) {
  if (!std::isfinite(value))
    return;
  previous_ = current_;
  current_ = Known{value, nowMs};
}

std::optional<double> SlidingGraphModel::valueAt(int64_t t, bool newest) const {
  for (const std::optional<Known>& known : {current_, previous_})
    if (known && (newest || known->at <= t))
      return t - known->at <= int64_t(staleMs_) ? std::optional(known->value) : std::nullopt;
  return std::nullopt;
}

void SlidingGraphModel::sample(int64_t nowMs) {
  if (!lastSample_ || nowMs < *lastSample_) {
    if (!lastSample_)
      push(valueAt(nowMs, true));
    lastSample_ = nowMs;
    return;
  }
  int64_t due = (nowMs - *lastSample_) / intervalMs_;
  if (due == 0)
    return;
  int64_t taken = std::min<int64_t>(due, int64_t(capacity_));
  for (int64_t k = due - taken + 1; k < due; ++k)
    push(valueAt(*lastSample_ + k * intervalMs_, false));
  push(valueAt(nowMs, true));
  *lastSample_ += due * intervalMs_;
}

void SlidingGraphModel::push(std::optional<double> sample) {
  samples_.push_back(sample);
  if (samples_.size() > capacity_)
    samples_.erase(samples_.begin());
}

double SlidingGraphModel::scaleTop() const {
  double top = floor_;
  for (const std::optional<double>& s : samples_)
    if (s)
      top = std::max(top, *s);
  return niceCeiling(top);
}

std::optional<double> SlidingGraphModel::latest() const {
  return samples_.empty() ? std::nullopt : samples_.back();
}

DataRateGraphModel::DataRateGraphModel(uint32_t scale, CounterWidth width, size_t capacity,
                                       uint32_t intervalMs, uint32_t staleMs)
    : scale_(std::max<uint32_t>(scale, 1)), width_(width), graph_(capacity, intervalMs, staleMs) {}

void DataRateGraphModel::forget() {
  last_.reset();
  rate_.reset();
  graph_.clearValue();
}

void DataRateGraphModel::setCounter(int64_t nowMs, uint64_t counter) {
  bool narrow = width_ == CounterWidth::Bits32;
  if (!last_ || (narrow && counter > 0xFFFFFFFFull)) {
    last_ = {nowMs, counter};
    rate_.reset();
    graph_.clearValue();
    return;
  }
  auto [then, previous] = *last_;
  if (counter == previous && nowMs > then && nowMs - then < int64_t(graph_.intervalMs())) {
    // The same reading again (the object was read twice): a repeat, not an idle link.
    if (rate_)
      graph_.setValue(nowMs, *rate_);
    return;
  }
  last_ = {nowMs, counter};
  if (nowMs <= then)
    return;
  // Unsigned arithmetic is modulo 2^64: the step of a 64-bit counter across its wrap comes out
  // right by itself; a 32-bit counter is taken modulo 2^32.
  uint64_t step = counter - previous;
  uint64_t half = uint64_t(1) << 63;
  if (narrow) {
    step &= 0xFFFFFFFFull;
    half = uint64_t(1) << 31;
  }
  if (counter < previous && step >= half) {
    rate_.reset();
    graph_.clearValue();
    return;
  }
  rate_ = double(step) * scale_ * 1000.0 / double(nowMs - then);
  graph_.setValue(nowMs, *rate_);
}

} // namespace kestel
