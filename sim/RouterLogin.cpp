#include "sim/RouterLogin.h"

#include "api/net/SessionSupport.h"
#include "api/wire/Vocabulary.h"
#include "crypto/SessionCipher.h"
#include "crypto/Sha.h"
#include "util/Log.h"

namespace kestel::sim {
namespace {

constexpr uint8_t kSecureChannel = 6;
constexpr size_t kFrameHeader = 18;
constexpr size_t kMaxFirstChallenge = 4096;

// Login reply fields.
const nv::string_id kReplyVersion{21};
const nv::string_id kReplyRequiredClient{22};
const nv::string_id kReplySkin{24};
const nv::bool_id kReplyChangePassword{38};
const nv::u32_id kReplyPolicy{39};

std::array<uint8_t, 32> routerRandom() {
  std::array<uint8_t, 32> r{};
  randomBytes(r.data(), r.size());
  return r;
}

} // namespace

class RouterLogin::Peer {
public:
  Peer(RouterLogin& owner, SimConnection& connection) : owner_(owner), connection_(connection) {}

  void onSecureChunk(ByteSpan data);
  void sendMessage(const nv::message& message);
  const SimUser* user() const { return user_; }
  bool legacy() const { return legacy_; }
  SimConnection& connection() { return connection_; }

private:
  enum class Secure { WaitFirst, WaitResponse, LoggedIn, Silent };
  void onFirstChallenge();
  void onResponse();
  void onFrames();
  bool dropCheck();

  RouterLogin& owner_;
  SimConnection& connection_;
  Secure secure_ = Secure::WaitFirst;
  std::unique_ptr<login::RouterExchange> exchange_;
  std::unique_ptr<SessionCipher> encryptor_, decryptor_;
  Bytes buffer_;
  const SimUser* user_ = nullptr;
  bool legacy_ = false;
};

namespace {

class SecureChannel final : public ChannelHandler {
public:
  explicit SecureChannel(std::shared_ptr<RouterLogin::Peer> peer) : peer_(std::move(peer)) {}
  void onChunk(SimConnection&, uint8_t, ByteSpan payload) override {
    peer_->onSecureChunk(payload);
  }

private:
  std::shared_ptr<RouterLogin::Peer> peer_;
};

} // namespace

bool RouterLogin::Peer::dropCheck() {
  uint64_t limit = owner_.faults_.dropAfterBytes;
  if (limit && connection_.bytesReceived() >= limit) {
    connection_.close(CloseMode::Now);
    return true;
  }
  return false;
}

void RouterLogin::Peer::onSecureChunk(ByteSpan data) {
  if (dropCheck() || secure_ == Secure::Silent)
    return;
  const LoginFaults& faults = owner_.faults_;
  if (faults.refuseSecure || faults.neverChallenge)
    return;
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  switch (secure_) {
  case Secure::WaitFirst:
    return onFirstChallenge();
  case Secure::WaitResponse:
    return onResponse();
  case Secure::LoggedIn:
    return onFrames();
  case Secure::Silent:
    return;
  }
}

void RouterLogin::Peer::onFirstChallenge() {
  if (buffer_.size() > kMaxFirstChallenge) {
    secure_ = Secure::Silent;
    return connection_.close(CloseMode::Now);
  }
  if (buffer_.size() <= login::kPointLength || buffer_.back() != 0)
    return; // the rest of the name is still coming
  std::string name(buffer_.begin() + login::kPointLength, buffer_.end() - 1);
  user_ = owner_.findUser(name);
  exchange_ = std::make_unique<login::RouterExchange>(user_ ? &user_->login : nullptr,
                                                      owner_.decoy_.login, routerRandom());
  auto challenge = exchange_->challenge(buffer_);
  buffer_.clear();
  if (!challenge) {
    secure_ = Secure::Silent;
    return connection_.close(CloseMode::Now);
  }
  secure_ = Secure::WaitResponse;
  connection_.send(kSecureChannel, *challenge);
}

void RouterLogin::Peer::onResponse() {
  if (buffer_.size() < login::kResponseLength)
    return;
  auto proof = exchange_->checkResponse(ByteSpan(buffer_).first(login::kResponseLength));
  buffer_.clear();
  if (!proof || owner_.faults_.wrongProof) {
    // Refused: a proof the client cannot accept, then nothing more.
    std::string refusal(login::kProofLength, '0');
    refusal[0] = 'S';
    refusal[1] = '=';
    connection_.send(kSecureChannel, asBytes(refusal));
    secure_ = Secure::Silent;
    return;
  }
  decryptor_ = std::make_unique<SessionCipher>(exchange_->keys().receive);
  encryptor_ = std::make_unique<SessionCipher>(exchange_->keys().send);
  exchange_.reset();
  secure_ = Secure::LoggedIn;
  ++owner_.logins_;
  connection_.send(kSecureChannel, asBytes(*proof));
}

void RouterLogin::Peer::onFrames() {
  while (buffer_.size() >= kFrameHeader) {
    size_t length = (size_t(buffer_[0]) << 8) | buffer_[1];
    if (buffer_.size() < kFrameHeader + length)
      return;
    Bytes plain(length);
    decryptor_->setVector(std::span<const uint8_t, 16>(buffer_.data() + 2, 16));
    uint32_t n = decryptor_->decrypt(buffer_.data() + kFrameHeader, length, plain.data());
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(kFrameHeader + length));
    bool ok = n != SessionCipher::kFailed;
    nv::message message;
    if (ok)
      message = nv::message::fromBytes(ByteSpan(plain.data(), n), &ok);
    if (!ok) {
      secure_ = Secure::Silent;
      return connection_.close(CloseMode::Now);
    }
    owner_.handle(*this, message);
    if (connection_.closed())
      return;
  }
}

