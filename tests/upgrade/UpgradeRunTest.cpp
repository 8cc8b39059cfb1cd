// Whole upgrade runs against the simulated unit, with short injected timings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

#include "../midi/MidiTestSupport.h"
#include "HexFiles.h"
#include "bootloader/Commands.h"
#include "image/HexReader.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"
#include "sim/UnitProtocol.h"
#include "upgrade/UpgradeRun.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testutil::Bytes;

// Without the paced retry, which has tests of its own: these runs are about other faults.
// Attempts of 50 ms, for runs that wait for silence; a loaded machine may add a retry.
const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}, {}, false};
// Attempts of 5 s, for runs whose request counts are asserted: no retry happens by chance.
const LinkTimings kPatient{std::chrono::milliseconds(50), 100, 3, true, {}, {}, false};

std::string Example() {
    return std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
}

// What the run is asked, and whatever shows it, recording what the run does to it.
class FakeUi : public UpgradeProgress {
  public:
    explicit FakeUi(std::string path) : path(std::move(path)) {}

    void Running(bool running) override {
        buttonStates.push_back(!running);
        log.push_back(running ? "disabled" : "enabled");
    }
    void SetTotal(int blocks) override { ranges.emplace_back(0, blocks); }
    void SetDone(int position) override {
        positions.push_back(position);
        log.push_back("pos " + std::to_string(position));
    }

    void SelectPortsNamed(const std::string& name) {
        in = testutil::FindInput(name);
        out = testutil::FindOutput(name);
    }

    std::string path;
    int in = -1, out = -1;
    std::vector<bool> buttonStates;  // the Upgrade button's, as a dialog would set it
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    RecordingMessageSeam messages{MessageAnswer::Yes};
    std::vector<std::string> log;  // what the run did to the dialog, in order

    struct LoggedSeam : MessageSeam {
        explicit LoggedSeam(FakeUi& u) : ui(u) {}
        MessageAnswer Show(const std::string& text, MessageButtons b) override {
            ui.log.push_back("message");
            return ui.messages.Show(text, b);
        }
        FakeUi& ui;
    } logged{*this};
};

UpgradeOutcome RunUpgrade(FakeUi& ui, const UpgradeOptions& options = {}) {
    return vantro::RunUpgrade(UpgradeRequest{ui.path, ui.in, ui.out}, ui, ui.logged, options);
}

// Records every SysEx message of the run.
class Recorder : public LinkTrace {
  public:
    void Sent(const uint8_t* b, std::size_t n) override {
        std::lock_guard lock(m);
        sent.emplace_back(b, b + n);
    }
    void Received(const uint8_t*, std::size_t) override {}
    std::vector<Bytes> Sent() {
        std::lock_guard lock(m);
        return sent;
    }
    int Count(uint8_t code) {
        int n = 0;
        for (const auto& f : Sent())
            n += f.size() > 5 && f[5] == code;
        return n;
    }

  private:
    std::mutex m;
    std::vector<Bytes> sent;
};

// What a correct upgrade of a file does, worked out here from the file alone: the pages from
// the one holding the first byte at or above 0x2800 up to the one holding the file's last byte
// are erased, and that stretch is written in 256-byte blocks.
struct ExpectedUpgrade {
    explicit ExpectedUpgrade(const std::string& hex) {
        DeviceProfile profile;
        profile.DescribePic24FJ64GB002();
        RecordingMessageSeam m;
        EXPECT_TRUE(LoadHexFile(profile, hex, image, m));
        const std::size_t n = image.codeBytes.size();
        std::size_t first = 0x2800;
        while (first < n && !image.usedAddresses[first])
            ++first;
        if (first >= n)
            return;
        pageStart = first / 2048 * 2048;
        end = n;
        erase = {static_cast<uint32_t>(pageStart / 2),
                 static_cast<unsigned>((n - pageStart + 2047) / 2048)};
        for (std::size_t b = pageStart; b < n; b += 256)
            words.push_back(static_cast<uint32_t>(b / 2));
    }
    // The flash after the upgrade, from the flash before it.
    std::vector<uint8_t> Flash(std::vector<uint8_t> flash) const {
        if (words.empty())
            return flash;
        for (std::size_t a = pageStart; a < pageStart + 2048 * erase.pages; ++a)
            flash[a] = a % 4 == 3 ? 0x00 : 0xFF;
        for (std::size_t a = pageStart; a < end; ++a) {
            if (a % 4 != 3)
                flash[a] = static_cast<uint8_t>(image.codeBytes[a]);
        }
        return flash;
    }

