#pragma once

// The unit's own side of the SysEx protocol, kept apart from the assistant's: a fault that the
// host makes in a frame, a nibble or the cipher cannot be repeated here and so pass unseen.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantro::sim::unit {

// F0 6F 10 00, then 0x11 in a request and 0x12 in a reply.
inline constexpr uint8_t kRequest = 0x11;
inline constexpr uint8_t kReply = 0x12;

// The checksum byte of an n-byte frame: (128 - S mod 128) mod 128 over bytes 5 .. n-3.
uint8_t Checksum(const uint8_t* frame, std::size_t n);

// A whole request as the unit accepts it: head, request mark, checksum and the closing F7.
bool IsSoundRequest(const uint8_t* frame, std::size_t n);

// count 4-bit groups, lowest first; only the low four bits of each byte count.
uint32_t ReadNibbles(const uint8_t* at, int count);
void WriteNibbles(uint8_t* at, uint32_t value, int count);

// A reply frame: head, reply mark, code, payload, checksum, F7.
std::vector<uint8_t> Reply(uint8_t code, const std::vector<uint8_t>& payload = {});

// XTEA with the unit's key, 32 cycles, on every 8-byte group of a 256-byte block.
void EncipherBlock(uint8_t block[256]);
void DecipherBlock(uint8_t block[256]);

}  // namespace vantro::sim::unit
