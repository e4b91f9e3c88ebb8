// The reliable byte stream of the MAC-layer transport, the same at both ends: outgoing bytes
// leave as byte-numbered data segments of at most 1450 bytes, at most 16 unacknowledged at a
// time, resent together every 100 ms without progress and given up after the 31st resend;
// incoming segments are taken only in order and answered with cumulative acknowledgements.
// It builds no packets: the owner sends what it is told to and feeds in what arrives.
#pragma once

#include "api/net/Reactor.h"
#include "util/Bytes.h"

#include <cstdint>
#include <deque>
#include <functional>

namespace kestel {

inline constexpr size_t kMacWindow = 16;
inline constexpr uint32_t kMacResendMs = 100;
inline constexpr uint32_t kMacWindowTimerMs = 1;
inline constexpr unsigned kMacMaxResends = 31;

class MacStream {
public:
  struct Hooks {
    // Send a data packet (number = stream offset of the payload) or an acknowledgement.
    std::function<void(uint32_t offset, ByteSpan payload)> sendData;
    std::function<void(uint32_t next)> sendAck;
    // Bytes that arrived in order.
    std::function<void(ByteSpan bytes)> deliver;
    // Everything queued has been acknowledged.
    std::function<void()> drained;
    // The 31st resend went without progress.
    std::function<void()> timedOut;
  };

  MacStream(Reactor& reactor, Hooks hooks) : reactor_(reactor), hooks_(std::move(hooks)) {}
  ~MacStream() { stopTimers(); }
  MacStream(const MacStream&) = delete;
  MacStream& operator=(const MacStream&) = delete;

  // Starts over at offsets 0 (or the given ones, for a stream taken over), dropping queued
  // output and stopping the timers.
  void reset(uint32_t sendOffset = 0, uint32_t receiveOffset = 0);
  // Queues bytes; they go out when the window timer fires.
  void queue(ByteSpan bytes);
  void onData(uint32_t number, ByteSpan payload);
  void onAck(uint32_t next);
  // Stops both timers; queued output stays (reset() drops it).
  void stopTimers();

  bool idle() const { return output_.empty(); }
  size_t queuedBytes() const { return output_.size(); }
  uint32_t sendOffset() const { return sendOffset_; }
  uint32_t receiveOffset() const { return receiveOffset_; }
  size_t unacknowledged() const { return segments_.size(); }

private:
  struct Segment {
    uint32_t offset;
    uint32_t length;
  };
  void sendMore();
  void onResendTimer();
  void armResend();
  void sendSegment(const Segment& s);

  Reactor& reactor_;
  Hooks hooks_;
  Bytes output_;      // from the first unacknowledged byte on
  uint32_t base_ = 0; // stream offset of output_[0]
  uint32_t sendOffset_ = 0;
  uint32_t receiveOffset_ = 0;
  std::deque<Segment> segments_;
  unsigned resends_ = 0;
  Reactor::TimerId resendTimer_ = 0;
  Reactor::TimerId windowTimer_ = 0;
};

} // namespace kestel