    FirmwareImage image;
    std::size_t pageStart = 0, end = 0;
    sim::UnitCore::Erase erase{0, 0};
    std::vector<uint32_t> words;  // the blocks' word addresses, in order
};

struct UpgradeFixture {
    explicit UpgradeFixture(const sim::SimOptions& o = {}) : unit(WithLate(o)), ui(Example()) {
        ui.SelectPortsNamed(sim::kUnitPortName);
        before = unit.Core().FlashDump();
    }
    static sim::SimOptions WithLate(sim::SimOptions o) {
        o.lateDelay = std::chrono::milliseconds(80);  // past one 50 ms attempt
        return o;
    }
    UpgradeOutcome Go(bool readBack = false, const LinkTimings& timings = kPatient) {
        UpgradeOptions options;
        options.timings = timings;
        options.trace = &trace;
        options.readBack = readBack;
        return RunUpgrade(ui, options);
    }
    // The dialog is put back: button enabled, progress 0, ports closed.
    void ExpectPutBack() {
        ASSERT_FALSE(ui.buttonStates.empty());
        EXPECT_TRUE(ui.buttonStates.back());
        ASSERT_FALSE(ui.positions.empty());
        EXPECT_EQ(ui.positions.back(), 0);
        CheckPortsClosed();
    }
    void CheckPortsClosed() {
        // A port that is still open cannot be opened again.
        midi::CMIDIInDevice in;
        midi::CMIDIOutDevice out;
        EXPECT_NO_THROW(in.OpenPort(static_cast<UINT>(ui.in)));
        EXPECT_NO_THROW(out.OpenPort(static_cast<UINT>(ui.out)));
    }

    sim::InProcessUnit unit;
    FakeUi ui;
    Recorder trace;
    std::vector<uint8_t> before;
};

const char* kSuccess = "VANTRO Update is completed and OK!\r\nRestart VANTRO?";
// The report of a link that did not carry the block read back before the erase.
const char* kUnchanged =
    "VANTRO Update FAILED:\r\nError: The unit did not send back a block of its flash memory, so "
    "nothing was erased or written: the unit is unchanged.\r\nThe unit answers short messages, "
    "so the MIDI interface or cable loses long System Exclusive messages on their way to the "
    "computer: try another interface or cable";
// The report of a unit that did not answer the identify before the check.
const char* kNoAnswer =
    "VANTRO Update FAILED:\r\nError: The unit did not answer, so nothing was erased or written: "
    "the unit is unchanged.\r\nCheck that the unit is in its bootloader (step 3)";

TEST(UpgradeRun, WholeUpgradeOfTheExampleAndRestartOnYes) {
    UpgradeFixture run;
    const ExpectedUpgrade expected(Example());
    ASSERT_EQ(expected.words.size(), 104u);
    ASSERT_EQ(run.Go(), UpgradeOutcome::Completed);
    EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(kSuccess));
    EXPECT_EQ(run.ui.messages.Entries()[0].buttons, MessageButtons::YesNo);
    // What the unit was told, in its own word addresses, and what its flash holds now.
    EXPECT_THAT(run.unit.Core().Erases(), ElementsAre(expected.erase));
    EXPECT_EQ(run.unit.Core().WrittenWords(), expected.words);
    EXPECT_EQ(run.unit.Core().FlashDump(), expected.Flash(run.before));
    EXPECT_EQ(run.unit.Core().VerifyOks(), 1);
    // The restart frame reaches the unit after the run has returned.
    EXPECT_TRUE(testutil::Eventually([&] { return run.unit.Core().Restarts() == 1; }));
    EXPECT_EQ(run.trace.Sent().back(), (Bytes{0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7}));

    EXPECT_THAT(run.ui.ranges, ElementsAre(std::pair{0, 104}));
    ASSERT_EQ(run.ui.positions.size(), 105u);
    for (int k = 0; k < 104; ++k)
        EXPECT_EQ(run.ui.positions[k], k);
    EXPECT_THAT(run.ui.buttonStates, ElementsAre(false, true));
    run.ExpectPutBack();
}

