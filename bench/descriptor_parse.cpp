// Parse throughput of a descriptor-like document (2000 services of nested types and slots,
// about 5 MB) with our parser, side by side with rapidjson's DOM parse of the same bytes.
#include "gen/DescriptorLoader.h"
#include "gen/JSParser.h"

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <random>
#include <sstream>
#include <string>

namespace {

std::string slot(std::mt19937& rng, int i) {
  switch (rng() % 4) {
  case 0:
    return R"({"type":"string","name":"name)" + std::to_string(i) +
           R"(","id":"s1","title":"Name of the entry","def":"","maxlen":255})";
  case 1:
    return R"({"type":"number","name":"mtu)" + std::to_string(i) +
           R"(","id":"u2","min":68,"max":65535,"def":1500,"unit":"bytes"})";
  case 2:
    return R"({"type":"enm","name":"mode)" + std::to_string(i) +
           R"(","id":"u3","values":{"type":"static","map":["disabled","enabled","auto","forced"]}})";
  default:
    return R"({"type":"bool","name":"disabled)" + std::to_string(i) +
           R"(","id":"b4","hidebydefault":true,"pred":{"type":"not","pred":{"type":"haspwd"}}})";
  }
}

std::string makeDocument() {
  std::mt19937 rng(42);
  std::string doc = "[\n";
  for (int s = 0; s < 2000; ++s) {
    doc += s ? ",\n" : "";
    doc +=
        R"({"name":"Service )" + std::to_string(s) + R"(","group":"Group )" +
        std::to_string(s % 17) + R"(","prio":)" + std::to_string(s) +
        R"(,"pred":{"type":"or","pred":[{"type":"board","value":"nx2000"},{"type":"addon","value":"wireless"}]},"types":[)";
    for (int t = 0; t < 3; ++t) {
      doc += t ? "," : "";
      doc += R"({"type":"map","title":"Table )" + std::to_string(t) + R"(","path":[20,)" +
             std::to_string(s) + "," + std::to_string(t) + R"(],"c":[)";
      for (int i = 0; i < 8; ++i)
        doc += (i ? "," : "") + slot(rng, i);
      doc += "]}";
    }
    doc += "]}";
  }
  return doc + "\n]\n";
}

const std::string& document() {
  static const std::string doc = makeDocument();
  return doc;
}

void BM_Ours(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    kestel::JSParser parser;
    const kestel::JSNode* root = kestel::parseDocument(parser, doc);
    benchmark::DoNotOptimize(root);
    if (!root)
      state.SkipWithError("parse failed");
    state.counters["arenaMB"] = static_cast<double>(parser.arenaBytes()) / (1 << 20);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.counters["docMB"] = static_cast<double>(doc.size()) / (1 << 20);
}

void BM_RapidJsonDom(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(doc.data(), doc.size());
    benchmark::DoNotOptimize(d);
    if (d.HasParseError())
      state.SkipWithError("parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// The loader's way: 2048-byte chunks, one service tree at a time.
void BM_OursLoaderChunks(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    std::istringstream in(doc);
    size_t services = 0;
    kestel::Expected<void> r = kestel::loadDescriptorStream(in, [&](const kestel::JSNode&) {
      ++services;
      return kestel::Expected<void>();
    });
    if (!r || services != 2000)
      state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

BENCHMARK(BM_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonDom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursLoaderChunks)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
