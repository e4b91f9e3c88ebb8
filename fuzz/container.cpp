// An object map fed a hostile router's replies and notifications. The input is a list of
// records: an op byte, a two-byte little-endian length and that many bytes of an encoded message.
// Ops (op % 8): 0 answers one of the requests the map sent (picked by the message's size), 1
// pushes a notification, 2 commits a new object, 3 changes, 4 removes and 5 moves the first
// object, 6 refreshes, 7 lets the refresh timer run. After each input the map must hold no more
// objects than it and the user made, and the factory must not have run for more objects than
// the router sent.
#include "api/container/ObjectMap.h"
#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/object/PackerElements.h"
#include "api/wire/Vocabulary.h"
#include "gen/ModelContext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kestel;

struct Rec {
  std::string name;
  uint32_t value = 0;
};

class Item final : public RecordObject<Rec> {
public:
  using RecordObject::RecordObject;
  std::string getName() const override { return rec().name; }
};

Reference<IPacker> packer() {
  static Reference<IPacker> p = [] {
    auto made = createPacker();
    made->add(createText(memberOf(&Rec::name), nv::string_id(0x100001)), 1);
    made->add(createNumber(memberOf(&Rec::value), nv::u32_id(0x100002)), 2);
    return made;
  }();
  return p;
}

struct Session final : ISession {
  void post(const nv::message& m) override { posted.push_back(m); }
  uint32_t agentId() const override { return kNoId; }
  std::vector<nv::message> posted;
};

struct Quiet final : MessageBoxSink {
  void showMessageBox(const std::string&, const std::string&) override {}
};

size_t elementsIn(const nv::message& m) { return m.count(STD_OBJS); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ModelContext model;
  ModelScope modelScope(model);
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  Quiet quiet;
  MessageBoxScope boxes(quiet);
  resetLooper();
  auto session = makeRef<Session>();
  getLooper()->setSession(session.get());
  auto connection = createConnection(reactor);
  setRouterConnection(connection.get());
  setUserPolicy(0xFFFFFFFF);

  size_t received = 0, made = 0;
  {
    ObjectMapOptions o;
    o.ordered = o.add = o.remove = o.move = true;
    auto factory = createFactory([&made](const nv::message&) {
      ++made;
      return Reference<IObject>(new Item(packer()));
    });
    auto map = makeRef<ObjectMap>(factory, Path{24, 1}, o);
    map->setRefresh(1000, 0x4);
    map->open();
    std::vector<Reference<IObject>> locals;
    for (size_t pos = 0; pos + 3 <= size;) {
      uint8_t op = data[pos] % 8;
      size_t len = std::min<size_t>(data[pos + 1] | (data[pos + 2] << 8), size - pos - 3);
      nv::message m = nv::message::fromBytes({data + pos + 3, len});
      pos += 3 + len;
      std::vector<uint32_t> ids = map->ids();
      IObject* first = ids.empty() ? nullptr : map->find(ids.front());
      switch (op) {
      case 0: {
        std::vector<const nv::message*> requests;
        for (const nv::message& p : session->posted)
          if (p.get(SYS_REPLYEXP))
            requests.push_back(&p);
        if (requests.empty())
          break;
        const nv::message& request = *requests[len % requests.size()];
        m.set(SYS_TO, request.get(SYS_FROM));
        m.set(SYS_TYPE, TYPE_REPLY);
        m.set(SYS_REQID, request.get(SYS_REQID));
        received += elementsIn(m);
        getLooper()->deliver(m);
        break;
      }
      case 1: {
        std::vector<uint32_t> from;
        for (const nv::message& p : session->posted)
          if (p.get(SYS_CMD) == CMD_SUBSCRIBE)
            from = p.get(SYS_FROM);
        m.set(SYS_TO, from);
        m.set(SYS_CMD, CMD_NOTIFY);
        received += elementsIn(m);
        getLooper()->deliver(m);
        break;
      }
      case 2: {
        auto item = makeRef<Item>(packer());
        locals.push_back(item);
        map->commit(item.get());
        break;
      }
      case 3:
        map->commit(first);
        break;
      case 4:
        map->remove(first);
        break;
      case 5:
        map->move(first, len % 2 ? kNoId : (ids.empty() ? kNoId : ids.back()));
        break;
      case 6:
        map->refresh(len);
        break;
      default:
        reactor.advance(1000);
        break;
      }
      if (map->size() > received + locals.size())
        std::abort(); // more objects than the router and the user ever gave
      if (made > received)
        std::abort(); // the factory ran for objects nobody sent
    }
  }
  setRouterConnection(nullptr);
  resetLooper();
  return 0;
}
