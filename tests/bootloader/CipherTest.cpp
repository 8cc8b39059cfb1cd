#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "bootloader/Cipher.h"

namespace vantro {
namespace {

// Textbook XTEA on two 32-bit words with a 128-bit key, kept apart from the code under test.
void ReferenceXtea(uint32_t v[2], const uint32_t key[4]) {
    uint32_t v0 = v[0], v1 = v[1], sum = 0;
    const uint32_t delta = 0x9E3779B9;
    for (unsigned i = 0; i < 32; i++) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
        sum += delta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

TEST(CipherReference, MatchesThePublishedZeroVector) {
    // Published XTEA vector: zero key, zero plaintext.
    const uint32_t zeroKey[4] = {0, 0, 0, 0};
    uint32_t v[2] = {0, 0};
    ReferenceXtea(v, zeroKey);
    EXPECT_EQ(v[0], 0xDEE9D4D8u);
    EXPECT_EQ(v[1], 0xF7131ED9u);
}

TEST(Cipher, KnownAnswersFromTheReferenceWithTheZeroExtendedKey) {
    const uint32_t key[4] = {0x3C7E, 0x91D4, 0x0A6B, 0xE258};
    std::mt19937 rng(2024);
    std::array<uint8_t, 256> buf{};
    for (auto& b : buf)
        b = static_cast<uint8_t>(rng());
    std::array<uint8_t, 256> expected = buf;
    for (std::size_t g = 0; g < 256; g += 8) {
        uint32_t v[2];
        std::memcpy(v, &expected[g], 8);  // little-endian host: y then z
        ReferenceXtea(v, key);
        std::memcpy(&expected[g], v, 8);
    }
    EncipherBlocks(256, buf.data());
    EXPECT_EQ(buf, expected);
}

TEST(Cipher, FixedVectorOfTheZeroGroup) {
    // Pinned from the reference above, so a change to either shows.
    uint8_t group[8] = {};
    EncipherBlocks(8, group);
    uint32_t v[2] = {0, 0};
    const uint32_t key[4] = {0x3C7E, 0x91D4, 0x0A6B, 0xE258};
    ReferenceXtea(v, key);
    uint8_t expected[8];
    std::memcpy(expected, v, 8);
    EXPECT_EQ(std::memcmp(group, expected, 8), 0);
    EXPECT_NE(std::memcmp(group, "\0\0\0\0\0\0\0\0", 8), 0);
}

TEST(Cipher, RoundTripRestoresEveryLength) {
    std::mt19937 rng(7);
    for (uint16_t len : {8, 16, 256, 4096}) {
        std::vector<uint8_t> buf(len);
        for (auto& b : buf)
            b = static_cast<uint8_t>(rng());
        const auto original = buf;
        EncipherBlocks(len, buf.data());
        EXPECT_NE(buf, original);
        DecipherBlocks(len, buf.data());
        EXPECT_EQ(buf, original) << len;
    }
}

TEST(Cipher, LengthNotAMultipleOfEightChangesNothing) {
    for (uint16_t len : {0, 1, 7, 255, 260}) {
        std::vector<uint8_t> buf(264, 0x5A);
        EncipherBlocks(len, buf.data());
        EXPECT_EQ(buf, std::vector<uint8_t>(264, 0x5A)) << len;
        DecipherBlocks(len, buf.data());
        EXPECT_EQ(buf, std::vector<uint8_t>(264, 0x5A)) << len;
    }
}

TEST(Cipher, GroupsAreIndependent) {
    std::array<uint8_t, 256> buf;
    buf.fill(0x42);
    EncipherBlocks(256, buf.data());
    for (std::size_t g = 8; g < 256; g += 8) {
        EXPECT_EQ(std::memcmp(&buf[0], &buf[g], 8), 0) << g;
    }
}

}  // namespace
}  // namespace vantro
