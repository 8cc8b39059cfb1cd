#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantro {

struct ConfigSetting {
    std::string text;
    int32_t value = 0;  // the field's bit pattern, already shifted into place
};

struct ConfigField {
    std::string name;
    std::vector<ConfigSetting> settings;
};

struct ConfigWord {
    int32_t offset = 0;
    std::string name;
    std::vector<ConfigField> fields;

    // OR of every setting's value: the bits of the word that the target uses.
    uint32_t UsedBits() const;
};

// The microcontroller a HEX file is loaded for: family, memory geometry and the catalogue of
// configuration words.
struct DeviceProfile {
    std::string name;
    int32_t codeSize = 0;
    int32_t configAddress = 0;
    int32_t configAddressOverride = 0;
    int32_t dataSize = 0;
    int32_t dataAddress = 0;
    int32_t configSize = 0;
    int32_t deviceId = 0;
    std::vector<ConfigWord> configWords;
    std::array<float, 3> supplyVoltages{};
    std::array<float, 2> clockRange{};

    // Width in bits of a program-memory word of the family: 14, 16, 8 or 24; -1 when unknown.
    int Family() const;

    void DescribePic24FJ64GB002();
};

}  // namespace vantro
