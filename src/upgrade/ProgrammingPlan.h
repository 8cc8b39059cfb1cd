#pragma once

#include <cstdint>
#include <vector>

#include "image/FirmwareImage.h"

namespace vantro {

inline constexpr int32_t kBootAreaEnd = 0x2800;  // first byte address above the boot area
inline constexpr int32_t kBlockSize = 256;
inline constexpr int32_t kErasePageSize = 2048;

struct FlashSegment {
    int32_t start = 0;   // byte address of the first byte
    int32_t length = 0;  // number of byte addresses
};

inline bool operator==(const FlashSegment& a, const FlashSegment& b) {
    return a.start == b.start && a.length == b.length;
}

// Ascending segments; the rule yields none or exactly one.
using ProgrammingPlan = std::vector<FlashSegment>;

// The stretch above the boot area from its lowest used byte up to the end of the image.
ProgrammingPlan BuildProgrammingPlan(const FirmwareImage& image);

int32_t BlockCount(const FlashSegment& segment);
uint16_t TotalBlockCount(const ProgrammingPlan& plan);
int32_t ErasePageCount(const FlashSegment& segment);

// Fills the 256 bytes of block k of segment from the image; bytes past the segment stay 0xFF.
// Returns the number of bytes that belong to the segment.
int32_t FillBlock(const FirmwareImage& image, const FlashSegment& segment, int32_t k,
                  uint8_t block[kBlockSize]);

}  // namespace vantro
