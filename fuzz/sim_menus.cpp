// The simulator's menus, tools and settings pages fed a hostile client's requests: any command
// with any ids, members and credit to any of the router's paths, by users of any policy, with the
// clock moving between them and clients going away. Byte 0 picks the switches (page size, slow
// pages, failing commits, dropped subscriptions, churn); then 8-byte records follow, each
// optionally trailed by an encoded message that the request starts from:
//   route, command, id choice, next-id choice, policy, member key, member value, flags
// flags: bit 0 SYS_ORIGINATOR = value, bit 1 deliver the current objects, bit 2 a fresh client,
// bit 3 one-way, bits 4-5 clock step, bit 6 an encoded message follows (length byte, bytes).
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "sim/MenuCatalogue.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace kestel;

const uint32_t kCommands[] = {CMD_GETALL,      CMD_GETOBJ,  CMD_SETOBJ,      CMD_ADDOBJ,
                              CMD_REMOVEOBJ,   CMD_MOVEOBJ, CMD_GETPOLICIES, CMD_SUBSCRIBE,
                              CMD_UNSUBSCRIBE, 0xFE0017,    CMD_START,       CMD_POLL,
                              CMD_CANCEL,      CMD_SETFORM, CMD_GET,         CMD_SET,
                              0xFE0002,        0xFE0003,    0xFE0040,        CMD_GETCOUNT};

// An id that names something the menu may hold: absent, an object by position, or raw.
void chooseId(uint8_t choice, sim::MenuStore* store, nv::message& m, nv::u32_id key) {
  if (choice == 0)
    return;
  if (choice < 0x80 && store && store->size())
    m.set(key, store->idAt(choice % store->size()));
  else
    m.set(key, choice < 0xF0 ? uint32_t(choice) : 0xFFFFFFF0u + (choice & 0xF));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::CatalogueOptions options;
  options.menus.pageSize = 1 + (data[0] & 7);
  options.menus.slowPagesMs = (data[0] & 8) ? 50 : 0;
  options.menus.failCommits = (data[0] & 16) != 0;
  options.menus.dropSubscriptionAfter = (data[0] & 32) ? 5 : 0;
  options.churn = (data[0] & 64) ? 100 : 0;
  options.fill = (data[0] & 128) != 0;
  options.rows = 40;
  options.table = "leases";
  sim::MenuCatalogue catalogue(reactor, options);
  std::vector<sim::MenuCatalogue::Route> routes = catalogue.routes();
  const char* stores[] = {"interfaces", "addresses",      "routes",        "leases",
                          "firewall",   "users",          "groups",        "log",
                          "files",      "ipv6-addresses", "ipv6-neighbors"};

  size_t sent = 0;
  auto newPeer = [&] {
    return std::make_shared<sim::RouterPeer>([&](const nv::message& m) {
      std::vector<uint8_t> bytes;
      if (m.flatten(bytes))
        sent += bytes.size();
    });
  };
  std::shared_ptr<sim::RouterPeer> peer = newPeer();
  sim::SimUser user;

  for (size_t at = 1; at + 8 <= size;) {
    const uint8_t* r = data + at;
    at += 8;
    nv::message m;
    if (r[7] & 64) {
      size_t length = at < size ? data[at] : 0;
      at += 1;
      length = std::min(length, size - std::min(at, size));
      m = nv::message::fromBytes(std::span(data + std::min(at, size), length));
      at += length;
    }
    const sim::MenuCatalogue::Route& route = routes[r[0] % routes.size()];
    sim::MenuStore* store = nullptr;
    for (const char* name : stores)
      if (catalogue.store(name) && catalogue.store(name)->shape().path == route.path)
        store = catalogue.store(name);
    m.set(SYS_CMD, kCommands[r[1] % std::size(kCommands)]);
    m.set(SYS_FROM, std::vector<uint32_t>{0, uint32_t(r[1] >> 5)});
    if (!(r[7] & 8))
      m.set(SYS_REPLYEXP, true);
    chooseId(r[2], store, m, STD_ID);
    chooseId(r[3], store, m, STD_NEXTID);
    user.policy = r[4] == 0xFF ? 0xFFFFFFFF : uint32_t(r[4]) << 1;
    uint32_t key = r[5] & 0x3F;
    if (r[5] & 0x40)
      m.set(nv::string_id(key), std::string(r[6] % 80, 'x'));
    else
      m.set(nv::u32_id(key), uint32_t(r[6]) * (r[5] & 0x80 ? 0x01010101u : 1u));
    if (r[7] & 1)
      m.set(SYS_ORIGINATOR, uint32_t(r[6]) * 8);
    if (r[7] & 2)
      m.set(sim::kDeliverCurrent, true);
    if (r[7] & 4) {
      peer->disconnect();
      peer = newPeer();
    }
    std::vector<uint32_t> path = route.path;
    if (route.withSubHandler && (r[5] & 0x80))
      path.push_back(r[6]);
    if (auto reply = route.handler(sim::RouterRequest{m, user, false, peer, path}))
      peer->reply(m, *reply, path);
    reactor.advance((r[7] >> 4 & 3) * 40);
    reactor.runOnce(0);
  }
  peer->disconnect();
  reactor.runOnce(0);
  return sent == size_t(-1); // keeps `sent` observed
}
