#pragma once

#include <string>

#include "bootloader/Link.h"
#include "seam/MessageSeam.h"

namespace vantro {

// Shown when either port list has no selection, by every action that talks to the unit.
inline constexpr const char* kInvalidDeviceSelected = "Invalid device selected";

// What one upgrade is asked to do: the firmware file and the two ports, as chosen.
struct UpgradeRequest {
    std::string firmwarePath;
    // The selected positions of the IN and OUT port lists, -1 where a list has no selection.
    int inPort = -1;
    int outPort = -1;
};

// Whatever shows the run: that it runs (the dialog's Upgrade button is off meanwhile) and how
// many of its blocks are written.
class UpgradeProgress {
  public:
    virtual ~UpgradeProgress() = default;
    // true once the file checks have passed; false when the run has ended and its ports are
    // closed (before the progress goes back to 0 and a port failure is told).
    virtual void Running(bool running) = 0;
    virtual void SetTotal(int blocks) = 0;
    virtual void SetDone(int blocks) = 0;
    // What the run waits for before the erase; a window's busy cursor says enough.
    enum class Check { Versions, ReadBack };
    virtual void Checking(Check) {}
};

// What the run does when the bootloader answers the read before the erase with another code,
// so that the link cannot be checked.
enum class UncheckedLink {
    Refuse,  // the failure report: nothing erased or written
    Ask,     // a Yes/No question, No by default, whether to erase and write all the same
};

struct UpgradeOptions {
    LinkTimings timings;
    LinkTrace* trace = nullptr;
    // Read every written block back and compare it.
    bool readBack = false;
    // The pair gets a reply capture of its own: other runs go on at the same time.
    bool ownCapture = false;
    // Read one block back before the erase. The read proves the way towards the computer
    // carries long messages; without it such a link is found at the first write, after the
    // erase.
    bool linkCheck = true;
    UncheckedLink uncheckedLink = UncheckedLink::Ask;
    // With UncheckedLink::Refuse: a last line of the failure report, how to go on without the
    // check.
    std::string uncheckedHint;
    // After the report's note that long messages were paced because the link lost them: how
    // to pace them from the start next time.
    std::string pacedHint;
};

// How a run ended, for callers that report it (the CLI's exit status).
enum class UpgradeOutcome {
    Refused,    // a check before the ports opened, or a failed load: nothing written
    Completed,  // the success report was shown
    Failed,     // the failure report was shown
    PortError,  // a port failed; its text was shown
};

// The whole upgrade of one button click: checks, load, erase, write, VerifyOK, report,
// restart on Yes. Every owned object is released and the progress put back on every way out.
UpgradeOutcome RunUpgrade(const UpgradeRequest& request, UpgradeProgress& progress,
                          MessageSeam& messages, const UpgradeOptions& options = {});

}  // namespace vantro
