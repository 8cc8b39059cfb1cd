#include "sim/UnitProtocol.h"

namespace vantro::sim::unit {

namespace {

constexpr uint8_t kHead[4] = {0xF0, 0x6F, 0x10, 0x00};

// The unit's key words, each the low half of a 32-bit XTEA key word.
constexpr uint32_t kKey[4] = {0x3C7E, 0x91D4, 0x0A6B, 0xE258};
constexpr uint32_t kDelta = 0x9E3779B9;
constexpr unsigned kRounds = 32;

void Words(const uint8_t* g, uint32_t v[2]) {
    for (int w = 0; w < 2; ++w) {
        v[w] = 0;
        for (int b = 3; b >= 0; --b)
            v[w] = (v[w] << 8) | g[4 * w + b];
    }
}

void Bytes(const uint32_t v[2], uint8_t* g) {
    for (int w = 0; w < 2; ++w) {
        for (int b = 0; b < 4; ++b)
            g[4 * w + b] = static_cast<uint8_t>(v[w] >> (8 * b));
    }
}

// The published XTEA routines (Needham and Wheeler).
void Encipher(uint32_t v[2]) {
    uint32_t v0 = v[0], v1 = v[1], sum = 0;
    for (unsigned i = 0; i < kRounds; i++) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + kKey[sum & 3]);
        sum += kDelta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + kKey[(sum >> 11) & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

void Decipher(uint32_t v[2]) {
    uint32_t v0 = v[0], v1 = v[1], sum = kDelta * kRounds;
    for (unsigned i = 0; i < kRounds; i++) {
        v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + kKey[(sum >> 11) & 3]);
        sum -= kDelta;
        v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + kKey[sum & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

template <void (*Step)(uint32_t*)>
void EachGroup(uint8_t block[256]) {
    for (int g = 0; g < 256; g += 8) {
        uint32_t v[2];
        Words(block + g, v);
        Step(v);
        Bytes(v, block + g);
    }
}

}  // namespace

uint8_t Checksum(const uint8_t* frame, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 5; i + 2 < n; ++i)
        sum += frame[i];
    return static_cast<uint8_t>((128 - sum % 128) % 128);
}

bool IsSoundRequest(const uint8_t* f, std::size_t n) {
    if (n < 8)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (f[i] != kHead[i])
            return false;
    }
    return f[4] == kRequest && f[n - 1] == 0xF7 && f[n - 2] == Checksum(f, n);
}

uint32_t ReadNibbles(const uint8_t* at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 4) | (at[i] & 0x0Fu);
    return value;
}

void WriteNibbles(uint8_t* at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i, value >>= 4)
        at[i] = static_cast<uint8_t>(value & 0x0F);
}

std::vector<uint8_t> Reply(uint8_t code, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f(8 + payload.size());
    for (int i = 0; i < 4; ++i)
        f[i] = kHead[i];
    f[4] = kReply;
    f[5] = code;
    for (std::size_t i = 0; i < payload.size(); ++i)
        f[6 + i] = payload[i];
    f[f.size() - 2] = Checksum(f.data(), f.size());
    f[f.size() - 1] = 0xF7;
    return f;
}

void EncipherBlock(uint8_t block[256]) {
    EachGroup<Encipher>(block);
}

void DecipherBlock(uint8_t block[256]) {
    EachGroup<Decipher>(block);
}

}  // namespace vantro::sim::unit
