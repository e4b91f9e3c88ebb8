// The MAC-layer transport against the TCP connection over the same veth pair, and discovery of
// many neighbours. Runs only inside the client namespace that scripts/bench-link.sh builds (it
// starts the simulator in the router namespace and passes its addresses here); it refuses to
// run without them.
//
// Both transports do the same work against the same simulator process: the bytes go out as
// chunks on channel 7, the simulator's echo handler sends every chunk back, and an iteration
// ends when all of them have come back to the channel's receiver.
//   Throughput/<kind>: 1 MiB in 16 KiB sends, all echoed back (bytes counted once).
//   RoundTrip30K/<kind>: one 30 KiB send and its echo.
//   Discovery100: one scan until 100 neighbours are in the list (the simulator answers as 100).
#include "api/net/Connection.h"
#include "api/net/MacConnection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/Discovery.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

using namespace kestel;

constexpr uint8_t kEchoChannel = 7;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct Counter final : IChannelReceiver {
  size_t bytes = 0;
  void receive(uint8_t, const uint8_t*, size_t length) override { bytes += length; }
};

struct UpWatch final : EventListener {
  bool up = false, closed = false;
  void onEvent(Event& e) override {
    if (auto* c = static_cast<IConnectionEvent*>(e.cast(kConnectionEventInterface)))
      (c->state() == IConnectionEvent::Up ? up : closed) = true;
  }
};

struct Link {
  PollReactor reactor;
  ReactorScope scope{reactor};
  Reference<IConnection> connection;
  Reference<UpWatch> watch{new UpWatch};
  Counter counter;

  explicit Link(bool mac) {
    if (mac) {
      connection = createMacConnection(reactor);
      connection->addListener(watch.get());
      connection->connect(env("KESTEL_BENCH_MAC"), 0);
    } else {
      connection = createConnection(reactor);
      connection->addListener(watch.get());
      connection->connect(env("KESTEL_BENCH_HOST"),
                          uint32_t(std::atoi(env("KESTEL_BENCH_PORT").c_str())));
    }
    connection->addReceiver(kEchoChannel, &counter);
    while (!watch->up && !watch->closed)
      reactor.runOnce(-1);
  }
  ~Link() {
    connection->removeReceiver(kEchoChannel, &counter);
    connection->close(CloseMode::Now);
  }
  // Sends `total` bytes in pieces of `piece` and waits for their echo.
  bool exchange(size_t total, size_t piece) {
    Bytes data(piece, 0x5A);
    size_t target = counter.bytes + total;
    for (size_t sent = 0; sent < total; sent += piece)
      connection->send(kEchoChannel, data.data(), std::min(piece, total - sent));
    while (counter.bytes < target && !watch->closed)
      reactor.runOnce(-1);
    return !watch->closed;
  }
};

bool configured(benchmark::State& state) {
  if (env("KESTEL_BENCH_MAC").empty() || env("KESTEL_BENCH_HOST").empty()) {
    state.SkipWithError("run through scripts/bench-link.sh (private namespaces only)");
    return false;
  }
  return true;
}

void Throughput(benchmark::State& state, bool mac) {
  if (!configured(state))
    return;
  Link link(mac);
  if (!link.watch->up) {
    state.SkipWithError("no connection");
    return;
  }
  constexpr size_t kTotal = 1 << 20;
  for (auto _ : state)
    if (!link.exchange(kTotal, 16 * 1024)) {
      state.SkipWithError("connection lost");
      break;
    }
  state.SetBytesProcessed(int64_t(state.iterations()) * kTotal);
}

void RoundTrip30K(benchmark::State& state, bool mac) {
  if (!configured(state))
    return;
  Link link(mac);
  if (!link.watch->up) {
    state.SkipWithError("no connection");
    return;
  }
  for (auto _ : state)
    if (!link.exchange(30 * 1024, 30 * 1024)) {
      state.SkipWithError("connection lost");
      break;
    }
}

void Discovery100(benchmark::State& state) {
  if (!configured(state))
    return;
  PollReactor reactor;
  ReactorScope scope(reactor);
  for (auto _ : state) {
    NeighbourTable table;
    Discovery discovery(reactor, createUdpDiscoveryTransport(reactor), table, [] { return 0u; });
    bool windowOver = false;
    discovery.setScanEndListener([&] { windowOver = true; });
    discovery.start();
    while (table.list().size() < 100 && !windowOver)
      reactor.runOnce(-1);
    if (table.list().size() < 100) {
      state.SkipWithError("fewer than 100 neighbours within one collection window");
      break;
    }
    discovery.stop();
  }
}

BENCHMARK_CAPTURE(Throughput, TCP, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Throughput, MAC, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(RoundTrip30K, TCP, false)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(RoundTrip30K, MAC, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Discovery100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
