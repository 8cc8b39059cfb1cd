#pragma once

// The assistant's behaviour, written once for every front-end: start-up and teardown, which
// control runs which handler, what Verify, Browse, Reset, Upgrade, the port-list refresh and a
// device change do, the busy state and what it refuses, and every text the user reads. A
// front-end (Qt, Win32) creates and draws the controls, implements DialogWindow, and routes its
// buttons and window messages to Assistant.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/Link.h"
#include "seam/MessageSeam.h"

namespace platform {
class DeviceChangeWatch;
}

namespace vantro::assistant {

enum class PortList { In, Out };

// What the assistant shows and asks through the dialog's controls.
class DialogControls {
  public:
    virtual ~DialogControls() = default;

    // Shows a list's port names in device order (a position is a device identifier) with
    // selected selected (-1: none); an empty list shows hint where the toolkit can.
    virtual void ShowPorts(PortList list, const std::vector<std::string>& names, int selected,
                           const std::string& hint) = 0;
    // What the user has selected in a list; -1 for nothing.
    virtual int SelectedPort(PortList list) = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowFirmwarePath(const std::string& path) = 0;
    virtual void ShowProgress(int done, int total) = 0;
    virtual void EnableUpgrade(bool enabled) = 0;
    // Gives the keyboard focus to the Upgrade button (disabling it handed the focus on).
    virtual void FocusUpgrade() = 0;
    // The open-file dialog for "(*.hex)", modal to the assistant; nothing when cancelled.
    virtual std::optional<std::string> ChooseHexFile() = 0;
    // Every message box of the assistant (the assistant shows the arrow over it).
    virtual MessageSeam& Messages() = 0;
    // The busy cursor over the window, while an action talks to the unit.
    virtual void ShowWaitCursor(bool shown) = 0;
    // Called about every 10 ms while the unit is awaited: paint, answer the system, and drop
    // the input meant for the dialog.
    virtual void KeepPainting() = 0;
};

// The dialog window around the controls: what start-up, the commands and teardown need.
class DialogWindow : public DialogControls {
  public:
    virtual void MakeStepCaptionsBold() = 0;
    // Appends to the window's menu (Win32: the system menu; Qt: the context menu) a separator,
    // or an item whose choice comes back as OnSysCommand(id).
    virtual void AddMenuSeparator() = 0;
    virtual void AddMenuItem(unsigned id, const std::string& text) = 0;
    virtual void ShowIcons() = 0;
    virtual void ShowAbout() = 0;
    // Ends the dialog's modal loop with IDOK or IDCANCEL.
    virtual void End(int result) = 0;
    // Runs f on the dialog's thread, soon; may be called from any thread. Nothing queued may
    // run once the window is gone.
    virtual void RunOnUiThread(std::function<void()> f) = 0;
};

// Shown in an empty port list where the toolkit can.
inline constexpr const char* kNoPortsHint = "No MIDI ports found";

// The dialog's handlers and the members they use (CVANTRODlg's, without the toolkit).
class Assistant {
  public:
    // notice: told in a box once the dialog has started (a flash dump that cannot be used).
    explicit Assistant(DialogWindow& window, std::string notice = {});
    ~Assistant();
    Assistant(const Assistant&) = delete;
    Assistant& operator=(const Assistant&) = delete;

    void SetLinkTimings(const LinkTimings& timings);
    const LinkTimings& Timings() const { return timings_; }
    // How long Find waits on each OUT port.
    void SetFindWait(std::chrono::milliseconds wait) { findWait_ = wait; }

    // The dialog's start: data exchange, bold step captions, the about and find items, the
    // icons, the port lists, the device-change watch (its calls handed to the UI thread), the
    // notice.
    void Start();
    // The window is going: the watch stops, nothing reaches the window afterwards.
    void Stop();

    // A control's command (its identifier); false for one the dialog does not know. Nothing
    // runs while an action runs.
    bool OnCommand(int id);
    // A menu command (the about box, finding the unit); false when it is not the assistant's
    // (the system handles it).
    bool OnSysCommand(unsigned id);
    // The close box or Alt+F4 (IDCANCEL); false while an action runs.
    bool OnClose();
    // Applied after the running action, if one runs.
    void OnDeviceChange();
    bool Busy() const { return busyDepth_ > 0; }

    // Data exchange between the controls and the members below.
    void UpdateData(bool saveAndValidate);

    int m_nInPortSel = 0;
    int m_nOutPortSel = 0;
    std::string m_strStatus;
    std::string m_strFirmwarePath;

  private:
    class Progress;
    class ArrowOverBoxes : public MessageSeam {
      public:
        explicit ArrowOverBoxes(Assistant& a) : a_(a) {}
        MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

      private:
        Assistant& a_;
    };

    // Runs a handler: no input meanwhile, a port failure shown with its text (after the
    // handler's own objects are gone), and a device change that came meanwhile applied after.
    void RunAction(void (Assistant::*handler)(), bool talksToUnit);
    void FillPortLists();
    void Verify();
    void Browse();
    void Reset();
    void Upgrade();
    void Find();
    bool OpenSelectedPorts(MidiPortPair& pair);
    void ShowPortList(PortList list, std::vector<std::string> names);
    // The selected position and name of each list, "" where none is selected.
    std::vector<std::string> SelectedPortNames();

    DialogWindow& window_;
    std::string notice_;
    ArrowOverBoxes messages_{*this};
    LinkTimings timings_;
    std::chrono::milliseconds findWait_;
    int busyDepth_ = 0;
    int waitCursor_ = 0;
    bool refreshPending_ = false;
    // What the lists show, as the assistant wrote it.
    std::vector<std::string> names_[2];
    std::unique_ptr<platform::DeviceChangeWatch> watch_;
};

// The program's name as message boxes are captioned with it: the executable's base name.
std::string ProgramTitle(const std::string& executablePath);

}  // namespace vantro::assistant
