#include "api/net/SecureSession.h"

#include "api/wire/Vocabulary.h"
#include "crypto/Random.h"
#include "util/Log.h"

namespace kestel {
namespace {

constexpr size_t kFrameHeader = 2 + SessionCipher::kVectorLength;
// How many frame vectors are remembered to turn replayed frames away.
constexpr size_t kRememberedVectors = 8192;

const nv::u32_id kDescribeAgent{1};
const nv::raw_id kDescribeReceiveKey{2};
const nv::raw_id kDescribeSendKey{3};
const nv::raw_id kDescribeSeenVectors{4};
const nv::raw_id kDescribeHeldFrame{5};
// The newest vectors handed over with a session (16 bytes each): enough to turn away a replay
// of the recent traffic while the description stays within one message value.
constexpr size_t kHandedOverVectors = 2048;
constexpr size_t kVectorLength = SessionCipher::kVectorLength;

} // namespace

SecureSession::SecureSession(Reactor& reactor, IConnection& connection, SessionHooks hooks)
    : reactor_(reactor), connection_(&connection), hooks_(std::move(hooks)),
      keepAlive_(
          reactor, [this] { hooks_.probe(); }, [this] { fail("other end is not responding"); }) {}

SecureSession::~SecureSession() { stop(); }

void SecureSession::start(const std::string& user, const std::string& password,
                          EventListener* listener) {
  listener_ = listener;
  if (!registered_) {
    connection_->addReceiver(kSecureChannel, this);
    registered_ = true;
  }
  SecureBytes random = random32();
  exchange_ = std::make_unique<login::ClientExchange>(
      user, password, std::span<const uint8_t, login::kScalarLength>(random.data(), 32));
  Bytes first = exchange_->firstChallenge();
  connection_->send(kSecureChannel, first.data(), first.size());
  logLine("sending first challenge");
  answerTimer_ = reactor_.addTimer(
      kAnswerTimeoutMs,
      [this] {
        answerTimer_ = 0;
        onAnswerTimeout();
      },
      false);
  state_ = State::ChallengeSent;
}

void SecureSession::post(const nv::message& message) {
  if (state_ == State::Idle || state_ == State::ChallengeSent || state_ == State::ResponseSent) {
    pending_.push_back(message);
    return;
  }
  // A refused router has not shown it knows the password: nothing goes to it, even though keys
  // exist.
  if (state_ == State::LoggedIn && encryptor_)
    sendFrame(message);
}

void SecureSession::receive(uint8_t, const uint8_t* data, size_t length) {
  ByteSpan chunk(data, length);
  keepAlive_.received();
  switch (state_) {
  case State::ChallengeSent:
    return onChallenge(chunk);
  case State::ResponseSent:
    return onProof(chunk);
  case State::LoggedIn:
    return onFrame(chunk);
  case State::Idle:
  case State::Refused:
    return fail("received garbage");
  }
}

void SecureSession::onAnswerTimeout() {
  if (state_ != State::ChallengeSent)
    return;
  exchange_.reset();
  state_ = State::Refused;
  tellListener(LoginFailure::NoChallenge);
}

void SecureSession::onChallenge(ByteSpan data) {
  logf("recvd peer challenge ", data.size());
  reactor_.removeTimer(answerTimer_);
  answerTimer_ = 0;
  auto response = exchange_->respond(data);
  if (!response) {
    logf("bogus challenge: ", response.error().text);
    return fail("bogus challenge");
  }
  connection_->send(kSecureChannel, response->data(), response->size());
  state_ = State::ResponseSent;
  setKeys(exchange_->keys().receive, exchange_->keys().send);
}

void SecureSession::onProof(ByteSpan data) {
  logLine("recvd response");
  if (!exchange_->acceptProof(data)) {
    exchange_.reset();
    pending_.clear();
    encryptor_.reset();
    decryptor_.reset();
    state_ = State::Refused;
    return tellListener(LoginFailure::WrongProof);
  }
  exchange_.reset();
  state_ = State::LoggedIn;
  std::deque<nv::message> queued;
  queued.swap(pending_);
  for (const auto& message : queued) {
    if (state_ != State::LoggedIn)
      break; // the connection ended while sending
    sendFrame(message);
  }
}

void SecureSession::onFrame(ByteSpan data) {
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  if (buffer_.size() < kFrameHeader)
    return fail("received garbage");
  size_t length = (size_t(buffer_[0]) << 8) | buffer_[1];
  if (buffer_.size() < kFrameHeader + length)
    return;
  std::string vector(buffer_.begin() + 2, buffer_.begin() + kFrameHeader);
  Bytes plain(length);
  decryptor_->setVector(std::span<const uint8_t, 16>(buffer_.data() + 2, 16));
  uint32_t n = length ? decryptor_->decrypt(buffer_.data() + kFrameHeader, length, plain.data())
                      : SessionCipher::kFailed;
  if (n == SessionCipher::kFailed || !seenVectors_.insert(vector).second)
    return fail("decryption failed");
  vectorOrder_.push_back(std::move(vector));
  if (vectorOrder_.size() > kRememberedVectors) {
    seenVectors_.erase(vectorOrder_.front());
    vectorOrder_.pop_front();
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + long(kFrameHeader + length));
  bool ok = false;
  nv::message message = nv::message::fromBytes(ByteSpan(plain.data(), n), &ok);
  if (!ok)
    return fail("decryption failed");
  if (hooks_.deliver)
    hooks_.deliver(message);
}

void SecureSession::sendFrame(const nv::message& original) {
  if (!original.has(SYS_TO)) {
    std::string dump;
    original.dump(dump);
    logf("message to me - I don't whant to handle it\n", dump);
    return;
  }
  nv::message message = original;
  addAgentPrefix(message, agentId_);
  Bytes plain;
  if (!message.flatten(plain))
    return;
  keepAlive_.sent();
  size_t length = SessionCipher::encryptedLength(plain.size());
  if (length > 0xFFFF) {
    logf("ERROR: message of ", plain.size(), " bytes too long for one frame, dropped");
    return;
  }
  Bytes frame(kFrameHeader + length);
  frame[0] = uint8_t(length >> 8);
  frame[1] = uint8_t(length);
  frameRandomBytes(frame.data() + 2, SessionCipher::kVectorLength);
  encryptor_->setVector(std::span<const uint8_t, 16>(frame.data() + 2, 16));
  encryptor_->encrypt(plain.data(), plain.size(), frame.data() + kFrameHeader);
  connection_->send(kSecureChannel, frame.data(), frame.size());
}

void SecureSession::setKeys(ByteSpan receiveKey, ByteSpan sendKey) {
  receiveKey_.assign(receiveKey.begin(), receiveKey.end());
  sendKey_.assign(sendKey.begin(), sendKey.end());
  decryptor_ = std::make_unique<SessionCipher>(receiveKey_);
  encryptor_ = std::make_unique<SessionCipher>(sendKey_);
}

nv::message SecureSession::describe() const {
  nv::message out;
  if (state_ != State::LoggedIn)
    return out;
  out.set(kDescribeAgent, agentId_);
  out.set(kDescribeReceiveKey, std::vector<uint8_t>(receiveKey_.begin(), receiveKey_.end()));
  out.set(kDescribeSendKey, std::vector<uint8_t>(sendKey_.begin(), sendKey_.end()));
  Bytes vectors;
  size_t skip =
      vectorOrder_.size() > kHandedOverVectors ? vectorOrder_.size() - kHandedOverVectors : 0;
  for (size_t i = skip; i < vectorOrder_.size(); ++i)
    vectors.insert(vectors.end(), vectorOrder_[i].begin(), vectorOrder_[i].end());
  if (!vectors.empty())
    out.set(kDescribeSeenVectors, std::move(vectors));
  if (!buffer_.empty())
    out.set(kDescribeHeldFrame, buffer_);
  return out;
}

bool SecureSession::adopt(const nv::message& description) {
  if (!description.has(kDescribeReceiveKey) || !description.has(kDescribeSendKey))
    return false;
  auto receiveKey = description.get(kDescribeReceiveKey);
  auto sendKey = description.get(kDescribeSendKey);
  Bytes vectors = description.get(kDescribeSeenVectors);
  Bytes held = description.get(kDescribeHeldFrame);
  bool ok = receiveKey.size() == login::kSessionKeyLength &&
            sendKey.size() == login::kSessionKeyLength && vectors.size() % kVectorLength == 0 &&
            vectors.size() <= kRememberedVectors * kVectorLength;
  if (ok) {
    agentId_ = description.get(kDescribeAgent, kDirectConnection);
    setKeys(receiveKey, sendKey);
    seenVectors_.clear();
    vectorOrder_.clear();
    for (size_t at = 0; at < vectors.size(); at += kVectorLength) {
      std::string vector(vectors.begin() + long(at), vectors.begin() + long(at + kVectorLength));
      if (seenVectors_.insert(vector).second)
        vectorOrder_.push_back(std::move(vector));
    }
    buffer_ = std::move(held);
    exchange_.reset();
    pending_.clear();
    if (!registered_) {
      connection_->addReceiver(kSecureChannel, this);
      registered_ = true;
    }
    state_ = State::LoggedIn;
    keepAlive_.sent(); // an idle adopted session is probed like any other
  }
  secureWipe(receiveKey.data(), receiveKey.size());
  secureWipe(sendKey.data(), sendKey.size());
  return ok;
}

void SecureSession::stop() {
  reactor_.removeTimer(answerTimer_);
  answerTimer_ = 0;
  keepAlive_.stop();
  if (registered_) {
    connection_->removeReceiver(kSecureChannel, this);
    registered_ = false;
  }
  pending_.clear();
  listener_ = nullptr;
  exchange_.reset();
  encryptor_.reset();
  decryptor_.reset();
  receiveKey_.clear();
  sendKey_.clear();
  buffer_.clear();
}

void SecureSession::fail(const std::string& reason) {
  Reference<SecureSession> keep(this);
  stop();
  state_ = State::Refused;
  connection_->close(CloseMode::Now, reason);
}

void SecureSession::tellListener(LoginFailure failure) {
  if (!listener_)
    return;
  Reference<SecureSession> keep(this); // the listener may drop the session
  Reference<EventListener> listener = listener_;
  auto event = makeRef<LoginResultEvent>(failure);
  listener->onEvent(*event);
}

SessionHooks looperHooks(ILooper* looper) {
  SessionHooks hooks;
  hooks.deliver = [looper](const nv::message& message) { looper->deliver(message); };
  hooks.probe = [] { getGlobalHandler()->send(CMD_NOOP, 1, nv::message()); };
  return hooks;
}

Reference<ISession> createProxy(ILooper* looper) {
  IConnection* connection = routerConnection();
  if (!looper || !connection)
    return nullptr;
  return makeRef<SecureSession>(currentReactor(), *connection, looperHooks(looper));
}

} // namespace kestel
