// Terminal sessions with a hostile peer on either side: the client's session and emulator fed the
// messages of a misbehaving router, or the simulator's console fed those of a misbehaving client.
// The first byte picks the side (bit 0) and the window size (bits 1-7); then records of a kind
// byte, a length byte and that many payload bytes: a whole encoded message, data, another
// command, time passing, typed input or a resize. Checks: the client's queue stays within its
// bound and the cursor inside the screen.
#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/net/TerminalHandler.h"
#include "api/wire/Vocabulary.h"
#include "app/TerminalConsole.h"
#include "sim/Console.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace {

using namespace kestel;

struct Posted final : ISession {
  void post(const nv::message& m) override { last = m; }
  uint32_t agentId() const override { return kNoId; }
  nv::message last;
};

struct World {
  World() {
    getLooper()->setSession(router.get());
    setRouterConnection(connection.get());
  }
  PollReactor reactor{PollReactor::Clock::Manual};
  ReactorScope scope{reactor};
  Reference<Posted> router = makeRef<Posted>();
  Reference<Connection> connection = createConnection(reactor);
};

struct Record {
  uint8_t kind;
  std::span<const uint8_t> payload;
};

// Splits the input into records; a cut record ends the list.
std::vector<Record> records(const uint8_t* data, size_t size) {
  std::vector<Record> out;
  for (size_t pos = 0; pos + 2 <= size;) {
    size_t length = std::min<size_t>(data[pos + 1], size - pos - 2);
    out.push_back({data[pos], std::span<const uint8_t>(data + pos + 2, length)});
    pos += 2 + length;
  }
  return out;
}

nv::message fromRouter(uint32_t handler, uint32_t command) {
  nv::message m;
  m.set(SYS_TO, std::vector<uint32_t>{0, handler});
  m.set(SYS_CMD, command);
  m.set(STD_ID, 5u);
  return m;
}

void clientSide(World& w, int columns, int rows, const std::vector<Record>& list) {
  auto console = std::make_unique<TerminalConsole>(w.reactor, "t", columns, rows);
  console->open("admin", {});
  TerminalSession& s = console->session();
  nv::message reply = fromRouter(s.handlerId(), 0);
  reply.set(SYS_TYPE, TYPE_REPLY);
  reply.set(SYS_REQID, w.router->last.get(SYS_REQID));
  getLooper()->deliver(reply);
  for (const Record& r : list) {
    std::string_view text(reinterpret_cast<const char*>(r.payload.data()), r.payload.size());
    switch (r.kind % 6) {
    case 0: {
      nv::message m = nv::message::fromBytes(r.payload);
      m.set(SYS_TO, std::vector<uint32_t>{0, s.handlerId()});
      getLooper()->deliver(m);
      break;
    }
    case 1: {
      nv::message m = fromRouter(s.handlerId(), kTerminalData);
      m.set(kTerminalBytes, std::vector<uint8_t>(r.payload.begin(), r.payload.end()));
      getLooper()->deliver(m);
      break;
    }
    case 2:
      getLooper()->deliver(fromRouter(s.handlerId(), kTerminalOpen + (r.kind >> 3) % 5));
      break;
    case 3:
      w.reactor.advance(r.payload.empty() ? 10 : r.payload[0]);
      w.reactor.runOnce(0);
      break;
    case 4:
      s.input(text);
      break;
    default:
      console->resize(r.payload.size() > 0 ? r.payload[0] * 8 : 0,
                      r.payload.size() > 1 ? r.payload[1] * 4 : 0);
    }
    const TerminalScreen& screen = console->screen();
    if (s.queued() > TerminalSession::kMaxQueued || screen.cursorColumn() < 0 ||
        screen.cursorColumn() >= screen.columns() || screen.cursorRow() < 0 ||
        screen.cursorRow() >= screen.rows())
      __builtin_trap();
  }
  console.reset();
  w.reactor.advance(TerminalSession::kOpenTimeoutMs);
  w.reactor.runOnce(0);
  w.reactor.runOnce(0);
}

void routerSide(World& w, int columns, int rows, const std::vector<Record>& list) {
  static const sim::SimUser user{};
  static const std::vector<uint32_t> consolePath{76};
  sim::Console console(w.reactor);
  uint32_t sent = 0;
  auto peer = std::make_shared<sim::RouterPeer>(
      [&](const nv::message& m) { sent += uint32_t(m.get(kTerminalBytes).size()); });
  auto ask = [&](nv::message m) {
    console.serve(sim::RouterRequest{m, user, false, peer, consolePath});
  };
  nv::message open;
  open.set(SYS_CMD, kTerminalOpen);
  open.set(SYS_FROM, std::vector<uint32_t>{0, 1});
  open.set(kTerminalColumns, uint32_t(columns));
  open.set(kTerminalRows, uint32_t(rows));
  ask(open);
  w.reactor.runOnce(0);
  for (const Record& r : list) {
    nv::message m;
    m.set(STD_ID, 1u);
    switch (r.kind % 5) {
    case 0:
      m = nv::message::fromBytes(r.payload);
      break;
    case 1:
      m.set(SYS_CMD, kTerminalData);
      m.set(kTerminalBytes, std::vector<uint8_t>(r.payload.begin(), r.payload.end()));
      m.set(kTerminalReceived, (r.kind & 0x80) ? sent : sent / 2);
      break;
    case 2:
      m.set(SYS_CMD, kTerminalWindowSize);
      m.set(kTerminalColumns, r.payload.size() > 0 ? uint32_t(r.payload[0]) << 4 : 0u);
      m.set(kTerminalRows, r.payload.size() > 1 ? uint32_t(r.payload[1]) << 2 : 0u);
      break;
    case 3:
      w.reactor.advance(r.payload.empty() ? 1000 : r.payload[0] * 10);
      w.reactor.runOnce(0);
      continue;
    default:
      m.set(SYS_CMD, kTerminalClose);
    }
    ask(m);
  }
  peer->disconnect();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  if (size < 1)
    return 0;
  int columns = 1 + (data[0] >> 1) * 2, rows = 1 + (data[0] >> 2);
  auto list = records(data + 1, size - 1);
  if (data[0] & 1)
    routerSide(world, columns, rows, list);
  else
    clientSide(world, columns, rows, list);
  return 0;
}
