// The assistant's behaviour on its own, against a fake set of controls: what each action
// shows and asks, what a running action refuses, device changes, and the program around it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>

#include "../midi/MidiTestSupport.h"
#include "HexFiles.h"
#include "assistant/Assistant.h"
#include "assistant/DialogIds.h"
#include "assistant/Session.h"
#include "bootloader/Commands.h"
#include "midi/MidiInDevice.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"
#include "sim/UnitProtocol.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::assistant {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
const std::string kVersions = "OK - BL V1.2, FW V3.4";
const std::string kGone =
    "The MIDI port \"VANTRO simulated unit\" is gone: it was unplugged, or its MIDI system "
    "stopped.";
// Attempts of 50 ms for a unit that is meant to stay silent; of 5 s otherwise, so that a
// loaded machine adds no retry to the counts.
const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}, {}, true};
const LinkTimings kPatient{std::chrono::milliseconds(50), 100, 3, true, {}, {}, true};

// The dialog as the assistant sees it: what it was last told to show, and a log of the rest.
class FakeWindow : public DialogWindow {
  public:
    struct List {
        std::vector<std::string> names;
        int selected = -1;
        std::string hint;
        bool operator==(const List&) const = default;
    };

    void ShowPorts(PortList l, const std::vector<std::string>& names, int selected,
                   const std::string& hint) override {
        lists[static_cast<int>(l)] = {names, selected, hint};
    }
    int SelectedPort(PortList l) override { return lists[static_cast<int>(l)].selected; }
    void ShowStatus(const std::string& text) override { status = text; }
    void ShowFirmwarePath(const std::string& path) override { this->path = path; }
    void ShowProgress(int done, int total) override {
        progress.emplace_back(done, total);
        upgradeEnabledAtProgress.push_back(upgradeEnabled);
    }
    void EnableUpgrade(bool enabled) override { upgradeEnabled = enabled; }
    void FocusUpgrade() override { log.push_back("focus upgrade"); }
    std::optional<std::string> ChooseHexFile() override {
        ++fileDialogs;
        return chosen;
    }
    MessageSeam& Messages() override { return boxes; }
    void ShowWaitCursor(bool shown) override { waitCursor = shown; }
    void KeepPainting() override {
        ++paints;
        if (duringAction)
            std::exchange(duringAction, nullptr)();
    }
    void MakeStepCaptionsBold() override { log.push_back("bold"); }
    void AddMenuSeparator() override { log.push_back("separator"); }
    void AddMenuItem(unsigned id, const std::string& text) override {
        log.push_back("item " + std::to_string(id) + " " + text);
    }
    void ShowIcons() override { log.push_back("icons"); }
    void ShowAbout() override { log.push_back("about box"); }
    void End(int result) override { log.push_back("end " + std::to_string(result)); }
    void RunOnUiThread(std::function<void()> f) override {
        std::lock_guard lock(mutex);
        queued.push_back(std::move(f));
    }
    // Runs what other threads handed to the UI thread, until f holds.
    template <typename F>
    bool Pump(F f) {
        return testutil::Eventually([&] {
            std::deque<std::function<void()>> now;
            {
                std::lock_guard lock(mutex);
                now.swap(queued);
            }
            for (auto& g : now)
                g();
            return f();
        });
    }

    List& In() { return lists[0]; }
    List& Out() { return lists[1]; }

    List lists[2];
    std::string status = "unset", path = "unset";
    std::vector<std::pair<int, int>> progress;
    std::vector<bool> upgradeEnabledAtProgress;
    bool upgradeEnabled = true;
    bool waitCursor = false;
    int paints = 0;
    int fileDialogs = 0;
    std::optional<std::string> chosen = kExample;
    std::vector<std::string> log;
    std::function<void()> duringAction;  // run once, from inside the next action's wait
    // Each box with whether the busy cursor was showing over it.
    struct Boxes : RecordingMessageSeam {
        explicit Boxes(FakeWindow& w) : RecordingMessageSeam(MessageAnswer::Yes), w(w) {}
        MessageAnswer Show(const std::string& text, MessageButtons b) override {
            waitCursorOverBox.push_back(w.waitCursor);
            return RecordingMessageSeam::Show(text, b);
        }
        FakeWindow& w;
        std::vector<bool> waitCursorOverBox;
    } boxes{*this};
    std::mutex mutex;
    std::deque<std::function<void()>> queued;
};

