#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "image/DeviceProfile.h"
#include "image/FirmwareImage.h"
#include "seam/MessageSeam.h"

namespace vantro {

// Longest line an Intel HEX record can have: colon, count, address, type, 255 data bytes and
// the checksum. Anything longer is rejected before the rest of it is read.
inline constexpr std::size_t kMaxHexLineLength = 11 + 2 * 255;

// What a load tells beyond its messages.
struct HexLoadNotes {
    // Data records that started inside a region and ran past its end: not stored there. Each
    // region's message is shown once a load; this counts them all.
    uint64_t refusedRecords = 0;
};

// Loads an Intel HEX file into image under profile. Every failure is shown through messages
// and gives false; a checksum failure also writes one line to console.
bool LoadHexFile(const DeviceProfile& profile, const std::string& path, FirmwareImage& image,
                 MessageSeam& messages, std::ostream& console, HexLoadNotes* notes = nullptr);

// Same, with the checksum line on standard output.
bool LoadHexFile(const DeviceProfile& profile, const std::string& path, FirmwareImage& image,
                 MessageSeam& messages);

// The completion steps LoadHexFile runs after the end-of-file record.
void BuildConfigMasks(FirmwareImage& image, const DeviceProfile& profile, MessageSeam& messages);
void NormaliseValues(FirmwareImage& image, const DeviceProfile& profile);

}  // namespace vantro
