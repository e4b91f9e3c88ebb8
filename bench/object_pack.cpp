// Packing and unpacking a 20-field object through the packer, side by side with the same work
// written out by hand against nv::message (the packer's overhead is the ratio of the two).
#include "api/object/PackerElements.h"

#include <benchmark/benchmark.h>

namespace {

using namespace kestel;

struct Rec {
  uint32_t n[8]{};
  bool flags[4]{};
  bool disabled = false;
  std::string name, comment, type;
  nv::addr6 address{};
  uint64_t bytes = 0;
  std::vector<uint8_t> mac;
  std::vector<uint32_t> ports;
};

template <size_t I> member number() {
  static const Rec probe{};
  auto at = reinterpret_cast<const char*>(&probe.n[I]) - reinterpret_cast<const char*>(&probe);
  return member(static_cast<uint32_t>(at), mbr_type_generic(4));
}

member flag(size_t i) {
  static const Rec probe{};
  auto at = reinterpret_cast<const char*>(&probe.flags[i]) - reinterpret_cast<const char*>(&probe);
  return member(static_cast<uint32_t>(at), mbr_type_generic(1));
}

Reference<IPacker> makePacker() {
  auto p = createPacker();
  p->add(createNumber(number<0>(), nv::u32_id(1)), 1);
  p->add(createNumber(number<1>(), nv::u32_id(2)), 2);
  p->add(createNumber(number<2>(), nv::u32_id(3)), 3);
  p->add(createNumber(number<3>(), nv::u32_id(6)), 6);
  p->add(createNumber(number<4>(), nv::u32_id(7)), 7);
  p->add(createNumber(number<5>(), nv::u32_id(8)), 8);
  p->add(createScaledNumber(number<6>(), nv::u32_id(9), 1000), 9);
  p->add(createNumberAsList(number<7>(), nv::u32_array_id(10)), 10);
  for (size_t i = 0; i < 4; ++i)
    p->add(createFlagBit(flag(i), nv::u32_id(11), 1u << i), 11 + static_cast<uint32_t>(i));
  p->add(createBool(memberOf(&Rec::disabled), nv::bool_id(15)), KEY_DISABLED);
  p->add(createText(memberOf(&Rec::name), nv::string_id(16)), 16);
  p->add(createText(memberOf(&Rec::comment), nv::string_id(17)), KEY_COMMENT);
  p->add(createText(memberOf(&Rec::type), nv::string_id(18)), 18);
  p->add(createAddress(memberOf(&Rec::address), nv::addr6_id(19)), 19);
  p->add(createBigNumber(memberOf(&Rec::bytes), nv::u64_id(20)), 20);
  p->add(createRawBytes(memberOf(&Rec::mac), nv::raw_id(21)), 21);
  p->add(createNumberList(memberOf(&Rec::ports), nv::u32_array_id(22)), 22);
  return p;
}

void fill(Rec& r) {
  for (uint32_t i = 0; i < 8; ++i)
    r.n[i] = 1000 * (i + 1);
  r.flags[0] = r.flags[2] = true;
  r.name = "ether1-gateway";
  r.comment = "uplink to the provider";
  r.type = "ether";
  r.address[15] = 1;
  r.bytes = 123456789012;
  r.mac = {0x02, 0, 0, 0, 0, 1};
  r.ports = {22, 80, 443};
}

void packByHand(nv::message& m, const Rec& r) {
  m.set(nv::u32_id(1), r.n[0]);
  m.set(nv::u32_id(2), r.n[1]);
  m.set(nv::u32_id(3), r.n[2]);
  m.set(nv::u32_id(6), r.n[3]);
  m.set(nv::u32_id(7), r.n[4]);
  m.set(nv::u32_id(8), r.n[5]);
  m.set(nv::u32_id(9), r.n[6] / 1000);
  m.set(nv::u32_array_id(10), std::vector<uint32_t>{r.n[7]});
  uint32_t bits = 0;
  for (size_t i = 0; i < 4; ++i)
    bits |= r.flags[i] ? 1u << i : 0;
  m.set(nv::u32_id(11), bits);
  m.set(nv::bool_id(15), r.disabled);
  m.set(nv::string_id(16), r.name);
  m.set(nv::string_id(17), r.comment);
  m.set(nv::string_id(18), r.type);
  m.set(nv::addr6_id(19), r.address);
  m.set(nv::u64_id(20), r.bytes);
  m.set(nv::raw_id(21), r.mac);
  m.set(nv::u32_array_id(22), r.ports);
}

void unpackByHand(const nv::message& m, Rec& r) {
  r.n[0] = m.get(nv::u32_id(1), r.n[0]);
  r.n[1] = m.get(nv::u32_id(2), r.n[1]);
  r.n[2] = m.get(nv::u32_id(3), r.n[2]);
  r.n[3] = m.get(nv::u32_id(6), r.n[3]);
  r.n[4] = m.get(nv::u32_id(7), r.n[4]);
  r.n[5] = m.get(nv::u32_id(8), r.n[5]);
  if (m.has(nv::u32_id(9)))
    r.n[6] = m.get(nv::u32_id(9)) * 1000;
  if (m.count(nv::u32_array_id(10)))
    r.n[7] = m.get(nv::u32_array_id(10)).front();
  if (m.has(nv::u32_id(11)))
    for (size_t i = 0; i < 4; ++i)
      r.flags[i] = (m.get(nv::u32_id(11)) & (1u << i)) != 0;
  r.disabled = m.get(nv::bool_id(15), r.disabled);
  if (m.has(nv::string_id(16)))
    r.name = m.get(nv::string_id(16));
  if (m.has(nv::string_id(17)))
    r.comment = m.get(nv::string_id(17));
  if (m.has(nv::string_id(18)))
    r.type = m.get(nv::string_id(18));
  r.address = m.get(nv::addr6_id(19), r.address);
  r.bytes = m.get(nv::u64_id(20), r.bytes);
  if (m.has(nv::raw_id(21)))
    r.mac = m.get(nv::raw_id(21));
  if (m.has(nv::u32_array_id(22)))
    r.ports = m.get(nv::u32_array_id(22));
}

void BM_PackPacker(benchmark::State& state) {
  auto packer = makePacker();
  RecordObject<Rec> o(packer);
  fill(o.rec());
  for (auto _ : state) {
    nv::message m;
    packer->pack(m, &o);
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PackByHand(benchmark::State& state) {
  Rec r;
  fill(r);
  for (auto _ : state) {
    nv::message m;
    packByHand(m, r);
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations());
}

nv::message sample() {
  Rec r;
  fill(r);
  nv::message m;
  packByHand(m, r);
  return m;
}

void BM_UnpackPacker(benchmark::State& state) {
  auto packer = makePacker();
  RecordObject<Rec> o(packer);
  nv::message m = sample();
  for (auto _ : state) {
    packer->unpack(m, &o);
    benchmark::DoNotOptimize(o.rec());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_UnpackByHand(benchmark::State& state) {
  Rec r;
  nv::message m = sample();
  for (auto _ : state) {
    unpackByHand(m, r);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PackPacker);
BENCHMARK(BM_PackByHand);
BENCHMARK(BM_UnpackPacker);
BENCHMARK(BM_UnpackByHand);

} // namespace

BENCHMARK_MAIN();
