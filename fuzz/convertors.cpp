// Feeds arbitrary text to every convertor kind: the first byte picks the kind, the rest is the
// typed text. A text that passes check must parse into an in-range value, and for the kinds
// whose text is lossless, the formatted value must read back to the same value.
#include "gen/Enumerations.h"
#include "miw/ConvertorAddress.h"
#include "miw/ConvertorBits.h"
#include "miw/ConvertorList.h"
#include "miw/ConvertorMessage.h"
#include "miw/ConvertorNetwork.h"
#include "miw/ConvertorNumber.h"
#include "miw/ConvertorRate.h"
#include "miw/ConvertorRows.h"
#include "miw/ConvertorSet.h"
#include "miw/ConvertorTime.h"
#include "miw/Version.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>

namespace kestel {
namespace {

const MapEntry kNames[] = {{1, "ether1"}, {2, "bridge"}, {10, "vpn"}, {0, nullptr}};

enum class Text { Lossless, Lossy };

struct Kind {
  Reference<IConvertor> convertor;
  Text text;
  std::function<bool(const FieldValue&)> inRange;
};

template <typename T> std::function<bool(const FieldValue&)> holds() {
  return [](const FieldValue& v) { return std::holds_alternative<T>(v); };
}

std::function<bool(const FieldValue&)> u32In(uint32_t lo, uint32_t hi) {
  return [=](const FieldValue& v) {
    const auto* x = std::get_if<uint32_t>(&v);
    return x && *x >= lo && *x <= hi;
  };
}

std::function<bool(const FieldValue&)> i32In(int32_t lo, int32_t hi) {
  return [=](const FieldValue& v) {
    const auto* x = std::get_if<uint32_t>(&v);
    return x && static_cast<int32_t>(*x) >= lo && static_cast<int32_t>(*x) <= hi;
  };
}

std::vector<Kind> makeKinds() {
  static Reference<IEnum> names = createEnum(kNames);
  auto number = numberConvertor({10, 3, 1000, 0}, RadixWords::Named);
  std::vector<Kind> kinds = {
      {number, Text::Lossless, u32In(3, 1000)},
      {numberConvertor({16, 0, 0xFFFFFFFF, 0}, RadixWords::Named), Text::Lossless, u32In(0, ~0u)},
      {numberConvertor({2, 5, 0xFFFFFFF0, 5}, RadixWords::Named), Text::Lossless,
       u32In(5, 0xFFFFFFF0)},
      {bigNumberConvertor(5, ~uint64_t{0} - 5), Text::Lossless,
       [](const FieldValue& v) {
         const auto* x = std::get_if<uint64_t>(&v);
         return x && *x >= 5 && *x <= ~uint64_t{0} - 5;
       }},
      {integerConvertor(-1000, 1000, INT_MAX), Text::Lossless, i32In(-1000, 1000)},
      {rangeConvertor(1, 4094, Signedness::Unsigned), Text::Lossless,
       [](const FieldValue& v) {
         const auto* r = std::get_if<NumberRange>(&v);
         return r && r->low >= 1 && r->low <= r->high && r->high <= 4094;
       }},
      {rangeConvertor(uint32_t(-50), 50, Signedness::Signed), Text::Lossless,
       [](const FieldValue& v) {
         const auto* r = std::get_if<NumberRange>(&v);
         return r && int32_t(r->low) >= -50 && int32_t(r->low) <= int32_t(r->high) &&
                int32_t(r->high) <= 50;
       }},
      {numberListConvertor(0, 99, Signedness::Unsigned, 1, 5), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<uint32_t>>(&v);
         if (!l || l->empty() || l->size() > 5)
           return false;
         for (uint32_t x : *l)
           if (x > 99)
             return false;
         return true;
       }},
      {elementListConvertor(ipv4Convertor(ZeroAddress::Invalid), ListElements::Numbers),
       Text::Lossless, holds<std::vector<uint32_t>>()},
      {setConvertor(names.get(), SetWords::One), Text::Lossless, holds<uint32_t>()},
      {rangeListConvertor(10, 4000), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<uint32_t>>(&v);
         if (!l || l->size() % 2)
           return false;
         for (size_t i = 0; i < l->size(); i += 2)
           if ((*l)[i] < 10 || (*l)[i] > (*l)[i + 1] || (*l)[i + 1] > 4000)
             return false;
         return true;
       }},
      {setConvertor(names.get(), SetWords::Array), Text::Lossless, holds<std::vector<uint32_t>>()},
      {bitRateConvertor(NumberWidth::Bits32), Text::Lossy, holds<uint32_t>()},
      {bitRateConvertor(NumberWidth::Bits64), Text::Lossy, holds<uint64_t>()},
      {unitConvertor(NumberWidth::Bits32), Text::Lossless, holds<uint32_t>()},
      {bytesConvertor(ByteUnit::Bytes), Text::Lossy, holds<uint32_t>()},
      {bytesConvertor(ByteUnit::KBytes), Text::Lossy, holds<uint32_t>()},
      {bytesConvertor(ByteUnit::BigBytes), Text::Lossy, holds<uint64_t>()},
      {intervalConvertor(1, 1000000, 1), Text::Lossless, u32In(1, 1000000)},
      {intervalConvertor(0, 0xFFFFFFFF, 1000), Text::Lossless, u32In(0, ~0u)},
      {timeZoneConvertor(), Text::Lossless, holds<uint32_t>()},
      {dateAndTimeConvertor(DatePart::DateAndTime, ShowTime::UnlessMidnight), Text::Lossless,
       u32In(0, 4291747199u)},
      {dateAndTimeConvertor(DatePart::Date, ShowTime::Always), Text::Lossless,
       u32In(0, 4291747199u)},
      {dateAndTimeConvertor(DatePart::TimeOfDay, ShowTime::Always), Text::Lossless,
       u32In(0, 86399)},
      {textConvertor(1, 5), Text::Lossless, holds<std::string>()},
      {ipv4Convertor(ZeroAddress::Invalid), Text::Lossless, u32In(1, ~0u)},
      {ipv6Convertor(ZeroAddress::Valid, Ipv4InIpv6::Yes), Text::Lossless, holds<Addr6>()},
      {macConvertor(MacForm::Full, ZeroAddress::Valid), Text::Lossless,
       [](const FieldValue& v) {
         const auto* m = std::get_if<Bytes>(&v);
         return m && m->size() == 6;
       }},
      {addressConvertor(0x3FF, names.get(), names.get()), Text::Lossless, holds<AddressValue>()},
      {addressConvertor(allow::kIpv6 | allow::kPrefix | allow::kMac, names.get(), names.get()),
       Text::Lossless, holds<AddressValue>()},
      {versionConvertor(), Text::Lossless, holds<std::string>()},
      {boolConvertor(), Text::Lossless, holds<bool>()},
      {enumConvertor(names.get(), 16, false), Text::Lossless, holds<uint32_t>()},
      {altConvertor({enumConvertor(names.get(), 10, true), number}), Text::Lossless,
       holds<uint32_t>()},
      {tristateConvertor(number.get()), Text::Lossless,
       [](const FieldValue& v) {
         return std::holds_alternative<std::monostate>(v) || u32In(3, 1000)(v);
       }},
      {postfixConvertor(number.get(), " ms"), Text::Lossless, u32In(3, 1000)},
      // Kinds from here on are picked by the first bytes 36 to 43 of the seeds.
      {changeRateConvertor(NumberWidth::Bits32, RateOf::Bits), Text::Lossy, holds<uint32_t>()},
      {changeRateConvertor(NumberWidth::Bits64, RateOf::Events), Text::Lossy, holds<uint64_t>()},
      {fixedPointConvertor({16, 0, true, 16, 0xFFFFFFF0}), Text::Lossless, u32In(16, 0xFFFFFFF0)},
      {fixedPointConvertor({3, 100, false}), Text::Lossless, holds<uint32_t>()},
      {addressAndPortConvertor(80), Text::Lossless,
       [](const FieldValue& v) {
         const auto* p = std::get_if<Ipv4Pair>(&v);
         return p && p->second <= 65535;
       }},
      {ipv4NetworkConvertor({0x00FFFFFF, 128, HostBits::NonZero, ZeroAddress::Invalid}),
       Text::Lossless,
       [](const FieldValue& v) {
         const auto* p = std::get_if<Ipv4Pair>(&v);
         return p && p->address != 0 && ipv4MaskLength(p->second) >= 0;
       }},
      {ipv6NetworkConvertor({0xFFFFFFFF, 64, HostBits::Any, ZeroAddress::Valid}), Text::Lossless,
       [](const FieldValue& v) {
         const auto* p = std::get_if<Ipv6Prefix>(&v);
         return p && p->length <= 128;
       }},
      {rawConvertor(), Text::Lossless,
       [](const FieldValue& v) {
         const auto* b = std::get_if<Bytes>(&v);
         return b && b->size() <= 65535;
       }},
      // Kinds from here on are picked by the first bytes 44 to 47 of the seeds.
      {elementListConvertor(ipv6Convertor(ZeroAddress::Invalid, Ipv4InIpv6::No),
                            ListElements::Ipv6Addresses),
       Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<Addr6>>(&v);
         return l && std::find(l->begin(), l->end(), Addr6{}) == l->end();
       }},
      {elementListConvertor(ipv4NetworkConvertor({}), ListElements::Ipv4Networks), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<Ipv4Pair>>(&v);
         return l && std::all_of(l->begin(), l->end(),
                                 [](const Ipv4Pair& p) { return ipv4MaskLength(p.second) >= 0; });
       }},
      {elementListConvertor(ipv6NetworkConvertor({}), ListElements::Ipv6Networks), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<Ipv6Prefix>>(&v);
         return l && std::all_of(l->begin(), l->end(),
                                 [](const Ipv6Prefix& p) { return p.length <= 128; });
       }},
      {elementListConvertor(rawConvertor(), ListElements::ByteStrings), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<Bytes>>(&v);
         return l &&
                std::all_of(l->begin(), l->end(), [](const Bytes& b) { return b.size() <= 65535; });
       }},
      // Kinds from here on are picked by the first bytes 48 to 54 of the seeds ("0" to "6").
      {elementListConvertor(bitEntryConvertor(names.get(), BitEntry::Plain),
                            ListElements::MaskedByteStrings, ';'),
       Text::Lossless, holds<std::vector<MaskedBytes>>()},
      {elementListConvertor(bitEntryConvertor(names.get(), BitEntry::Tristate),
                            ListElements::MaskedByteStrings, ';'),
       Text::Lossless, holds<std::vector<MaskedBytes>>()},
      // One unset element shows as the empty text, which reads as no element.
      {elementListConvertor(tristateElementConvertor(), ListElements::ByteStrings), Text::Lossy,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<Bytes>>(&v);
         return l &&
                std::all_of(l->begin(), l->end(), [](const Bytes& b) { return b.size() <= 1; });
       }},
      {elementListConvertor(macNetworkConvertor(), ListElements::MaskedByteStrings), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<MaskedBytes>>(&v);
         return l && std::all_of(l->begin(), l->end(), [](const MaskedBytes& m) {
                  return m.value.size() == 6 && m.mask.size() == 6;
                });
       }},
      {tupleRowsConvertor({ipv4NetworkConvertor({}), macNetworkConvertor()}, 0), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<TupleRow>>(&v);
         return l && std::all_of(l->begin(), l->end(),
                                 [](const TupleRow& r) { return r.cells.size() == 2; });
       }},
      {tupleRowsConvertor({number}, 1), Text::Lossless,
       [](const FieldValue& v) {
         const auto* l = std::get_if<std::vector<TupleRow>>(&v);
         return l && l->size() == 1 && l->front().cells.size() == 1 &&
                u32In(3, 1000)(l->front().cells.front());
       }},
      {messageConvertor(), Text::Lossless, holds<nv::message>()},
  };
  return kinds;
}

} // namespace
} // namespace kestel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  static const std::vector<Kind> kinds = makeKinds();
  if (size == 0)
    return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)routerVersion(text);
  (void)parseVersion(text);
  const Kind& kind = kinds[data[0] % kinds.size()];
  const IConvertor& c = *kind.convertor;
  auto value = c.parse(text);
  if (c.check(text) != value.ok())
    abort();
  if (!value.ok())
    return 0;
  if (!kind.inRange(*value))
    abort();
  const std::string shown = c.format(*value);
  (void)c.magnitudeLabel(c.magnitude(*value));
  if (kind.text == Text::Lossy)
    return 0;
  // "::" alone shows as empty in address fields that take IPv4; empty reads as no address.
  if (shown.empty() && std::holds_alternative<AddressValue>(*value))
    return 0;
  auto back = c.parse(shown);
  if (!back.ok() || !(*back == *value) || c.compare(*back, *value) != 0)
    abort();
  return 0;
}
