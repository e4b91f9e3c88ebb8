// Descriptor cache: connect to ready against the in-process simulator over loopback TCP (login,
// index, downloads, skin, model load) with a warm cache, a cold one and a descriptor set 20 times
// the sample; and the gzip sink against zlib's own inflate of the same file in the same process.
// Both gzip sides inflate the same gzip bytes in 8192-byte output steps; the sink also writes the
// result to a memory-backed file (flushed and renamed), zlib's side appends it to a string.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/FileSink.h"
#include "app/ReadyStep.h"
#include "gen/ModelContext.h"
#include "sim/FileService.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <optional>
#include <unistd.h>
#include <zlib.h>

namespace {

using namespace kestel;
namespace fs = std::filesystem;

std::string scratchFolder(const char* tag) {
  std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
  std::string path = base + "/kestel-bench-" + tag + "-" + std::to_string(::getpid());
  fs::create_directories(path);
  return path;
}

struct Router {
  PollReactor reactor;
  ReactorScope scope{reactor};
  sim::SimServer server{reactor};
  sim::RouterLogin login;
  sim::FileService files;
  uint16_t port = 0;
  std::string appData;

  Router(unsigned scale, const char* tag) : appData(scratchFolder(tag)) {
    login.addUser("admin", "pw");
    login.facts().skin = "operator";
    login.install(server);
    files.options().scale = scale;
    if (!files.load(login.facts().version))
      std::abort();
    files.install(login, server);
    port = *server.listen(0);
  }
  ~Router() { fs::remove_all(appData); }

  bool ready() {
    ModelContext model;
    ModelScope modelScope(model);
    ReadyRequest request;
    request.connect = ConnectRequest{"127.0.0.1", port, "admin", "pw", false, false};
    request.appData = appData;
    std::optional<ReadyOutcome> outcome;
    auto step = makeRef<ReadyStep>(
        reactor, request, [](const std::string&) {}, [&](const ReadyOutcome& o) { outcome = o; });
    step->start();
    while (!outcome)
      reactor.runOnce(10);
    step->cancel();
    return outcome->ok;
  }
};

void readyLoop(benchmark::State& state, unsigned scale, bool warm) {
  Router router(scale, warm ? "warm" : "cold");
  if (warm && !router.ready())
    state.SkipWithError("first download failed");
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      for (const auto& entry : fs::directory_iterator(router.appData))
        fs::remove_all(entry.path());
      state.ResumeTiming();
    }
    if (!router.ready())
      state.SkipWithError("not ready");
  }
}

void BM_ReadyWarm(benchmark::State& state) { readyLoop(state, 1, true); }
void BM_ReadyCold(benchmark::State& state) { readyLoop(state, 1, false); }
void BM_ReadyWarm20x(benchmark::State& state) { readyLoop(state, 20, true); }
void BM_ReadyCold20x(benchmark::State& state) { readyLoop(state, 20, false); }
BENCHMARK(BM_ReadyWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadyCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadyWarm20x)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadyCold20x)->Unit(benchmark::kMillisecond)->UseRealTime();

// One big gzip file: the 20x generated document.
const Bytes& benchGzip() {
  static Bytes gz = [] {
    sim::FileServiceOptions o;
    o.scale = 2;
    sim::FileService files(o);
    if (!files.load("7.15"))
      std::abort();
    Bytes plain;
    for (int i = 0; i < 20; ++i)
      for (const auto& f : files.files())
        if (f.name == "bulk1.jg")
          plain.insert(plain.end(), f.plain.begin(), f.plain.end());
    uLongf n = compressBound(uLong(plain.size())) + 32;
    Bytes out(n);
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
    z.next_in = plain.data();
    z.avail_in = uInt(plain.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
  }();
  return gz;
}

constexpr size_t kPiece = 32768; // as the file handler delivers it

void BM_GzipSink(benchmark::State& state) {
  const Bytes& gz = benchGzip();
  std::string path = scratchFolder("gzip") + "/file.jg";
  uint64_t out = 0;
  for (auto _ : state) {
    GzipFileSink sink;
    sink.open(path);
    for (size_t at = 0; at < gz.size(); at += kPiece)
      sink.write(gz.data() + at, std::min(kPiece, gz.size() - at));
    if (!sink.write(nullptr, 0).empty())
      state.SkipWithError("sink failed");
    out = sink.bytesWritten();
  }
  state.SetBytesProcessed(int64_t(out * state.iterations()));
  fs::remove_all(fs::path(path).parent_path());
}

void BM_ZlibInflate(benchmark::State& state) {
  const Bytes& gz = benchGzip();
  uint64_t out = 0;
  for (auto _ : state) {
    std::string result;
    z_stream z{};
    inflateInit2(&z, MAX_WBITS + 16);
    unsigned char buf[8192];
    int r = Z_OK;
    for (size_t at = 0; at < gz.size() && r != Z_STREAM_END; at += kPiece) {
      z.next_in = const_cast<Bytef*>(gz.data() + at);
      z.avail_in = uInt(std::min(kPiece, gz.size() - at));
      do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        result.append(reinterpret_cast<char*>(buf), sizeof buf - z.avail_out);
      } while (r == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
    }
    inflateEnd(&z);
    out = result.size();
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(int64_t(out * state.iterations()));
}

BENCHMARK(BM_GzipSink)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate)->Repetitions(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
