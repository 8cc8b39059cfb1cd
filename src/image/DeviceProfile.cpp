#include "image/DeviceProfile.h"

#include <cstdio>
#include <utility>

namespace vantro {

uint32_t ConfigWord::UsedBits() const {
    uint32_t bits = 0;
    for (const auto& field : fields) {
        for (const auto& setting : field.settings) {
            bits |= static_cast<uint32_t>(setting.value);
        }
    }
    return bits;
}

int DeviceProfile::Family() const {
    // Order matters: "24XX" (serial EEPROMs) must win over "24".
    static const std::pair<const char*, int> kPrefixes[] = {
        {"10F", 14}, {"12F", 14},  {"16F", 14}, {"12HV", 14}, {"12LF", 14}, {"16LF", 14},
        {"18F", 16}, {"18LF", 16}, {"24XX", 8}, {"30F", 24},  {"24", 24},
    };
    for (const auto& [prefix, code] : kPrefixes) {
        if (name.rfind(prefix, 0) == 0) {
            return code;
        }
    }
    return -1;
}

namespace {

ConfigField Field(const char* name, std::vector<ConfigSetting> settings) {
    return ConfigField{name, std::move(settings)};
}

ConfigWord DescribeCW4() {
    std::vector<ConfigSetting> dswdtps;
    static const char* kPeriods[] = {"25.7 days", "6.4 days",   "38.5 hours", "9.6 hours",
                                     "2.4 hours", "36 minutes", "9 minutes",  "135 sec",
                                     "34 sec",    "8.5 sec",    "2.1 sec",    "528 ms",
                                     "132 ms",    "33 ms",      "8.3 ms",     "2.1 ms"};
    for (int i = 0; i < 16; ++i) {
        dswdtps.push_back({kPeriods[i], 15 - i});
    }
    return ConfigWord{0,
                      "CW4",
                      {
                          Field("DSWDTEN", {{"Enabled", 0x0080}, {"Disabled", 0x0000}}),
                          Field("DSLPBOREN", {{"Enabled", 0x0040}, {"Disabled", 0x0000}}),
                          Field("RTCOSC", {{"SOSC", 0x0020}, {"LPRC", 0x0000}}),
                          Field("DSWCKSEL", {{"LPRC", 0x0010}, {"SOSC", 0x0000}}),
                          Field("DSWDTPS", std::move(dswdtps)),
                      }};
}

ConfigWord DescribeCW3() {
    std::vector<ConfigSetting> wpfp;
    for (int k = 0; k < 32; ++k) {
        char text[40];
        std::snprintf(text, sizeof text, "Protected page address 0x%06X", k * 0x200);
        wpfp.push_back({text, k});
    }
    return ConfigWord{
        2,
        "CW3",
        {
            Field("WPFP", std::move(wpfp)),
            Field("SOSCSEL",
                  {{"SOSC pins are in default (high drive strength) oscillator mode", 0x0300},
                   {"SOSC pins are in Low-Power (low drive strength) Oscillator mode", 0x0100},
                   {"SOSC pins have digital I/O functions (RA4, RB4); SCLKI can be used", 0x0000}}),
            Field("WUTSEL", {{"Default regulator start-up time is used", 0x0C00},
                             {"Fast regulator start-up time is used", 0x0400}}),
            Field("WPDIS", {{"Segmented code protection is disabled", 0x2000},
                            {"Segmented code protection is enabled; protected segment is defined "
                             "by WPEND, WPCFG and WPFPx Configuration bits",
                             0x0000}}),
            Field("WPCFG",
                  {{"Last page (at the top of program memory) and Flash Configuration "
                    "Words are not protected",
                    0x4000},
                   {"Last page and Flash Configuration Words are code-protected", 0x0000}}),
            Field("WPEND",
                  {{"Protected code segment lower boundary is at the bottom of program memory "
                    "(000000h); upper boundary is the code page specified by WPFP",
                    0x8000},
                   {"Protected code segment upper boundary is at the last page of program "
                    "memory; lower boundary is the code page specified by WPFP",
                    0x0000}}),
        }};
}

ConfigWord DescribeCW2() {
    return ConfigWord{
        4,
        "CW2",
        {
            Field("POSCMD", {{"EC", 0}, {"XT", 1}, {"HS", 2}, {"Off", 3}}),
            Field("I2C1SEL", {{"Alternate", 0x0000}, {"Default", 0x0004}}),
            Field("IOL1WAY",
                  {{"Multiple reconfigurations", 0x0000}, {"One reconfiguration", 0x0010}}),
            Field("OSCIOFNC", {{"IO", 0x0000}, {"Clock", 0x0020}}),
            Field("FCKSM", {{"Switching on, monitor on", 0x0000},
                            {"Switching on, monitor off", 0x0040},
                            {"Switching off, monitor off", 0x0080},
                            {"Switching off, monitor off", 0x00C0}}),
            Field("FNOSC", {{"FRC - Fast RC Oscillator", 0x0000},
                            {"FRCPLL - Fast RC Oscillator with Postscaler and PLL module", 0x0100},
                            {"PRIMARY - Primary Oscillator (XT, HS, EC)", 0x0200},
                            {"PRIMARY PLL - Primary Oscillator with PLL module", 0x0300},
                            {"SOSC - Secondary Oscillator", 0x0400},
                            {"LPRC - Low-Power RC Oscillator", 0x0500},
                            {"invalid", 0x0600},
                            {"FRCDIV - Fast RC Oscillator with Postscaler", 0x0700}}),
            Field("PLL96MHZ", {{"96 MHz PLL is enabled automatically on start-up", 0x0800},
                               {"96 MHz PLL is enabled by user in software (controlled with the "
                                "PLLEN bit in CLKDIV:5:)",
                                0x0000}}),
            Field("PLLDIV", {{"Oscillator input divided by 12 (48 MHz input)", 0x7000},
                             {"Oscillator input divided by 8 (32 MHz input)", 0x6000},
                             {"Oscillator input divided by 6 (24 MHz input)", 0x5000},
                             {"Oscillator input divided by 5 (20 MHz input)", 0x4000},
                             {"Oscillator input divided by 4 (16 MHz input)", 0x3000},
                             {"Oscillator input divided by 3 (12 MHz input)", 0x2000},
                             {"Oscillator input divided by 2 (8 MHz input)", 0x1000},
                             {"Oscillator input used directly (4 MHz input)", 0x0000}}),
            Field("IESO", {{"Off", 0x0000}, {"On", 0x8000}}),
        }};
}

ConfigWord DescribeCW1() {
    std::vector<ConfigSetting> wdtpost;
    for (int k = 0; k < 16; ++k) {
        wdtpost.push_back({"1:" + std::to_string(1 << k), k});
    }
    return ConfigWord{6,
                      "CW1",
                      {
                          Field("WDTPOST", std::move(wdtpost)),
                          Field("WDTPRE", {{"1:32", 0x0000}, {"1:128", 0x0010}}),
                          Field("WINDIS", {{"On", 0x0000}, {"Off", 0x0040}}),
                          Field("FWDTEN", {{"Software", 0x0000}, {"On", 0x0080}}),
                          Field("ICS", {{"invalid", 0x0000},
                                        {"EMUC3, EMUD3", 0x0100},
                                        {"EMUC2, EMUD2", 0x0200},
                                        {"EMUC1, EMUD1", 0x0300}}),
                          Field("DEBUG", {{"On", 0x0000}, {"Off", 0x0800}}),
                          Field("GWRP", {{"All", 0x0000}, {"Off", 0x1000}}),
                          Field("GCP", {{"All", 0x0000}, {"Off", 0x2000}}),
                          Field("JTAGEN", {{"Off", 0x0000}, {"On", 0x4000}}),
                      }};
}

}  // namespace

void DeviceProfile::DescribePic24FJ64GB002() {
    name = "24FJ64GB002";
    configAddressOverride = 0;
    deviceId = 0x4207;

    const int family = Family();
    codeSize = (family == 14 || family == 24) ? 0x153F0 : 0xA9F8;
    if (family == 14 || family == 16) {
        configSize = 16;
    } else if (family == 24) {
        configSize = 8;
    } else {
        configSize = 0;
    }

    configAddress = 0xABF8;
    dataSize = 0;
    dataAddress = 0;
    supplyVoltages = {2.0f, 3.3f, 3.6f};
    clockRange = {0.0f, 32.0f};

    configWords.push_back(DescribeCW4());
    configWords.push_back(DescribeCW3());
    configWords.push_back(DescribeCW2());
    configWords.push_back(DescribeCW1());
}

}  // namespace vantro
