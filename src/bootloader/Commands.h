#pragma once

#include <cstdint>
#include <string>

#include "bootloader/Link.h"

namespace vantro {

// The four versions an identify reply carries.
struct Versions {
    uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;
};

// The versions in a valid reply frame of length bytes; false when it is no identify reply or
// too short to carry them.
bool DecodeIdentifyReply(const uint8_t* reply, std::size_t length, Versions& versions);

// The bootloader's commands. Each returns non-zero for success and shows nothing; only the
// restart is sent without waiting for a reply.
void SendRestart(MidiPortPair& pair);
int32_t QueryVersions(MidiPortPair& pair, uint8_t& blMajor, uint8_t& blMinor, uint8_t& fwMajor,
                      uint8_t& fwMinor);
int32_t ReadBlock(MidiPortPair& pair, uint32_t wordAddress, uint8_t block[256]);
// ReadBlock, telling a read the bootloader refused (a valid reply naming another command)
// from one whose reply never came whole.
enum class ReadResult { Read, Lost, Refused };
ReadResult ReadBlockFully(MidiPortPair& pair, uint32_t wordAddress, uint8_t block[256]);
int32_t WriteBlock(MidiPortPair& pair, const uint8_t block[256], uint32_t wordAddress);
int32_t ErasePages(MidiPortPair& pair, uint8_t pageCount, uint32_t wordAddress);
int32_t SendVerifyOK(MidiPortPair& pair);

// The request frames, as the unit expects them (also used by the simulated unit's tests).
inline constexpr std::size_t kShortRequest = 8;
inline constexpr std::size_t kAddressRequest = 16;
inline constexpr std::size_t kWriteRequest = 528;
void BuildShortRequest(uint8_t frame[kShortRequest], uint8_t commandCode);
void BuildAddressRequest(uint8_t frame[kAddressRequest], uint8_t commandCode, uint8_t count,
                         uint32_t wordAddress);
// Enciphers a copy of block into the frame; block itself is left as it was.
void BuildWriteRequest(uint8_t frame[kWriteRequest], const uint8_t block[256],
                       uint32_t wordAddress);

// What the Verify action shows when the unit gives no valid answer.
inline constexpr const char* kVerifyFailed = "ERROR!";

// What the Verify action shows for a successful identify.
std::string VersionStatus(uint8_t blMajor, uint8_t blMinor, uint8_t fwMajor, uint8_t fwMinor);

}  // namespace vantro
