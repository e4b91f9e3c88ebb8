// The message codec side by side with protobuf (the peer) on the same content, in one process.
//
// Every comparison starts from the same plain structs in memory and ends with the same usable
// result on both sides:
// - Encode: from a RecordData (or a ReplyData of 2000 records) build the message, nested message
//   included, and encode it into a reused byte buffer. Kestel builds an nv::message with set()
//   (the reply's objects are built one by one and append()ed) and flatten()s it; protobuf builds a
//   fresh Record/Reply with its setters (add_objs() per object) and serialises it.
// - Decode: from the encoded bytes decode the message, nested messages included, and copy every
//   field into a fresh RecordData (or ReplyData). Kestel parses, get()s every field and decodes
//   the nested message(s) (the reply's objects one at a time with forEach()); protobuf parses
//   (nested messages are decoded by the parse) and copies every field out.
// Rows named "...Arena" give protobuf an arena (one per iteration) on the same work.
// Rows named "...LazyNested" are NOT the same work: the Kestel side parses and leaves nested
// messages encoded, reading no field; the protobuf side parses only. They show what forwarding
// a message costs and are kept apart from the ratios above them.
//
// Run: bench_message_codec --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
// After the usual table the program prints one ratio row per workload, "kestel/protobuf = x.xx":
// the protobuf median CPU time divided by the Kestel median CPU time of the same run (above 1:
// Kestel is faster).
#include "api/wire/Message.h"
#include "api/wire/Vocabulary.h"
#include "message_codec.pb.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kestel;

constexpr uint32_t kNs = 0x0E0000;
constexpr int kReplyObjects = 2000;
const uint32_t kU32Values[10] = {0, 1, 1500, 7, 65536, 255, 256, 0xFFFFFFFF, 42, 100000};

// ---- the plain structs both sides start from and end with ---------------------------------------

struct NestedData {
  uint32_t a = 0;
  uint32_t b = 0;
  std::string s;
  friend bool operator==(const NestedData&, const NestedData&) = default;
};

struct RecordData {
  uint32_t id = 0;
  uint32_t f[9]{}; // f2 .. f10
  std::string name, comment, iface;
  std::vector<uint32_t> values;
  NestedData nested;
  friend bool operator==(const RecordData&, const RecordData&) = default;
};

struct ReplyData {
  std::vector<uint32_t> to, from;
  uint32_t type = 0, status = 0, reqid = 0, cmd = 0;
  std::vector<RecordData> objs;
  friend bool operator==(const ReplyData&, const ReplyData&) = default;
};

std::string text20(uint32_t i, char c) {
  std::string s(20, c);
  s[0] = char('a' + i % 26);
  return s;
}

RecordData makeRecord(uint32_t i) {
  RecordData r;
  r.id = i;
  for (uint32_t k = 0; k < 9; ++k)
    r.f[k] = kU32Values[k + 1] + i;
  r.name = text20(i, 'n');
  r.comment = text20(i, 'c');
  r.iface = text20(i, 'i');
  r.values = {1, 2, 3, 400, 5000, 60000, 7, 8};
  r.nested = {1, 70000, "nested-text"};
  return r;
}

ReplyData makeReply() {
  ReplyData r;
  r.to = {0x10, 0x20};
  r.from = {7};
  r.type = TYPE_REPLY;
  r.status = STATUS_OK;
  r.reqid = 12345;
  r.cmd = CMD_GETALL;
  for (uint32_t i = 0; i < kReplyObjects; ++i)
    r.objs.push_back(makeRecord(i));
  return r;
}

// ---- Kestel: structs to messages and back -------------------------------------------------------

constexpr nv::u32_id kNestedA{kNs | 1};
constexpr nv::u32_id kNestedB{kNs | 2};
constexpr nv::string_id kNestedS{kNs | 3};
constexpr nv::string_id kIface{kNs | 13};
constexpr nv::u32_array_id kValues{kNs | 14};
constexpr nv::message_id kNested{kNs | 15};
constexpr nv::u32_id fieldId(uint32_t k) { return nv::u32_id(kNs | (k + 2)); } // f2 .. f10

