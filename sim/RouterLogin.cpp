#include "sim/RouterLogin.h"

#include "api/net/LegacySession.h"
#include "api/net/LoginHandler.h"
#include "api/net/SessionSupport.h"
#include "api/wire/Vocabulary.h"
#include "crypto/Secure.h"
#include "crypto/SessionCipher.h"
#include "crypto/Sha.h"
#include "crypto/StreamState.h"
#include "util/Log.h"

#include <algorithm>
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

// Which login channel a connection has committed to: the first of channels 5 and 6 that takes
// part in a login owns the connection, and a chunk on the other one closes it. One connection
// is one session.
struct RouterLogin::ConnectionClaim {
  uint8_t channel = 0;
};

// One login channel of one connection. The user it authenticates belongs to it alone.
class RouterLogin::Session : public ChannelHandler {
public:
  Session(RouterLogin& owner, SimConnection& connection, std::shared_ptr<ConnectionClaim> claim,
          uint8_t channel)
      : owner_(owner), connection_(connection), claim_(std::move(claim)), channel_(channel),
        peer_(std::make_shared<RouterPeer>([this](const nv::message& m) { sendMessage(m); },
                                           [this] { return connection_.pendingOutput(); })) {}
  ~Session() override { peer_->disconnect(); }
  void onClosed(SimConnection&) override { peer_->disconnect(); }
  const std::shared_ptr<RouterPeer>& peer() const { return peer_; }

  void onChunk(SimConnection&, uint8_t, ByteSpan payload) final;
  const SimUser* user() const { return user_; }
  SimConnection& connection() { return connection_; }
  virtual bool legacy() const = 0;
  virtual void sendMessage(const nv::message& message) = 0;
  // Counts a failed login of this connection; true when it has used up its attempts.
  bool failedOnce() {
    ++failures_;
    return owner_.limits_.enabled && failures_ >= owner_.limits_.perConnection;
  }
  // The connection closes once the reply being made is sent.
  void endAfterReply() { endAfterReply_ = true; }
  // Sends to this session for as long as it lasts; false once it is gone.
  OverlaySend sender() {
    return [alive = std::weak_ptr<Session*>(self_)](const nv::message& m) {
      auto session = alive.lock();
      if (!session)
        return false;
      (*session)->sendMessage(m);
      return true;
    };
  }
  bool endingAfterReply() const { return endAfterReply_; }

protected:
  // True while the channel says nothing (after a refusal, or by a fault switch).
  virtual bool silent() const = 0;
  virtual void onData(ByteSpan data) = 0;
  void loggedIn(const SimUser& user) {
    user_ = &user;
    ++owner_.logins_;
    connection_.markEstablished();
  }

  RouterLogin& owner_;
  SimConnection& connection_;

private:
  std::shared_ptr<ConnectionClaim> claim_;
  uint8_t channel_;
  const SimUser* user_ = nullptr;
  unsigned failures_ = 0;
  bool endAfterReply_ = false;
  std::shared_ptr<Session*> self_ = std::make_shared<Session*>(this);
  std::shared_ptr<RouterPeer> peer_;
};

class RouterLogin::SecureLogin final : public Session {
public:
  SecureLogin(RouterLogin& owner, SimConnection& connection, std::shared_ptr<ConnectionClaim> claim)
      : Session(owner, connection, std::move(claim), kSecureChannel) {}
  bool legacy() const override { return false; }
  void sendMessage(const nv::message& message) override;

private:
  enum class State { WaitFirst, WaitResponse, LoggedIn, Silent };
  bool silent() const override;
  void onData(ByteSpan data) override;
  void onFirstChallenge();
  void onResponse();
  void refuse();
  void onFrames();

  State state_ = State::WaitFirst;
  std::unique_ptr<login::RouterExchange> exchange_;
  std::unique_ptr<SessionCipher> encryptor_, decryptor_;
  Bytes buffer_;
  const SimUser* candidate_ = nullptr; // named in the first challenge
  login::RouterUser record_;           // what the exchange runs with (the user's or a decoy)
};

