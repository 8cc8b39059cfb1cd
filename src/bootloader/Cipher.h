#pragma once

#include <cstdint>

namespace vantro {

// The bootloader's fixed key: four 16-bit words, each used zero-extended to 32 bits.
inline constexpr uint16_t CipherKey[4] = {0x3C7E, 0x91D4, 0x0A6B, 0xE258};

// XTEA, 32 cycles, each 8-byte group on its own and in place (y then z, little-endian).
// A length that is not a multiple of 8 leaves the whole buffer untouched.
void EncipherBlocks(uint16_t length, uint8_t* buffer);
void DecipherBlocks(uint16_t length, uint8_t* buffer);

}  // namespace vantro