nv::message toMessage(const RecordData& r) {
  nv::message nested;
  nested.set(kNestedA, r.nested.a);
  nested.set(kNestedB, r.nested.b);
  nested.set(kNestedS, r.nested.s);
  nv::message m;
  m.set(STD_ID, r.id);
  for (uint32_t k = 0; k < 9; ++k)
    m.set(fieldId(k), r.f[k]);
  m.set(STD_NAME, r.name);
  m.set(STD_DESCR, r.comment);
  m.set(kIface, r.iface);
  m.set(kValues, r.values);
  m.set(kNested, nested);
  return m;
}

// Objects are appended one by one, as protobuf's add_objs() does.
nv::message toMessage(const ReplyData& r) {
  nv::message m;
  m.set(SYS_TO, r.to);
  m.set(SYS_FROM, r.from);
  m.set(SYS_TYPE, r.type);
  m.set(SYS_STATUS, r.status);
  m.set(SYS_REQID, r.reqid);
  m.set(SYS_CMD, r.cmd);
  for (const RecordData& o : r.objs)
    m.append(STD_OBJS, toMessage(o));
  return m;
}

RecordData fromMessage(const nv::message& m) {
  RecordData r;
  r.id = m.get(STD_ID);
  for (uint32_t k = 0; k < 9; ++k)
    r.f[k] = m.get(fieldId(k));
  r.name = m.get(STD_NAME);
  r.comment = m.get(STD_DESCR);
  r.iface = m.get(kIface);
  r.values = m.get(kValues);
  const nv::message nested = m.get(kNested);
  r.nested.a = nested.get(kNestedA);
  r.nested.b = nested.get(kNestedB);
  r.nested.s = nested.get(kNestedS);
  return r;
}

ReplyData replyFromMessage(const nv::message& m) {
  ReplyData r;
  r.to = m.get(SYS_TO);
  r.from = m.get(SYS_FROM);
  r.type = m.get(SYS_TYPE);
  r.status = m.get(SYS_STATUS);
  r.reqid = m.get(SYS_REQID);
  r.cmd = m.get(SYS_CMD);
  r.objs.reserve(m.count(STD_OBJS));
  m.forEach(STD_OBJS, [&](const nv::message& o) { r.objs.push_back(fromMessage(o)); });
  return r;
}

// ---- protobuf: the same structs to messages and back --------------------------------------------

void toProto(const RecordData& d, kestelbench::Record& r) {
  r.set_id(d.id);
  r.set_f2(d.f[0]);
  r.set_f3(d.f[1]);
  r.set_f4(d.f[2]);
  r.set_f5(d.f[3]);
  r.set_f6(d.f[4]);
  r.set_f7(d.f[5]);
  r.set_f8(d.f[6]);
  r.set_f9(d.f[7]);
  r.set_f10(d.f[8]);
  r.set_name(d.name);
  r.set_comment(d.comment);
  r.set_iface(d.iface);
  r.mutable_values()->Add(d.values.begin(), d.values.end());
  kestelbench::Nested* n = r.mutable_nested();
  n->set_a(d.nested.a);
  n->set_b(d.nested.b);
  n->set_s(d.nested.s);
}

void toProto(const ReplyData& d, kestelbench::Reply& r) {
  r.mutable_to()->Add(d.to.begin(), d.to.end());
  r.mutable_from()->Add(d.from.begin(), d.from.end());
  r.set_type(d.type);
  r.set_status(d.status);
  r.set_reqid(d.reqid);
  r.set_cmd(d.cmd);
  r.mutable_objs()->Reserve(int(d.objs.size()));
  for (const RecordData& o : d.objs)
    toProto(o, *r.add_objs());
}

RecordData fromProto(const kestelbench::Record& p) {
  RecordData r;
  r.id = p.id();
  r.f[0] = p.f2();
  r.f[1] = p.f3();
  r.f[2] = p.f4();
  r.f[3] = p.f5();
  r.f[4] = p.f6();
  r.f[5] = p.f7();
  r.f[6] = p.f8();
  r.f[7] = p.f9();
  r.f[8] = p.f10();
  r.name = p.name();
  r.comment = p.comment();
  r.iface = p.iface();
  r.values.assign(p.values().begin(), p.values().end());
  r.nested.a = p.nested().a();
  r.nested.b = p.nested().b();
  r.nested.s = p.nested().s();
  return r;
}

