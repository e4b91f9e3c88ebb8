// Entries of the bit-set lists and the MAC networks: values that keep a byte string with a mask
// beside it (MaskedBytes), and the tristate arrays.
//
// A bit-set entry names the bits of an enumeration (entry value n is bit n % 8 of byte n / 8;
// values from 32768 on are never stored). The plain form shows the names of the set bits, joined
// with ","; reading sets the named bits and marks every bit of the enumeration in the mask (the
// entry speaks about all of them). The tristate form shows only the bits of the mask: the name of
// a set bit, "!" and the name of a cleared one; reading marks each named bit in the mask and sets
// it unless it is preceded by "!". A name may appear once per entry.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

enum class BitEntry { Plain, Tristate };

// One entry (MaskedBytes). Described as "list of names" (plain) or "list of names, each may be
// preceded by !" (tristate).
Reference<IConvertor> bitEntryConvertor(IEnum* bits, BitEntry form);

// One element of a tristate array (a byte string): empty is unset (shown and typed as ""), a zero
// byte is "false", any other byte "true". Longer byte strings show their first byte.
Reference<IConvertor> tristateElementConvertor();

// A MAC address with its mask (MaskedBytes, 6 bytes each): the address alone when the mask is
// all ones, else "address/mask" with the mask in the address form. Reading takes an address and
// an optional "/mask"; without a mask it is all ones. Described as "mac network".
Reference<IConvertor> macNetworkConvertor();

} // namespace kestel
