#pragma once

#include <string>
#include <vector>

#include "image/DeviceProfile.h"
#include "image/FirmwareImage.h"
#include "image/HexReader.h"
#include "seam/MessageSeam.h"

namespace testutil {

// Whether a unit's flash holds every byte the HEX file gives above the boot area (the phantom
// byte of each word reads 0 and is not compared).
inline bool FlashHoldsTheFile(const std::vector<uint8_t>& flash, const std::string& hex) {
    vantro::DeviceProfile profile;
    profile.DescribePic24FJ64GB002();
    vantro::FirmwareImage image;
    vantro::RecordingMessageSeam m;
    if (!vantro::LoadHexFile(profile, hex, image, m) || flash.size() < image.codeBytes.size())
        return false;
    for (std::size_t a = 0x2800; a < image.codeBytes.size(); ++a) {
        if (image.usedAddresses[a] && a % 4 != 3 && flash[a] != image.codeBytes[a])
            return false;
    }
    return true;
}

}  // namespace testutil
