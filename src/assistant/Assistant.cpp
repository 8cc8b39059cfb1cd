#include "assistant/Assistant.h"

#include <exception>
#include <utility>

#include "assistant/DialogIds.h"
#include "bootloader/Commands.h"
#include "bootloader/Detect.h"
#include "midi/MidiExceptions.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "platform/DeviceChange.h"
#include "upgrade/UpgradeRun.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::assistant {

namespace {

std::size_t Index(PortList list) {
    return list == PortList::In ? 0 : 1;
}

}  // namespace

// The progress bar and the Upgrade button, as the upgrade run shows itself.
class Assistant::Progress : public UpgradeProgress {
  public:
    explicit Progress(DialogControls& c) : c_(c) {}
    void Running(bool running) override {
        disabled_ = disabled_ || running;
        c_.EnableUpgrade(!running);
    }
    void SetTotal(int blocks) override {
        total_ = blocks;
        c_.ShowProgress(0, total_);
    }
    void SetDone(int blocks) override { c_.ShowProgress(blocks, total_); }
    // The run disabled the button, which sent the focus on to the next control.
    bool Disabled() const { return disabled_; }

  private:
    DialogControls& c_;
    int total_ = 100;  // the bar's range until a plan gives one
    bool disabled_ = false;
};

MessageAnswer Assistant::ArrowOverBoxes::Show(const std::string& text, MessageButtons buttons) {
    // A box that waits for the user shows the arrow over the window, also in a running action.
    const int wait = std::exchange(a_.waitCursor_, 0);
    if (wait > 0)
        a_.window_.ShowWaitCursor(false);
    struct Back {
        Assistant& a;
        int wait;
        ~Back() {
            a.waitCursor_ = wait;
            if (wait > 0)
                a.window_.ShowWaitCursor(true);
        }
    } back{a_, wait};
    return a_.window_.Messages().Show(text, buttons);
}

Assistant::Assistant(DialogWindow& window, std::string notice)
    : window_(window), notice_(std::move(notice)), findWait_(kDefaultDetectWait) {
    SetLinkTimings(LinkTimings{});
}

Assistant::~Assistant() {
    Stop();
}

void Assistant::SetLinkTimings(const LinkTimings& timings) {
    timings_ = timings;
    timings_.idle = [this] { window_.KeepPainting(); };
}

void Assistant::Start() {
    UpdateData(false);
    window_.MakeStepCaptionsBold();
    window_.AddMenuSeparator();
    window_.AddMenuItem(IDM_ABOUT, ABOUT_ITEM_TEXT);
    window_.AddMenuItem(IDM_FIND, FIND_ITEM_TEXT);
    window_.ShowIcons();
    RunAction(&Assistant::FillPortLists, false);
    // The watch calls from its own thread; the lists are the dialog thread's.
    watch_ = std::make_unique<platform::DeviceChangeWatch>(
        [this] { window_.RunOnUiThread([this] { OnDeviceChange(); }); });
    if (!notice_.empty())
        messages_.Show(std::exchange(notice_, {}), MessageButtons::Ok);
}

void Assistant::Stop() {
    watch_.reset();
}

bool Assistant::OnCommand(int id) {
    static constexpr struct {
        int id;
        void (Assistant::*handler)();
        bool talksToUnit;
    } kCommands[] = {
        {IDC_REFRESH, &Assistant::FillPortLists, false},
        {IDC_VERIFY, &Assistant::Verify, true},
        {IDC_BROWSE, &Assistant::Browse, false},
        {IDC_UPGRADE, &Assistant::Upgrade, true},
        {IDC_RESET, &Assistant::Reset, true},
    };
    if (id == IDOK || id == IDCANCEL) {
        if (Busy())
            return true;  // an action runs: the dialog stays
        if (id == IDOK)
            UpdateData(true);  // Quit keeps what the dialog shows, as the framework's OK does
        window_.End(id);
        return true;
    }
    for (const auto& c : kCommands) {
        if (c.id == id) {
            if (!Busy())
                RunAction(c.handler, c.talksToUnit);
            return true;
        }
    }
    return false;
}

