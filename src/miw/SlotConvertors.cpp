#include "miw/SlotConvertors.h"

#include "gen/Slot.h"
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
#include "miw/ViewChoice.h"

#include <functional>
#include <map>
#include <string>

namespace kestel {

namespace {

using Maker = std::function<Reference<IConvertor>(const Slot&)>;

// A numeric kind key kept as an option; `fallback` when absent or not a number.
uint64_t optionNumber(const Slot& slot, std::string_view key, uint64_t fallback) {
  const JSValue* v = slot.option(key);
  return v && v->kind == JSNodeKind::Number ? v->number : fallback;
}

bool optionSet(const Slot& slot, std::string_view key) { return optionNumber(slot, key, 0) != 0; }

ZeroAddress zeroRule(const Slot& slot) {
  return optionSet(slot, "zeroinvalid") ? ZeroAddress::Invalid : ZeroAddress::Valid;
}

// Number kinds offer the names of their enumeration first, then the number itself.
Reference<IConvertor> withNames(const Slot& slot, Reference<IConvertor> inner, unsigned radix) {
  if (!slot.enumeration())
    return inner;
  return altConvertor({enumConvertor(slot.enumeration().get(), radix, true), std::move(inner)});
}

Reference<IConvertor> unsignedNumber(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  Reference<IConvertor> c = numberConvertor(
      {n.radixValue(), n.minValue(), n.maxValue(), n.defValue()}, RadixWords::Plain);
  return withNames(slot, std::move(c), n.radixValue());
}

Reference<IConvertor> signedNumber(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  return withNames(
      slot,
      integerConvertor(static_cast<int>(n.minValue()), static_cast<int>(n.maxValue()), 0x7FFFFFFF),
      10);
}

Reference<IConvertor> enumeration(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  return enumConvertor(slot.enumeration().get(), n.radixValue(), optionSet(slot, "strict"));
}

Reference<IConvertor> text(const Slot& slot) {
  const auto& s = static_cast<const SString&>(slot);
  if (s.strict() && s.enumeration())
    return enumConvertor(s.enumeration().get(), 10, true);
  return textConvertor(s.minLen(), s.maxLen());
}

Reference<IConvertor> range(const Slot& slot, Signedness sign) {
  auto lo = static_cast<uint32_t>(optionNumber(slot, "min", 0));
  auto hi = static_cast<uint32_t>(optionNumber(slot, "max", 0xFFFFFFFF));
  if (sign == Signedness::Signed && !slot.option("min") && !slot.option("max")) {
    lo = 0x80000000u;
    hi = 0x7FFFFFFFu;
  }
  return rangeConvertor(lo, hi, sign);
}

Reference<IConvertor> numberList(const Slot& slot) {
  auto lo = static_cast<uint32_t>(optionNumber(slot, "min", 0));
  auto hi = static_cast<uint32_t>(optionNumber(slot, "max", 0xFFFFFFFF));
  auto most = static_cast<uint32_t>(optionNumber(slot, "maxsize", 0xFFFFFFFF));
  return numberListConvertor(lo, hi, Signedness::Unsigned, 0, most);
}

Reference<IConvertor> interval(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  return intervalConvertor(n.minValue(), n.maxValue(), 1);
}

Reference<IConvertor> address(const Slot& slot) {
  unsigned bits = static_cast<const SAddress&>(slot).allowBits();
  if (bits == 0)
    bits = allow::kIpv4 | allow::kIpv6;
  IEnum* interfaces = (bits & allow::kIface) ? slot.enumeration().get() : nullptr;
  return addressConvertor(bits, interfaces, nullptr);
}

Reference<IConvertor> ipv6(const Slot& slot) {
  return ipv6Convertor(zeroRule(slot),
                       optionSet(slot, "allowipv4") ? Ipv4InIpv6::Yes : Ipv4InIpv6::No);
}

enum class Family { Ipv4, Ipv6 };

// Counters scaled by 8 count bits: their rates show as bit rates.
Reference<IConvertor> changeRate(const Slot& slot, NumberWidth width) {
  return changeRateConvertor(width, slot.fields()[0].scale == 8 ? RateOf::Bits : RateOf::Events);
}

Reference<IConvertor> fixedPoint(const Slot& slot) {
  const auto& n = static_cast<const SNumber&>(slot);
  FixedPointShape shape;
  shape.scale = slot.fields()[0].scale;
  shape.offset = static_cast<int64_t>(optionNumber(slot, "offset", 0));
  shape.trimZeros = optionSet(slot, "trimzeros");
  shape.min = n.minValue();
  shape.max = n.maxValue();
  return fixedPointConvertor(shape);
}

// A network's default mask ("defmask", held like the address) or prefix length ("deflen"). The
// lists of networks keep no default mask: an element without one is a single host.
Reference<IConvertor> network(const Slot& slot, Family family) {
  NetworkShape shape;
  const auto* number = dynamic_cast<const SNumber*>(&slot);
  if (family == Family::Ipv4 && number) {
    const uint32_t mask = number->secondDefault();
    shape.defaultMask = mask != 0 ? mask : 0xFFFFFFFF;
  }
  shape.defaultLength = static_cast<uint32_t>(optionNumber(slot, "deflen", 128));
  shape.host = optionSet(slot, "hostnonzero") ? HostBits::NonZero : HostBits::Any;
  shape.zero = zeroRule(slot);
  return family == Family::Ipv4 ? ipv4NetworkConvertor(shape) : ipv6NetworkConvertor(shape);
}

// Lists of bit-set entries; each entry names its bits, so the entries are joined with ";".
Reference<IConvertor> bitList(const Slot& slot, BitEntry form) {
  return elementListConvertor(bitEntryConvertor(slot.enumeration().get(), form),
                              ListElements::MaskedByteStrings, ';');
}

// The multi-value containers: one column per inner slot, through the element convertor of a
// multi-value inner slot or the convertor of a single-valued one (then the rows are exactly one).
// None when an inner slot has no convertor.
Reference<IConvertor> tupleRows(const Slot& slot) {
  std::vector<Reference<IConvertor>> columns;
  size_t fixed = 0;
  for (const auto& inner : slot.inner()) {
    Reference<IBase> made = inner->createConvertor();
    auto* c = static_cast<IConvertor*>(made.get());
    if (!c)
      return {};
    if (isMultiKind(inner->kind())) {
      auto* list = static_cast<IListConvertor*>(c->cast(kListConvertorInterface));
      if (!list)
        return {};
      columns.push_back(list->element());
    } else {
      columns.push_back(Reference<IConvertor>(c));
      fixed = 1;
    }
  }
  if (columns.empty())
    return {};
  return tupleRowsConvertor(std::move(columns), fixed);
}

Maker fixed(std::function<Reference<IConvertor>()> f) {
  return [f = std::move(f)](const Slot&) { return f(); };
}

const std::map<std::string_view, Maker>& makers() {
  static const std::map<std::string_view, Maker> table = {
      {"addr", address},
      {"age", interval},
      {"as", unsignedNumber},
      {"bigbitchangerate",
       fixed([] { return changeRateConvertor(NumberWidth::Bits64, RateOf::Bits); })},
      {"bigchangerate", [](const Slot& s) { return changeRate(s, NumberWidth::Bits64); }},
      {"bigbitrate", fixed([] { return bitRateConvertor(NumberWidth::Bits64); })},
      {"bigbytes", fixed([] { return bytesConvertor(ByteUnit::BigBytes); })},
      {"bigdecimal", fixed([] { return bigNumberConvertor(0, UINT64_MAX); })},
      {"bignumber", fixed([] { return bigNumberConvertor(0, UINT64_MAX); })},
      {"bigunit", fixed([] { return unitConvertor(NumberWidth::Bits64); })},
      {"bitrate", fixed([] { return bitRateConvertor(NumberWidth::Bits32); })},
      {"bool", fixed(boolConvertor)},
      {"bytes", fixed([] { return bytesConvertor(ByteUnit::Bytes); })},
      {"changerate", [](const Slot& s) { return changeRate(s, NumberWidth::Bits32); }},
      {"clockdate", fixed([] { return dateAndTimeConvertor(DatePart::Date, ShowTime::Always); })},
      {"clocktime",
       fixed([] { return dateAndTimeConvertor(DatePart::TimeOfDay, ShowTime::Always); })},
      {"comment", text},
      {"community", [](const Slot& s) { return range(s, Signedness::Unsigned); }},
      {"date", fixed([] { return dateAndTimeConvertor(DatePart::Date, ShowTime::Always); })},
      {"dateandtime",
       fixed([] { return dateAndTimeConvertor(DatePart::DateAndTime, ShowTime::UnlessMidnight); })},
      {"decimal", unsignedNumber},
      {"enm", enumeration},
      {"file", text},
      {"fixedpoint", fixedPoint},
      {"flag", fixed(boolConvertor)},
      {"gridmultinumber", numberList},
      {"integer", signedNumber},
      {"integerrange", [](const Slot& s) { return range(s, Signedness::Signed); }},
      {"interval", interval},
      {"ip6addr", ipv6},
      {"ipaddrandport",
       [](const Slot& s) {
         return addressAndPortConvertor(static_cast<const SNumber&>(s).secondDefault());
       }},
      {"ipaddr", [](const Slot& s) { return ipv4Convertor(zeroRule(s)); }},
      {"kbytes", fixed([] { return bytesConvertor(ByteUnit::KBytes); })},
      {"macaddr", [](const Slot& s) { return macConvertor(MacForm::Full, zeroRule(s)); }},
      {"macnetwork", fixed(macNetworkConvertor)},
      {"message", fixed(messageConvertor)},
      {"multi", tupleRows},
      {"multibits", [](const Slot& s) { return bitList(s, BitEntry::Plain); }},
      {"multiipaddr",
       [](const Slot& s) {
         return elementListConvertor(ipv4Convertor(zeroRule(s)), ListElements::Numbers);
       }},
      {"multiip6addr",
       [](const Slot& s) {
         return elementListConvertor(ipv6Convertor(zeroRule(s), Ipv4InIpv6::No),
                                     ListElements::Ipv6Addresses);
       }},
      {"multilinestring", text},
      {"multinetwork",
       [](const Slot& s) {
         return elementListConvertor(network(s, Family::Ipv4), ListElements::Ipv4Networks);
       }},
      {"multinetwork6",
       [](const Slot& s) {
         return elementListConvertor(network(s, Family::Ipv6), ListElements::Ipv6Networks);
       }},
      {"multimacnetwork", fixed([] {
         return elementListConvertor(macNetworkConvertor(), ListElements::MaskedByteStrings);
       })},
      {"multinumber", numberList},
      {"multiraw",
       fixed([] { return elementListConvertor(rawConvertor(), ListElements::ByteStrings); })},
      {"multistring", fixed([] {
         return elementListConvertor(textConvertor(0, 0xFFFFFFFF), ListElements::Texts);
       })},
      {"multitristate", [](const Slot& s) { return bitList(s, BitEntry::Tristate); }},
      {"multitristatearray", fixed([] {
         return elementListConvertor(tristateElementConvertor(), ListElements::ByteStrings);
       })},
      {"multituple", tupleRows},
      {"netmask", fixed([] { return ipv4Convertor(ZeroAddress::Valid); })},
      {"network", [](const Slot& s) { return network(s, Family::Ipv4); }},
      {"network6", [](const Slot& s) { return network(s, Family::Ipv6); }},
      {"number", unsignedNumber},
      {"numberlist", numberList},
      {"numberrange", [](const Slot& s) { return range(s, Signedness::Unsigned); }},
      {"numberrangelist",
       [](const Slot& s) {
         return rangeListConvertor(static_cast<uint32_t>(optionNumber(s, "min", 0)),
                                   static_cast<uint32_t>(optionNumber(s, "max", 0xFFFFFFFF)));
       }},
      {"numbertable", numberList},
      {"numbar", unsignedNumber},
      {"numflag", unsignedNumber},
      {"object", fixed(messageConvertor)},
      {"objtype", unsignedNumber},
      {"packet", text},
      {"password", text},
      {"raw", fixed(rawConvertor)},
      {"script", text},
      {"secret", text},
      {"set",
       [](const Slot& s) {
         return setConvertor(s.enumeration().get(), s.fields()[0].store() == Store::U32List
                                                        ? SetWords::Array
                                                        : SetWords::One);
       }},
      {"string", text},
      {"stringarray", text},
      {"timezone", fixed(timeZoneConvertor)},
      {"tristate", fixed([] {
         Reference<IConvertor> b = boolConvertor();
         return tristateConvertor(b.get());
       })},
      {"unit", fixed([] { return unitConvertor(NumberWidth::Bits32); })},
      {"version", fixed(versionConvertor)},
  };
  return table;
}

} // namespace

void installSlotConvertors() {
  for (const auto& entry : makers()) {
    auto maker = entry.second;
    installConvertorMaker(std::string(entry.first),
                          [maker](const Slot& s) { return Reference<IBase>(maker(s)); });
  }
}

const std::vector<std::string_view>& convertedSlotKinds() {
  static const std::vector<std::string_view> kinds = [] {
    std::vector<std::string_view> v;
    for (const auto& [kind, maker] : makers())
      v.push_back(kind);
    return v;
  }();
  return kinds;
}

} // namespace kestel