TEST(UpgradeRun, NoSendsNothingMore) {
    UpgradeFixture run;
    run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
    ASSERT_EQ(run.Go(), UpgradeOutcome::Completed);
    EXPECT_EQ(run.unit.Core().Restarts(), 0);
    EXPECT_EQ(run.trace.Sent().back(), (Bytes{0xF0, 0x6F, 0x10, 0x00, 0x11, 0x09, 0x77, 0xF7}));
    run.ExpectPutBack();
}

TEST(UpgradeRun, RefusalsBeforeThePortsOpen) {
    {
        FakeUi ui("");
        EXPECT_EQ(RunUpgrade(ui), UpgradeOutcome::Refused);
        EXPECT_THAT(ui.messages.Texts(), ElementsAre("Please load a file!"));
        EXPECT_TRUE(ui.buttonStates.empty());  // never disabled
    }
    {
        FakeUi ui("/nonexistent/firmware.hex");
        EXPECT_EQ(RunUpgrade(ui), UpgradeOutcome::Refused);
        EXPECT_THAT(ui.messages.Texts(), ElementsAre("The file does not exist"));
        EXPECT_TRUE(ui.buttonStates.empty());
    }
    // Either list without a selection is enough; no port is opened.
    for (const auto& [in, out] : {std::pair{-1, -1}, std::pair{0, -1}, std::pair{-1, 0}}) {
        FakeUi ui(Example());
        ui.in = in;
        ui.out = out;
        EXPECT_EQ(RunUpgrade(ui), UpgradeOutcome::Refused) << in << " " << out;
        EXPECT_THAT(ui.messages.Texts(), ElementsAre("Invalid device selected"));
        EXPECT_THAT(ui.buttonStates, ElementsAre(false, true));
        EXPECT_TRUE(ui.positions.empty());
    }
}

TEST(UpgradeRun, FailedLoadWritesNothing) {
    testutil::TempFile bad(testutil::Lines({testutil::Data(0x2800, {1, 2, 3, 4})}));
    UpgradeFixture run;
    run.ui.path = bad.Path();
    EXPECT_EQ(run.Go(), UpgradeOutcome::Refused);
    EXPECT_THAT(run.ui.messages.Texts(), ElementsAre("Failure in hex file..."));
    EXPECT_TRUE(run.trace.Sent().empty());  // no erase, no write, no VerifyOK
    EXPECT_EQ(run.unit.Core().FlashDump(), run.before);
    run.ExpectPutBack();
}

TEST(UpgradeRun, AFileWithNothingForTheApplicationAreaSendsNothingAndFails) {
    // Only the end record, or data only in the boot area.
    testutil::TempFile eofOnly(testutil::Lines({testutil::kEof}));
    testutil::TempFile low(testutil::Lines({testutil::Data(0x0000, {1, 2, 3, 4}), testutil::kEof}));
    for (const auto* file : {&eofOnly, &low}) {
        UpgradeFixture run;
        run.ui.path = file->Path();
        EXPECT_EQ(run.Go(), UpgradeOutcome::Failed);
        EXPECT_THAT(run.ui.ranges, ElementsAre(std::pair{0, 0}));
        EXPECT_TRUE(run.trace.Sent().empty());  // no erase, no write, no VerifyOK
        EXPECT_THAT(run.ui.messages.Texts(),
                    ElementsAre("VANTRO Update FAILED:\r\nError: The file holds nothing for the "
                                "application area (from byte address 0x2800 on), so nothing was "
                                "erased or written: the unit is unchanged.\r\n"));
        run.ExpectPutBack();
    }
}