class RouterLogin::LegacyLogin final : public Session {
public:
  LegacyLogin(RouterLogin& owner, SimConnection& connection, std::shared_ptr<ConnectionClaim> claim)
      : Session(owner, connection, std::move(claim), kLegacyChannel) {}
  bool legacy() const override { return true; }
  void sendMessage(const nv::message& message) override;
  Bytes& challenge() { return challenge_; }
  void setUser(const SimUser& user) { loggedIn(user); }

private:
  enum class State { WaitValue, Framing, Silent };
  bool silent() const override;
  void onData(ByteSpan data) override;
  void onValue();
  void onFrames();

  State state_ = State::WaitValue;
  std::unique_ptr<StreamState> send_, receive_;
  Bytes buffer_;
  Bytes challenge_;
};

void RouterLogin::Session::onChunk(SimConnection&, uint8_t, ByteSpan payload) {
  if (claim_->channel != 0 && claim_->channel != channel_) {
    logf("login: connection ", connection_.id(), " sent on channel ", unsigned(channel_),
         " after logging in on channel ", unsigned(claim_->channel), "; closed");
    return connection_.close(CloseMode::Now);
  }
  if (silent())
    return;
  claim_->channel = channel_;
  onData(payload);
}

// ---- Secure login (channel 6)

bool RouterLogin::SecureLogin::silent() const {
  const LoginFaults& faults = owner_.faults_;
  return state_ == State::Silent || faults.refuseSecure || faults.neverChallenge;
}

void RouterLogin::SecureLogin::onData(ByteSpan data) {
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  switch (state_) {
  case State::WaitFirst:
    return onFirstChallenge();
  case State::WaitResponse:
    return onResponse();
  case State::LoggedIn:
    return onFrames();
  case State::Silent:
    return;
  }
}

void RouterLogin::SecureLogin::onFirstChallenge() {
  if (buffer_.size() > kMaxFirstChallenge) {
    state_ = State::Silent;
    return connection_.close(CloseMode::Now);
  }
  if (buffer_.size() <= login::kPointLength || buffer_.back() != 0)
    return; // the rest of the name is still coming
  std::string name(buffer_.begin() + login::kPointLength, buffer_.end() - 1);
  record_ = owner_.exchangeRecord(name, candidate_);
  exchange_ = std::make_unique<login::RouterExchange>(candidate_ ? &record_ : nullptr, record_,
                                                      routerRandom());
  auto challenge = exchange_->challenge(buffer_);
  buffer_.clear();
  if (!challenge) {
    state_ = State::Silent;
    return connection_.close(CloseMode::Now);
  }
  state_ = State::WaitResponse;
  connection_.send(kSecureChannel, *challenge);
}

void RouterLogin::SecureLogin::onResponse() {
  if (buffer_.size() < login::kResponseLength)
    return;
  const std::string& address = connection_.peerAddress();
  if (owner_.addressLockedOut(address))
    return refuse();
  auto proof = exchange_->checkResponse(ByteSpan(buffer_).first(login::kResponseLength));
  buffer_.clear();
  if (!proof) {
    owner_.noteFailure(address);
    failedOnce();
    return refuse();
  }
  if (owner_.faults_.wrongProof)
    return refuse();
  decryptor_ = std::make_unique<SessionCipher>(exchange_->keys().receive);
  encryptor_ = std::make_unique<SessionCipher>(exchange_->keys().send);
  exchange_.reset();
  state_ = State::LoggedIn;
  loggedIn(*candidate_);
  connection_.send(kSecureChannel, asBytes(*proof));
}

// A proof the client cannot accept, then nothing more.
void RouterLogin::SecureLogin::refuse() {
  buffer_.clear();
  exchange_.reset();
  std::string refusal(login::kProofLength, '0');
  refusal[0] = 'S';
  refusal[1] = '=';
  connection_.send(kSecureChannel, asBytes(refusal));
  state_ = State::Silent;
}

void RouterLogin::SecureLogin::onFrames() {
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
      state_ = State::Silent;
      return connection_.close(CloseMode::Now);
    }
    owner_.handle(*this, message);
    if (connection_.closed())
      return;
  }
}

