// Convertors and texts of addresses: IPv4 (u32 value, first octet in the lowest byte), IPv6
// (Addr6 value), MAC addresses (6 raw bytes) and the combined address field whose "allow" bits
// pick the parts that are shown and read.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

enum class ZeroAddress { Valid, Invalid };
// Whether IPv4 texts stand for IPv4-mapped IPv6 addresses (::ffff:a.b.c.d), in both directions.
enum class Ipv4InIpv6 { No, Yes };
enum class MacForm { Full, Short };

// "a.b.c.d".
std::string ipv4Text(uint32_t address);
// Reads 2 to 4 dot-separated parts, each in automatic base ("0x" hexadecimal, leading 0 octal,
// else decimal) and at most 255; the last part is the fourth octet, the others fill the first
// octets in order ("10.1" is 10.0.0.1). False on anything else; unlike inet_aton, a single part,
// a last part above 255, a bare "0x" and text after a blank are refused.
bool parseIpv4(std::string_view text, uint32_t& address);
// Lower-case groups with the longest run of two or more zero groups shortened to "::"; with
// Ipv4InIpv6::Yes a mapped address shows as "::ffff:a.b.c.d". Unlike inet_ntop, the old
// IPv4-compatible form (::a.b.c.d) is never used.
std::string ipv6Text(const Addr6& address, Ipv4InIpv6 ipv4);
// Reads the standard text form (hex groups, one "::", an optional dotted-quad tail); false on
// anything else.
bool parseIpv6(std::string_view text, Addr6& address);
// "01:AB:..." in upper case; a value that is not 6 bytes shows "XX:XX:XX:XX:XX:XX". The short
// form shows the first three bytes and "...".
std::string macText(const Bytes& mac, MacForm form);
// Reads six groups of one or two hex digits separated by ":" (or all by "-").
bool parseMac(std::string_view text, Bytes& mac);

// "ip address" / "non zero ip address".
Reference<IConvertor> ipv4Convertor(ZeroAddress zero);
// "ipv6 address" / "non zero ipv6 address"; with Ipv4InIpv6::Yes an IPv4 text is accepted.
Reference<IConvertor> ipv6Convertor(ZeroAddress zero, Ipv4InIpv6 ipv4);
// MAC address (raw value); the short form reads the full form.
Reference<IConvertor> macConvertor(MacForm form, ZeroAddress zero);

// Bits of the combined address slot's "allow" flags.
namespace allow {
constexpr unsigned kIpv4 = 0x1, kIpv6 = 0x2, kTable = 0x4, kTunnel = 0x8, kPrefix = 0x10,
                   kIface = 0x20, kExtra = 0x40, kName = 0x80, kMac = 0x100, kZone = 0x200;
}
// The combined address text, in the order name or address or MAC, "/prefix", "%iface" (or
// "*id" without an interface name), "@table" (or "@main"), "&extra"; with kIpv4 a lone "::"
// shows as empty.
std::string addressText(const AddressValue& value, unsigned allowBits, IEnum* interfaces,
                        IEnum* tables);
// Combined address (AddressValue): reads the same forms back; names of interfaces and tables
// through their enumerations, a prefix length no larger than the address has bits.
Reference<IConvertor> addressConvertor(unsigned allowBits, IEnum* interfaces, IEnum* tables);

} // namespace kestel
