#pragma once

// The assistant's behaviour, written once for every front-end: what Verify, Browse, Reset,
// Upgrade, the port-list refresh and a device change do, and how a port failure reaches the
// user. A front-end (Qt, Win32) gives the dialog's controls through DialogControls and routes
// its buttons and window messages to AssistantActions; it only shows and routes.

#include <optional>
#include <string>

#include "bootloader/Link.h"
#include "seam/MessageSeam.h"

namespace vantro::assistant {

enum class PortList { In, Out };

// What the dialog's controls do, as one front-end shows them.
class DialogControls {
  public:
    virtual ~DialogControls() = default;

    // The drop-down lists; unsorted, so that a position stays a device identifier.
    virtual void ClearList(PortList list) = 0;
    // Appends an entry; the selection stays as it was.
    virtual void AddToList(PortList list, const std::string& name) = 0;
    virtual int ListCount(PortList list) = 0;
    virtual int ListSelection(PortList list) = 0;  // -1: none
    virtual void SetListSelection(PortList list, int index) = 0;
    // A greyed hint in an empty list that is no entry.
    virtual void ShowNoPortsHint(PortList list, bool shown) = 0;

    // The read-only status and firmware-path edits.
    virtual std::string StatusText() = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual std::string PathText() = 0;
    virtual void SetPathText(const std::string& text) = 0;

    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void SetUpgradeEnabled(bool enabled) = 0;
    // Gives the keyboard focus to the Upgrade button (disabling it handed the focus on).
    virtual void FocusUpgrade() = 0;

    virtual bool FileExists(const std::string& path) = 0;
    // The open-file dialog for "(*.hex)"; nothing when it was cancelled.
    virtual std::optional<std::string> ChooseHexFile() = 0;
    // Every message box of the assistant.
    virtual MessageSeam& Messages() = 0;

    // While an action runs the window keeps painting but takes no input; an action that
    // talks to the unit shows the busy cursor.
    virtual void EnterBusy(bool talksToUnit) = 0;
    virtual void LeaveBusy(bool talksToUnit) = 0;
    // Called about every 10 ms while the unit is awaited: paint, take no input.
    virtual void KeepPainting() = 0;
};

// CVANTRODlg's handlers and the members they use.
class AssistantActions {
  public:
    explicit AssistantActions(DialogControls& controls);

    void SetLinkTimings(const LinkTimings& timings);
    const LinkTimings& Timings() const { return timings_; }

    // The handlers, as buttons and window messages call them.
    void RefreshPortLists();  // also at start
    void OnDeviceChange();    // applied after the running action, if one runs
    void OnVerify();
    void OnBrowse();
    void OnReset();
    void OnUpgrade();

    // Data exchange between the controls and the members below.
    void UpdateData(bool saveAndValidate);
    bool Busy() const { return busy_; }

    int m_nInPortSel = 0;
    int m_nOutPortSel = 0;
    std::string m_strStatus;
    std::string m_strFirmwarePath;

  private:
    class DialogUpgradeUi;
    // Runs a handler: no input meanwhile, a port failure shown with its text (after the
    // handler's own objects are gone), and a device change that came meanwhile applied after.
    void RunAction(void (AssistantActions::*handler)(), bool talksToUnit);
    void FillPortLists();
    void Verify();
    void Browse();
    void Reset();
    void Upgrade();
    bool OpenSelectedPorts(MidiPortPair& pair);

    DialogControls& controls_;
    LinkTimings timings_;
    bool busy_ = false;
    bool refreshPending_ = false;
};

}  // namespace vantro::assistant
