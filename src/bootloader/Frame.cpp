#include "bootloader/Frame.h"

namespace vantro {

uint8_t FrameChecksum(const uint8_t* frame, std::size_t n) {
    // The unit's own computation: an 8-bit running sum kept at or below 128.
    uint8_t s = 0;
    for (std::size_t i = 5; i + 2 < n; ++i) {
        s = static_cast<uint8_t>(s + frame[i]);
        if (s > 128) {
            s = static_cast<uint8_t>(s - 128);
        }
    }
    return s == 0 ? 0 : static_cast<uint8_t>((128 - s) & 0x7F);
}

void PutFrameHead(uint8_t* frame, uint8_t mark, uint8_t commandCode) {
    frame[0] = kSysExStart;
    frame[1] = kHeader[0];
    frame[2] = kHeader[1];
    frame[3] = kHeader[2];
    frame[4] = mark;
    frame[5] = commandCode;
}

void SealFrame(uint8_t* frame, std::size_t n) {
    frame[n - 2] = FrameChecksum(frame, n);
    frame[n - 1] = kSysExEnd;
}

void PutNibbles(uint8_t* at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        at[i] = static_cast<uint8_t>((value >> (4 * i)) & 0x0F);
    }
}

uint32_t GetNibbles(const uint8_t* at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= static_cast<uint32_t>(at[i] & 0x0F) << (4 * i);
    }
    return value;
}

}  // namespace vantro
