// The container tests' stand-in for a router: the real looper and global handler over a session
// that keeps every message the client posts, an idle connection so that messages leave at all,
// and helpers that answer a posted request or push a notification to a subscription. Time runs
// on the fixture's manual clock.
#pragma once

#include "api/net/Connection.h"
#include "api/net/Looper.h"
#include "api/wire/Vocabulary.h"
#include "support/ModelFixture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kestel::test {

struct FakeSession final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

// Records the message boxes shown.
struct BoxRecorder final : MessageBoxSink {
  void showMessageBox(const std::string& title, const std::string& text) override {
    (void)title;
    boxes.push_back(text);
  }
  std::vector<std::string> boxes;
};

class ContainerTest : public ModelFixture {
protected:
  ContainerTest() {
    resetLooper();
    session = makeRef<FakeSession>();
    getLooper()->setSession(session.get());
    connection = createConnection(reactor);
    setRouterConnection(connection.get());
  }
  ~ContainerTest() override { resetLooper(); }

  std::vector<nv::message>& posted() { return session->posted; }
  // Messages posted with `command`, in order.
  std::vector<nv::message> sentWith(uint32_t command) const {
    std::vector<nv::message> out;
    for (const nv::message& m : session->posted)
      if (m.get(SYS_CMD) == command)
        out.push_back(m);
    return out;
  }
  size_t countOf(uint32_t command) const { return sentWith(command).size(); }
  // The last posted message with `command`; fails the test when there is none.
  nv::message last(uint32_t command) const {
    auto all = sentWith(command);
    EXPECT_FALSE(all.empty()) << "nothing sent with command " << std::hex << command;
    return all.empty() ? nv::message() : all.back();
  }

  // Answers `request` with `reply` (status ok unless the reply says otherwise).
  void answer(const nv::message& request, nv::message reply = {}) {
    reply.set(SYS_TO, request.get(SYS_FROM));
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, request.get(SYS_REQID));
    getLooper()->deliver(reply);
  }
  void answerError(const nv::message& request, uint32_t code, const std::string& text = {}) {
    nv::message reply;
    reply.set(SYS_STATUS, STATUS_ERROR);
    reply.set(SYS_ERRNO, code);
    if (!text.empty())
      reply.set(SYS_ERRSTR, text);
    answer(request, reply);
  }
  // Pushes `notification` to the subscription made by `subscribeRequest`.
  void notify(const nv::message& subscribeRequest, nv::message notification) {
    notification.set(SYS_TO, subscribeRequest.get(SYS_FROM));
    notification.set(SYS_CMD, CMD_NOTIFY);
    getLooper()->deliver(notification);
  }

  PollReactor& clock() { return reactor; }

  Reference<FakeSession> session;
  Reference<Connection> connection;
  BoxRecorder boxes;
  MessageBoxScope boxScope{boxes};
};

} // namespace kestel::test