bool Assistant::OnSysCommand(unsigned id) {
    switch (id & 0xFFF0) {
        case IDM_ABOUT:
            window_.ShowAbout();
            return true;
        case IDM_FIND:
            if (!Busy())
                RunAction(&Assistant::Find, true);
            return true;
        default:
            return false;
    }
}

bool Assistant::OnClose() {
    const bool idle = !Busy();
    OnCommand(IDCANCEL);
    return idle;
}

void Assistant::RunAction(void (Assistant::*handler)(), bool talksToUnit) {
    {
        ++busyDepth_;
        if (talksToUnit && waitCursor_++ == 0)
            window_.ShowWaitCursor(true);
        struct Leave {
            Assistant& a;
            bool talksToUnit;
            ~Leave() {
                if (talksToUnit && --a.waitCursor_ == 0)
                    a.window_.ShowWaitCursor(false);
                --a.busyDepth_;
            }
        } leave{*this, talksToUnit};
        try {
            (this->*handler)();
        } catch (const std::exception& e) {
            // The handler's own objects (its port pair above all) are gone by now.
            messages_.Show(e.what(), MessageButtons::Ok);
        }
    }
    if (!Busy() && refreshPending_) {
        refreshPending_ = false;
        RunAction(&Assistant::FillPortLists, false);
    }
}

void Assistant::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nInPortSel = window_.SelectedPort(PortList::In);
        m_nOutPortSel = window_.SelectedPort(PortList::Out);
        return;  // the edits are read-only: they hold what the assistant wrote
    }
    for (const auto& [list, sel] :
         {std::pair{PortList::In, m_nInPortSel}, std::pair{PortList::Out, m_nOutPortSel}}) {
        const auto& names = names_[Index(list)];
        window_.ShowPorts(list, names, sel < static_cast<int>(names.size()) ? sel : -1,
                          names.empty() ? kNoPortsHint : "");
    }
    window_.ShowStatus(m_strStatus);
    window_.ShowFirmwarePath(m_strFirmwarePath);
}

void Assistant::ShowPortList(PortList list, std::vector<std::string> names) {
    const int selected = static_cast<int>(names.size()) - 1;
    window_.ShowPorts(list, names, selected, names.empty() ? kNoPortsHint : "");
    names_[Index(list)] = std::move(names);
}

std::vector<std::string> Assistant::SelectedPortNames() {
    std::vector<std::string> both;
    for (const PortList list : {PortList::In, PortList::Out}) {
        const int i = window_.SelectedPort(list);
        const auto& names = names_[Index(list)];
        both.push_back(
            i >= 0 && i < static_cast<int>(names.size()) ? std::to_string(i) + " " + names[i] : "");
    }
    return both;
}

void Assistant::FillPortLists() {
    // The status speaks of the pair it was verified on: a refresh that selects another pair
    // takes it away, so that Browse asks for a Verify again.
    const auto before = SelectedPortNames();
    const auto clearIfMoved = [&] {
        if (!m_strStatus.empty() && SelectedPortNames() != before) {
            m_strStatus.clear();
            window_.ShowStatus(m_strStatus);
        }
    };
    names_[0].clear();
    names_[1].clear();
    platform::PortNames ports = platform::CurrentPortNames();
    // A failing capability query shows the list as far as it got, nothing selected, and the
    // failure.
    if (ports.inputFailure != 0) {
        window_.ShowPorts(PortList::In, ports.inputs, -1, "");
        clearIfMoved();
        throw midi::CMIDIInException(ports.inputFailure);
    }
    ShowPortList(PortList::In, std::move(ports.inputs));
    if (ports.outputFailure != 0) {
        window_.ShowPorts(PortList::Out, ports.outputs, -1, "");
        clearIfMoved();
        throw midi::CMIDIOutException(ports.outputFailure);
    }
    ShowPortList(PortList::Out, std::move(ports.outputs));
    clearIfMoved();
}

void Assistant::OnDeviceChange() {
    if (Busy()) {
        refreshPending_ = true;  // never inside a running action
        return;
    }
    RunAction(&Assistant::FillPortLists, false);
}

bool Assistant::OpenSelectedPorts(MidiPortPair& pair) {
    const int in = window_.SelectedPort(PortList::In);
    const int out = window_.SelectedPort(PortList::Out);
    if (in == -1 || out == -1) {
        messages_.Show(kInvalidDeviceSelected, MessageButtons::Ok);
        return false;
    }
    pair.OpenPorts(static_cast<UINT>(in), static_cast<UINT>(out));
    return true;
}