ReplyData fromProto(const kestelbench::Reply& p) {
  ReplyData r;
  r.to.assign(p.to().begin(), p.to().end());
  r.from.assign(p.from().begin(), p.from().end());
  r.type = p.type();
  r.status = p.status();
  r.reqid = p.reqid();
  r.cmd = p.cmd();
  r.objs.reserve(size_t(p.objs_size()));
  for (const kestelbench::Record& o : p.objs())
    r.objs.push_back(fromProto(o));
  return r;
}

// ---- the workloads, each checked once before it is timed ----------------------------------------

template <typename Data> struct Workload;

template <> struct Workload<RecordData> {
  using Proto = kestelbench::Record;
  static const RecordData& data() {
    static const RecordData d = makeRecord(1);
    return d;
  }
  static RecordData fromOurs(const nv::message& m) { return fromMessage(m); }
};

template <> struct Workload<ReplyData> {
  using Proto = kestelbench::Reply;
  static const ReplyData& data() {
    static const ReplyData d = makeReply();
    return d;
  }
  static ReplyData fromOurs(const nv::message& m) { return replyFromMessage(m); }
};

template <typename Data> std::vector<uint8_t> ourBytes() {
  std::vector<uint8_t> out;
  if (!toMessage(Workload<Data>::data()).flatten(out))
    std::abort();
  // Both sides must get the data back intact, or the comparison means nothing.
  if (!(Workload<Data>::fromOurs(nv::message(out)) == Workload<Data>::data()))
    std::abort();
  return out;
}

template <typename Data> std::string protoBytes() {
  typename Workload<Data>::Proto p;
  toProto(Workload<Data>::data(), p);
  std::string out = p.SerializeAsString();
  typename Workload<Data>::Proto back;
  if (!back.ParseFromString(out) || !(fromProto(back) == Workload<Data>::data()))
    std::abort();
  return out;
}

template <typename Data> void encodeKestel(benchmark::State& state) {
  const Data& d = Workload<Data>::data();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    out.clear();
    const nv::message m = toMessage(d);
    benchmark::DoNotOptimize(m.flatten(out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * out.size()));
}

