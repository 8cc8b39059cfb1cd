#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "upgrade/ProgrammingPlan.h"

namespace vantro {
namespace {

// An image whose code bytes from..to-1 were written, value = low byte of the address.
void Write(FirmwareImage& image, std::size_t from, std::size_t to) {
    if (image.codeBytes.size() < to) {
        image.codeBytes.resize(to, 0xFF);
        image.usedAddresses.resize(to, false);
    }
    for (std::size_t a = from; a < to; ++a) {
        image.codeBytes[a] = static_cast<int32_t>(a & 0xFF);
        image.usedAddresses[a] = true;
    }
}

TEST(PlanRule, WorkedExample) {
    FirmwareImage image;
    Write(image, 0x0000, 0x0004);
    Write(image, 0x2800, 0x9000);
    const auto plan = BuildProgrammingPlan(image);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0], (FlashSegment{0x2800, 0x6800}));
    EXPECT_EQ(BlockCount(plan[0]), 104);
    EXPECT_EQ(TotalBlockCount(plan), 104);
    EXPECT_EQ(ErasePageCount(plan[0]), 13);

    Write(image, 0x9000, 0x9010);
    const auto longer = BuildProgrammingPlan(image);
    ASSERT_EQ(longer.size(), 1u);
    EXPECT_EQ(longer[0].length, 26640);
    EXPECT_EQ(BlockCount(longer[0]), 105);
    EXPECT_EQ(ErasePageCount(longer[0]), 14);
    uint8_t block[kBlockSize];
    EXPECT_EQ(FillBlock(image, longer[0], 104, block), 16);
}

TEST(PlanRule, NothingAboveTheBootAreaGivesAnEmptyPlan) {
    FirmwareImage none;
    EXPECT_TRUE(BuildProgrammingPlan(none).empty());
    EXPECT_EQ(TotalBlockCount({}), 0);

    FirmwareImage low;
    Write(low, 0, 0x2800);
    EXPECT_TRUE(BuildProgrammingPlan(low).empty());

    FirmwareImage unwrittenTail;  // long enough, but nothing above 0x2800 was written
    Write(unwrittenTail, 0, 16);
    unwrittenTail.codeBytes.resize(0x4000, 0xFF);
    unwrittenTail.usedAddresses.resize(0x4000, false);
    EXPECT_TRUE(BuildProgrammingPlan(unwrittenTail).empty());
}

TEST(PlanRule, UnwrittenBytesInsideTheStretchArePlannedAsFF) {
    FirmwareImage image;
    Write(image, 0x2800, 0x2810);
    Write(image, 0x2900, 0x2904);
    const auto plan = BuildProgrammingPlan(image);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0], (FlashSegment{0x2800, 0x104}));
    uint8_t block[kBlockSize];
    EXPECT_EQ(FillBlock(image, plan[0], 0, block), 256);
    EXPECT_EQ(block[0x0F], 0x0F);
    EXPECT_EQ(block[0x10], 0xFF);
    EXPECT_EQ(FillBlock(image, plan[0], 1, block), 4);
    EXPECT_EQ(block[3], 0x03);
    EXPECT_EQ(block[4], 0xFF);
    EXPECT_EQ(block[255], 0xFF);
}

TEST(PlanRule, UnalignedFirstByteStartsAtItsErasePage) {
    FirmwareImage image;
    Write(image, 0x3102, 0x3200);
    const auto plan = BuildProgrammingPlan(image);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0], (FlashSegment{0x3000, 0x200}));
    EXPECT_EQ(ErasePageCount(plan[0]), 1);
    uint8_t block[kBlockSize];
    ASSERT_EQ(FillBlock(image, plan[0], 1, block), 256);
    EXPECT_EQ(block[0], 0xFF);  // 0x3100, 0x3101: never written
    EXPECT_EQ(block[1], 0xFF);
    EXPECT_EQ(block[2], 0x02);
}

TEST(PlanCounts, BlocksAndPagesRoundUp) {
    EXPECT_EQ(BlockCount({0x2800, 512}), 2);
    EXPECT_EQ(BlockCount({0x2800, 513}), 3);
    EXPECT_EQ(BlockCount({0x2800, 1}), 1);
    EXPECT_EQ(ErasePageCount({0x2800, 4096}), 2);
    EXPECT_EQ(ErasePageCount({0x2800, 4097}), 3);
    // The total keeps 16 bits.
    EXPECT_EQ(TotalBlockCount({{0, 256 * 65535}, {0, 256 * 3}}), 2);
}

TEST(PlanBlocks, LastPartialBlockHasOneValidByte) {
    FirmwareImage image;
    Write(image, 0x2800, 0x2801 + 512);
    const auto plan = BuildProgrammingPlan(image);
    ASSERT_EQ(BlockCount(plan[0]), 3);
    uint8_t block[kBlockSize];
    EXPECT_EQ(FillBlock(image, plan[0], 2, block), 1);
    EXPECT_EQ(block[0], 0x00);  // byte address 0x2A00
    for (int j = 1; j < kBlockSize; ++j)
        ASSERT_EQ(block[j], 0xFF);
}

TEST(PlanBlocks, OnlyTheLowByteOfAnEntryIsWritten) {
    FirmwareImage image;
    Write(image, 0x2800, 0x2900);
    image.codeBytes[0x2805] = 0x1234;
    uint8_t block[kBlockSize];
    FillBlock(image, BuildProgrammingPlan(image)[0], 0, block);
    EXPECT_EQ(block[5], 0x34);
}

}  // namespace
}  // namespace vantro