TEST(UpgradeRun, PortFailureIsShownAndTheDialogPutBack) {
    UpgradeFixture run;
    run.ui.out = 10000;  // a port that is not there
    EXPECT_EQ(run.Go(), UpgradeOutcome::PortError);
    // By the time the failure is shown, the button is enabled and the bar back at 0.
    ASSERT_GE(run.ui.log.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(run.ui.log.end() - 3, run.ui.log.end()),
                ElementsAre("enabled", "pos 0", "message"));
    ASSERT_EQ(run.ui.messages.Texts().size(), 1u);
    EXPECT_EQ(run.ui.messages.Texts()[0], testutil::ErrorText(MMSYSERR_BADDEVICEID));
    run.ui.out = testutil::FindOutput(sim::kUnitPortName);
    run.ExpectPutBack();
}

// A unit whose answers a test can bend: the simulated unit's core behind a filter that
// decides what, if anything, goes back.
class BentUnit {
  public:
    using Bend = std::function<std::optional<Bytes>(const Bytes& request, sim::UnitCore& core)>;

    BentUnit(Bend bend, sim::UnitCore& core)
        : bend_(std::move(bend)),
          core_(core),
          toHost_("bent unit"),
          fromHost_("bent unit", [this](const uint8_t* b, std::size_t n) {
              if (auto reply = bend_(Bytes(b, b + n), core_); reply && !reply->empty()) {
                  toHost_.SendSysEx(reply->data(), reply->size());
              }
          }) {}

  private:
    Bend bend_;
    sim::UnitCore& core_;
    platform::VirtualInputPort toHost_;
    platform::VirtualOutputPort fromHost_;
};

// What the unit itself answers.
Bytes Answer(sim::UnitCore& core, const Bytes& request) {
    return core.Handle(request.data(), request.size()).reply;
}

Bytes Reseal(Bytes f) {
    f[f.size() - 2] = sim::unit::Checksum(f.data(), f.size());
    return f;
}

UpgradeOutcome RunOnBent(BentUnit::Bend bend, FakeUi& ui, sim::UnitCore& core, bool readBack,
                         const LinkTimings& timings) {
    BentUnit unit(std::move(bend), core);
    ui.SelectPortsNamed("bent unit");
    UpgradeOptions options;
    options.timings = timings;
    options.readBack = readBack;
    return RunUpgrade(ui, options);
}

UpgradeOutcome RunOnBent(BentUnit::Bend bend, FakeUi& ui, const LinkTimings& timings = kPatient) {
    sim::UnitCore core({});
    return RunOnBent(std::move(bend), ui, core, false, timings);
}

TEST(UpgradeFailures, EveryCommandsEchoIsChecked) {
    // A valid frame naming another command fails the erase and the write at once.
    for (const uint8_t bent : {code::kErasePages, code::kWriteBlock}) {
        FakeUi ui(Example());
        int requests = 0;
        const auto outcome = RunOnBent(
            [&](const Bytes& req, sim::UnitCore& core) -> std::optional<Bytes> {
                requests += req[5] == bent;
                Bytes reply = Answer(core, req);
                if (req[5] == bent)
                    reply[5] = code::kVerifyOK;
                return Reseal(reply);
            },
            ui);
        EXPECT_EQ(outcome, UpgradeOutcome::Failed);
        EXPECT_EQ(requests, 1) << int{bent};
    }
}