void RouterLogin::SecureLogin::sendMessage(const nv::message& message) {
  Bytes plain;
  if (!encryptor_ || !message.flatten(plain))
    return;
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

// ---- Legacy login (channel 5)

bool RouterLogin::LegacyLogin::silent() const {
  const LoginFaults& faults = owner_.faults_;
  return state_ == State::Silent || faults.noLegacy || faults.neverChallenge;
}

void RouterLogin::LegacyLogin::onData(ByteSpan data) {
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  if (state_ == State::WaitValue)
    return onValue();
  onFrames();
}

void RouterLogin::LegacyLogin::onValue() {
  if (buffer_.size() < legacy::kNumberLength)
    return;
  legacy::Number y, r;
  std::memcpy(y.data(), buffer_.data(), y.size());
  buffer_.erase(buffer_.begin(), buffer_.begin() + legacy::kNumberLength);
  frameRandomBytes(r.data(), r.size());
  legacy::Number k, shared;
  if (legacy::powerOfGenerator(r, k) != legacy::Power::Ok ||
      legacy::power(y, r, shared) != legacy::Power::Ok) {
    state_ = State::Silent;
    return connection_.close(CloseMode::Now);
  }
  // The router sends with the client's receive half and receives with its send half.
  send_ = std::make_unique<StreamState>();
  send_->key(ByteSpan(shared.data() + 124, 124));
  receive_ = std::make_unique<StreamState>();
  receive_->key(ByteSpan(shared.data(), 124));
  state_ = State::Framing;
  connection_.send(kLegacyChannel, k);
  if (!buffer_.empty())
    onFrames();
}

void RouterLogin::LegacyLogin::onFrames() {
  constexpr size_t kHeader = 2 + StreamState::kCheckLength;
  while (buffer_.size() >= kHeader) {
    size_t n = (size_t(buffer_[0]) << 8) | buffer_[1];
    if (buffer_.size() < kHeader + n)
      return;
    Bytes payload(buffer_.begin() + kHeader, buffer_.begin() + long(kHeader + n));
    bool ok = receive_->decrypt(payload.data(), payload.size(),
                                std::span<const uint8_t, StreamState::kCheckLength>(
                                    buffer_.data() + 2, StreamState::kCheckLength));
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(kHeader + n));
    nv::message message;
    if (ok)
      message = nv::message::fromBytes(payload, &ok);
    if (!ok) {
      state_ = State::Silent;
      return connection_.close(CloseMode::Now);
    }
    owner_.handle(*this, message);
    if (connection_.closed())
      return;
  }
}

void RouterLogin::LegacyLogin::sendMessage(const nv::message& message) {
  constexpr size_t kHeader = 2 + StreamState::kCheckLength;
  Bytes plain;
  if (!send_ || !message.flatten(plain) || plain.size() > 0xFFFF)
    return;
  Bytes frame(kHeader + plain.size());
  frame[0] = uint8_t(plain.size() >> 8);
  frame[1] = uint8_t(plain.size());
  std::memcpy(frame.data() + kHeader, plain.data(), plain.size());
  StreamState::Check check = send_->encrypt(frame.data() + kHeader, plain.size());
  std::memcpy(frame.data() + 2, check.data(), check.size());
  if (owner_.faults_.garbageFrames)
    frame[2] ^= 0x5A;
  connection_.send(kLegacyChannel, frame);
}

// ---- RouterLogin
// ---------------------------------------------------------------------------------

