#include <gtest/gtest.h>

#include "image/DeviceProfile.h"

namespace vantro {
namespace {

int FamilyOf(const std::string& name) {
    DeviceProfile p;
    p.name = name;
    return p.Family();
}

TEST(DeviceProfileFamily, PrefixesDecideInTableOrder) {
    EXPECT_EQ(FamilyOf("24FJ64GB002"), 24);
    EXPECT_EQ(FamilyOf("24XX256"), 8);  // tested before "24"
    EXPECT_EQ(FamilyOf("24fj64"), 24);
    EXPECT_EQ(FamilyOf("18LF4550"), 16);
    EXPECT_EQ(FamilyOf("18F4550"), 16);
    EXPECT_EQ(FamilyOf("30F2010"), 24);
    for (const char* n : {"10F200", "12F675", "16F84", "12HV615", "12LF1840", "16LF1826"}) {
        EXPECT_EQ(FamilyOf(n), 14) << n;
    }
}

TEST(DeviceProfileFamily, OnlyCaseSensitiveStartCounts) {
    EXPECT_EQ(FamilyOf(""), -1);
    EXPECT_EQ(FamilyOf("PIC24FJ64GB002"), -1);
    EXPECT_EQ(FamilyOf("16f84"), -1);
    EXPECT_EQ(FamilyOf("2"), -1);
}

TEST(DeviceProfile, NewProfileIsEmpty) {
    DeviceProfile p;
    EXPECT_TRUE(p.name.empty());
    EXPECT_EQ(p.codeSize, 0);
    EXPECT_EQ(p.configSize, 0);
    EXPECT_TRUE(p.configWords.empty());
    EXPECT_EQ(p.supplyVoltages[1], 0.0f);
}

TEST(DeviceProfile, DescribesTheTarget) {
    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    EXPECT_EQ(p.name, "24FJ64GB002");
    EXPECT_EQ(p.Family(), 24);
    EXPECT_EQ(p.codeSize, 0x153F0);
    EXPECT_EQ(p.configAddress, 0xABF8);
    EXPECT_EQ(p.configAddressOverride, 0);
    EXPECT_EQ(p.configSize, 8);
    EXPECT_EQ(p.dataSize, 0);
    EXPECT_EQ(p.dataAddress, 0);
    EXPECT_EQ(p.deviceId, 0x4207);
    EXPECT_FLOAT_EQ(p.supplyVoltages[0], 2.0f);
    EXPECT_FLOAT_EQ(p.supplyVoltages[2], 3.6f);
    EXPECT_FLOAT_EQ(p.clockRange[1], 32.0f);
}

TEST(DeviceProfile, CatalogueHasFourWordsWithTheirUsedBits) {
    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    ASSERT_EQ(p.configWords.size(), 4u);
    const char* names[] = {"CW4", "CW3", "CW2", "CW1"};
    const std::size_t fields[] = {5, 6, 9, 9};
    const uint32_t used[] = {0x00FF, 0xEF1F, 0xFFF7, 0x7BDF};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(p.configWords[k].name, names[k]);
        EXPECT_EQ(p.configWords[k].offset, 2 * k);
        EXPECT_EQ(p.configWords[k].fields.size(), fields[k]);
        EXPECT_EQ(p.configWords[k].UsedBits(), used[k]) << names[k];
    }
}

TEST(DeviceProfile, GeneratedSettingTexts) {
    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    const auto& wpfp = p.configWords[1].fields[0];
    ASSERT_EQ(wpfp.settings.size(), 32u);
    EXPECT_EQ(wpfp.settings[1].text, "Protected page address 0x000200");
    EXPECT_EQ(wpfp.settings[31].text, "Protected page address 0x003E00");
    EXPECT_EQ(wpfp.settings[31].value, 31);
    const auto& wdtpost = p.configWords[3].fields[0];
    ASSERT_EQ(wdtpost.settings.size(), 16u);
    EXPECT_EQ(wdtpost.settings[15].text, "1:32768");
    const auto& dswdtps = p.configWords[0].fields[4];
    ASSERT_EQ(dswdtps.settings.size(), 16u);
    EXPECT_EQ(dswdtps.settings[0].text, "25.7 days");
    EXPECT_EQ(dswdtps.settings[0].value, 15);
    EXPECT_EQ(dswdtps.settings[15].value, 0);
    const auto& fnosc = p.configWords[2].fields[5];
    EXPECT_EQ(fnosc.name, "FNOSC");
    EXPECT_EQ(fnosc.settings[4].text, "SOSC - Secondary Oscillator");
    EXPECT_EQ(fnosc.settings[4].value, 0x0400);
}

TEST(ConfigWord, UsedBitsOfEmptyWordsIsZero) {
    ConfigWord empty;
    EXPECT_EQ(empty.UsedBits(), 0u);
    ConfigWord noSettings{0, "X", {ConfigField{"F", {}}}};
    EXPECT_EQ(noSettings.UsedBits(), 0u);
}

}  // namespace
}  // namespace vantro
