#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "bootloader/Cipher.h"
#include "bootloader/Commands.h"
#include "bootloader/Frame.h"
#include "bootloader/Link.h"

namespace vantro {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAreArray;

// The checksum as the protocol defines it: the low 7 bits of the negated sum.
uint8_t SumChecksum(const Bytes& f) {
    unsigned sum = 0;
    for (std::size_t i = 5; i + 2 < f.size(); ++i)
        sum += f[i];
    return static_cast<uint8_t>((128 - sum % 128) % 128);
}

TEST(FrameChecksum, BothComputationsAgreeOnEveryByteSequence) {
    std::mt19937 rng(11);
    for (int round = 0; round < 2000; ++round) {
        Bytes f(7 + rng() % 600);
        for (auto& b : f)
            b = static_cast<uint8_t>(rng() % (round % 2 ? 256 : 128));
        ASSERT_EQ(FrameChecksum(f.data(), f.size()), SumChecksum(f)) << round;
    }
}

TEST(FrameChecksum, ShortRequestsCarryTheKnownBytes) {
    uint8_t f[8];
    BuildShortRequest(f, code::kRestart);
    EXPECT_THAT(f, ElementsAreArray({0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7}));
    BuildShortRequest(f, code::kIdentify);
    EXPECT_THAT(f, ElementsAreArray({0xF0, 0x6F, 0x10, 0x00, 0x11, 0x01, 0x7F, 0xF7}));
    BuildShortRequest(f, code::kVerifyOK);
    EXPECT_THAT(f, ElementsAreArray({0xF0, 0x6F, 0x10, 0x00, 0x11, 0x09, 0x77, 0xF7}));
}

TEST(FrameNibbles, LowGroupFirstAndOnlyLowBitsCount) {
    uint8_t at[6];
    PutNibbles(at, 0xABCDEF, 6);
    EXPECT_THAT(at, ElementsAreArray({0xF, 0xE, 0xD, 0xC, 0xB, 0xA}));
    const uint8_t noisy[2] = {0x75, 0xF3};  // bits above bit 3 are outside the form
    EXPECT_EQ(GetNibbles(noisy, 2), 0x35u);
}

TEST(FrameRequests, AddressRequestsSendTwentyFourBitsAndEightBitCounts) {
    uint8_t f[16];
    BuildAddressRequest(f, code::kErasePages, 0xAB, 0x1400);
    EXPECT_EQ(f[6], 0xB);  // the count, low nibble first
    EXPECT_EQ(f[7], 0xA);
    EXPECT_THAT(Bytes(f + 8, f + 14), ElementsAreArray({0, 0, 4, 1, 0, 0}));
    EXPECT_EQ(f[14], SumChecksum(Bytes(f, f + 16)));
    EXPECT_EQ(f[15], 0xF7);
    BuildAddressRequest(f, code::kReadBlock, 0x40, 0x1234567);
    EXPECT_THAT(Bytes(f + 6, f + 14), ElementsAreArray({0, 4, 7, 6, 5, 4, 3, 2}));
}

TEST(FrameRequests, WriteRequestCarriesTheEncipheredBlockAndKeepsTheCallers) {
    uint8_t block[256];
    for (int i = 0; i < 256; ++i)
        block[i] = static_cast<uint8_t>(i * 3);
    uint8_t original[256];
    std::memcpy(original, block, 256);
    uint8_t f[528];
    BuildWriteRequest(f, block, 0x1480);
    EXPECT_EQ(std::memcmp(block, original, 256), 0);
    EXPECT_THAT(Bytes(f, f + 8), ElementsAreArray({0xF0, 0x6F, 0x10, 0x00, 0x11, 0x03, 1, 0}));
    uint8_t joined[256];
    for (int i = 0; i < 256; ++i)
        joined[i] = static_cast<uint8_t>(f[14 + 2 * i] | f[15 + 2 * i] << 4);
    DecipherBlocks(256, joined);
    EXPECT_EQ(std::memcmp(joined, original, 256), 0);
    EXPECT_EQ(f[526], SumChecksum(Bytes(f, f + 528)));
    EXPECT_EQ(f[527], 0xF7);
}

class ReplyCheck : public ::testing::Test {
  protected:
    static Bytes Reply(const Bytes& body) {
        Bytes r(7 + body.size(), 0);
        const uint8_t head[] = {0xF0, 0x6F, 0x10, 0x00, 0x12};
        std::copy(std::begin(head), std::end(head), r.begin());
        std::copy(body.begin(), body.end(), r.begin() + 5);
        r[r.size() - 1] = 0xF7;
        r[r.size() - 2] = SumChecksum(r);
        return r;
    }
    bool Valid(const Bytes& r) { return IsValidReply(request_, r.data(), r.size()); }
    const uint8_t request_[8] = {0xF0, 0x6F, 0x10, 0x00, 0x11, 0x01, 0x7F, 0xF7};
};

TEST_F(ReplyCheck, EachRuleOnItsOwn) {
    const Bytes good = Reply({0x01, 0x02, 0x00});
    EXPECT_TRUE(Valid(good));

    const Bytes shortest = {0xF0, 0x6F, 0x10, 0x00, 0x12, 0x00, 0xF7};
    EXPECT_TRUE(Valid(shortest));  // byte 5 is both the code and the checksum
    EXPECT_FALSE(Valid(Bytes(shortest.begin(), shortest.end() - 1)));

    for (int i = 0; i < 4; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        EXPECT_FALSE(Valid(bad)) << "header byte " << i;
    }
    Bytes mark = good;
    mark[4] = 0x11;
    mark[mark.size() - 2] = SumChecksum(mark);
    EXPECT_FALSE(Valid(mark));

    Bytes sum = good;
    sum[sum.size() - 2] ^= 0x01;
    EXPECT_FALSE(Valid(sum));
    Bytes high = good;
    high[high.size() - 2] |= 0x80;  // bit 7 set never matches
    EXPECT_FALSE(Valid(high));

    Bytes end = good;
    end[end.size() - 1] = 0x00;  // the last byte is not looked at
    EXPECT_TRUE(Valid(end));
}

TEST(ReplyBuffer, HoldsTheLastMessageAndRefusesOversizedOnes) {
    ReplyBuffer.Clear();
    EXPECT_FALSE(ReplyBuffer.HasBytes());
    const char first[] = {1, 2, 3};
    const char second[] = {4, 5};
    ReplyBuffer.Replace(first, 3);
    ReplyBuffer.Replace(second, 2);
    uint8_t area[kFrameArea];
    ASSERT_EQ(ReplyBuffer.CopyOut(area, kFrameArea), 2u);
    EXPECT_EQ(area[0], 4);
    const std::vector<char> big(529, 0x10);
    ReplyBuffer.Replace(big.data(), big.size());
    EXPECT_EQ(ReplyBuffer.CopyOut(area, kFrameArea), 0u);
    ReplyBuffer.Clear();
}

TEST(Status, VersionsPrintAsPlainDecimals) {
    EXPECT_EQ(VersionStatus(1, 2, 3, 4), "OK - BL V1.2, FW V3.4");
    EXPECT_EQ(VersionStatus(255, 0, 10, 99), "OK - BL V255.0, FW V10.99");
}

}  // namespace
}  // namespace vantro
