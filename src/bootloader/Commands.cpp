#include "bootloader/Commands.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "bootloader/Cipher.h"

namespace vantro {

namespace {

constexpr uint8_t kBlockCount = 0x40;  // a read reply carries 0x40 words

}  // namespace

void BuildShortRequest(uint8_t frame[kShortRequest], uint8_t commandCode) {
    PutFrameHead(frame, kRequestMark, commandCode);
    SealFrame(frame, kShortRequest);
}

void BuildAddressRequest(uint8_t frame[kAddressRequest], uint8_t commandCode, uint8_t count,
                         uint32_t wordAddress) {
    PutFrameHead(frame, kRequestMark, commandCode);
    PutNibbles(frame + 6, count, 2);
    PutNibbles(frame + 8, wordAddress & 0xFFFFFF, 6);
    SealFrame(frame, kAddressRequest);
}

void BuildWriteRequest(uint8_t frame[kWriteRequest], const uint8_t block[256],
                       uint32_t wordAddress) {
    PutFrameHead(frame, kRequestMark, code::kWriteBlock);
    PutNibbles(frame + 6, 1, 2);
    PutNibbles(frame + 8, wordAddress & 0xFFFFFF, 6);
    uint8_t enciphered[256];
    std::memcpy(enciphered, block, 256);
    EncipherBlocks(256, enciphered);
    for (int i = 0; i < 256; ++i) {
        PutNibbles(frame + 14 + 2 * i, enciphered[i], 2);
    }
    SealFrame(frame, kWriteRequest);
}

namespace {

// One exchange; the length of the valid reply frame now in reply, 0 when none came.
std::size_t Exchange(MidiPortPair& pair, const uint8_t* request, std::size_t n, uint8_t* reply) {
    std::size_t length = 0;
    return Transact(pair, request, n, reply, length) ? length : 0;
}

// An exchange whose answer is the request's own code echoed: nothing else is looked at.
int32_t Acknowledged(MidiPortPair& pair, const uint8_t* request, std::size_t n) {
    uint8_t reply[kFrameArea] = {};
    return Exchange(pair, request, n, reply) != 0 && reply[5] == request[5] ? 1 : 0;
}

}  // namespace

void SendRestart(MidiPortPair& pair) {
    // Nothing waits for this frame, and the port reads it after Send returns: it must not
    // live on this function's stack. The pair's closing lets it leave first.
    static const auto kRestartFrame = [] {
        std::array<uint8_t, kShortRequest> frame{};
        BuildShortRequest(frame.data(), code::kRestart);
        return frame;
    }();
    pair.Send(kRestartFrame.data(), kShortRequest);
}

bool DecodeIdentifyReply(const uint8_t* reply, std::size_t length, Versions& versions) {
    // The four values sit at 6..13: a shorter reply does not carry them.
    if (length < 16 || reply[5] != code::kIdentify) {
        return false;
    }
    uint8_t values[4];
    for (int m = 0; m < 4; ++m) {
        values[m] = static_cast<uint8_t>(GetNibbles(reply + 6 + 2 * m, 2));
    }
    versions = {values[0], values[1], values[2], values[3]};
    return true;
}

int32_t QueryVersions(MidiPortPair& pair, uint8_t& blMajor, uint8_t& blMinor, uint8_t& fwMajor,
                      uint8_t& fwMinor) {
    uint8_t request[kShortRequest];
    BuildShortRequest(request, code::kIdentify);
    uint8_t reply[kFrameArea] = {};
    const std::size_t length = Exchange(pair, request, kShortRequest, reply);
    Versions v;
    if (length == 0 || !DecodeIdentifyReply(reply, length, v)) {
        return 0;
    }
    blMajor = v.blMajor;
    blMinor = v.blMinor;
    fwMajor = v.fwMajor;
    fwMinor = v.fwMinor;
    return 1;
}

ReadResult ReadBlockFully(MidiPortPair& pair, uint32_t wordAddress, uint8_t block[256]) {
    uint8_t request[kAddressRequest];
    BuildAddressRequest(request, code::kReadBlock, kBlockCount, wordAddress);
    uint8_t reply[kFrameArea] = {};
    const std::size_t length = Exchange(pair, request, kAddressRequest, reply);
    if (length == 0) {
        return ReadResult::Lost;
    }
    if (reply[5] != code::kReadBlock) {
        return ReadResult::Refused;
    }
    if (GetNibbles(reply + 6, 2) != kBlockCount || GetNibbles(reply + 8, 6) != wordAddress ||
        length < kFrameArea) {
        return ReadResult::Lost;
    }
    for (int i = 0; i < 256; ++i) {
        block[i] = static_cast<uint8_t>(GetNibbles(reply + 14 + 2 * i, 2));
    }
    DecipherBlocks(256, block);
    return ReadResult::Read;
}

int32_t ReadBlock(MidiPortPair& pair, uint32_t wordAddress, uint8_t block[256]) {
    return ReadBlockFully(pair, wordAddress, block) == ReadResult::Read ? 1 : 0;
}

int32_t WriteBlock(MidiPortPair& pair, const uint8_t block[256], uint32_t wordAddress) {
    uint8_t request[kWriteRequest];
    BuildWriteRequest(request, block, wordAddress);
    return Acknowledged(pair, request, kWriteRequest);
}

int32_t ErasePages(MidiPortPair& pair, uint8_t pageCount, uint32_t wordAddress) {
    uint8_t request[kAddressRequest];
    BuildAddressRequest(request, code::kErasePages, pageCount, wordAddress);
    return Acknowledged(pair, request, kAddressRequest);
}

int32_t SendVerifyOK(MidiPortPair& pair) {
    uint8_t request[kShortRequest];
    BuildShortRequest(request, code::kVerifyOK);
    uint8_t reply[kFrameArea] = {};
    if (Exchange(pair, request, kShortRequest, reply) == 0) {
        return 1;  // a silent unit counts as having accepted it
    }
    return reply[5] == code::kVerifyOK ? 1 : 0;
}

std::string VersionStatus(uint8_t blMajor, uint8_t blMinor, uint8_t fwMajor, uint8_t fwMinor) {
    char text[64];
    std::snprintf(text, sizeof text, "OK - BL V%u.%u, FW V%u.%u", unsigned{blMajor},
                  unsigned{blMinor}, unsigned{fwMajor}, unsigned{fwMinor});
    return text;
}

}  // namespace vantro
