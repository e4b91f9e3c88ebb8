// Drives an action, a query, a setup wizard, a holder and a one-shot command through a script of
// user steps, clock advances and router answers, where every answer is a message decoded from
// arbitrary bytes (any status, ids, pages, finished flags, rows) and may answer any request
// posted so far, late or twice. Nothing may crash, leak or loop; replies of wrong kinds read as
// absent.
#include "api/container/Action.h"
#include "api/container/Doit.h"
#include "api/container/Holder.h"
#include "api/container/Query.h"
#include "api/container/SetupManager.h"
#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/Packer.h"
#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace kestel;

namespace {

struct Rec {
  uint32_t value = 0;
  std::string text;
  uint32_t id = NO_ID;
};

Reference<IPacker> recPacker() {
  auto packer = createPacker();
  packer->add(createNumber(memberOf(&Rec::value), nv::u32_id(1)), 1);
  packer->add(createText(memberOf(&Rec::text), nv::string_id(2)), 2);
  packer->add(createNumber(memberOf(&Rec::id), STD_ID), STD_ID.key);
  return packer;
}

Reference<IObject> newRec() { return makeRef<RecordObject<Rec>>(recPacker()); }

struct Session final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

struct Quiet final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string&) override {}
};

struct Ignore final : IChangeListener {
  void changeDone(IObject*, ChangeResult) override {}
};

class Script {
public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  nv::message message() {
    size_t length = byte();
    length |= size_t(byte()) << 8;
    length = std::min(length, size_ - at_);
    nv::message m = nv::message::fromBytes({data_ + at_, length});
    at_ += length;
    return m;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void answer(const nv::message& request, nv::message reply, bool notification) {
  reply.set(SYS_TO, request.get(SYS_FROM));
  if (notification) {
    reply.set(SYS_TYPE, TYPE_REQUEST);
    reply.set(SYS_CMD, CMD_NOTIFY);
  } else {
    reply.set(SYS_TYPE, TYPE_REPLY);
    reply.set(SYS_REQID, request.get(SYS_REQID));
  }
  getLooper()->deliver(reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  resetLooper();
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  Quiet quiet;
  MessageBoxScope boxes(quiet);
  auto session = makeRef<Session>();
  getLooper()->setSession(session.get());
  auto connection = createConnection(reactor);
  setRouterConnection(connection.get());
  {
    auto done = makeRef<Ignore>();
    auto action = createObjectAction(newRec().get(), newRec().get(), {1, 2, kNoId});
    auto rows = createFactory([](const nv::message&) { return newRec(); });
    auto query = createObjectQuery(newRec().get(), rows.get(), newRec().get(), {3, kNoId}, true, 0);
    auto setup = createSetupManager(
        createFactory([](const nv::message&) { return newRec(); }).get(), {4, kNoId});
    auto holder = createObjectHolder(newRec().get(), {5, kNoId}, HolderRegistration::Register);
    auto doit = createObjectDoit(newRec().get(), 0xFE0020, {6, kNoId});
    holder->setRefresh(500, 0);
    Script script(data, size);
    for (int step = 0; step < 512 && script.more(); ++step) {
      switch (script.byte() % 20) {
      case 0:
        action->start(done.get());
        break;
      case 1:
        action->stop(done.get());
        break;
      case 2:
        action->setCommands(script.byte() & 1 ? CMD_START : kNoId, CMD_POLL,
                            script.byte() & 1 ? CMD_CANCEL : kNoId);
        break;
      case 3:
        setup->next(script.byte() & 1);
        break;
      case 4:
        setup->back();
        break;
      case 5:
        setup->reset();
        break;
      case 6:
        holder->refresh();
        break;
      case 7:
        holder->commit(done.get());
        break;
      case 8:
        doit->send(done.get());
        break;
      case 9:
        query->start();
        break;
      case 10:
        query->stop();
        break;
      case 11:
        query->setCommands(script.byte() & 1 ? CMD_START : kNoId, CMD_CANCEL);
        break;
      case 12:
        query->setRefresh(script.byte() * 10u, script.byte());
        break;
      case 13:
        query->results()->open();
        break;
      case 14:
        reactor.advance(script.byte() * 20);
        break;
      case 15:
        setRouterConnection(script.byte() & 1 ? connection.get() : nullptr);
        break;
      default: { // an answer (or a notification) to any request posted so far
        bool notification = script.byte() % 8 == 0;
        size_t which = script.byte();
        nv::message reply = script.message();
        if (!session->posted.empty())
          answer(session->posted[which % session->posted.size()], std::move(reply), notification);
        break;
      }
      }
    }
    action = nullptr; // replies and timers still pending must find nothing
    reactor.advance(5000);
  }
  setRouterConnection(nullptr);
  resetLooper();
  return 0;
}
