// Opening and saving an address book of 10,000 routers, clear and enciphered, as the loader
// does it: read the file and decode every entry (open), encode every entry, encipher when a
// master password is set, and replace the file through a private temporary file with fsync
// (save). No peer library reads this format; the goal is under 50 ms for each.
#include "api/wire/Vocabulary.h"
#include "app/AddressBookFile.h"
#include "miw/SafeFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using namespace kestel;

std::vector<nv::message> routers(size_t n) {
  std::vector<nv::message> out;
  for (size_t i = 0; i < n; ++i) {
    nv::message e;
    e.set(entry::kAddress, "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) +
                               "." + std::to_string(i % 256));
    e.set(entry::kLogin, "admin");
    e.set(entry::kPassword, "password-" + std::to_string(i));
    e.set(entry::kNote, "rack " + std::to_string(i % 40));
    e.set(entry::kSecure, true);
    e.set(entry::kSession, "<own>");
    e.set(entry::kKeepPassword, true);
    e.set(entry::kGroup, "site " + std::to_string(i % 12));
    e.set(entry::kGroupIndex, uint32_t(i % 12 + 1));
    e.set(STD_ID, uint32_t(i + 1));
    out.push_back(std::move(e));
  }
  return out;
}

std::string folder() {
  static std::string path = [] {
    std::string t = "/tmp/kestel-bench-XXXXXX";
    return std::string(::mkdtemp(t.data()));
  }();
  return path;
}

void save(benchmark::State& state, const std::string& password) {
  auto entries = routers(10000);
  std::string target = folder() + "/Addresses.cdb";
  for (auto _ : state) {
    auto bytes = writeAddressBook(entries, password, {});
    if (!bytes || !saveFileAtomically(target, *bytes, "kstl"))
      state.SkipWithError("save failed");
  }
}

void open(benchmark::State& state, const std::string& password) {
  std::string target = folder() + "/Open.cdb";
  auto bytes = writeAddressBook(routers(10000), password, {});
  if (!bytes || !saveFileAtomically(target, *bytes, "kstl")) {
    state.SkipWithError("setup failed");
    return;
  }
  for (auto _ : state) {
    auto file = readWholeFile(target);
    BookContents book = readAddressBook(*file, password, BookReadMode::Open);
    if (book.entries.size() != 10000)
      state.SkipWithError("open failed");
    benchmark::DoNotOptimize(book);
  }
}

void BM_OpenClear(benchmark::State& s) { open(s, ""); }
void BM_OpenEnciphered(benchmark::State& s) { open(s, "master password"); }
void BM_SaveClear(benchmark::State& s) { save(s, ""); }
void BM_SaveEnciphered(benchmark::State& s) { save(s, "master password"); }

BENCHMARK(BM_OpenClear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenEnciphered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveClear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveEnciphered)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
