// Bit sets named by an enumeration: entry value n names bit n (bit n % 32 of word n / 32 when the
// set is kept as an array of words). Shown as the names of the set bits joined with ","; read
// from such names (blanks around a name are dropped), each name at most once.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

// The value is a u32 word, or (`words`) an array of u32 words.
enum class SetWords { One, Array };
Reference<IConvertor> setConvertor(IEnum* bits, SetWords words);

} // namespace kestel
