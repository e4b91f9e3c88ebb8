// Descriptor model: loading and completing the sample router's documents (and a set 20 times
// that size), side by side with nlohmann-json reading the same bytes into its tree; packing and
// unpacking a 20-slot descriptor object, side by side with the same fields set and read by hand.
#include "gen/DescriptorLoader.h"
#include "gen/Service.h"
#include "util/Log.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

using namespace kestel;

std::vector<std::string> sampleDocuments() {
  std::vector<std::string> docs;
  for (const char* name : {"nimblux.jg", "ipv6.jg", "tools.jg"}) {
    std::ifstream in(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    docs.push_back(s.str());
  }
  return docs;
}

class Quiet : public LogSink {
public:
  void writeLine(std::string_view) override {}
};

void loadSet(benchmark::State& state) {
  static Quiet quiet;
  addLogSink(&quiet);
  const std::vector<std::string> docs = sampleDocuments();
  const int copies = static_cast<int>(state.range(0));
  size_t bytes = 0, count = 0;
  for (auto _ : state) {
    for (int c = 0; c < copies; ++c) {
      for (const std::string& d : docs) {
        std::istringstream in(d);
        if (!loadDescriptorStream(in, buildService).ok())
          state.SkipWithError("load failed");
        bytes += d.size();
        ++count;
      }
    }
    if (!completeAllTypes().ok())
      state.SkipWithError("completion failed");
    resetModel();
  }
  removeLogSink(&quiet);
  state.counters["documents/s"] = benchmark::Counter(double(count), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(loadSet)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

void peerJsonParse(benchmark::State& state) {
  const std::vector<std::string> docs = sampleDocuments();
  const int copies = static_cast<int>(state.range(0));
  size_t bytes = 0, count = 0;
  for (auto _ : state) {
    for (int c = 0; c < copies; ++c) {
      for (const std::string& d : docs) {
        nlohmann::json j = nlohmann::json::parse(d);
        benchmark::DoNotOptimize(j);
        bytes += d.size();
        ++count;
      }
    }
  }
  state.counters["documents/s"] = benchmark::Counter(double(count), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(peerJsonParse)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// 20 slots: 8 numbers, 4 booleans, 3 texts, an IPv6 address, a 64-bit counter, a MAC, a list
// and a network (two fields).
const char* kTwentySlots =
    "[{name:'B',title:'B',c:[{type:'map',title:'T',c:["
    "{type:'number',name:'n0',id:'u1'},{type:'number',name:'n1',id:'u2'},"
    "{type:'number',name:'n2',id:'u3'},{type:'number',name:'n3',id:'u4'},"
    "{type:'number',name:'n4',id:'u5'},{type:'number',name:'n5',id:'u6'},"
    "{type:'number',name:'n6',id:'u7'},{type:'number',name:'n7',id:'u8'},"
    "{type:'bool',name:'b0',id:'b9'},{type:'bool',name:'b1',id:'bA'},"
    "{type:'bool',name:'b2',id:'bB'},{type:'bool',name:'b3',id:'bC'},"
    "{type:'string',name:'s0',id:'sD'},{type:'comment',name:'s1',id:'sE'},"
    "{type:'string',name:'s2',id:'sF'},{type:'ip6addr',name:'a',id:'a10'},"
    "{type:'bignumber',name:'q',id:'q11'},{type:'macaddr',name:'mac',id:'r12'},"
    "{type:'numberlist',name:'l',id:'U13'},{type:'network',name:'net',id:'u14',maskid:'u15'}]}]}]";

nv::message sampleMessage() {
  nv::message m;
  for (uint32_t k = 1; k <= 8; ++k)
    m.set(nv::u32_id(k), k * 1000);
  for (uint32_t k = 9; k <= 12; ++k)
    m.set(nv::bool_id(k), k % 2 == 0);
  m.set(nv::string_id(13), std::string("ether1-gateway"));
  m.set(nv::string_id(14), std::string("uplink to the provider"));
  m.set(nv::string_id(15), std::string("ether"));
  m.set(nv::addr6_id(16), nv::addr6{0x20, 0x01, 0x0d, 0xb8});
  m.set(nv::u64_id(17), uint64_t{123456789012});
  m.set(nv::raw_id(18), std::vector<uint8_t>{0, 0x0c, 0x42, 1, 2, 3});
  m.set(nv::u32_array_id(19), std::vector<uint32_t>{22, 80, 443});
  m.set(nv::u32_id(20), 0xC0A85800u);
  m.set(nv::u32_id(21), 0xFFFFFF00u);
  return m;
}

void packTwentySlots(benchmark::State& state) {
  resetModel();
  std::istringstream in(kTwentySlots);
  if (!loadDescriptorStream(in, buildService).ok() || !completeAllTypes().ok()) {
    state.SkipWithError("model failed");
    return;
  }
  CType& t = *services().front()->types().front();
  Reference<IObject> o = t.createObject();
  const nv::message src = sampleMessage();
  for (auto _ : state) {
    o->getPacker()->unpack(src, o.get());
    nv::message out;
    o->getPacker()->pack(out, o.get());
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  o = nullptr;
  resetModel();
}
BENCHMARK(packTwentySlots);

struct ByHand {
  uint32_t n[8]{};
  bool b[4]{};
  std::string s[3];
  nv::addr6 a{};
  uint64_t q = 0;
  std::vector<uint8_t> mac;
  std::vector<uint32_t> l;
  uint32_t net = 0, mask = 0;
};

void peerPackByHand(benchmark::State& state) {
  const nv::message src = sampleMessage();
  ByHand r;
  for (auto _ : state) {
    for (uint32_t k = 0; k < 8; ++k)
      if (src.has(nv::u32_id(k + 1)))
        r.n[k] = src.get(nv::u32_id(k + 1));
    for (uint32_t k = 0; k < 4; ++k)
      if (src.has(nv::bool_id(k + 9)))
        r.b[k] = src.get(nv::bool_id(k + 9));
    for (uint32_t k = 0; k < 3; ++k)
      if (src.has(nv::string_id(k + 13)))
        r.s[k] = src.get(nv::string_id(k + 13));
    r.a = src.get(nv::addr6_id(16));
    r.q = src.get(nv::u64_id(17));
    r.mac = src.get(nv::raw_id(18));
    r.l = src.get(nv::u32_array_id(19));
    r.net = src.get(nv::u32_id(20));
    r.mask = src.get(nv::u32_id(21));
    nv::message out;
    for (uint32_t k = 0; k < 8; ++k)
      out.set(nv::u32_id(k + 1), r.n[k]);
    for (uint32_t k = 0; k < 4; ++k)
      out.set(nv::bool_id(k + 9), r.b[k]);
    for (uint32_t k = 0; k < 3; ++k)
      out.set(nv::string_id(k + 13), r.s[k]);
    out.set(nv::addr6_id(16), r.a);
    out.set(nv::u64_id(17), r.q);
    out.set(nv::raw_id(18), r.mac);
    out.set(nv::u32_array_id(19), r.l);
    out.set(nv::u32_id(20), r.net);
    out.set(nv::u32_id(21), r.mask);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(peerPackByHand);

} // namespace

BENCHMARK_MAIN();