void RouterLogin::addUser(const std::string& name, const std::string& password, uint32_t policy) {
  SimUser u;
  u.login.name = name;
  u.login.password = password;
  // Kept besides the password: once the table holds a salted user, every user answers the
  // secure login in the salted form.
  std::array<uint8_t, login::kSaltLength> salt{};
  frameRandomBytes(salt.data(), salt.size());
  u.login.verifier = login::makeVerifier(name, password, salt);
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

ec::Encoded RouterLogin::makeDecoyKey() {
  ec::Scalar scalar{};
  frameRandomBytes(scalar.data(), scalar.size());
  ec::Encoded key = *ec::encodePoint(ec::mul(scalar, ec::basePoint()));
  secureWipe(scalar.data(), scalar.size());
  return key;
}

// The same name always gets the same decoy salt and blinding scalar, so that asking twice does
// not tell an unknown name from a real one. Two hashes: as cheap as looking a user up, and done
// for every name. The decoy's L never shows in what the router sends, so one key serves all.
login::RouterUser RouterLogin::decoyFor(std::string_view name) const {
  login::RouterUser decoy;
  decoy.name = std::string(name);
  decoy.salted = saltedTable_;
  auto derive = [&](char what, uint8_t* out) {
    Sha256 sha;
    sha.update(decoySecret_);
    sha.update(&what, 1);
    sha.update(asBytes(loginUserName(name)));
    sha.final(out);
  };
  uint8_t salt[Sha256::kDigestSize];
  derive('s', salt);
  std::memcpy(decoy.verifier.salt.data(), salt, login::kSaltLength);
  derive('w', decoy.verifier.w0.data());
  decoy.verifier.L = decoyKey_;
  return decoy;
}

login::RouterUser RouterLogin::exchangeRecord(std::string_view name, const SimUser*& user) {
  login::RouterUser record = decoyFor(name);
  user = findUser(name);
  if (user) {
    record = user->login;
    record.salted = saltedTable_;
  }
  return record;
}

bool RouterLogin::addressLockedOut(const std::string& address) {
  if (!limits_.enabled || !clock_)
    return false;
  auto it = failures_.find(address);
  if (it == failures_.end())
    return false;
  AddressFailures& f = it->second;
  if (clock_->now() - f.windowStart >= limits_.windowMs) {
    failures_.erase(it);
    return false;
  }
  if (f.count < limits_.perAddress)
    return false;
  if (!f.logged) {
    f.logged = true;
    logf("login: ", f.count, " failed logins from ", address, "; refusing logins from it for ",
         (f.windowStart + limits_.windowMs - clock_->now()) / 1000, " s");
  }
  return true;
}

void RouterLogin::noteFailure(const std::string& address) {
  if (!limits_.enabled || !clock_)
    return;
  std::erase_if(failures_, [&](const auto& entry) {
    return clock_->now() - entry.second.windowStart >= limits_.windowMs;
  });
  auto [it, fresh] = failures_.try_emplace(address);
  if (fresh)
    it->second.windowStart = clock_->now();
  ++it->second.count;
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

void RouterLogin::setOverlayHandler(OverlayHandler handler) { overlay_ = std::move(handler); }

void RouterLogin::addHandler(std::vector<uint32_t> path, RouterHandler handler) {
  handlers_[std::move(path)] = std::move(handler);
}

void RouterLogin::addPrefixHandler(std::vector<uint32_t> prefix, RouterHandler handler) {
  prefixHandlers_[std::move(prefix)] = std::move(handler);
}

const RouterHandler* RouterLogin::findHandler(const std::vector<uint32_t>& to) const {
  if (auto it = handlers_.find(to); it != handlers_.end())
    return &it->second;
  for (const auto& [prefix, handler] : prefixHandlers_)
    if (to.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), to.begin()))
      return &handler;
  return nullptr;
}

void completeReply(const nv::message& request, nv::message& reply,
                   const std::vector<uint32_t>& from) {
  reply.set(SYS_TO, request.get(SYS_FROM));
  reply.set(SYS_FROM, from);
  reply.set(SYS_TYPE, TYPE_REPLY);
  if (!reply.has(SYS_STATUS))
    reply.set(SYS_STATUS, STATUS_OK);
  if (request.has(SYS_REQID))
    reply.set(SYS_REQID, request.get(SYS_REQID));
}

void RouterPeer::reply(const nv::message& request, nv::message reply,
                       const std::vector<uint32_t>& from) const {
  completeReply(request, reply, from);
  send(reply);
}

std::shared_ptr<RouterLogin::ConnectionClaim> RouterLogin::claimFor(SimConnection& connection) {
  std::erase_if(claims_, [](const auto& entry) { return entry.second.expired(); });
  auto it = claims_.find(connection.id());
  if (it != claims_.end())
    if (auto claim = it->second.lock())
      return claim;
  auto claim = std::make_shared<ConnectionClaim>();
  claims_[connection.id()] = claim;
  return claim;
}

