// File transfer throughput over loopback TCP through the secure session, client and simulator
// in one process and one reactor (so every byte is encrypted and decrypted once by each end).
//
// Each iteration measures, interleaved, two things from the same 100 MB file:
// - transfer: the transfer engine copies the file to the simulator's file store ("upload") or
//   from it into a file in /dev/shm ("download"), in 32168-byte pieces with one request
//   outstanding: reading the file, encoding the messages, the session's encryption and
//   decryption, the TCP chunks, the store, and for downloads writing and renaming the file;
// - cipher: the session cipher alone encrypts each 32168-byte piece and decrypts it again (the
//   sending and the receiving end's work on the same frames), nothing else.
// Counters: MB/s of each and their ratio (transfer ÷ cipher; the goal is at least 0.5).
#include "api/net/FileHandler.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/ConnectStep.h"
#include "app/FileTransfer.h"
#include "app/LooperRequestPort.h"
#include "app/LooperRoute.h"
#include "crypto/SessionCipher.h"
#include "sim/FileService.h"
#include "sim/FileStore.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <unistd.h>

namespace {

using namespace kestel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kFileBytes = 100u << 20;

struct Setup {
  PollReactor reactor;
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  sim::FileStore store;
  sim::FileService files;
  Reference<ConnectStep> step;
  std::unique_ptr<LooperRoute> route;
  std::unique_ptr<LooperRequestPort> port;
  std::string folder;

  Setup() {
    login.addUser("admin", "pw");
    login.install(server);
    files.attachStore(store);
    files.install(login, server);
    uint16_t listening = *server.listen(0);
    std::optional<ConnectOutcome> outcome;
    step = makeRef<ConnectStep>(reactor, ConnectRequest{"127.0.0.1", listening, "admin", "pw"},
                                [&](const ConnectOutcome& o) { outcome = o; });
    step->start();
    while (!outcome)
      reactor.runOnce(-1);
    if (outcome->kind != ConnectOutcome::LoggedIn)
      std::abort();
    route = std::make_unique<LooperRoute>(*step, [](const std::string&) {});
    port = std::make_unique<LooperRequestPort>();
    std::string pattern = "/dev/shm/kestel-bench-XXXXXX";
    folder = ::mkdtemp(pattern.data()) ? pattern : std::string();
    if (folder.empty())
      std::abort();
    Bytes data(kFileBytes);
    std::mt19937 random(1);
    for (uint8_t& b : data)
      b = uint8_t(random());
    std::ofstream(folder + "/big.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    store.put("big.bin", std::move(data));
    fs::create_directory(folder + "/down");
  }
  ~Setup() {
    port.reset();
    route.reset();
    step->cancel();
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  void run(FileTransfer::Direction direction) {
    FileTransfer transfer(reactor, *port, direction);
    std::vector<TransferEntry> queue =
        direction == FileTransfer::Direction::Upload
            ? planUpload({folder + "/big.bin"}, "up/")
            : planDownload({"big.bin"}, {{"big.bin", false, kFileBytes}}, folder + "/down");
    transfer.start(std::move(queue));
    while (transfer.running())
      reactor.runOnce(-1);
    if (!transfer.error().empty() || transfer.bytesDone() != kFileBytes)
      std::abort();
  }
};

// Both ends' cipher work on the file's pieces, as the session frames them.
void cipherOnly(const Bytes& key, Bytes& piece, Bytes& frame) {
  SessionCipher sender(key), receiver(key);
  uint8_t vector[16] = {};
  for (size_t done = 0; done < kFileBytes; done += kFilePieceBytes) {
    size_t n = std::min<size_t>(kFilePieceBytes, kFileBytes - done);
    sender.setVector(std::span<const uint8_t, 16>(vector, 16));
    sender.encrypt(piece.data(), n, frame.data());
    receiver.setVector(std::span<const uint8_t, 16>(vector, 16));
    if (receiver.decrypt(frame.data(), SessionCipher::encryptedLength(n), piece.data()) != n)
      std::abort();
  }
}

void transferAgainstCipher(benchmark::State& state, FileTransfer::Direction direction) {
  Setup setup;
  Bytes key(SessionCipher::kKeyLength, 7);
  Bytes piece(kFilePieceBytes + 64, 1), frame(SessionCipher::encryptedLength(kFilePieceBytes));
  double transferSeconds = 0, cipherSeconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    setup.run(direction);
    auto t1 = Clock::now();
    cipherOnly(key, piece, frame);
    auto t2 = Clock::now();
    transferSeconds += std::chrono::duration<double>(t1 - t0).count();
    cipherSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  double megabytes = double(kFileBytes) / 1e6 * double(state.iterations());
  state.counters["transfer_MBps"] = megabytes / transferSeconds;
  state.counters["cipher_MBps"] = megabytes / cipherSeconds;
  state.counters["ratio"] = cipherSeconds / transferSeconds;
  state.SetBytesProcessed(int64_t(kFileBytes) * state.iterations());
}

void BM_Upload100MB(benchmark::State& state) {
  transferAgainstCipher(state, FileTransfer::Direction::Upload);
}
void BM_Download100MB(benchmark::State& state) {
  transferAgainstCipher(state, FileTransfer::Direction::Download);
}
BENCHMARK(BM_Upload100MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Download100MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
