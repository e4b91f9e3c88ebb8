// Everything a hostile router can send to the sessions: frames for a logged-in secure session and
// a legacy session (split into chunks as the input says), and challenges and proofs for the key
// exchange. The first byte picks the target; then [length][bytes] pieces follow.
#include "api/net/LegacySession.h"
#include "api/net/LoginMessages.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/SecureSession.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace kestel;

class NullConnection final : public IConnection {
public:
  const std::string& address() const override { return address_; }
  uint32_t port() const override { return 0; }
  void connect(const std::string&, uint32_t) override {}
  void close(CloseMode, const std::string&) override { closed_ = true; }
  nv::message describe() const override { return {}; }
  bool adopt(const nv::message&) override { return false; }
  void addReceiver(uint8_t, IChannelReceiver* r) override { receiver_ = r; }
  void removeReceiver(uint8_t, IChannelReceiver* r) override {
    if (receiver_ == r)
      receiver_ = nullptr;
  }
  void send(uint8_t, const uint8_t*, size_t) override {}
  void addListener(EventListener*) override {}
  void removeListener(EventListener*) override {}
  std::vector<std::pair<std::string, std::string>> textDescription(bool) override { return {}; }
  bool isUp() const override { return !closed_; }
  bool isClosed() const override { return closed_; }

  void feed(uint8_t channel, ByteReader& in) {
    bool first = true;
    uint8_t n = 0;
    ByteSpan piece;
    while (receiver_ && !closed_ && in.u8(n) &&
           in.span(std::min<size_t>(n, in.remaining()), piece)) {
      receiver_->receive(first ? channel : 0xFF, piece.data(), piece.size());
      first = n == 0; // an empty piece starts a new send
    }
  }

private:
  std::string address_;
  IChannelReceiver* receiver_ = nullptr;
  bool closed_ = false;
};

void secureFrames(ByteReader& in) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  auto connection = makeRef<NullConnection>();
  auto session = makeRef<SecureSession>(reactor, *connection, SessionHooks{[](auto&) {}, [] {}});
  nv::message d;
  d.set(nv::raw_id(2), std::vector<uint8_t>(36, 1));
  d.set(nv::raw_id(3), std::vector<uint8_t>(36, 2));
  if (session->adopt(d))
    connection->feed(6, in);
  session->stop();
}

void legacyFrames(ByteReader& in) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  auto connection = makeRef<NullConnection>();
  auto session = makeRef<LegacySession>(reactor, *connection, SessionHooks{[](auto&) {}, [] {}});
  StreamState state;
  state.key(asBytes("fuzz key"));
  auto saved = state.save();
  nv::message d;
  d.set(nv::raw_id(2), std::vector<uint8_t>(saved.begin(), saved.end()));
  d.set(nv::raw_id(3), std::vector<uint8_t>(saved.begin(), saved.end()));
  if (session->adopt(d))
    connection->feed(5, in);
  session->stop();
}

void exchange(ByteReader& in) {
  std::array<uint8_t, 32> a{}, b{};
  a.fill(5);
  b.fill(6);
  login::ClientExchange client("admin", "pw", a);
  if (client.respond(in.rest()).ok())
    (void)client.acceptProof(in.rest());
  login::RouterUser user{"admin", false, "pw", {}};
  login::RouterUser decoy;
  login::RouterExchange router(&user, decoy, b);
  if (router.challenge(in.rest()))
    (void)router.checkResponse(in.rest().first(std::min<size_t>(24, in.rest().size())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  uint8_t target = 0;
  if (!in.u8(target))
    return 0;
  switch (target % 3) {
  case 0:
    secureFrames(in);
    break;
  case 1:
    legacyFrames(in);
    break;
  default:
    exchange(in);
    break;
  }
  return 0;
}