class AssistantTest : public ::testing::Test {
  protected:
    Assistant& Start(const LinkTimings& timings = kPatient, std::string notice = {}) {
        assistant_.emplace(window_, std::move(notice));
        assistant_->SetLinkTimings(timings);
        assistant_->Start();
        return *assistant_;
    }
    std::vector<std::string> Texts() const { return window_.boxes.Texts(); }

    FakeWindow window_;
    std::optional<Assistant> assistant_;
};

TEST_F(AssistantTest, StartsInOrderRoutesItsCommandsAndQuitKeepsTheData) {
    sim::InProcessUnit unit;
    platform::VirtualOutputPort other("other out", nullptr);
    Assistant& a = Start(kPatient, "the flash dump could not be used");
    EXPECT_THAT(window_.log, ElementsAre("bold", "separator", "item 16 &About VANTRO...",
                                         "item 32 &Find the VANTRO unit", "icons"));
    EXPECT_EQ(window_.status, "");
    EXPECT_EQ(window_.path, "");
    EXPECT_EQ(window_.In(), (FakeWindow::List{{sim::kUnitPortName}, 0, ""}));
    EXPECT_EQ(window_.Out(), (FakeWindow::List{{sim::kUnitPortName, "other out"}, 1, ""}));
    EXPECT_THAT(Texts(), ElementsAre("the flash dump could not be used"));  // once started

    window_.log.clear();
    EXPECT_TRUE(a.OnSysCommand(IDM_ABOUT | 0x3));  // masked with 0xFFF0 it is the about item
    EXPECT_FALSE(a.OnSysCommand(0xF010));          // moving the window: the system's
    EXPECT_FALSE(a.OnCommand(4242));
    ASSERT_EQ(a.m_nOutPortSel, 0);  // as the dialog began; the list now selects its last
    EXPECT_TRUE(a.OnCommand(IDOK));
    EXPECT_EQ(a.m_nOutPortSel, 1);
    EXPECT_TRUE(a.OnClose());
    EXPECT_TRUE(a.OnCommand(IDCANCEL));
    EXPECT_THAT(window_.log, ElementsAre("about box", "end 1", "end 2", "end 2"));
}

TEST_F(AssistantTest, TheSixSteps) {
    sim::InProcessUnit unit;
    Assistant& a = Start();
    a.OnCommand(IDC_BROWSE);  // before Verify: refused
    EXPECT_THAT(Texts(), ElementsAre("Please verify the connection!"));
    EXPECT_EQ(window_.fileDialogs, 0);
    a.OnCommand(IDC_VERIFY);
    EXPECT_EQ(window_.status, kVersions);
    window_.chosen.reset();  // cancelled: nothing changes
    a.OnCommand(IDC_BROWSE);
    EXPECT_EQ(window_.path, "");
    window_.chosen = kExample;
    a.OnCommand(IDC_BROWSE);
    EXPECT_EQ(window_.fileDialogs, 2);
    EXPECT_EQ(window_.path, kExample);

    a.OnCommand(IDC_UPGRADE);
    EXPECT_EQ(Texts().back(), "VANTRO Update is completed and OK!\r\nRestart VANTRO?");
    EXPECT_TRUE(testutil::Eventually([&] { return unit.Core().Restarts() == 1; }));
    EXPECT_EQ(unit.Core().Requests(code::kWriteBlock), 104);
    ASSERT_EQ(window_.progress.size(), 106u);  // the range, 104 blocks, back to 0
    EXPECT_EQ(window_.progress.front(), std::pair(0, 104));
    EXPECT_EQ(window_.progress[104], std::pair(103, 104));
    EXPECT_EQ(window_.progress.back(), std::pair(0, 104));
    EXPECT_THAT(std::vector(window_.upgradeEnabledAtProgress.begin(),
                            window_.upgradeEnabledAtProgress.end() - 1),
                Each(false));
    EXPECT_TRUE(window_.upgradeEnabled);
    // The focus back on the button the run disabled: the next Enter does not quit.
    EXPECT_THAT(window_.log, ::testing::Contains("focus upgrade"));

    a.OnCommand(IDC_VERIFY);  // a second Verify keeps the path
    EXPECT_EQ(window_.path, kExample);
    EXPECT_EQ(window_.status, kVersions);
}

