// Every single-bit change of a whole secure frame (the length word, the vector and the
// ciphertext), for frames of several sizes under several keys, reaches the logged-in client as
// nothing: the frame is refused (the connection ends) or, when the length grew, still awaited.
#include "LoginTestSupport.h"

#include "api/net/PollReactor.h"
#include "api/net/SecureSession.h"
#include "api/wire/Vocabulary.h"

#include <random>

namespace kestel::test {
namespace {

const nv::raw_id kBlob{2};

// A client session taken over with the given keys, as a logged-in session is handed over.
struct LoggedInClient {
  LoggedInClient(PollReactor& reactor, const login::SessionKeys& routerKeys) {
    SessionHooks hooks;
    hooks.deliver = [this](const nv::message& m) { delivered.push_back(m); };
    hooks.probe = [] {};
    session = makeRef<SecureSession>(reactor, *connection, hooks);
    nv::message description;
    description.set(nv::raw_id(2), std::vector<uint8_t>(routerKeys.send.begin(),
                                                        routerKeys.send.end())); // client receives
    description.set(nv::raw_id(3),
                    std::vector<uint8_t>(routerKeys.receive.begin(), routerKeys.receive.end()));
    EXPECT_TRUE(session->adopt(description));
  }
  ~LoggedInClient() { session->stop(); }

  Reference<FakeConnection> connection = makeRef<FakeConnection>();
  Reference<SecureSession> session;
  std::vector<nv::message> delivered;
};

TEST(SecureFrameTamper, EveryBitOfWholeFramesOfSeveralSizesAndKeys) {
  PollReactor reactor(PollReactor::Clock::Manual);
  std::mt19937_64 rng(6);
  for (int keyRound = 0; keyRound < 3; ++keyRound) {
    login::SessionKeys keys;
    keys.send.resize(login::kSessionKeyLength);
    keys.receive.resize(login::kSessionKeyLength);
    for (auto& b : keys.send)
      b = uint8_t(rng());
    for (auto& b : keys.receive)
      b = uint8_t(rng());
    for (size_t blob : {0u, 13u, 200u, 1100u}) {
      SCOPED_TRACE("key " + std::to_string(keyRound) + ", blob " + std::to_string(blob));
      nv::message message;
      message.set(SYS_TO, std::vector<uint32_t>{2});
      std::vector<uint8_t> payload(blob);
      for (auto& b : payload)
        b = uint8_t(rng());
      message.set(kBlob, payload);
      RouterFrames router(keys);
      const Bytes frame = router.seal(message);
      { // the frame as sent is taken
        LoggedInClient client(reactor, keys);
        client.connection->deliver(6, frame);
        ASSERT_EQ(1u, client.delivered.size());
        EXPECT_EQ(payload, client.delivered[0].get(kBlob));
      }
      size_t refused = 0, awaited = 0;
      for (size_t bit = 0; bit < frame.size() * 8; ++bit) {
        Bytes bad = frame;
        bad[bit / 8] ^= uint8_t(1 << (bit % 8));
        LoggedInClient client(reactor, keys);
        client.connection->deliver(6, bad);
        ASSERT_TRUE(client.delivered.empty()) << "bit " << bit;
        if (client.connection->isClosed()) {
          ++refused;
          EXPECT_EQ("decryption failed", client.connection->closeReason) << "bit " << bit;
        } else {
          // Only a longer length word leaves the frame waiting for more bytes.
          ++awaited;
          size_t length = (size_t(bad[0]) << 8) | bad[1];
          EXPECT_LT(bit, 16u);
          EXPECT_GT(18 + length, bad.size()) << "bit " << bit;
        }
      }
      EXPECT_EQ(frame.size() * 8, refused + awaited);
      EXPECT_GT(refused, frame.size() * 8 - 16);
    }
  }
}

} // namespace
} // namespace kestel::test