TEST(UpgradeFailures, WriteFailureAtAChosenBlockNamesItsAddress) {
    FakeUi ui(Example());
    const auto outcome = RunOnBent(
        [](const Bytes& req, sim::UnitCore& core) -> std::optional<Bytes> {
            Bytes reply = Answer(core, req);
            if (req[5] == code::kWriteBlock && GetNibbles(req.data() + 8, 6) == 0x2900 >> 1) {
                reply[5] = code::kReadBlock;  // a valid frame naming another command
                return Reseal(reply);
            }
            return reply;
        },
        ui);
    EXPECT_EQ(outcome, UpgradeOutcome::Failed);
    EXPECT_THAT(ui.messages.Texts(),
                ElementsAre("VANTRO Update FAILED:\r\nError: Failed writing to flash memory at "
                            "adress [2900]\r\n"));
    EXPECT_EQ(ui.messages.Entries()[0].buttons, MessageButtons::Ok);
    // Blocks 0 and 1 were begun, nothing after.
    EXPECT_THAT(ui.positions, ElementsAre(0, 1, 0));
    EXPECT_TRUE(ui.buttonStates.back());
}

TEST(UpgradeFailures, EraseFailureWritesNothingAndSendsNoVerifyOk) {
    FakeUi ui(Example());
    int writes = 0, verifies = 0;
    const auto outcome = RunOnBent(
        [&](const Bytes& req, sim::UnitCore& core) -> std::optional<Bytes> {
            writes += req[5] == code::kWriteBlock;
            verifies += req[5] == code::kVerifyOK;
            if (req[5] == code::kErasePages)
                return std::nullopt;  // silent: three attempts
            return Answer(core, req);
        },
        ui, kFast);
    EXPECT_EQ(outcome, UpgradeOutcome::Failed);
    EXPECT_THAT(ui.messages.Texts(),
                ElementsAre("VANTRO Update FAILED:\r\nError: Failed erasing flash memory\r\n"));
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(verifies, 0);
    EXPECT_EQ(ui.positions.back(), 0);
}

TEST(UpgradeFailures, VerifyOkAnsweredWithAnotherCode) {
    FakeUi ui(Example());
    const auto outcome = RunOnBent(
        [](const Bytes& req, sim::UnitCore& core) -> std::optional<Bytes> {
            Bytes reply = Answer(core, req);
            if (req[5] == code::kVerifyOK) {
                reply[5] = code::kReadBlock;
                return Reseal(reply);
            }
            return reply;
        },
        ui);
    EXPECT_EQ(outcome, UpgradeOutcome::Failed);
    EXPECT_THAT(ui.messages.Texts(),
                ElementsAre("VANTRO Update FAILED:\r\nError: Sending VerifyOK failed.\r\n"));
}

TEST(UpgradeFailures, SilentVerifyOkStillReportsSuccess) {
    sim::SimOptions o;
    o.faults[sim::FaultKind::SilentVerify] = 1.0;
    UpgradeFixture run(o);
    EXPECT_EQ(run.Go(false, kFast), UpgradeOutcome::Completed);
    EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(kSuccess));
    EXPECT_EQ(run.trace.Count(code::kVerifyOK), 3);
}

TEST(UpgradeFaults, RatesThatRetriesAbsorbEndWellWithACorrectFlash) {
    sim::SimOptions o;
    // About one attempt in ten goes wrong; three in a row are rare enough for this seed.
    o.faults[sim::FaultKind::Drop] = 0.04;
    o.faults[sim::FaultKind::Corrupt] = 0.04;
    o.faults[sim::FaultKind::Late] = 0.02;
    o.faults[sim::FaultKind::ShortNoise] = 0.05;
    o.seed = 7;
    o.lateDelay = std::chrono::milliseconds(250);  // past one attempt
    UpgradeFixture run(o);
    run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
    // Attempts of 200 ms: long enough that a loaded machine adds no retry of its own, which
    // would draw other faults from the seed.
    ASSERT_EQ(run.Go(false, LinkTimings{std::chrono::milliseconds(10), 20, 3, true, {}, {}, false}),
              UpgradeOutcome::Completed)
        << run.ui.messages.Texts().back();
    EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedUpgrade(Example()).Flash(run.before));
    // Noise on many exchanges is told once for the whole run.
    EXPECT_THAT(run.ui.messages.Texts(),
                ElementsAre("Invalid short message received!\n", kSuccess));
}

