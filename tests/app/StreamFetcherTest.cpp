// The raw-channel fetcher against a connection double playing the router: the 18-byte requests
// it sends, and how each kind of answer ends (or continues) the transfer.
#include "app/FileFetcher.h"

#include "api/net/LoginTestSupport.h"
#include "api/wire/Vocabulary.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestel {
namespace {

// A reply piece: 1 and the length, or 2 and the error code, in the 18-byte header.
Bytes piece(uint8_t kind, uint16_t length, const std::string& data = {}) {
  Bytes p(18 + data.size(), 0);
  p[11] = kind;
  p[12] = uint8_t(length >> 8);
  p[13] = uint8_t(length);
  std::copy(data.begin(), data.end(), p.begin() + 18);
  return p;
}

struct Step {
  uint8_t channel;
  Bytes bytes;
};

TEST(StreamFileFetcher, Request) {
  Bytes r = StreamFileFetcher::request("a-very-long-name.jg", 0x01020304);
  EXPECT_EQ(test::toHex(r), "612d766572792d6c6f6e6700ffed01020304"); // 11 characters, then 0
  EXPECT_EQ(test::toHex(StreamFileFetcher::request("list", 0)),
            "6c6973740000000000000000ffed00000000");
}

TEST(StreamFileFetcher, Answers) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::string error; // "" for success
    std::string file;
    size_t requests; // sent in all
  } cases[] = {
      {"two pieces then the end",
       {{2, piece(1, 3, "abc")}, {2, piece(1, 2, "de")}, {2, piece(1, 0)}},
       "",
       "abcde",
       3},
      {"a piece in continuations",
       {{2, piece(1, 5, "ab")}, {0xFF, Bytes{'c'}}, {0xFF, Bytes{'d', 'e'}}, {2, piece(1, 0)}},
       "",
       "abcde",
       2},
      {"router error", {{2, piece(2, 0, "\x02")}}, "could not fetch nimblux.jg", "", 1},
      {"error piece too short", {{2, piece(2, 0)}}, "corrupted data", "", 1},
      {"unknown kind", {{2, piece(3, 1, "a")}}, "corrupted data", "", 1},
      {"short header", {{2, Bytes(17, 0)}}, "corrupted data", "", 1},
      {"new piece while bytes are outstanding",
       {{2, piece(1, 5, "ab")}, {2, piece(1, 1, "c")}},
       "corrupted data",
       "",
       1},
      {"continuation with nothing outstanding", {{0xFF, Bytes{'x'}}}, "corrupted data", "", 1},
      {"more than the piece announced", {{2, piece(1, 2, "abc")}}, "corrupted data", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reference<test::FakeConnection> connection = makeRef<test::FakeConnection>();
    StreamFileFetcher fetcher(*connection);
    MemorySink sink;
    int events = 0;
    fetcher.fetch(sink, "nimblux.jg", true, [&] { ++events; });
    for (const Step& s : c.steps)
      connection->receivers.at(2)->receive(s.channel, s.bytes.data(), s.bytes.size());
    EXPECT_TRUE(fetcher.isDone());
    EXPECT_EQ(fetcher.errorText(), c.error);
    EXPECT_EQ(fetcher.failed(), !c.error.empty());
    EXPECT_EQ(events, int(c.steps.size()));
    EXPECT_EQ(connection->sent.size(), c.requests);
    if (c.error.empty()) {
      EXPECT_TRUE(sink.finished());
      EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), c.file);
    }
    // The next request asks from the offset the pieces reached.
    if (c.requests == 3) {
      EXPECT_EQ(test::toHex(connection->sent[2].second),
                test::toHex(StreamFileFetcher::request("nimblux.jg", 5)));
    }
  }
}

// A port whose requests the test answers.
class FakePort final : public RequestPort {
public:
  uint32_t request(const std::vector<uint32_t>& to, uint32_t command, nv::message body,
                   ReplyFn onReply) override {
    sent.push_back({to, command, std::move(body)});
    pending = std::move(onReply);
    return uint32_t(sent.size());
  }
  void send(const std::vector<uint32_t>& to, uint32_t command, nv::message body) override {
    sent.push_back({to, command, std::move(body)});
  }
  void forget(uint32_t) override { pending = nullptr; }
  void answer(const nv::message& reply) {
    ReplyFn f = std::move(pending);
    pending = nullptr;
    ASSERT_TRUE(f);
    f(reply);
  }
  struct Sent {
    std::vector<uint32_t> to;
    uint32_t command;
    nv::message body;
  };
  std::vector<Sent> sent;
  ReplyFn pending;
};

nv::message dataReply(const std::string& data, bool last) {
  nv::message m;
  m.set(nv::raw_id{3}, Bytes(data.begin(), data.end()));
  m.set(nv::bool_id{4}, last);
  return m;
}

nv::message errorReply(uint32_t code, const std::string& text) {
  nv::message m;
  m.set(SYS_STATUS, STATUS_ERROR);
  m.set(SYS_ERRNO, code);
  if (!text.empty())
    m.set(SYS_ERRSTR, text);
  return m;
}

TEST(MessageFileFetcher, Transfers) {
  nv::message opened;
  opened.set(STD_ID, 9u);
  struct Case {
    const char* what;
    std::vector<nv::message> replies;
    std::string error;
    uint32_t code;
    std::string file;
  } cases[] = {
      {"pieces", {opened, dataReply("abc", false), dataReply("de", true)}, "", 0, "abcde"},
      {"open refused", {errorReply(2, "no such file")}, "no such file", 2, ""},
      {"read refused", {opened, errorReply(ERROR_TIMEOUT, "")}, "timeout", ERROR_TIMEOUT, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePort port;
    MemorySink sink;
    MessageFileFetcher fetcher(port);
    fetcher.fetch(sink, "tools.jg", true, [] {});
    ASSERT_EQ(port.sent[0].command, 7u);
    EXPECT_EQ(port.sent[0].to, (std::vector<uint32_t>{2, 2}));
    EXPECT_EQ(port.sent[0].body.get(nv::string_id{1}), "tools.jg.gz");
    for (const nv::message& r : c.replies)
      port.answer(r);
    EXPECT_TRUE(fetcher.isDone());
    EXPECT_EQ(fetcher.errorText(), c.error);
    EXPECT_EQ(fetcher.errorCode(), c.code);
    if (c.error.empty()) {
      EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), c.file);
    }
    // A transfer the router still holds after a failed read is given up.
    if (c.replies.size() == 2 && !c.error.empty()) {
      EXPECT_EQ(port.sent.back().command, 5u);
    }
  }
  // Cancelling mid-transfer gives it up and stops the listener.
  FakePort port;
  MemorySink sink;
  MessageFileFetcher fetcher(port);
  int events = 0;
  fetcher.fetch(sink, "icons.png", false, [&] { ++events; });
  port.answer(opened);
  fetcher.cancel();
  EXPECT_FALSE(port.pending);
  EXPECT_EQ(port.sent.back().command, 5u);
  EXPECT_EQ(port.sent.back().body.get(STD_ID), 9u);
  EXPECT_EQ(events, 1);
}

} // namespace
} // namespace kestel
