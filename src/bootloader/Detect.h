#pragma once

// Finding units in their bootloader without knowing their ports: the identify request goes out
// on every OUT port in turn while every IN port listens; only a unit in its bootloader answers
// it with a valid reply frame (other devices ignore the manufacturer's SysEx, and a "Through"
// port hands back the request itself, which is no reply).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bootloader/Link.h"

namespace vantro {

// A unit that answered: on which pair, with which versions.
struct FoundUnit {
    unsigned in = 0;
    unsigned out = 0;
    std::string inName;
    std::string outName;
    uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;

    // As Verify shows it: "OK - BL V1.2, FW V3.4".
    std::string Status() const;
    // "IN 2 / OUT 3: OK - BL V1.2, FW V3.4 (IN "...", OUT "...")".
    std::string Line() const;
};

// A port that could not be opened or failed while it was tried, with the system's text.
struct SkippedPort {
    bool input = false;
    unsigned number = 0;
    std::string name;
    std::string why;
};

struct DetectResult {
    std::vector<FoundUnit> units;  // by OUT, then IN port number
    std::vector<SkippedPort> skipped;
    unsigned inPorts = 0;
    unsigned outPorts = 0;
    // Ports there were, but no IN or no OUT port could be used: nothing was tried.
    bool NothingToTry() const;
};

inline constexpr std::chrono::milliseconds kDefaultDetectWait{300};

inline constexpr const char* kNoUnitAnswered = "No VANTRO unit answered on any MIDI port pair";

// Looks for units on every pair; each OUT port waits at most wait after its request. Every
// port is closed again when it returns. idle, when given, is called about every 10 ms.
DetectResult DetectUnits(std::chrono::milliseconds wait = kDefaultDetectWait,
                         LinkTrace* trace = nullptr, const std::function<void()>& idle = {});

}  // namespace vantro