TEST_F(AssistantTest, ASilentUnitOrTheWrongOfTwoLikeNamedPortsGivesError) {
    sim::InProcessUnit unit;
    platform::VirtualInputPort twinIn(sim::kUnitPortName);  // a second interface, silent
    platform::VirtualOutputPort twinOut(sim::kUnitPortName, nullptr);
    Assistant& a = Start(kFast);
    ASSERT_EQ(window_.In().names, std::vector<std::string>(2, sim::kUnitPortName));
    a.OnCommand(IDC_VERIFY);  // the last of each list: the silent one
    EXPECT_EQ(window_.status, "ERROR!");
    a.OnCommand(IDC_BROWSE);
    EXPECT_THAT(Texts(), ElementsAre("Please verify the connection!"));
    EXPECT_EQ(window_.fileDialogs, 0);
    window_.In().selected = window_.Out().selected = 0;
    a.OnCommand(IDC_VERIFY);
    EXPECT_EQ(window_.status, kVersions);
}

TEST_F(AssistantTest, WithoutASelectionInEitherListEveryActionIsRefused) {
    {
        Assistant& a = Start();  // this suite sees no real ports, and no unit is there
        EXPECT_EQ(window_.In(), (FakeWindow::List{{}, -1, kNoPortsHint}));
        a.OnCommand(IDC_VERIFY);
        a.OnCommand(IDC_UPGRADE);
        a.OnCommand(IDC_RESET);
        EXPECT_THAT(Texts(), ElementsAre("Invalid device selected", "Please load a file!",
                                         "Invalid device selected"));
    }
    for (const bool inOnly : {true, false}) {
        std::optional<platform::VirtualInputPort> in;
        std::optional<platform::VirtualOutputPort> out;
        if (inOnly)
            in.emplace("lonely in");
        else
            out.emplace("lonely out", nullptr);
        Assistant& a = Start();
        a.m_strFirmwarePath = kExample;
        window_.boxes.Clear();
        for (const int id : {IDC_VERIFY, IDC_RESET, IDC_UPGRADE})
            a.OnCommand(id);
        EXPECT_THAT(Texts(), ElementsAre("Invalid device selected", "Invalid device selected",
                                         "Invalid device selected"))
            << inOnly;
        EXPECT_EQ(window_.status, "");
        EXPECT_FALSE((in && in->IsOpen()) || (out && out->IsOpen()));
    }
}

TEST_F(AssistantTest, ResetSendsTheRestartFrameAndClosesThePorts) {
    sim::InProcessUnit unit;  // it counts only a sound restart frame of eight bytes
    Start().OnCommand(IDC_RESET);
    EXPECT_TRUE(testutil::Eventually([&] { return unit.Core().Restarts() == 1; }));
    EXPECT_EQ(unit.Core().Requests(code::kRestart), 1);
    EXPECT_THAT(Texts(), IsEmpty());
    midi::CMIDIInDevice in;  // closed again: another can open it
    EXPECT_NO_THROW(in.OpenPort(static_cast<UINT>(window_.In().selected)));
}

