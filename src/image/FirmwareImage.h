#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantro {

// Code, data and configuration memory as an Intel HEX file gave them, one 32-bit integer per
// byte address, and one flag per code byte that the file actually wrote.
struct FirmwareImage {
    std::string sourcePath;
    std::vector<bool> usedAddresses;  // always as long as codeBytes
    std::vector<int32_t> codeBytes;   // unwritten entries hold 0xFF
    std::vector<int32_t> dataBytes;
    std::vector<int32_t> configBytes;
    std::vector<int32_t> configMasks;

    FirmwareImage() = default;
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;
};

}  // namespace vantro