TEST(UpgradeFaults, TheLinkCheckSaysWhatItProved) {
    sim::SimOptions silent, shortOnly, noReadBack, shortToUnit;
    silent.faults[sim::FaultKind::Drop] = 1.0;
    shortOnly.maxSysEx = 16;  // the identify passes, the block read back does not
    noReadBack.noReadBack = true;
    shortToUnit.maxSysExToUnit = 16;  // the read passes: the way back carries long messages
    const std::string refused =
        "VANTRO Update FAILED:\r\nError: The unit's bootloader did not read back its flash "
        "memory (it answered with another code), so the link could not be checked and nothing "
        "was erased or written: the unit is unchanged.\r\nhow to go on\r\n";
    for (const auto& [o, report] :
         {std::pair{silent, std::string(kNoAnswer)}, std::pair{shortOnly, std::string(kUnchanged)},
          std::pair{noReadBack, refused}}) {
        UpgradeFixture run(o);
        UpgradeOptions options;
        options.timings = kFast;
        options.trace = &run.trace;
        options.uncheckedLink = UncheckedLink::Refuse;
        options.uncheckedHint = "how to go on";
        EXPECT_EQ(RunUpgrade(run.ui, options), UpgradeOutcome::Failed);
        ASSERT_EQ(run.ui.messages.Texts().size(), 1u);
        EXPECT_THAT(run.ui.messages.Texts()[0], StartsWith(report));
        EXPECT_EQ(run.trace.Count(code::kErasePages), 0);
        EXPECT_EQ(run.unit.Core().FlashDump(), run.before);
        run.ExpectPutBack();
    }
    {
        // The windows ask, No by default; No leaves the unit as it was, and the report says so.
        UpgradeFixture run(noReadBack);
        run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
        EXPECT_EQ(run.Go(), UpgradeOutcome::Failed);
        ASSERT_EQ(run.ui.messages.Entries().size(), 2u);
        EXPECT_EQ(run.ui.messages.Entries()[0].buttons, MessageButtons::YesNoDefaultNo);
        EXPECT_THAT(run.ui.messages.Texts()[1], StartsWith(refused.substr(0, 80)));
        EXPECT_EQ(run.unit.Core().FlashDump(), run.before);
    }
    for (const bool ask : {true, false}) {
        // Yes to the question, or no check asked for: the upgrade without the read.
        UpgradeFixture run(noReadBack);
        UpgradeOptions options;
        options.timings = kPatient;
        options.linkCheck = ask;
        EXPECT_EQ(RunUpgrade(run.ui, options), UpgradeOutcome::Completed);
        EXPECT_EQ(run.ui.messages.Texts().size(), ask ? 2u : 1u);
        EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedUpgrade(Example()).Flash(run.before));
    }
    {
        // Long messages lost towards the unit only: the check passes, the first write fails.
        UpgradeFixture run(shortToUnit);
        EXPECT_EQ(run.Go(false, kFast), UpgradeOutcome::Failed);
        EXPECT_THAT(run.ui.messages.Texts(),
                    ElementsAre(StartsWith(
                        "VANTRO Update FAILED:\r\nError: Failed writing to flash memory at adress "
                        "[2800]\r\nThe application area was erased; the bootloader is untouched, "
                        "so the unit stays in it and can be upgraded again (step 3).\r\nThe unit "
                        "sent back a block of its flash, but did not acknowledge the first block "
                        "written to it: this link loses long System Exclusive messages on their "
                        "way to the unit")));
        EXPECT_EQ(run.unit.Core().Erases().size(), 1u);
    }
}