TEST_F(AssistantTest, APortFailureIsToldWithItsTextAndTheDialogStaysUsable) {
    sim::SimOptions pulled;
    pulled.unplugAfter = 6;  // its ports go as it is asked for the second block
    sim::InProcessUnit unit(pulled);
    Assistant& a = Start();
    a.OnCommand(IDC_VERIFY);
    ASSERT_EQ(window_.status, kVersions);
    {
        midi::CMIDIInDevice other;  // someone else holds the unit's port
        other.OpenPort(static_cast<UINT>(window_.In().selected));
        a.OnCommand(IDC_VERIFY);
        EXPECT_THAT(Texts(), ElementsAre(testutil::ErrorText(MMSYSERR_ALLOCATED)));
        EXPECT_EQ(window_.status, "");  // the old OK proves nothing now: Browse asks again
    }
    a.OnCommand(IDC_VERIFY);
    // The ports go in the middle of an upgrade: the failure box, and the dialog put back.
    a.OnCommand(IDC_BROWSE);
    a.OnCommand(IDC_UPGRADE);
    EXPECT_THAT(Texts(), ElementsAre(testutil::ErrorText(MMSYSERR_ALLOCATED), kGone));
    EXPECT_TRUE(window_.upgradeEnabled);
    EXPECT_EQ(window_.progress.back().first, 0);
    EXPECT_FALSE(unit.PortsOpen());
    EXPECT_FALSE(a.Busy());
}

TEST_F(AssistantTest, DeviceChangesRefreshTheListsNeverInsideAnAction) {
    platform::VirtualInputPort a1("in one"), a2("in two");
    platform::VirtualOutputPort out1("out one", nullptr), out2("out two", nullptr);
    Assistant& a = Start(kFast);
    window_.In().selected = 0;  // the user's choice, which a refresh replaces by the last
    std::optional<platform::VirtualInputPort> a3;
    a3.emplace("in three");  // the watch hands its call to the UI thread
    ASSERT_TRUE(window_.Pump([&] { return window_.In().names.size() == 3; }));
    EXPECT_EQ(window_.In().selected, 2);

    // A change during Verify is applied once it is done (nothing answers on "out two").
    std::optional<platform::VirtualInputPort> a4;
    window_.duringAction = [&] {
        a4.emplace("in four");
        a.OnDeviceChange();
        EXPECT_EQ(window_.In().names.size(), 3u);
    };
    a.OnCommand(IDC_VERIFY);
    // The refresh after it selected another IN port: the status of the old pair goes.
    EXPECT_EQ(window_.status, "");
    EXPECT_EQ(window_.In(), (FakeWindow::List{{"in one", "in two", "in three", "in four"}, 3, ""}));
    a3.reset();
    a4.reset();

    // A capability query that fails: the list as far as it got, nothing selected, the text.
    a2.FailCapabilityQueries(MMSYSERR_NODRIVER);
    a.OnDeviceChange();
    EXPECT_EQ(window_.In(), (FakeWindow::List{{"in one"}, -1, ""}));
    EXPECT_EQ(window_.Out(), (FakeWindow::List{{"out one", "out two"}, 1, ""}));  // untouched
    a2.FailCapabilityQueries(0);
    out2.FailCapabilityQueries(MMSYSERR_NODRIVER);
    a.OnCommand(IDC_REFRESH);
    EXPECT_EQ(window_.In(), (FakeWindow::List{{"in one", "in two"}, 1, ""}));
    EXPECT_EQ(window_.Out(), (FakeWindow::List{{"out one"}, -1, ""}));
    EXPECT_THAT(Texts(), ElementsAre(testutil::ErrorText(MMSYSERR_NODRIVER),
                                     testutil::ErrorText(MMSYSERR_NODRIVER)));
}

TEST_F(AssistantTest, ARefreshKeepsTheStatusOnlyWhileItSelectsTheSamePair) {
    sim::InProcessUnit unit;
    Assistant& a = Start();
    a.OnCommand(IDC_VERIFY);
    ASSERT_EQ(window_.status, kVersions);
    a.OnDeviceChange();  // a device that is no MIDI port: the same pair again
    EXPECT_EQ(window_.status, kVersions);
    platform::VirtualInputPort later("another interface");  // now the last IN port
    ASSERT_TRUE(window_.Pump([&] { return window_.In().names.back() == "another interface"; }));
    EXPECT_EQ(window_.status, "");
    a.OnCommand(IDC_BROWSE);
    EXPECT_THAT(Texts(), ElementsAre("Please verify the connection!"));
}

