#pragma once

#include <cstddef>
#include <cstdint>

namespace vantro {

// Every request and reply is one SysEx frame:
// F0 6F 10 00, mark (0x11 request, 0x12 reply), command code, payload, checksum, F7.
inline constexpr uint8_t kSysExStart = 0xF0;
inline constexpr uint8_t kSysExEnd = 0xF7;
inline constexpr uint8_t kHeader[3] = {0x6F, 0x10, 0x00};
inline constexpr uint8_t kRequestMark = 0x11;
inline constexpr uint8_t kReplyMark = 0x12;
inline constexpr std::size_t kMinFrame = 7;
// The longest frame of the protocol (write request, read reply); also the size of the
// request and reply areas of an exchange.
inline constexpr std::size_t kFrameArea = 528;

namespace code {
inline constexpr uint8_t kRestart = 0x00;
inline constexpr uint8_t kIdentify = 0x01;
inline constexpr uint8_t kReadBlock = 0x02;
inline constexpr uint8_t kWriteBlock = 0x03;
inline constexpr uint8_t kErasePages = 0x04;
inline constexpr uint8_t kVerifyOK = 0x09;
}  // namespace code

// Checksum byte of a frame of n bytes: the low 7 bits of the negated sum of bytes 5..n-3.
uint8_t FrameChecksum(const uint8_t* frame, std::size_t n);

// Writes the head F0 6F 10 00 mark code at frame[0..5].
void PutFrameHead(uint8_t* frame, uint8_t mark, uint8_t commandCode);

// Puts the checksum at n-2 and F7 at n-1.
void SealFrame(uint8_t* frame, std::size_t n);

// count 4-bit groups of value, least significant first, one per byte.
void PutNibbles(uint8_t* at, uint32_t value, int count);
// Joins count groups back; only the low 4 bits of each byte count.
uint32_t GetNibbles(const uint8_t* at, int count);

}  // namespace vantro
