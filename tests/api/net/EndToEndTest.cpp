// A handler's request travels handler → looper → session → connection → simulator and the
// simulator's answer comes back the same way. The session here is a plain one (a length word
// and the encoded message per send, no login), enough to prove the layers fit together.
#include "NetTestSupport.h"

#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/wire/Vocabulary.h"
#include "sim/SimServer.h"

#include <kestel/Version.h>

namespace kestel::test {
namespace {

// Reassembles length-prefixed messages from one channel's chunks.
class FrameBuffer {
public:
  template <typename Fn> void add(const uint8_t* data, size_t length, Fn&& onMessage) {
    buffer_.insert(buffer_.end(), data, data + length);
    for (;;) {
      ByteReader r(buffer_);
      uint32_t size = 0;
      ByteSpan body;
      if (!r.u32be(size) || !r.span(size, body))
        return;
      bool ok = false;
      nv::message m = nv::message::fromBytes(body, &ok);
      buffer_.erase(buffer_.begin(), buffer_.begin() + 4 + long(size));
      if (ok)
        onMessage(m);
    }
  }

private:
  Bytes buffer_;
};

Bytes frameOf(const nv::message& m) {
  Bytes body;
  EXPECT_TRUE(m.flatten(body));
  Bytes out;
  ByteWriter w(out);
  w.u32be(static_cast<uint32_t>(body.size()));
  w.bytes(body);
  return out;
}

class PlainSession final : public ISession, public IChannelReceiver {
public:
  PlainSession(ILooper* looper, IConnection* connection)
      : looper_(looper), connection_(connection) {
    connection_->addReceiver(6, this);
  }
  ~PlainSession() override { connection_->removeReceiver(6, this); }
  void post(const nv::message& m) override {
    Bytes frame = frameOf(m);
    connection_->send(6, frame.data(), frame.size());
  }
  uint32_t agentId() const override { return kNoId; }
  void receive(uint8_t, const uint8_t* data, size_t length) override {
    frames_.add(data, length, [&](const nv::message& m) { looper_->deliver(m); });
  }

private:
  ILooper* looper_;
  Reference<IConnection> connection_;
  FrameBuffer frames_;
};

// The simulator's side: answers every request with its path reversed and a field of its own.
class AnsweringRouter final : public sim::ChannelHandler {
public:
  void onChunk(sim::SimConnection& connection, uint8_t, ByteSpan payload) override {
    frames_.add(payload.data(), payload.size(), [&](const nv::message& request) {
      nv::message reply;
      reply.set(SYS_TO, request.get(SYS_FROM));
      reply.set(SYS_TYPE, TYPE_REPLY);
      reply.set(SYS_REQID, request.get(SYS_REQID));
      reply.set(nv::string_array_id(0x10002), request.get(SYS_AGENT));
      reply.set(nv::string_id(0x10001), std::string(700, 'r')); // spans several chunks
      connection.send(6, frameOf(reply));
    });
  }

private:
  FrameBuffer frames_;
};

class EndToEndTest : public ReactorTest {
protected:
  EndToEndTest() { resetLooper(); }
  ~EndToEndTest() override { resetLooper(); }
};

TEST_F(EndToEndTest, RequestAndReplyThroughTheSimulator) {
  sim::SimServer server(reactor);
  server.registerChannel(6,
                         [](sim::SimConnection&) { return std::make_unique<AnsweringRouter>(); });
  ASSERT_TRUE(server.listen(0).ok());

  auto connection = createConnection(reactor);
  setRouterConnection(connection.get());
  getLooper()->setSessionFactory([&](ILooper* looper) {
    return Reference<ISession>(new PlainSession(looper, connection.get()));
  });
  connection->connect(kLoopback, server.port());

  struct NoHooks final : IHandlerHooks {
    void onRequest(IHandler*, const nv::message&) override { ++calls; }
    void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override { ++calls; }
    int calls = 0;
  } hooks;
  auto handler = createHandler(&hooks);
  auto listener = makeRef<RecordingListener>();
  // Posted before the connection is up: queued by the connection and sent once it is.
  handler->request(CMD_GET, Path{9, 1}, nv::message(), listener.get(), 10000);
  ASSERT_TRUE(runUntil(reactor, [&] { return !listener->messages.empty(); }));
  const nv::message& reply = listener->messages[0];
  EXPECT_EQ(reply.get(nv::string_id(0x10001)).size(), 700u);
  EXPECT_EQ(reply.get(nv::string_array_id(0x10002)), std::vector<std::string>{kKestelAgent});
  EXPECT_EQ(hooks.calls, 0);
  EXPECT_EQ(handler->pendingCount(), 0u);
  EXPECT_EQ(reactor.timerCount(), 0u);
}

} // namespace
} // namespace kestel::test