template <typename Data> void encodeProtobuf(benchmark::State& state) {
  const Data& d = Workload<Data>::data();
  std::string out;
  for (auto _ : state) {
    out.clear();
    typename Workload<Data>::Proto p;
    toProto(d, p);
    benchmark::DoNotOptimize(p.SerializeToString(&out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * out.size()));
}

template <typename Data> void encodeProtobufArena(benchmark::State& state) {
  using Proto = typename Workload<Data>::Proto;
  const Data& d = Workload<Data>::data();
  std::string out;
  for (auto _ : state) {
    out.clear();
    google::protobuf::Arena arena;
    Proto* p = google::protobuf::Arena::CreateMessage<Proto>(&arena);
    toProto(d, *p);
    benchmark::DoNotOptimize(p->SerializeToString(&out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * out.size()));
}

template <typename Data> void decodeKestel(benchmark::State& state) {
  const std::vector<uint8_t> bytes = ourBytes<Data>();
  for (auto _ : state) {
    const nv::message m(bytes);
    Data d = Workload<Data>::fromOurs(m);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

template <typename Data> void decodeProtobuf(benchmark::State& state) {
  const std::string bytes = protoBytes<Data>();
  for (auto _ : state) {
    typename Workload<Data>::Proto p;
    benchmark::DoNotOptimize(p.ParseFromString(bytes));
    Data d = fromProto(p);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

template <typename Data> void decodeProtobufArena(benchmark::State& state) {
  using Proto = typename Workload<Data>::Proto;
  const std::string bytes = protoBytes<Data>();
  for (auto _ : state) {
    google::protobuf::Arena arena;
    Proto* p = google::protobuf::Arena::CreateMessage<Proto>(&arena);
    benchmark::DoNotOptimize(p->ParseFromString(bytes));
    Data d = fromProto(*p);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

// Not the same work: nested messages stay encoded on the Kestel side and no field is read.
template <typename Data> void decodeLazyKestel(benchmark::State& state) {
  const std::vector<uint8_t> bytes = ourBytes<Data>();
  for (auto _ : state) {
    nv::message m;
    benchmark::DoNotOptimize(m.parse(bytes));
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

template <typename Data> void decodeLazyProtobuf(benchmark::State& state) {
  const std::string bytes = protoBytes<Data>();
  for (auto _ : state) {
    typename Workload<Data>::Proto p;
    benchmark::DoNotOptimize(p.ParseFromString(bytes));
    benchmark::DoNotOptimize(p);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

// Names are "<row>/<side>"; the ratio rows pair the sides of one row.
BENCHMARK(encodeKestel<RecordData>)->Name("EncodeRecord/Kestel");
BENCHMARK(encodeProtobuf<RecordData>)->Name("EncodeRecord/Protobuf");
BENCHMARK(encodeProtobufArena<RecordData>)->Name("EncodeRecord/ProtobufArena");
BENCHMARK(decodeKestel<RecordData>)->Name("DecodeRecord/Kestel");
BENCHMARK(decodeProtobuf<RecordData>)->Name("DecodeRecord/Protobuf");
BENCHMARK(decodeProtobufArena<RecordData>)->Name("DecodeRecord/ProtobufArena");
BENCHMARK(encodeKestel<ReplyData>)->Name("EncodeReply/Kestel");
BENCHMARK(encodeProtobuf<ReplyData>)->Name("EncodeReply/Protobuf");
BENCHMARK(encodeProtobufArena<ReplyData>)->Name("EncodeReply/ProtobufArena");
BENCHMARK(decodeKestel<ReplyData>)->Name("DecodeReply/Kestel");
BENCHMARK(decodeProtobuf<ReplyData>)->Name("DecodeReply/Protobuf");
BENCHMARK(decodeProtobufArena<ReplyData>)->Name("DecodeReply/ProtobufArena");
BENCHMARK(decodeLazyKestel<RecordData>)->Name("DecodeRecordLazyNested/Kestel");
BENCHMARK(decodeLazyProtobuf<RecordData>)->Name("DecodeRecordLazyNested/Protobuf");
BENCHMARK(decodeLazyKestel<ReplyData>)->Name("DecodeReplyLazyNested/Kestel");
BENCHMARK(decodeLazyProtobuf<ReplyData>)->Name("DecodeReplyLazyNested/Protobuf");

// ---- ratio rows ---------------------------------------------------------------------------------

// Shows the usual table, keeps every repetition's time per benchmark, and at the end prints for
// each row the protobuf median divided by the Kestel median (both from this process). CPU time
// of the benchmark thread is compared: the machine may be shared, and both sides run on one thread.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        times_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime() /
                                                   benchmark::GetTimeUnitMultiplier(r.time_unit));
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nRatios (speed of Kestel over the peer, median of %s):\n",
                repetitionsText().c_str());
    for (const auto& [name, _] : times_) {
      const size_t slash = name.find('/');
      if (slash == std::string::npos || name.substr(slash + 1) != "Kestel")
        continue;
      const std::string row = name.substr(0, slash);
      const bool lazy = row.find("LazyNested") != std::string::npos;
      for (const char* peer : {"Protobuf", "ProtobufArena"}) {
        auto it = times_.find(row + "/" + peer);
        if (it == times_.end())
          continue;
        const double ours = median(times_[name]);
        const double theirs = median(it->second);
        std::printf("  %-24s kestel/%-14s = %5.2f   (%.3g us vs %.3g us)%s\n", row.c_str(),
                    peer == std::string("Protobuf") ? "protobuf" : "protobuf-arena", theirs / ours,
                    ours * 1e6, theirs * 1e6,
                    lazy ? "  [not the same work: nested left encoded]" : "");
      }
    }
  }

private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  std::string repetitionsText() const {
    size_t n = 0;
    for (const auto& [_, v] : times_)
      n = std::max(n, v.size());
    return std::to_string(n) + (n == 1 ? " repetition" : " repetitions");
  }

  std::map<std::string, std::vector<double>> times_;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
