// Encode and decode of a typical object record (10 u32, 3 strings of 20 bytes, a u32 array of 8,
// one nested message) and of a 2000-object fetch reply, side by side with protobuf on the same
// content. Run with --benchmark_enable_random_interleaving=true and compare within one run.
#include "api/wire/Message.h"
#include "api/wire/Vocabulary.h"
#include "message_codec.pb.h"

#include <benchmark/benchmark.h>

namespace {

using namespace kestel;

constexpr uint32_t kNs = 0x0E0000;
constexpr int kReplyObjects = 2000;
const uint32_t kU32Values[10] = {0, 1, 1500, 7, 65536, 255, 256, 0xFFFFFFFF, 42, 100000};

std::string text20(uint32_t i, char c) {
  std::string s(20, c);
  s[0] = char('a' + i % 26);
  return s;
}

nv::message ourRecord(uint32_t i) {
  nv::message nested;
  nested.set(nv::u32_id(kNs | 1), 1u);
  nested.set(nv::u32_id(kNs | 2), 70000u);
  nested.set(nv::string_id(kNs | 3), "nested-text");
  nv::message m;
  m.set(STD_ID, i);
  for (uint32_t k = 1; k < 10; ++k)
    m.set(nv::u32_id(kNs | (k + 1)), kU32Values[k] + i);
  m.set(STD_NAME, text20(i, 'n'));
  m.set(STD_DESCR, text20(i, 'c'));
  m.set(nv::string_id(kNs | 13), text20(i, 'i'));
  m.set(nv::u32_array_id(kNs | 14), {1, 2, 3, 400, 5000, 60000, 7, 8});
  m.set(nv::message_id(kNs | 15), nested);
  return m;
}

void protoRecord(kestelbench::Record& r, uint32_t i) {
  r.set_id(i);
  r.set_f2(kU32Values[1] + i);
  r.set_f3(kU32Values[2] + i);
  r.set_f4(kU32Values[3] + i);
  r.set_f5(kU32Values[4] + i);
  r.set_f6(kU32Values[5] + i);
  r.set_f7(kU32Values[6] + i);
  r.set_f8(kU32Values[7] + i);
  r.set_f9(kU32Values[8] + i);
  r.set_f10(kU32Values[9] + i);
  r.set_name(text20(i, 'n'));
  r.set_comment(text20(i, 'c'));
  r.set_iface(text20(i, 'i'));
  for (uint32_t v : {1u, 2u, 3u, 400u, 5000u, 60000u, 7u, 8u})
    r.add_values(v);
  r.mutable_nested()->set_a(1);
  r.mutable_nested()->set_b(70000);
  r.mutable_nested()->set_s("nested-text");
}

nv::message ourReply() {
  std::vector<nv::message> objs;
  for (uint32_t i = 0; i < kReplyObjects; ++i)
    objs.push_back(ourRecord(i));
  nv::message m;
  m.set(SYS_TO, {0x10, 0x20});
  m.set(SYS_FROM, {7});
  m.set(SYS_TYPE, TYPE_REPLY);
  m.set(SYS_STATUS, STATUS_OK);
  m.set(SYS_REQID, 12345u);
  m.set(SYS_CMD, CMD_GETALL);
  m.set(STD_OBJS, objs);
  return m;
}

kestelbench::Reply protoReply() {
  kestelbench::Reply r;
  r.add_to(0x10);
  r.add_to(0x20);
  r.add_from(7);
  r.set_type(TYPE_REPLY);
  r.set_status(STATUS_OK);
  r.set_reqid(12345);
  r.set_cmd(CMD_GETALL);
  for (uint32_t i = 0; i < kReplyObjects; ++i)
    protoRecord(*r.add_objs(), i);
  return r;
}

std::vector<uint8_t> ourBytes(const nv::message& m) {
  std::vector<uint8_t> out;
  if (!m.flatten(out))
    std::abort();
  return out;
}

template <typename Make> void encodeOurs(benchmark::State& state, Make make) {
  const nv::message m = make();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(m.flatten(out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * out.size()));
}

template <typename Make> void encodeProto(benchmark::State& state, Make make) {
  const auto r = make();
  std::string out;
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(r.SerializeToString(&out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * out.size()));
}

// A fresh message per decode, as a receiver gets it.
template <typename Make> void decodeOurs(benchmark::State& state, Make make) {
  const std::vector<uint8_t> bytes = ourBytes(make());
  for (auto _ : state) {
    nv::message m;
    benchmark::DoNotOptimize(m.parse(bytes));
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

template <typename Proto, typename Make> void decodeProto(benchmark::State& state, Make make) {
  const std::string bytes = make().SerializeAsString();
  for (auto _ : state) {
    Proto r;
    benchmark::DoNotOptimize(r.ParseFromString(bytes));
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

void BM_EncodeRecord_Ours(benchmark::State& s) {
  encodeOurs(s, [] { return ourRecord(1); });
}
void BM_EncodeRecord_Protobuf(benchmark::State& s) {
  encodeProto(s, [] {
    kestelbench::Record r;
    protoRecord(r, 1);
    return r;
  });
}
void BM_DecodeRecord_Ours(benchmark::State& s) {
  decodeOurs(s, [] { return ourRecord(1); });
}
void BM_DecodeRecord_Protobuf(benchmark::State& s) {
  decodeProto<kestelbench::Record>(s, [] {
    kestelbench::Record r;
    protoRecord(r, 1);
    return r;
  });
}
void BM_EncodeReply_Ours(benchmark::State& s) { encodeOurs(s, ourReply); }
void BM_EncodeReply_Protobuf(benchmark::State& s) { encodeProto(s, protoReply); }
void BM_DecodeReply_Ours(benchmark::State& s) { decodeOurs(s, ourReply); }
void BM_DecodeReply_Protobuf(benchmark::State& s) {
  decodeProto<kestelbench::Reply>(s, protoReply);
}

// The reply decoded and every object in it decoded too: what protobuf's decode does in one step.
void BM_DecodeReplyAndObjects_Ours(benchmark::State& state) {
  const std::vector<uint8_t> bytes = ourBytes(ourReply());
  for (auto _ : state) {
    nv::message m;
    benchmark::DoNotOptimize(m.parse(bytes));
    std::vector<nv::message> objs = m.get(STD_OBJS);
    benchmark::DoNotOptimize(objs.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

BENCHMARK(BM_EncodeRecord_Ours);
BENCHMARK(BM_EncodeRecord_Protobuf);
BENCHMARK(BM_DecodeRecord_Ours);
BENCHMARK(BM_DecodeRecord_Protobuf);
BENCHMARK(BM_EncodeReply_Ours);
BENCHMARK(BM_EncodeReply_Protobuf);
BENCHMARK(BM_DecodeReply_Ours);
BENCHMARK(BM_DecodeReply_Protobuf);
BENCHMARK(BM_DecodeReplyAndObjects_Ours);

} // namespace

BENCHMARK_MAIN();