TEST(UpgradePortFailure, APortThatFailsMidwayEndsTheRunAtOnceWithItsText) {
    // Waits of a minute an attempt: only the failure can end these runs in time.
    const LinkTimings minute{std::chrono::milliseconds(1000), 60, 3, true, {}, {}, true};
    const auto inTime = [](auto run) {
        const auto start = std::chrono::steady_clock::now();
        const UpgradeOutcome outcome = run();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        return outcome;
    };
    {
        // The unit's ports are pulled as it is asked for the 29th block: the wait for its
        // reply ends on the input's failure.
        sim::SimOptions o;
        o.unplugAfter = 30;
        UpgradeFixture run(o);
        EXPECT_EQ(inTime([&] { return run.Go(false, minute); }), UpgradeOutcome::PortError);
        EXPECT_THAT(run.ui.messages.Texts(),
                    ElementsAre("The MIDI port \"VANTRO simulated unit\" is gone: it was "
                                "unplugged, or its MIDI system stopped."));
        EXPECT_EQ(run.trace.Sent().size(), 31u);  // no request after the one that failed
        EXPECT_FALSE(run.unit.PortsOpen());
        EXPECT_TRUE(run.ui.buttonStates.back());
        EXPECT_EQ(run.ui.positions.back(), 0);
    }
    {
        // The system refuses the first request: its text, and nothing more is sent.
        platform::VirtualInputPort in("refusing");
        int heard = 0;
        platform::VirtualOutputPort out("refusing", [&](const uint8_t*, std::size_t) { ++heard; });
        out.RefuseSends(MMSYSERR_NODRIVER);
        FakeUi ui(Example());
        ui.SelectPortsNamed("refusing");
        UpgradeOptions options;
        options.timings = minute;
        EXPECT_EQ(inTime([&] { return RunUpgrade(ui, options); }), UpgradeOutcome::PortError);
        EXPECT_THAT(ui.messages.Texts(), ElementsAre(testutil::ErrorText(MMSYSERR_NODRIVER)));
        EXPECT_EQ(heard, 0);
        EXPECT_FALSE(in.IsOpen() || out.IsOpen());
    }
}

TEST(UpgradeFaults, WithReadBackASuccessReportNeverCoversAWrongFlash) {
    // Late replies can be taken by a later exchange of the same kind; with the read-back a
    // success report still means the flash is right.
    int completed = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        sim::SimOptions o;
        o.faults[sim::FaultKind::Drop] = 0.05;
        o.faults[sim::FaultKind::Corrupt] = 0.05;
        o.faults[sim::FaultKind::Late] = 0.005;
        o.seed = seed;
        UpgradeFixture run(o);
        run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
        const auto outcome = run.Go(true, kFast);
        if (outcome == UpgradeOutcome::Completed) {
            ++completed;
            EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedUpgrade(Example()).Flash(run.before))
                << seed;
        } else {
            EXPECT_EQ(outcome, UpgradeOutcome::Failed) << seed;
            EXPECT_THAT(run.ui.messages.Texts().back(), StartsWith("VANTRO Update FAILED:\r\n"));
        }
    }
    EXPECT_GT(completed, 0) << "no run got far enough to compare its flash";
}

