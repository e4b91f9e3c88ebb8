// Helpers of the login tests: the published vector file, hex, a connection double that records
// what a session sends and lets the test play the router, and the router's end of the secure
// frames.
#pragma once

#include "api/net/IConnection.h"
#include "api/net/LoginMessages.h"
#include "api/wire/Message.h"
#include "crypto/SessionCipher.h"
#include "support/Hex.h"
#include "support/Vectors.h"

#include <gtest/gtest.h>
#include <map>

namespace kestel::test {

// An IConnection that keeps every send and hands chunks to the registered receivers on demand.
class FakeConnection final : public IConnection {
public:
  const std::string& address() const override { return address_; }
  uint32_t port() const override { return 8291; }
  void connect(const std::string&, uint32_t) override {}
  void close(CloseMode, const std::string& reason) override {
    if (closed_)
      return;
    closed_ = true;
    closeReason = reason;
  }
  void addReceiver(uint8_t channel, IChannelReceiver* receiver) override {
    receivers.emplace(channel, receiver);
  }
  void removeReceiver(uint8_t channel, IChannelReceiver* receiver) override {
    auto it = receivers.find(channel);
    if (it != receivers.end() && it->second == receiver)
      receivers.erase(it);
  }
  void send(uint8_t channel, const uint8_t* data, size_t length) override {
    if (!closed_)
      sent.emplace_back(channel, Bytes(data, data + length));
  }
  nv::message describe() const override { return {}; }
  bool adopt(const nv::message&) override { return false; }
  void addListener(EventListener*) override {}
  void removeListener(EventListener*) override {}
  std::vector<std::pair<std::string, std::string>> textDescription(bool) override { return {}; }
  bool isUp() const override { return !closed_; }
  bool isClosed() const override { return closed_; }

  // Delivers `data` on `channel` as the connection would: chunks of at most 255 bytes, the first
  // with the channel byte, the rest as continuations.
  void deliver(uint8_t channel, ByteSpan data, size_t chunk = 255) {
    size_t pos = 0;
    do {
      size_t n = std::min(chunk, data.size() - pos);
      auto it = receivers.find(channel);
      if (it == receivers.end() || closed_)
        return;
      it->second->receive(pos == 0 ? channel : 0xFF, data.data() + pos, n);
      pos += n;
    } while (pos < data.size());
  }
  // Takes the oldest recorded send.
  Bytes take() {
    EXPECT_FALSE(sent.empty());
    if (sent.empty())
      return {};
    Bytes out = sent.front().second;
    sent.erase(sent.begin());
    return out;
  }

  std::map<uint8_t, IChannelReceiver*> receivers;
  std::vector<std::pair<uint8_t, Bytes>> sent;
  std::string closeReason;

private:
  std::string address_ = "127.0.0.1";
  bool closed_ = false;
};

// The router's end of the frames once logged in.
class RouterFrames {
public:
  explicit RouterFrames(const login::SessionKeys& keys)
      : encryptor_(keys.send), decryptor_(keys.receive) {}

  Bytes seal(const nv::message& message, uint8_t vectorByte = 7) {
    Bytes plain;
    EXPECT_TRUE(message.flatten(plain));
    size_t length = SessionCipher::encryptedLength(plain.size());
    Bytes frame(18 + length, vectorByte);
    frame[0] = uint8_t(length >> 8);
    frame[1] = uint8_t(length);
    frame[2] = uint8_t(counter_++); // distinct vectors
    encryptor_.setVector(std::span<const uint8_t, 16>(frame.data() + 2, 16));
    encryptor_.encrypt(plain.data(), plain.size(), frame.data() + 18);
    return frame;
  }
  // Decodes one frame the client sent; an empty message on any failure.
  nv::message open(const Bytes& frame) {
    if (frame.size() < 18)
      return {};
    size_t length = (size_t(frame[0]) << 8) | frame[1];
    EXPECT_EQ(frame.size(), 18 + length);
    Bytes plain(length);
    decryptor_.setVector(std::span<const uint8_t, 16>(frame.data() + 2, 16));
    uint32_t n = decryptor_.decrypt(frame.data() + 18, length, plain.data());
    if (n == SessionCipher::kFailed)
      return {};
    return nv::message::fromBytes(ByteSpan(plain.data(), n));
  }

private:
  SessionCipher encryptor_;
  SessionCipher decryptor_;
  uint8_t counter_ = 0;
};

} // namespace kestel::test
