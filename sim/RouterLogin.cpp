#include "sim/RouterLogin.h"

#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/net/SessionSupport.h"
#include "api/wire/Vocabulary.h"
#include "crypto/SessionCipher.h"
#include "crypto/Sha.h"
#include "crypto/StreamState.h"
#include "util/Log.h"

#include <cstdlib>
#include <cstring>

namespace kestel::sim {
namespace {

constexpr uint8_t kSecureChannel = 6;
constexpr uint8_t kLegacyChannel = 5;
constexpr size_t kFrameHeader = 18;
constexpr size_t kMaxFirstChallenge = 4096;

std::array<uint8_t, 32> routerRandom() {
  std::array<uint8_t, 32> r{};
  frameRandomBytes(r.data(), r.size());
  return r;
}

} // namespace

class RouterLogin::Peer {
public:
  Peer(RouterLogin& owner, SimConnection& connection) : owner_(owner), connection_(connection) {}

  void onSecureChunk(ByteSpan data);
  void onLegacyChunk(ByteSpan data);
  void sendMessage(const nv::message& message);
  const SimUser* user() const { return user_; }
  void setUser(const SimUser* user) { user_ = user; }
  bool legacy() const { return legacy_; }
  Bytes& legacyChallenge() { return legacyChallenge_; }

private:
  enum class Legacy { WaitValue, Framing, Silent };
  void onLegacyValue();
  void onLegacyFrames();
  void sendLegacy(const Bytes& plain);
  enum class Secure { WaitFirst, WaitResponse, LoggedIn, Silent };
  void onFirstChallenge();
  void onResponse();
  void onFrames();