void RouterLogin::install(SimServer& server) {
  clock_ = &server.reactor();
  server.registerChannel(kSecureChannel, [this](SimConnection& connection) {
    return std::make_unique<SecureLogin>(*this, connection, claimFor(connection));
  });
  server.registerChannel(kLegacyChannel, [this](SimConnection& connection) {
    return std::make_unique<LegacyLogin>(*this, connection, claimFor(connection));
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

// Before a legacy client has logged in only the login handler and the keep-alive answer. Every
// login runs the same steps whatever the name, and the response is compared in constant time.
// Each challenge serves one response.
std::optional<nv::message> RouterLogin::legacyLogin(LegacyLogin& session,
                                                    const nv::message& request) {
  nv::message reply;
  uint32_t cmd = request.get(SYS_CMD);
  if (cmd == kLegacyChallengeCommand && !faults_.noLegacyChallenge) {
    session.challenge().resize(kLegacyChallengeLength);
    frameRandomBytes(session.challenge().data(), kLegacyChallengeLength);
    reply.set(kLegacyChallenge, session.challenge());
    return reply;
  }
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, ERROR_NOTALLOWED);
  if (cmd != kLoginCommand)
    return reply;
  const std::string& address = session.connection().peerAddress();
  bool lockedOut = addressLockedOut(address);
  const SimUser* user = findUser(request.get(kLegacyLogin));
  bool kept = user && !user->login.salted; // the legacy step needs the password itself
  Bytes expected =
      legacyLoginResponse(kept ? user->login.password : std::string_view(), session.challenge());
  bool match = constantTimeEqual(request.get(kLegacyResponse), expected);
  bool challenged = !session.challenge().empty();
  secureWipe(session.challenge().data(), session.challenge().size());
  session.challenge().clear();
  if (!lockedOut && kept && challenged && match) {
    session.setUser(*user);
    return loginReply(*user);
  }
  if (!lockedOut)
    noteFailure(address);
  if (session.failedOnce())
    session.endAfterReply();
  return reply;
}

void RouterLogin::handle(Session& session, const nv::message& request) {
  std::vector<uint32_t> to = request.get(SYS_TO);
  std::optional<nv::message> reply;
  uint32_t cmd = request.get(SYS_CMD);
  if (to == std::vector<uint32_t>{1} && cmd == CMD_NOOP) {
    reply = nv::message(); // the keep-alive: always answered, so the client hears something
  } else if (!session.user()) {
    if (to == kLoginHandler && session.legacy())
      reply = legacyLogin(static_cast<LegacyLogin&>(session), request);
    else if (request.get(SYS_REPLYEXP)) {
      reply = nv::message();
      reply->set(SYS_STATUS, STATUS_ERROR);
      reply->set(SYS_ERRNO, ERROR_NOTALLOWED);
    }
  } else if (to == kLoginHandler && cmd == kLoginCommand) {
    reply = loginReply(*session.user());
  } else if (overlay_ && !to.empty() && to[0] == 2) {
    overlay_(RouterRequest{request, *session.user(), session.legacy(), session.peer(), to},
             session.sender());
    return;
  } else if (const RouterHandler* handler = findHandler(to)) {
    reply =
        (*handler)(RouterRequest{request, *session.user(), session.legacy(), session.peer(), to});
  } else if (request.get(SYS_REPLYEXP)) {
    reply = nv::message();
    reply->set(SYS_STATUS, STATUS_ERROR);
    reply->set(SYS_ERRNO, ERROR_BRKPATH);
  }
  if (!reply)
    return;
  completeReply(request, *reply, to);
  session.sendMessage(*reply);
  if (session.endingAfterReply())
    session.connection().close(CloseMode::AfterFlush);
}

const char* loginOptionsUsage() {
  return "  --user <name>[:<password>]         a user whose password the router keeps\n"
         "  --salted-user <name>[:<password>]  a user kept only as a salted verifier\n"
         "  (default: --user admin with an empty password)\n"
         "  --required-client <version>  --skin <name>  --change-password\n"
         "  --no-login-limit   no limit on failed logins per connection and address\n"
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
  if (arg == "--no-login-limit") {
    login.limits().enabled = false;
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
