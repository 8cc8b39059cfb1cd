#include "bootloader/Cipher.h"

namespace vantro {

namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr int kCycles = 32;

uint32_t LoadLe(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreLe(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Key(uint32_t index) {
    return CipherKey[index & 3];
}

void EncipherGroup(uint8_t* group) {
    uint32_t y = LoadLe(group);
    uint32_t z = LoadLe(group + 4);
    uint32_t sum = 0;
    for (int i = 0; i < kCycles; ++i) {
        y += (((z << 4) ^ (z >> 5)) + z) ^ (sum + Key(sum));
        sum += kDelta;
        z += (((y << 4) ^ (y >> 5)) + y) ^ (sum + Key(sum >> 11));
    }
    StoreLe(group, y);
    StoreLe(group + 4, z);
}

void DecipherGroup(uint8_t* group) {
    uint32_t y = LoadLe(group);
    uint32_t z = LoadLe(group + 4);
    uint32_t sum = kDelta * kCycles;
    for (int i = 0; i < kCycles; ++i) {
        z -= (((y << 4) ^ (y >> 5)) + y) ^ (sum + Key(sum >> 11));
        sum -= kDelta;
        y -= (((z << 4) ^ (z >> 5)) + z) ^ (sum + Key(sum));
    }
    StoreLe(group, y);
    StoreLe(group + 4, z);
}

}  // namespace

void EncipherBlocks(uint16_t length, uint8_t* buffer) {
    if (length % 8 != 0) {
        return;
    }
    for (uint32_t offset = 0; offset < length; offset += 8) {
        EncipherGroup(buffer + offset);
    }
}

void DecipherBlocks(uint16_t length, uint8_t* buffer) {
    if (length % 8 != 0) {
        return;
    }
    for (uint32_t offset = 0; offset < length; offset += 8) {
        DecipherGroup(buffer + offset);
    }
}

}  // namespace vantro
