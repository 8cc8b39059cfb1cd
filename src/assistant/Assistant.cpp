#include "assistant/Assistant.h"

#include <exception>

#include "bootloader/Commands.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "midi/PortNames.h"
#include "upgrade/UpgradeRun.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::assistant {

// What the upgrade run needs of the dialog, given by its controls.
class AssistantActions::DialogUpgradeUi : public UpgradeUi {
  public:
    explicit DialogUpgradeUi(AssistantActions& a) : a_(a) {}
    std::string FirmwarePath() override { return a_.m_strFirmwarePath; }
    bool FileExists(const std::string& path) override { return a_.controls_.FileExists(path); }
    void SetUpgradeEnabled(bool enabled) override {
        disabled_ = disabled_ || !enabled;
        a_.controls_.SetUpgradeEnabled(enabled);
    }
    // The run disabled the button, which sent the focus on to the next control.
    bool Disabled() const { return disabled_; }
    void UpdateData(bool save) override { a_.UpdateData(save); }
    int InSelection() override { return a_.controls_.ListSelection(PortList::In); }
    int OutSelection() override { return a_.controls_.ListSelection(PortList::Out); }
    void SetProgressRange(int low, int high) override { a_.controls_.SetProgressRange(low, high); }
    void SetProgressPos(int position) override { a_.controls_.SetProgressPos(position); }
    MessageSeam& Messages() override { return a_.controls_.Messages(); }

  private:
    AssistantActions& a_;
    bool disabled_ = false;
};

AssistantActions::AssistantActions(DialogControls& controls) : controls_(controls) {
    SetLinkTimings(LinkTimings{});
}

void AssistantActions::SetLinkTimings(const LinkTimings& timings) {
    timings_ = timings;
    timings_.idle = [this] { controls_.KeepPainting(); };
}

void AssistantActions::RunAction(void (AssistantActions::*handler)(), bool talksToUnit) {
    {
        const bool was = busy_;
        busy_ = true;
        controls_.EnterBusy(talksToUnit);
        struct Leave {
            AssistantActions& a;
            bool was, talksToUnit;
            ~Leave() {
                a.controls_.LeaveBusy(talksToUnit);
                a.busy_ = was;
            }
        } leave{*this, was, talksToUnit};
        try {
            (this->*handler)();
        } catch (const std::exception& e) {
            // The handler's own objects (its port pair above all) are gone by now.
            controls_.Messages().Show(e.what(), MessageButtons::Ok);
        }
    }
    if (!busy_ && refreshPending_) {
        refreshPending_ = false;
        RunAction(&AssistantActions::FillPortLists, false);
    }
}

void AssistantActions::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nInPortSel = controls_.ListSelection(PortList::In);
        m_nOutPortSel = controls_.ListSelection(PortList::Out);
        m_strStatus = controls_.StatusText();
        m_strFirmwarePath = controls_.PathText();
    } else {
        for (const auto& [list, sel] :
             {std::pair{PortList::In, m_nInPortSel}, std::pair{PortList::Out, m_nOutPortSel}}) {
            controls_.SetListSelection(list, sel < controls_.ListCount(list) ? sel : -1);
        }
        controls_.SetStatusText(m_strStatus);
        controls_.SetPathText(m_strFirmwarePath);
    }
}

namespace {

// Appends every port's product name in device order and selects the last one; an empty list
// shows its hint. A failing capability query leaves the list as far as it got, nothing
// selected.
template <typename Caps, typename Port>
void Fill(DialogControls& c, PortList list, const Port& port) {
    c.ClearList(list);
    const UINT count = port.PortCount();
    c.ShowNoPortsHint(list, count == 0);
    midi::ForEachPortName<Caps>(port, [&](UINT, const char* name) { c.AddToList(list, name); });
    if (count != 0)
        c.SetListSelection(list, static_cast<int>(count) - 1);
}

}  // namespace

void AssistantActions::FillPortLists() {
    midi::CMIDIInDevice in;
    Fill<MIDIINCAPSA>(controls_, PortList::In, in);
    midi::CMIDIOutDevice out;
    Fill<MIDIOUTCAPSA>(controls_, PortList::Out, out);
}

void AssistantActions::RefreshPortLists() {
    RunAction(&AssistantActions::FillPortLists, false);
}

void AssistantActions::OnDeviceChange() {
    if (busy_) {
        refreshPending_ = true;  // never inside a running action
        return;
    }
    RefreshPortLists();
}

bool AssistantActions::OpenSelectedPorts(MidiPortPair& pair) {
    const int in = controls_.ListSelection(PortList::In);
    const int out = controls_.ListSelection(PortList::Out);
    if (in == -1 || out == -1) {
        controls_.Messages().Show(kInvalidDeviceSelected, MessageButtons::Ok);
        return false;
    }
    pair.OpenPorts(static_cast<UINT>(in), static_cast<UINT>(out));
    return true;
}

void AssistantActions::OnVerify() {
    RunAction(&AssistantActions::Verify, true);
}

void AssistantActions::Verify() {
    UpdateData(true);
    MidiPortPair pair(&controls_.Messages(), timings_);
    if (!OpenSelectedPorts(pair)) {
        return;
    }
    uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;
    if (QueryVersions(pair, blMajor, blMinor, fwMajor, fwMinor)) {
        m_strStatus = VersionStatus(blMajor, blMinor, fwMajor, fwMinor);
    } else {
        m_strStatus = kVerifyFailed;
    }
    UpdateData(false);
}

void AssistantActions::OnBrowse() {
    RunAction(&AssistantActions::Browse, false);
}

void AssistantActions::Browse() {
    UpdateData(true);
    if (m_strStatus.find("OK") == std::string::npos) {
        controls_.Messages().Show("Please verify the connection!", MessageButtons::Ok);
        return;
    }
    if (const auto chosen = controls_.ChooseHexFile()) {
        UpdateData(true);
        m_strFirmwarePath = *chosen;
        UpdateData(false);
    }
}

void AssistantActions::OnReset() {
    RunAction(&AssistantActions::Reset, true);
}

void AssistantActions::Reset() {
    MidiPortPair pair(&controls_.Messages(), timings_);
    if (!OpenSelectedPorts(pair)) {
        return;
    }
    SendRestart(pair);
}

void AssistantActions::OnUpgrade() {
    RunAction(&AssistantActions::Upgrade, true);
}

void AssistantActions::Upgrade() {
    DialogUpgradeUi ui(*this);
    UpgradeOptions options;
    options.timings = timings_;
    RunUpgrade(ui, options);
    if (ui.Disabled()) {
        controls_.FocusUpgrade();  // so that the next Enter repeats nothing and never quits
    }
}

}  // namespace vantro::assistant
