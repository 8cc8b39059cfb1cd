#pragma once

// Finding units in their bootloader without knowing their ports: the identify request goes out
// on every OUT port in turn while every IN port listens; only a unit in its bootloader answers
// it with a valid reply frame (other devices ignore the manufacturer's SysEx, and a "Through"
// port hands back the request itself, which is no reply). Each OUT port that brought a reply
// is then asked once more on its own, after every earlier request has had its wait, so that a
// late reply is never credited to the OUT port after the one that caused it.

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
    // "IN 2 / OUT 3".
    std::string Pair() const;
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

// A pair that answered but shares its IN or OUT port with another pair that did: a unit heard
// on two IN ports (a Through or a DAW's thru routed to its OUT), fed by two OUT ports, or two
// units behind one OUT. Driving it would reach more than one unit, or one unit twice.
struct AmbiguousPair {
    FoundUnit pair;
    std::string why;  // "OUT 1 is also answered on IN 3; ..."
    // The pair's line, then ": " and why.
    std::string Line() const;
};

// A skipped port as "IN 0 \"name\": the system's text".
std::string SkippedLine(const SkippedPort& port);

struct DetectResult {
    std::vector<FoundUnit> units;          // by OUT, then IN port number; no two share a port
    std::vector<AmbiguousPair> ambiguous;  // by OUT, then IN port number
    std::vector<SkippedPort> skipped;
    // OUT ports whose first request brought a reply, when replies came later than the wait
    // (a reply heard in a wait without requests, or the two requests on one OUT port answered
    // differently): no pair is then credited, as a reply may be an earlier OUT port's.
    std::vector<unsigned> unconfirmed;
    unsigned inPorts = 0;
    unsigned outPorts = 0;
    // Ports there were, but no IN or no OUT port could be used: nothing was tried.
    bool NothingToTry() const;
};

inline constexpr std::chrono::milliseconds kDefaultDetectWait{300};

inline constexpr const char* kAmbiguousHint =
    "Pairs that share a port reach more than one unit, or one unit twice: --unit auto and "
    "upgrade --all leave them alone; choose the pair with --in and --out.";

inline constexpr const char* kLateReplies =
    "replies came later than the wait, so they cannot be told from an earlier OUT port's: try "
    "a longer --wait-ms";

inline constexpr const char* kNoUnitAnswered = "No VANTRO unit answered on any MIDI port pair";

// Looks for units on every pair; each OUT port waits at most wait after its request, and each
// that brought a reply about twice that again for its second. Every port is closed
// again when it returns. idle, when given, is called about every 10 ms.
DetectResult DetectUnits(std::chrono::milliseconds wait = kDefaultDetectWait,
                         LinkTrace* trace = nullptr, const std::function<void()>& idle = {});

}  // namespace vantro
