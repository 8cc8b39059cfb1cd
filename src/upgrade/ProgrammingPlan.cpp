#include "upgrade/ProgrammingPlan.h"

#include <cstddef>

namespace vantro {

ProgrammingPlan BuildProgrammingPlan(const FirmwareImage& image) {
    ProgrammingPlan plan;
    const std::size_t n = image.usedAddresses.size();
    for (std::size_t a = kBootAreaEnd; a < n; ++a) {
        if (image.usedAddresses[a]) {
            // Start on an erase-page boundary: the erase command works on whole pages, and
            // a block or page addressed from an odd byte would lose its low bit on the wire.
            // The bytes moved into the segment were never written and hold 0xFF.
            const auto first = static_cast<int32_t>(a);
            const int32_t start = first - first % kErasePageSize;
            plan.push_back({start, static_cast<int32_t>(n) - start});
            break;
        }
    }
    return plan;
}

int32_t BlockCount(const FlashSegment& segment) {
    return segment.length / kBlockSize + (segment.length % kBlockSize != 0 ? 1 : 0);
}

uint16_t TotalBlockCount(const ProgrammingPlan& plan) {
    uint32_t total = 0;
    for (const auto& segment : plan) {
        total += static_cast<uint32_t>(BlockCount(segment));
    }
    return static_cast<uint16_t>(total);
}

int32_t ErasePageCount(const FlashSegment& segment) {
    return segment.length / kErasePageSize + (segment.length % kErasePageSize != 0 ? 1 : 0);
}

int32_t FillBlock(const FirmwareImage& image, const FlashSegment& segment, int32_t k,
                  uint8_t block[kBlockSize]) {
    const int64_t base = int64_t{segment.start} + int64_t{kBlockSize} * k;
    const int64_t end = int64_t{segment.start} + segment.length;
    int32_t valid = 0;
    for (int32_t j = 0; j < kBlockSize; ++j) {
        block[j] = 0xFF;
        const int64_t a = base + j;
        if (a < end) {
            // Inside the segment but past the image can only come from a bad segment.
            if (a >= 0 && static_cast<std::size_t>(a) < image.codeBytes.size()) {
                block[j] = static_cast<uint8_t>(image.codeBytes[static_cast<std::size_t>(a)]);
            }
            ++valid;
        }
    }
    return valid;
}

}  // namespace vantro