void Assistant::Verify() {
    UpdateData(true);
    MidiPortPair pair(&messages_, timings_);
    try {
        if (!OpenSelectedPorts(pair)) {
            return;  // the status is not touched
        }
        uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;
        if (QueryVersions(pair, blMajor, blMinor, fwMajor, fwMinor)) {
            m_strStatus = VersionStatus(blMajor, blMinor, fwMajor, fwMinor);
        } else {
            m_strStatus = kVerifyFailed;
        }
    } catch (...) {
        // An OK from before proves nothing about ports that fail now.
        m_strStatus.clear();
        UpdateData(false);
        throw;
    }
    UpdateData(false);
}

void Assistant::Browse() {
    UpdateData(true);
    if (m_strStatus.find("OK") == std::string::npos) {
        messages_.Show("Please verify the connection!", MessageButtons::Ok);
        return;
    }
    if (const auto chosen = window_.ChooseHexFile()) {
        UpdateData(true);
        m_strFirmwarePath = *chosen;
        UpdateData(false);
    }
}

void Assistant::Reset() {
    MidiPortPair pair(&messages_, timings_);
    if (!OpenSelectedPorts(pair)) {
        return;
    }
    SendRestart(pair);
}

void Assistant::Upgrade() {
    UpdateData(true);
    Progress progress(window_);
    UpgradeOptions options;
    options.timings = timings_;
    RunUpgrade(UpgradeRequest{m_strFirmwarePath, m_nInPortSel, m_nOutPortSel}, progress, messages_,
               options);
    if (progress.Disabled()) {
        window_.FocusUpgrade();  // so that the next Enter repeats nothing and never quits
    }
}

namespace {

// Why Find selected nothing: what answered where it could not be trusted, and the ports held
// by another program (the unit may be behind one of them).
std::string NoUnitFound(const DetectResult& found) {
    std::string text;
    if (!found.ambiguous.empty()) {
        text = "VANTRO units answered on pairs that share a port:\r\n";
        for (const AmbiguousPair& p : found.ambiguous)
            text += p.Line() + "\r\n";
        text +=
            "\r\nSuch a pair reaches more than one unit, or one unit twice, so none is selected: "
            "choose the unit's own IN and OUT ports in the lists, then Verify.";
    } else if (!found.unconfirmed.empty()) {
        text = std::string(kNoUnitAnswered) +
               ": replies came later than the wait, so they "
               "could not be told apart.";
    } else if (found.NothingToTry()) {
        text = "The VANTRO unit could not be looked for.";
    } else {
        text = std::string(kNoUnitAnswered) +
               ".\r\n\r\nPut the unit into its bootloader (step 3): " STEP3_TEXT;
    }
    if (!found.skipped.empty()) {
        text +=
            "\r\n\r\nThese MIDI ports could not be opened (another program may be using "
            "them):\r\n";
        for (const SkippedPort& p : found.skipped)
            text += SkippedLine(p) + "\r\n";
    }
    return text;
}

}  // namespace

void Assistant::Find() {
    FillPortLists();  // the lists number the ports as the search does
    const DetectResult found = DetectUnits(findWait_, nullptr, [this] { window_.KeepPainting(); });
    if (found.units.empty()) {
        messages_.Show(NoUnitFound(found), MessageButtons::Ok);
        return;
    }
    const FoundUnit& unit = found.units.front();
    m_nInPortSel = static_cast<int>(unit.in);
    m_nOutPortSel = static_cast<int>(unit.out);
    m_strStatus = unit.Status();
    UpdateData(false);  // as a successful Verify shows it: Browse opens
    if (found.units.size() > 1) {
        std::string text = "Several VANTRO units answered:\r\n";
        for (const FoundUnit& u : found.units)
            text += u.Line() + "\r\n";
        messages_.Show(text + "\r\nThe first is selected.", MessageButtons::Ok);
    }
}

std::string ProgramTitle(const std::string& executablePath) {
    std::string name = executablePath;
    if (const auto slash = name.find_last_of("\\/"); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

}  // namespace vantro::assistant
