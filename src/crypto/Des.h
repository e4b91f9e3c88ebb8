// DES single-block encryption (FIPS 46-3) and the spreading of a 7-byte key to the 8-byte DES
// key form, as the challenge response of RFC 2759 needs. Only the three blocks of one login go
// through it, so it favours plainness over speed.
#pragma once

#include <cstdint>

namespace kestel {

// Spreads 56 key bits into 8 bytes of 7 bits each, each with an odd-parity low bit.
void desSpreadKey(const uint8_t key7[7], uint8_t key8[8]);

// Encrypts one 8-byte block with an 8-byte key (parity bits ignored).
void desEncryptBlock(const uint8_t key8[8], const uint8_t in[8], uint8_t out[8]);

} // namespace kestel