void RouterLogin::Peer::sendMessage(const nv::message& message) {
  Bytes plain;
  if (!message.flatten(plain))
    return;
  size_t length = SessionCipher::encryptedLength(plain.size());
  if (length > 0xFFFF)
    return;
  Bytes frame(kFrameHeader + length);
  frame[0] = uint8_t(length >> 8);
  frame[1] = uint8_t(length);
  randomBytes(frame.data() + 2, 16);
  if (owner_.faults_.garbageFrames) {
    randomBytes(frame.data() + kFrameHeader, length);
  } else {
    encryptor_->setVector(std::span<const uint8_t, 16>(frame.data() + 2, 16));
    encryptor_->encrypt(plain.data(), plain.size(), frame.data() + kFrameHeader);
  }
  connection_.send(kSecureChannel, frame);
}

// ---- RouterLogin
// ---------------------------------------------------------------------------------

void RouterLogin::addUser(const std::string& name, const std::string& password, uint32_t policy) {
  SimUser u;
  u.login.name = name;
  u.login.password = password;
  u.policy = policy;
  users_.push_back(std::move(u));
}

void RouterLogin::addSaltedUser(const std::string& name, const std::string& password,
                                uint32_t policy) {
  SimUser u;
  u.login.name = name;
  u.login.salted = true;
  std::array<uint8_t, login::kSaltLength> salt{};
  randomBytes(salt.data(), salt.size());
  u.login.verifier = login::makeVerifier(name, password, salt);
  u.policy = policy;
  users_.push_back(std::move(u));
  // Unknown names answer like the salted users, with a decoy verifier.
  decoy_.login.salted = true;
  decoy_.login.verifier = login::makeVerifier("", std::to_string(std::rand()), salt);
}

SimUser* RouterLogin::findUser(std::string_view name) {
  std::string_view plain = login::plainUser(name);
  for (auto& u : users_)
    if (u.login.name == plain)
      return &u;
  return nullptr;
}

void RouterLogin::addHandler(std::vector<uint32_t> path, RouterHandler handler) {
  handlers_[std::move(path)] = std::move(handler);
}

std::shared_ptr<RouterLogin::Peer> RouterLogin::peerFor(SimConnection& connection) {
  std::erase_if(peers_, [](const auto& entry) { return entry.second.expired(); });
  auto it = peers_.find(connection.id());
  if (it != peers_.end())
    if (auto peer = it->second.lock())
      return peer;
  auto peer = std::make_shared<Peer>(*this, connection);
  peers_[connection.id()] = peer;
  return peer;
}

void RouterLogin::install(SimServer& server) {
  server.registerChannel(kSecureChannel, [this](SimConnection& connection) {
    return std::make_unique<SecureChannel>(peerFor(connection));
  });
}

void RouterLogin::handle(Peer& peer, const nv::message& request) {
  std::vector<uint32_t> to = request.get(SYS_TO);
  nv::message reply;
  bool answered = false;
  uint32_t cmd = request.get(SYS_CMD);
  if (to == std::vector<uint32_t>{1} && cmd == CMD_NOOP) {
    answered = true; // the keep-alive: always answered, so the client hears something
  } else if (to == std::vector<uint32_t>{13, 4} && cmd == 7) {
    reply.set(kReplyVersion, facts_.version);
    reply.set(kReplyRequiredClient, facts_.requiredClient);
    reply.set(kReplySkin, facts_.skin);
    reply.set(kReplyChangePassword, peer.user()->changePassword);
    reply.set(kReplyPolicy, peer.user()->policy);
    answered = true;
  } else if (auto it = handlers_.find(to); it != handlers_.end()) {
    auto body = it->second(RouterRequest{request, *peer.user(), peer.legacy()});
    if (body) {
      reply = *body;
      answered = true;
    }
  } else if (request.get(SYS_REPLYEXP)) {
    reply.set(SYS_STATUS, STATUS_ERROR);
    reply.set(SYS_ERRNO, ERROR_BRKPATH);
    answered = true;
  }
  if (!answered)
    return;
  reply.set(SYS_TO, request.get(SYS_FROM));
  reply.set(SYS_FROM, to);
  reply.set(SYS_TYPE, TYPE_REPLY);
  if (!reply.has(SYS_STATUS))
    reply.set(SYS_STATUS, STATUS_OK);
  if (request.has(SYS_REQID))
    reply.set(SYS_REQID, request.get(SYS_REQID));
  peer.sendMessage(reply);
}

} // namespace kestel::sim
