#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include "bootloader/Detect.h"
#include "bootloader/Link.h"
#include "cli/ConsoleMessages.h"
#include "upgrade/UpgradeRun.h"

namespace vantro::cli {

struct AllUnitsOptions {
    std::string path;
    Answer answer = Answer::No;  // Yes or No: there is no one question to ask
    bool readBack = false;
    bool linkCheck = true;  // false: --no-link-check
    LinkTimings timings;
    LinkTrace* trace = nullptr;
    std::chrono::milliseconds detectWait = kDefaultDetectWait;
};

// The failure report's last line when the bootloader cannot read back.
inline constexpr const char* kUncheckedHint =
    "To upgrade without the check, run again with --no-link-check: a link that loses long "
    "messages on their way to the computer is then found only at the first write, after the "
    "erase.";

// After the report's note that long messages were paced because the link lost them.
inline constexpr const char* kPacedHint =
    "Next time, run with --pace wire: long messages then leave paced from the start, which "
    "saves the wait for the lost attempt.";

// Upgrade options as vantro-cli gives them: the link check refused, never asked.
UpgradeOptions CliUpgradeOptions(bool readBack, bool linkCheck, const LinkTimings& timings,
                                 LinkTrace* trace);

// Upgrades every unit detect finds at the same time, each on its own pair with its own reply
// capture: one progress line per unit on err (redrawn in place on a terminal, a line every two
// seconds otherwise), then each unit's report under its ports' names and a summary table on
// out, with the pairs that share a port (never upgraded) and the ports that were skipped.
// Returns 0 when every unit succeeded, 1 when none answered or one failed, 3 when a port
// failed, 5 when all that ran succeeded but a pair was left alone or a port skipped.
int UpgradeAllUnits(const AllUnitsOptions& options, std::ostream& out, std::ostream& err,
                    bool terminal);

}  // namespace vantro::cli