TEST_F(AssistantTest, ARunningActionRefusesEverythingAndBoxesShowTheArrow) {
    sim::SimOptions silent;
    silent.faults[sim::FaultKind::Drop] = 1.0;
    sim::InProcessUnit unit(silent);
    Assistant& a = Start(kFast);
    window_.log.clear();
    bool waitCursorDuring = false;
    window_.duringAction = [&] {
        waitCursorDuring = window_.waitCursor;
        EXPECT_TRUE(a.Busy());
        for (const int id : {IDOK, IDCANCEL, IDC_VERIFY, IDC_BROWSE, IDC_UPGRADE, IDC_RESET})
            EXPECT_TRUE(a.OnCommand(id));
        EXPECT_FALSE(a.OnClose());
    };
    a.OnCommand(IDC_VERIFY);
    EXPECT_TRUE(waitCursorDuring);
    EXPECT_GT(window_.paints, 1);
    EXPECT_THAT(window_.log, IsEmpty());  // nothing ended, nothing else ran
    EXPECT_THAT(Texts(), IsEmpty());
    EXPECT_FALSE(window_.waitCursor);

    // A port failure's box, in the middle of an action, shows the arrow; the cursor after it
    // is the normal one. The port lists are no action with the unit: no busy cursor.
    midi::CMIDIInDevice other;
    other.OpenPort(static_cast<UINT>(window_.In().selected));
    a.OnCommand(IDC_VERIFY);
    a.OnCommand(IDC_BROWSE);
    EXPECT_THAT(window_.boxes.waitCursorOverBox, ElementsAre(false, false));
    EXPECT_FALSE(window_.waitCursor);
}

TEST_F(AssistantTest, FindSelectsTheFirstUnitsPairAsAVerifyWouldOrSaysHowToEnterTheBootloader) {
    {
        auto ports = sim::StartSimulatedPorts({}, 0, 1);  // a Through pair only
        Assistant& a = Start();
        a.SetFindWait(std::chrono::milliseconds(50));
        EXPECT_TRUE(a.OnSysCommand(IDM_FIND));
        ASSERT_EQ(Texts().size(), 1u);
        EXPECT_EQ(Texts()[0], std::string("No VANTRO unit answered on any MIDI port pair.\r\n\r\n"
                                          "Put the unit into its bootloader (step 3): ") +
                                  STEP3_TEXT);
        EXPECT_EQ(window_.status, "");
        // Its one IN port held by another program: that is said, not the bootloader.
        window_.boxes.Clear();
        midi::CMIDIInDevice other;
        other.OpenPort(0);
        a.OnSysCommand(IDM_FIND);
        ASSERT_EQ(Texts().size(), 1u);
        EXPECT_THAT(Texts()[0], ::testing::StartsWith(
                                    "The VANTRO unit could not be looked for.\r\n\r\nThese MIDI "
                                    "ports could not be opened (another program may be using "
                                    "them):\r\nIN 0 \""));
        EXPECT_THAT(Texts()[0], ::testing::HasSubstr(testutil::ErrorText(MMSYSERR_ALLOCATED)));
    }
    {
        // One unit heard on two IN ports: neither pair is selected, and the box says why.
        window_.boxes.Clear();
        sim::SimCommandLine::Sharing heardTwice;
        heardTwice.in = true;
        auto ports = sim::StartSimulatedPorts({}, 1, 0, nullptr, heardTwice);
        Assistant& a = Start();
        a.SetFindWait(std::chrono::seconds(3));
        a.OnSysCommand(IDM_FIND);
        ASSERT_EQ(Texts().size(), 1u);
        EXPECT_THAT(Texts()[0],
                    ::testing::StartsWith("VANTRO units answered on pairs that share a port:\r\n"));
        EXPECT_EQ(window_.status, "");
    }
    window_.boxes.Clear();
    auto ports = sim::StartSimulatedPorts({}, 2, 1);  // Through 1, then two units
    Assistant& a = Start();
    a.SetFindWait(std::chrono::seconds(3));  // the units' ports end their waits at the answer
    window_.In().selected = window_.Out().selected = 0;
    bool waitCursorDuring = false;
    window_.duringAction = [&] { waitCursorDuring = window_.waitCursor; };
    a.OnSysCommand(IDM_FIND);
    EXPECT_TRUE(waitCursorDuring);
    EXPECT_EQ(window_.In().selected, 1);
    EXPECT_EQ(window_.Out().selected, 1);
    EXPECT_EQ(window_.status, kVersions);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_THAT(Texts()[0], ::testing::StartsWith("Several VANTRO units answered:\r\nIN 1 / OUT 1: "
                                                  "OK - BL V1.2, FW V3.4"));
    EXPECT_THAT(Texts()[0], ::testing::HasSubstr("IN 2 / OUT 2: OK - BL V1.2, FW V3.5"));
    a.OnCommand(IDC_BROWSE);  // as after a Verify
    EXPECT_EQ(window_.fileDialogs, 1);
}

