#include "api/net/LegacySession.h"

#include "api/net/SecureSession.h"

#include "api/wire/Vocabulary.h"
#include "crypto/Md.h"
#include "crypto/Secure.h"
#include "util/Log.h"

#include <chrono>
#include <cstring>

namespace kestel {
namespace {

constexpr size_t kFrameHeader = 2 + StreamState::kCheckLength;
constexpr size_t kHalf = legacy::kNumberLength / 2;

const nv::u32_id kDescribeAgent{1};
const nv::raw_id kDescribeSend{2};
const nv::raw_id kDescribeReceive{3};
const nv::raw_id kDescribeHeldFrame{4};

// 12 bytes of clock readings: the high-resolution counter, then the millisecond tick.
std::array<uint8_t, 12> clockSeed() {
  std::array<uint8_t, 12> out{};
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  uint64_t counter = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  uint32_t ticks = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  std::memcpy(out.data(), &counter, 8);
  std::memcpy(out.data() + 8, &ticks, 4);
  return out;
}

} // namespace

Bytes legacyLoginResponse(std::string_view password, ByteSpan challenge) {
  Md5 md5;
  uint8_t zero = 0;
  md5.update(&zero, 1);
  md5.update(asBytes(password));
  md5.update(challenge);
  Bytes out(1 + Md5::kDigestSize, 0);
  md5.final(out.data() + 1);
  return out;
}

LegacySession::LegacySession(Reactor& reactor, IConnection& connection, SessionHooks hooks)
    : reactor_(reactor), connection_(&connection), hooks_(std::move(hooks)),
      keepAlive_(
          reactor, [this] { hooks_.probe(); }, [this] { fail("other end is not responding"); }) {
  auto seed = clockSeed();
  seed_.key(seed);
  connection_->addReceiver(kLegacyChannel, this);
  registered_ = true;
}

LegacySession::~LegacySession() { stop(); }

void LegacySession::post(const nv::message& message) {
  if (state_ == State::Established)
    return sendFrame(message);
  queue_.push_back(message);
  startHandshake();
}

void LegacySession::startHandshake() {
  if (state_ != State::Idle)
    return;
  state_ = State::HandshakeSent;
  exponent_ = std::make_unique<legacy::Number>();
  frameRandomBytes(exponent_->data(), exponent_->size());
  seed_.encrypt(exponent_->data(), exponent_->size());
  legacy::Number k;
  legacy::Power result = legacy::powerOfGenerator(*exponent_, k);
  if (result != legacy::Power::Ok)
    return fail(result == legacy::Power::Failed ? "g**r mod m failed" : "placing k failed");
  logLine("sending first handshake");
  connection_->send(kLegacyChannel, k.data(), k.size());
}

void LegacySession::receive(uint8_t, const uint8_t* data, size_t length) {
  keepAlive_.received();
  if (state_ != State::Established)
    return onHandshake(ByteSpan(data, length));
  onFrame(ByteSpan(data, length));
}

void LegacySession::onHandshake(ByteSpan data) {
  logLine("doing handshake");
  legacy::Number y;
  if (!exponent_ || data.size() != legacy::kNumberLength)
    return fail("recvd bogus data");
  std::memcpy(y.data(), data.data(), y.size());
  if (!legacy::usablePeerValue(y))
    return fail("recvd bogus data");
  legacy::Number s;
  legacy::Power result = legacy::power(y, *exponent_, s);
  secureWipe(exponent_->data(), exponent_->size());
  exponent_.reset();
  if (result != legacy::Power::Ok)
    return fail(result == legacy::Power::Failed ? "k**r mod m failed" : "placing s failed");
  send_ = std::make_unique<StreamState>();
  send_->key(ByteSpan(s.data(), kHalf));
  receive_ = std::make_unique<StreamState>();
  receive_->key(ByteSpan(s.data() + kHalf, kHalf));
  secureWipe(s.data(), s.size());
  state_ = State::Established;
  std::deque<nv::message> queued;
  queued.swap(queue_);
  Reference<LegacySession> keep(this);
  for (const auto& message : queued) {
    if (!send_)
      return; // the connection ended while sending
    sendFrame(message);
  }
  if (ready_)
    ready_();
}

void LegacySession::onFrame(ByteSpan data) {
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  if (buffer_.size() <= 11)
    return fail("received garbage");
  size_t n = (size_t(buffer_[0]) << 8) | buffer_[1];
  if (buffer_.size() < n + kFrameHeader)
    return;
  Bytes payload(buffer_.begin() + kFrameHeader, buffer_.begin() + long(kFrameHeader + n));
  std::span<const uint8_t, StreamState::kCheckLength> check(buffer_.data() + 2,
                                                            StreamState::kCheckLength);
  if (!receive_->decrypt(payload.data(), payload.size(), check))
    return fail("decryption failed");
  buffer_.erase(buffer_.begin(), buffer_.begin() + long(kFrameHeader + n));
  bool ok = false;
  nv::message message = nv::message::fromBytes(payload, &ok);
  if (!ok)
    return fail("decryption failed");
  if (hooks_.deliver)
    hooks_.deliver(message);
}

void LegacySession::sendFrame(const nv::message& original) {
  if (!send_)
    return;
  if (!original.has(SYS_TO)) {
    std::string dump;
    original.dump(dump);
    logf("message to me - I don't whant to handle it\n", dump);
    return;
  }
  keepAlive_.sent();
  nv::message message = original;
  addAgentPrefix(message, agentId_);
  Bytes frame(kFrameHeader);
  if (!message.flatten(frame))
    return;
  size_t n = frame.size() - kFrameHeader;
  if (n > 0xFFFF) {
    logf("ERROR: message of ", n, " bytes too long for one frame, dropped");
    return;
  }
  frame[0] = uint8_t(n >> 8);
  frame[1] = uint8_t(n);
  StreamState::Check check = send_->encrypt(frame.data() + kFrameHeader, n);
  std::memcpy(frame.data() + 2, check.data(), check.size());
  connection_->send(kLegacyChannel, frame.data(), frame.size());
}

nv::message LegacySession::describe() const {
  nv::message out;
  if (state_ != State::Established || !send_)
    return out;
  out.set(kDescribeAgent, agentId_);
  auto send = send_->save();
  auto receive = receive_->save();
  out.set(kDescribeSend, std::vector<uint8_t>(send.begin(), send.end()));
  out.set(kDescribeReceive, std::vector<uint8_t>(receive.begin(), receive.end()));
  if (!buffer_.empty())
    out.set(kDescribeHeldFrame, buffer_);
  secureWipe(send.data(), send.size());
  secureWipe(receive.data(), receive.size());
  return out;
}

bool LegacySession::adopt(const nv::message& description) {
  auto send = description.get(kDescribeSend);
  auto receive = description.get(kDescribeReceive);
  if (send.size() != StreamState::kSavedLength || receive.size() != StreamState::kSavedLength)
    return false;
  send_ = std::make_unique<StreamState>(StreamState::restore(
      std::span<const uint8_t, StreamState::kSavedLength>(send.data(), send.size())));
  receive_ = std::make_unique<StreamState>(StreamState::restore(
      std::span<const uint8_t, StreamState::kSavedLength>(receive.data(), receive.size())));
  secureWipe(send.data(), send.size());
  secureWipe(receive.data(), receive.size());
  agentId_ = description.get(kDescribeAgent, kDirectConnection);
  state_ = State::Established;
  exponent_.reset();
  queue_.clear();
  buffer_ = description.get(kDescribeHeldFrame);
  keepAlive_.sent(); // an idle adopted session is probed like any other
  if (!registered_) {
    connection_->addReceiver(kLegacyChannel, this);
    registered_ = true;
  }
  return true;
}

void LegacySession::stop() {
  keepAlive_.stop();
  if (registered_) {
    connection_->removeReceiver(kLegacyChannel, this);
    registered_ = false;
  }
  queue_.clear();
  exponent_.reset();
  send_.reset();
  receive_.reset();
  buffer_.clear();
}

void LegacySession::fail(const std::string& reason) {
  Reference<LegacySession> keep(this);
  stop();
  connection_->close(CloseMode::Now, reason);
}

Reference<LegacySession> createLegacyProxy(ILooper* looper) {
  IConnection* connection = routerConnection();
  if (!looper || !connection)
    return nullptr;
  return makeRef<LegacySession>(currentReactor(), *connection, looperHooks(looper));
}

} // namespace kestel
