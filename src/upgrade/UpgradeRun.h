#pragma once

#include <string>

#include "bootloader/Link.h"
#include "seam/MessageSeam.h"

namespace vantro {

// Shown when either port list has no selection, by every action that talks to the unit.
inline constexpr const char* kInvalidDeviceSelected = "Invalid device selected";

// What the upgrade run needs of the dialog: its members, controls and data exchange.
class UpgradeUi {
  public:
    virtual ~UpgradeUi() = default;
    virtual std::string FirmwarePath() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual void SetUpgradeEnabled(bool enabled) = 0;
    virtual void UpdateData(bool saveAndValidate) = 0;
    // The selected position of each port list, -1 when a list has no selection.
    virtual int InSelection() = 0;
    virtual int OutSelection() = 0;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual MessageSeam& Messages() = 0;
};

struct UpgradeOptions {
    LinkTimings timings;
    LinkTrace* trace = nullptr;
    // Read every written block back and compare it.
    bool readBack = false;
};

// How a run ended, for callers that report it (the CLI's exit status).
enum class UpgradeOutcome {
    Refused,    // a check before the ports opened, or a failed load: nothing written
    Completed,  // the success report was shown
    Failed,     // the failure report was shown
    PortError,  // a port failed; its text was shown
};

// The whole upgrade of one button click: checks, load, erase, write, VerifyOK, report,
// restart on Yes. Every owned object is released and the dialog put back on every way out.
UpgradeOutcome RunUpgrade(UpgradeUi& ui, const UpgradeOptions& options = {});

}  // namespace vantro
