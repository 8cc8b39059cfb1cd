#pragma once
// The three upgrades over a cable that loses long messages sent faster than the wire drains:
// whole (--pace off) they fail at the first write; at the wire's rate they succeed; without
// --pace they succeed through the paced retry, whose note names the first block.
#include <string>
#include <vector>

namespace testutil {

struct CableRun {
    std::vector<std::string> pace;  // the option as given
    int status;
    bool noted;  // the report says from which block on messages were paced
};

inline const std::vector<CableRun> kCableRuns = {
    {{"--pace", "off"}, 1, false}, {{"--pace", "wire"}, 0, false}, {{}, 0, true}};

// The note of a run whose first block (at 0x2800) was paced after a loss.
inline bool PacedFromTheFirstBlock(const std::string& report) {
    return report.find("from the block at address [2800] on") != std::string::npos;
}

}  // namespace testutil
