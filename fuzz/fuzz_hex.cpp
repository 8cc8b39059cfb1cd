// Any bytes as a HEX file: loaded as the upgrade loads it, then planned and cut into blocks.
// Whatever the file, the load ends, memory stays within the code region, and the plan lies
// inside the image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "image/HexReader.h"
#include "upgrade/ProgrammingPlan.h"

namespace {

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Counts messages instead of keeping them: a flood must not show as memory here.
struct CountingSeam : vantro::MessageSeam {
    vantro::MessageAnswer Show(const std::string&, vantro::MessageButtons) override {
        ++shown;
        return vantro::MessageAnswer::Ok;
    }
    int shown = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantro;
    // A file in memory, opened by its path as any file is.
    const int fd = memfd_create("fuzz.hex", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    DeviceProfile profile;
    profile.DescribePic24FJ64GB002();
    FirmwareImage image;
    image.configMasks = {1, 2, 3};
    CountingSeam seam;
    std::ostringstream console;
    HexLoadNotes notes;
    const bool ok = LoadHexFile(profile, path, image, seam, console, &notes);
    close(fd);

    // One message for a failure, at most one for each region's refusals.
    Check(seam.shown <= 4, "at most four messages a load");
    Check(image.codeBytes.size() <= static_cast<size_t>(profile.codeSize), "code within region");
    Check(image.usedAddresses.size() == image.codeBytes.size(), "bits and bytes grow together");
    Check(image.configBytes.size() <= 16, "config within region");
    Check(console.str().size() <= 6, "at most one checksum line");
    if (!ok) {
        Check(image.configMasks == std::vector<int32_t>{1, 2, 3}, "masks untouched on failure");
        return 0;
    }
    Check(image.configBytes.size() == 8 && image.configMasks.size() == 8, "config sized");
    for (const int32_t b : image.codeBytes)
        Check(b >= 0 && b <= 255, "code bytes are bytes");

    const ProgrammingPlan plan = BuildProgrammingPlan(image);
    Check(plan.size() <= 1, "one segment at most");
    int blocks = 0;
    for (const auto& s : plan) {
        Check(s.start >= 0x2800 && s.start % 2048 == 0, "segment starts on a page above boot");
        Check(static_cast<size_t>(s.start + s.length) == image.codeBytes.size(),
              "segment ends with the image");
        Check(ErasePageCount(s) * 2048 >= s.length, "erase covers the segment");
        uint8_t block[kBlockSize];
        for (int32_t k = 0; k < BlockCount(s); ++k, ++blocks) {
            const int32_t valid = FillBlock(image, s, k, block);
            Check(valid >= 1 && valid <= kBlockSize, "a block has valid bytes");
            for (int32_t j = valid; j < kBlockSize; ++j)
                Check(block[j] == 0xFF, "bytes past the end are 0xFF");
        }
    }
    Check(TotalBlockCount(plan) == blocks, "total matches the blocks");
    return 0;
}
