#include "api/net/MacStream.h"

#include "api/net/MacPacket.h"
#include "util/Log.h"

#include <algorithm>

namespace kestel {

void MacStream::reset(uint32_t sendOffset, uint32_t receiveOffset) {
  stopTimers();
  output_.clear();
  segments_.clear();
  base_ = sendOffset_ = sendOffset;
  receiveOffset_ = receiveOffset;
  resends_ = 0;
}

void MacStream::stopTimers() {
  reactor_.removeTimer(std::exchange(resendTimer_, 0));
  reactor_.removeTimer(std::exchange(windowTimer_, 0));
}

void MacStream::queue(ByteSpan bytes) {
  output_.insert(output_.end(), bytes.begin(), bytes.end());
  if (windowTimer_ == 0)
    windowTimer_ = reactor_.addTimer(
        kMacWindowTimerMs,
        [this] {
          windowTimer_ = 0;
          sendMore();
        },
        false);
}

void MacStream::sendMore() {
  while (segments_.size() < kMacWindow) {
    size_t unsent = output_.size() - (sendOffset_ - base_);
    if (unsent == 0)
      break;
    Segment s{sendOffset_, static_cast<uint32_t>(std::min(unsent, kMacMaxSegment))};
    segments_.push_back(s);
    sendOffset_ += s.length;
    sendSegment(s);
    if (resendTimer_ == 0)
      armResend();
  }
  if (segments_.empty() && output_.empty()) {
    reactor_.removeTimer(std::exchange(resendTimer_, 0));
    if (hooks_.drained)
      hooks_.drained();
  }
}

void MacStream::sendSegment(const Segment& s) {
  hooks_.sendData(s.offset, ByteSpan(output_).subspan(s.offset - base_, s.length));
}

void MacStream::armResend() {
  reactor_.removeTimer(resendTimer_);
  resendTimer_ = reactor_.addTimer(
      kMacResendMs, [this] { onResendTimer(); }, false);
}

void MacStream::onResendTimer() {
  resendTimer_ = 0;
  logLine("resend");
  if (++resends_ >= kMacMaxResends) {
    if (hooks_.timedOut)
      hooks_.timedOut();
    return;
  }
  for (const Segment& s : std::deque(segments_))
    sendSegment(s);
  armResend();
}

void MacStream::onData(uint32_t number, ByteSpan payload) {
  if (number == receiveOffset_) {
    receiveOffset_ += static_cast<uint32_t>(payload.size());
    if (!payload.empty())
      hooks_.deliver(payload);
  }
  // A repeated segment (behind us) is acknowledged again; one from the future is not.
  if (static_cast<int32_t>(receiveOffset_ - number) >= 0) {
    hooks_.sendAck(receiveOffset_);
    return;
  }
  logf("out of order data recvd seq=", number, ", expected=", receiveOffset_);
}

void MacStream::onAck(uint32_t next) {
  if (!segments_.empty() && segments_.front().offset == next) {
    sendMore(); // a repeated acknowledgement
    return;
  }
  auto acked = std::find_if(segments_.begin(), segments_.end(),
                            [&](const Segment& s) { return s.offset + s.length == next; });
  if (acked == segments_.end()) {
    if (next != sendOffset_)
      logf("out of order ack seq ", next, ", expected ", sendOffset_);
    return;
  }
  segments_.erase(segments_.begin(), acked + 1);
  output_.erase(output_.begin(), output_.begin() + (next - base_));
  base_ = next;
  resends_ = 0;
  if (segments_.empty())
    reactor_.removeTimer(std::exchange(resendTimer_, 0));
  else
    armResend();
  sendMore();
}

} // namespace kestel