  RouterLogin& owner_;
  SimConnection& connection_;
  Secure secure_ = Secure::WaitFirst;
  std::unique_ptr<login::RouterExchange> exchange_;
  std::unique_ptr<SessionCipher> encryptor_, decryptor_;
  Bytes buffer_;
  const SimUser* user_ = nullptr;      // set once logged in
  const SimUser* candidate_ = nullptr; // named in the secure first challenge
  login::RouterUser decoy_;            // stands in for an unknown name
  bool legacy_ = false;
  Legacy legacyState_ = Legacy::WaitValue;
  std::unique_ptr<StreamState> legacySend_, legacyReceive_;
  Bytes legacyBuffer_;
  Bytes legacyChallenge_;
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

class LegacyChannel final : public ChannelHandler {
public:
  explicit LegacyChannel(std::shared_ptr<RouterLogin::Peer> peer) : peer_(std::move(peer)) {}
  void onChunk(SimConnection&, uint8_t, ByteSpan payload) override {
    peer_->onLegacyChunk(payload);
  }

private:
  std::shared_ptr<RouterLogin::Peer> peer_;
};

} // namespace

void RouterLogin::Peer::onSecureChunk(ByteSpan data) {
  if (secure_ == Secure::Silent)
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
  candidate_ = owner_.findUser(name);
  if (!candidate_)
    decoy_ = owner_.decoyFor(name);
  exchange_ = std::make_unique<login::RouterExchange>(candidate_ ? &candidate_->login : nullptr,
                                                      decoy_, routerRandom());
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
  user_ = candidate_;
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

void RouterLogin::Peer::onLegacyChunk(ByteSpan data) {
  const LoginFaults& faults = owner_.faults_;
  if (legacyState_ == Legacy::Silent || faults.noLegacy || faults.neverChallenge)
    return;
  legacyBuffer_.insert(legacyBuffer_.end(), data.begin(), data.end());
  if (legacyState_ == Legacy::WaitValue)
    return onLegacyValue();
  onLegacyFrames();
}

void RouterLogin::Peer::onLegacyValue() {
  if (legacyBuffer_.size() < legacy::kNumberLength)
    return;
  legacy::Number y, r;
  std::memcpy(y.data(), legacyBuffer_.data(), y.size());
  legacyBuffer_.erase(legacyBuffer_.begin(), legacyBuffer_.begin() + legacy::kNumberLength);
  frameRandomBytes(r.data(), r.size());
  legacy::Number k, shared;
  if (legacy::powerOfGenerator(r, k) != legacy::Power::Ok ||
      legacy::power(y, r, shared) != legacy::Power::Ok) {
    legacyState_ = Legacy::Silent;
    return connection_.close(CloseMode::Now);
  }
  // The router sends with the client's receive half and receives with its send half.
  legacySend_ = std::make_unique<StreamState>();
  legacySend_->key(ByteSpan(shared.data() + 124, 124));
  legacyReceive_ = std::make_unique<StreamState>();
  legacyReceive_->key(ByteSpan(shared.data(), 124));
  legacy_ = true;
  legacyState_ = Legacy::Framing;
  connection_.send(kLegacyChannel, k);
}

void RouterLogin::Peer::onLegacyFrames() {
  constexpr size_t kHeader = 2 + StreamState::kCheckLength;
  while (legacyBuffer_.size() >= kHeader) {
    size_t n = (size_t(legacyBuffer_[0]) << 8) | legacyBuffer_[1];
    if (legacyBuffer_.size() < kHeader + n)
      return;
    Bytes payload(legacyBuffer_.begin() + kHeader, legacyBuffer_.begin() + long(kHeader + n));
    bool ok = legacyReceive_->decrypt(payload.data(), payload.size(),
                                      std::span<const uint8_t, StreamState::kCheckLength>(
                                          legacyBuffer_.data() + 2, StreamState::kCheckLength));
    legacyBuffer_.erase(legacyBuffer_.begin(), legacyBuffer_.begin() + long(kHeader + n));
    nv::message message;
    if (ok)
      message = nv::message::fromBytes(payload, &ok);
    if (!ok) {
      legacyState_ = Legacy::Silent;
      return connection_.close(CloseMode::Now);
    }
    owner_.handle(*this, message);
    if (connection_.closed())
      return;
  }
}

void RouterLogin::Peer::sendLegacy(const Bytes& plain) {
  constexpr size_t kHeader = 2 + StreamState::kCheckLength;
  if (plain.size() > 0xFFFF)
    return;
  Bytes frame(kHeader + plain.size());
  frame[0] = uint8_t(plain.size() >> 8);
  frame[1] = uint8_t(plain.size());
  std::memcpy(frame.data() + kHeader, plain.data(), plain.size());
  StreamState::Check check = legacySend_->encrypt(frame.data() + kHeader, plain.size());
  std::memcpy(frame.data() + 2, check.data(), check.size());
  if (owner_.faults_.garbageFrames)
    frame[2] ^= 0x5A;
  connection_.send(kLegacyChannel, frame);
}

void RouterLogin::Peer::sendMessage(const nv::message& message) {
  Bytes plain;
  if (!message.flatten(plain))
    return;
  if (legacy_)
    return sendLegacy(plain);
  size_t length = SessionCipher::encryptedLength(plain.size());
  if (length > 0xFFFF)
    return;
  Bytes frame(kFrameHeader + length);
  frame[0] = uint8_t(length >> 8);
  frame[1] = uint8_t(length);
  frameRandomBytes(frame.data() + 2, 16);
  if (owner_.faults_.garbageFrames) {
    frameRandomBytes(frame.data() + kFrameHeader, length);
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
  u.changePassword = changePassword_;
  users_.push_back(std::move(u));
}

void RouterLogin::addSaltedUser(const std::string& name, const std::string& password,
                                uint32_t policy) {
  SimUser u;
  u.login.name = name;
  u.login.salted = true;
  std::array<uint8_t, login::kSaltLength> salt{};
  frameRandomBytes(salt.data(), salt.size());
  u.login.verifier = login::makeVerifier(name, password, salt);
  u.policy = policy;
  u.changePassword = changePassword_;
  users_.push_back(std::move(u));
  saltedTable_ = true; // unknown names now answer like the salted users
}

SimUser* RouterLogin::findUser(std::string_view name) {
  std::string_view plain = loginUserName(name);
  for (auto& u : users_)
    if (u.login.name == plain)
      return &u;
  return nullptr;
}

std::array<uint8_t, 32> RouterLogin::makeDecoySecret() {
  std::array<uint8_t, 32> secret{};
  frameRandomBytes(secret.data(), secret.size());
  return secret;
}

// The same name always gets the same decoy salt and verifier, so that asking twice does not
// tell an unknown name from a real one.
login::RouterUser RouterLogin::decoyFor(std::string_view name) const {
  login::RouterUser decoy;
  decoy.name = std::string(name);
  decoy.salted = saltedTable_;
  if (!saltedTable_)
    return decoy;
  Sha256 sha;
  sha.update(decoySecret_);
  sha.update(asBytes(loginUserName(name)));
  uint8_t digest[32];
  sha.final(digest);
  std::string password(reinterpret_cast<const char*>(digest + 16), 16);
  decoy.verifier =
      login::makeVerifier(name, password, std::span<const uint8_t, login::kSaltLength>(digest, 16));
  return decoy;
}

void RouterLogin::changePasswordForAll() {
  changePassword_ = true;
  for (auto& u : users_)
    u.changePassword = true;
}

void RouterLogin::ensureDefaultUser() {
  if (users_.empty())
    addUser("admin", "");
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
  server.registerChannel(kLegacyChannel, [this](SimConnection& connection) {
    return std::make_unique<LegacyChannel>(peerFor(connection));
  });
}

nv::message RouterLogin::loginReply(const SimUser& user) const {
  nv::message reply;
  reply.set(kLoginReplyVersion, facts_.version);
  reply.set(kLoginReplyRequiredClient, facts_.requiredClient);
  reply.set(kLoginReplySkin, facts_.skin);
  reply.set(kLoginReplyChangePassword, user.changePassword);
  reply.set(kLoginReplyPolicy, user.policy);
  return reply;
}

// Before a legacy client has logged in only the login handler and the keep-alive answer.
std::optional<nv::message> RouterLogin::legacyLogin(Peer& peer, const nv::message& request) {
  nv::message reply;
  uint32_t cmd = request.get(SYS_CMD);
  if (cmd == kLegacyChallengeCommand && !faults_.noLegacyChallenge) {
    peer.legacyChallenge().resize(kLegacyChallengeLength);
    frameRandomBytes(peer.legacyChallenge().data(), kLegacyChallengeLength);
    reply.set(kLegacyChallenge, peer.legacyChallenge());
    return reply;
  }
  const SimUser* user = findUser(request.get(kLegacyLogin));
  if (cmd == kLoginCommand && user && !user->login.salted && !peer.legacyChallenge().empty() &&
      request.get(kLegacyResponse) ==
          legacyLoginResponse(user->login.password, peer.legacyChallenge())) {
    peer.setUser(user);
    ++logins_;
    return loginReply(*user);
  }
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, ERROR_NOTALLOWED);
  return reply;
}

void RouterLogin::handle(Peer& peer, const nv::message& request) {
  std::vector<uint32_t> to = request.get(SYS_TO);
  std::optional<nv::message> reply;
  uint32_t cmd = request.get(SYS_CMD);
  if (to == std::vector<uint32_t>{1} && cmd == CMD_NOOP) {
    reply = nv::message(); // the keep-alive: always answered, so the client hears something
  } else if (!peer.user()) {
    if (to == kLoginHandler)
      reply = legacyLogin(peer, request);
    else if (request.get(SYS_REPLYEXP)) {
      reply = nv::message();
      reply->set(SYS_STATUS, STATUS_ERROR);
      reply->set(SYS_ERRNO, ERROR_NOTALLOWED);
    }
  } else if (to == kLoginHandler && cmd == kLoginCommand) {
    reply = loginReply(*peer.user());
  } else if (auto it = handlers_.find(to); it != handlers_.end()) {
    reply = it->second(RouterRequest{request, *peer.user(), peer.legacy()});
  } else if (request.get(SYS_REPLYEXP)) {
    reply = nv::message();
    reply->set(SYS_STATUS, STATUS_ERROR);
    reply->set(SYS_ERRNO, ERROR_BRKPATH);
  }
  if (!reply)
    return;
  reply->set(SYS_TO, request.get(SYS_FROM));
  reply->set(SYS_FROM, to);
  reply->set(SYS_TYPE, TYPE_REPLY);
  if (!reply->has(SYS_STATUS))
    reply->set(SYS_STATUS, STATUS_OK);
  if (request.has(SYS_REQID))
    reply->set(SYS_REQID, request.get(SYS_REQID));
  peer.sendMessage(*reply);
}

const char* loginOptionsUsage() {
  return "  --user <name>[:<password>]         a user whose password the router keeps\n"
         "  --salted-user <name>[:<password>]  a user kept only as a salted verifier\n"
         "  (default: --user admin with an empty password)\n"
         "  --required-client <version>  --skin <name>  --change-password\n"
         "  faults: --refuse-secure --no-legacy --wrong-proof --never-challenge\n"
         "          --garbage-frames --no-legacy-challenge\n";
}

int applyLoginOption(RouterLogin& login, int argc, char** argv, int i) {
  std::string arg = argv[i];
  LoginFaults& faults = login.faults();
  bool* flag = arg == "--no-legacy-challenge" ? &faults.noLegacyChallenge
               : arg == "--refuse-secure"     ? &faults.refuseSecure
               : arg == "--no-legacy"         ? &faults.noLegacy
               : arg == "--wrong-proof"       ? &faults.wrongProof
               : arg == "--never-challenge"   ? &faults.neverChallenge
               : arg == "--garbage-frames"    ? &faults.garbageFrames
                                              : nullptr;
  if (flag) {
    *flag = true;
    return 1;
  }
  if (arg == "--change-password") {
    login.changePasswordForAll();
    return 1;
  }
  bool valued =
      arg == "--user" || arg == "--salted-user" || arg == "--required-client" || arg == "--skin";
  if (!valued)
    return 0;
  if (i + 1 >= argc)
    return -1;
  std::string value = argv[i + 1];
  if (arg == "--user" || arg == "--salted-user") {
    size_t colon = value.find(':');
    std::string name = value.substr(0, colon);
    std::string password = colon == std::string::npos ? "" : value.substr(colon + 1);
    if (name.empty())
      return -1;
    if (arg == "--user")
      login.addUser(name, password);
    else
      login.addSaltedUser(name, password);
  } else if (arg == "--required-client") {
    login.facts().requiredClient = value;
  } else {
    login.facts().skin = value;
  }
  return 2;
}

} // namespace kestel::sim