// The window program, with a toolkit that records.
struct FakeProgram : WindowProgram {
    void Print(const std::string& text, bool error) override {
        printed.push_back((error ? "err: " : "out: ") + text);
    }
    void Prepare(const std::vector<std::string>&) override { printed.push_back("prepared"); }
    void RunDialog(const std::string& notice) override { dialogs.push_back(notice); }
    MessageSeam& Messages() override { return boxes; }
    std::vector<std::string> printed, dialogs;
    RecordingMessageSeam boxes;
};

TEST(WindowProgram, TheCommandLineTheNoticesAndTheExitStatus) {
    using Args = std::vector<std::string>;
    {
        FakeProgram p;
        EXPECT_EQ(RunWindowProgram({"--version", "--bogus"}, "1.2.3", p), 0);
        EXPECT_EQ(RunWindowProgram({"--simulated-unit", "-h"}, "1.2.3", p), 0);
        EXPECT_EQ(RunWindowProgram({"--bogus"}, "1.2.3", p), 2);
        ASSERT_EQ(p.printed.size(), 3u);
        EXPECT_EQ(p.printed[0], "out: VANTRO 1.2.3\n");
        EXPECT_EQ(p.printed[1], std::string("out: ") + kWindowUsage);
        EXPECT_EQ(p.printed[2], "err: VANTRO: unknown argument --bogus (see --help)\n");
        EXPECT_THAT(p.dialogs, IsEmpty());
    }
    for (const Args& args : {Args{"--sim-flash-in", "f.bin"}, Args{"--sim-flash-out", "f.bin"},
                             Args{"--simulated-unit", "--sim-baud"}}) {
        FakeProgram p;
        EXPECT_EQ(RunWindowProgram(args, "1", p), 2) << args[0];
        EXPECT_THAT(p.dialogs, IsEmpty());
    }
    // A flash dump that cannot be read is told in the dialog; one that cannot be written after.
    testutil::TempFile shortDump("abc");
    FakeProgram p;
    EXPECT_EQ(RunWindowProgram({"--restarted", "--simulated-unit", "--sim-flash-in",
                                shortDump.Path(), "--sim-flash-out", "/no/such/dir/f.bin"},
                               "1", p),
              1);
    EXPECT_THAT(p.printed, ElementsAre("prepared"));
    ASSERT_EQ(p.dialogs.size(), 1u);
    EXPECT_EQ(p.dialogs[0], "Cannot use '" + shortDump.Path() +
                                "' as flash dump: a flash dump holds 87024 bytes, this one 3.\n"
                                "The simulated unit starts with its flash erased.");
    ASSERT_EQ(p.boxes.Texts().size(), 1u);
    EXPECT_THAT(p.boxes.Texts()[0],
                ::testing::StartsWith("Could not write the flash dump '/no/such/dir/f.bin': "));
    EXPECT_EQ(ProgramTitle("C:\\Program Files\\VANTRO\\VANTRO.exe"), "VANTRO");
    EXPECT_EQ(ProgramTitle("/usr/bin/vantro.app"), "vantro");
}

}  // namespace
}  // namespace vantro::assistant
