// The launcher's search over the values of open tables: ten tables of 10000 rows and 8 columns
// (800000 values), searched as a user types "host-12" one key at a time; each keystroke's
// result is the best 30 hits (matches at the start first, then shorter texts, then table order)
// as the result list shows them ("<value> in <menu>, <column>").
//
//   KestelTyping   LauncherSearch as the search box uses it: each key narrows the previous
//                  key's matches.
//   KestelFresh    LauncherSearch asked afresh at every key (no narrowing).
//   PeerStrcasestr glibc's strcasestr and strncasecmp over every value at every key, the same
//                  ranking kept in a bounded heap, the same 30 labels built.
//
// No descriptors are loaded, so both sides search the same table values only. Both results are
// compared once before timing.
#include "app/LauncherSearch.h"

#include <benchmark/benchmark.h>

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <queue>
#include <string>
#include <vector>

namespace {

using namespace kestel;

constexpr int kTables = 10, kRows = 10000;
const char* const kColumns[] = {"Address", "Interface", "Comment", "Action",
                                "Gateway", "Host Name", "Bytes",   "Packets"};
const char* const kQuery = "host-12";
constexpr size_t kHits = 30;

struct Tables final : ITableValues {
  Tables() {
    for (int t = 0; t < kTables; ++t) {
      std::string menu = "Table " + std::to_string(t + 1);
      for (uint32_t r = 0; r < kRows; ++r) {
        std::string texts[] = {
            "192.168." + std::to_string(r / 256) + "." + std::to_string(r % 256) + "/24",
            "ether" + std::to_string(r % 24 + 1),
            "rule " + std::to_string(r) + " for Host-" + std::to_string(r * 7 % 1000),
            r % 3 ? "accept" : "drop",
            "10.0." + std::to_string(t) + ".1",
            "host-" + std::to_string((r * 13 + t) % 5000) + ".lan",
            std::to_string(r * 1531u % 1000000),
            std::to_string(r * 37u % 100000)};
        for (int c = 0; c < 8; ++c)
          values.push_back({nullptr, menu, kColumns[c], r + 1, std::move(texts[c])});
      }
    }
  }
  void forEachValue(const std::function<bool(const TableValue&)>& visit) const override {
    for (const TableValue& v : values)
      if (!visit(v))
        return;
  }
  std::vector<TableValue> values;
};

const Tables& tables() {
  static const Tables t;
  return t;
}

std::vector<std::string> labels(const std::vector<SearchHit>& hits) {
  std::vector<std::string> out;
  for (const SearchHit& h : hits)
    out.push_back(h.label);
  return out;
}

std::vector<std::string> kestelTyping(LauncherSearch& search) {
  std::vector<SearchHit> hits;
  std::string typed;
  for (const char* c = kQuery; *c; ++c)
    hits = search.search(typed += *c, kHits);
  search.search("", kHits); // the box cleared
  return labels(hits);
}

std::vector<std::string> kestelFresh(LauncherSearch& search) {
  std::vector<SearchHit> hits;
  std::string typed;
  for (const char* c = kQuery; *c; ++c) {
    search.search("", kHits);
    hits = search.search(typed += *c, kHits);
  }
  return labels(hits);
}

std::vector<std::string> peerSearch(const std::string& query) {
  struct Ranked {
    bool prefix;
    size_t length, ordinal;
    const TableValue* value;
    bool operator<(const Ranked& o) const { // "comes first"
      if (prefix != o.prefix)
        return prefix;
      if (length != o.length)
        return length < o.length;
      return ordinal < o.ordinal;
    }
  };
  std::priority_queue<Ranked> best; // the worst of the kept on top
  size_t ordinal = 0;
  for (const TableValue& v : tables().values) {
    const char* text = v.text.c_str();
    if (!strcasestr(text, query.c_str()))
      continue;
    Ranked r{strncasecmp(text, query.c_str(), query.size()) == 0, v.text.size(), ordinal++, &v};
    if (best.size() < kHits) {
      best.push(r);
    } else if (r < best.top()) {
      best.pop();
      best.push(r);
    }
  }
  std::vector<Ranked> kept;
  for (; !best.empty(); best.pop())
    kept.push_back(best.top());
  std::reverse(kept.begin(), kept.end());
  std::vector<std::string> out;
  for (const Ranked& r : kept)
    out.push_back(r.value->text + " in " + r.value->menu + ", " + r.value->column);
  return out;
}

std::vector<std::string> peerTyping() {
  std::vector<std::string> result;
  std::string typed;
  for (const char* c = kQuery; *c; ++c)
    result = peerSearch(typed += *c);
  return result;
}

bool sameResults() {
  LauncherSearch search({}, &tables());
  std::vector<std::string> peer = peerTyping();
  return peer.size() == kHits && kestelTyping(search) == peer && kestelFresh(search) == peer;
}

void KestelTyping(benchmark::State& state) {
  if (!sameResults())
    state.SkipWithError("the two sides disagree");
  LauncherSearch search({}, &tables());
  for (auto _ : state)
    benchmark::DoNotOptimize(kestelTyping(search));
}
BENCHMARK(KestelTyping)->Unit(benchmark::kMillisecond);

void KestelFresh(benchmark::State& state) {
  LauncherSearch search({}, &tables());
  for (auto _ : state)
    benchmark::DoNotOptimize(kestelFresh(search));
}
BENCHMARK(KestelFresh)->Unit(benchmark::kMillisecond);

void PeerStrcasestr(benchmark::State& state) {
  tables();
  for (auto _ : state)
    benchmark::DoNotOptimize(peerTyping());
}
BENCHMARK(PeerStrcasestr)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