TEST(UpgradeCutOff, ARunCutOffMidwayFailsAndTheNextOnePutsTheFlashRight) {
    const ExpectedUpgrade expected(Example());
    const std::pair<uint32_t, std::string> cuts[] = {
        // The first request asks for the versions, the second reads a block back, the third
        // erases.
        {2, "VANTRO Update FAILED:\r\nError: Failed erasing flash memory\r\n"},
        {54, "VANTRO Update FAILED:\r\nError: Failed writing to flash memory at adress [5b00]\r\n"},
        {106,
         "VANTRO Update FAILED:\r\nError: Failed writing to flash memory at adress [8f00]\r\n"},
        {107, kSuccess},  // silence to VerifyOK counts as accepted
    };
    for (const auto& [k, report] : cuts) {
        sim::SimOptions o;
        o.cutAfter = k;  // the cable goes after k requests
        UpgradeFixture run(o);
        run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
        // The unit counts requests: a retry by chance would move the cut, so attempts are long
        // enough (400 ms) that only the cut makes one.
        EXPECT_EQ(
            run.Go(false, LinkTimings{std::chrono::milliseconds(10), 40, 3, true, {}, {}, false}),
            k == 107 ? UpgradeOutcome::Completed : UpgradeOutcome::Failed);
        EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(report)) << k;
        run.ExpectPutBack();

        run.unit.Core().Reconnect();  // the cable is back; the flash is as the cut left it
        run.ui.messages.Clear();
        EXPECT_EQ(run.Go(), UpgradeOutcome::Completed) << k;
        EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(kSuccess));
        EXPECT_EQ(run.unit.Core().FlashDump(), expected.Flash(run.before)) << k;
        run.ExpectPutBack();
    }
}

TEST(UpgradeReadBack, LinesAndCountsOfEveryOutcome) {
    // One block of the file, every byte 0xFF, phantom bytes too (0x2800..0x28FF).
    std::string lines;
    for (unsigned a = 0x2800; a < 0x2900; a += 16)
        lines += testutil::Data(a, std::vector<uint8_t>(16, 0xFF)) + "\r\n";
    testutil::TempFile hex(lines + testutil::kEof + "\r\n");

    // A unit that acknowledges the erase but keeps its flash: the block's write leaves the
    // bytes given here, which read back as they are; phantom bytes always read 0x00. Without
    // answerReads, only the read before the erase is answered.
    auto runWith = [&](std::map<std::size_t, uint8_t> held, bool answerReads = true) {
        int reads = 0;
        sim::SimOptions o;
        o.startErased = true;
        sim::UnitCore core(o);
        auto flash = core.FlashDump();
        for (const auto& [a, v] : held)
            flash[a] = v;
        std::string why;
        EXPECT_TRUE(core.LoadFlash(flash, why)) << why;
        auto ui = std::make_unique<FakeUi>(hex.Path());
        ui->messages.SetYesNoAnswer(MessageAnswer::No);
        const auto outcome = RunOnBent(
            [&](const Bytes& req, sim::UnitCore& c) -> std::optional<Bytes> {
                if (req[5] == code::kErasePages)
                    return sim::unit::Reply(code::kErasePages);
                if (req[5] == code::kReadBlock && ++reads > 1 && !answerReads)
                    return std::nullopt;
                return Answer(c, req);
            },
            *ui, core, true, answerReads ? kPatient : kFast);
        return std::pair{outcome, ui->messages.Texts()};
    };

    // Two bytes read as 0x00 where 0xFF was written: two warnings, not 66 with the phantoms.
    EXPECT_EQ(runWith({{0x2800, 0x00}, {0x2801, 0x00}}),
              std::pair(UpgradeOutcome::Completed,
                        std::vector<std::string>{
                            "VANTRO Update is completed and OK!\r\n\r\nA few warnings were "
                            "detected:\r\nWarning: Some FF bytes were read as 00 at adress "
                            "[2800]. Occured in 2 bytes.\r\n\r\nRestart VANTRO?"}));
    // Other differences are errors, counted per block; the warning of the same block is not
    // reported.
    EXPECT_EQ(runWith({{0x2805, 0x12}, {0x2809, 0x34}, {0x2810, 0x00}}),
              std::pair(UpgradeOutcome::Failed,
                        std::vector<std::string>{"VANTRO Update FAILED:\r\nError: Failed verifying "
                                                 "flash memory at adress [2800]. 2 bytes "
                                                 "wrong.\r\n"}));
    EXPECT_EQ(runWith({}, false),
              std::pair(UpgradeOutcome::Failed,
                        std::vector<std::string>{"VANTRO Update FAILED:\r\nError: Failed reading "
                                                 "from flash memory at adress [2800]\r\n"}));
}

}  // namespace
}  // namespace vantro
