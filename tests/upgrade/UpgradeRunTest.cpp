// Whole upgrade runs against the simulated unit, with short injected timings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>

#include "../midi/MidiTestSupport.h"
#include "HexFiles.h"
#include "bootloader/Commands.h"
#include "image/HexReader.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"
#include "upgrade/ProgrammingPlan.h"
#include "upgrade/UpgradeRun.h"

namespace vantro {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testutil::Bytes;

const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}};  // 50 ms an attempt

std::string Example() {
    return std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
}

// The dialog as the run sees it, recording what the run does to it.
class FakeUi : public UpgradeUi {
  public:
    explicit FakeUi(std::string path) : path(std::move(path)) {}

    std::string FirmwarePath() override { return path; }
    bool FileExists(const std::string& p) override { return std::filesystem::exists(p); }
    void SetUpgradeEnabled(bool enabled) override {
        buttonStates.push_back(enabled);
        log.push_back(enabled ? "enabled" : "disabled");
    }
    void UpdateData(bool save) override { dataExchanges.push_back(save); }
    int InSelection() override { return in; }
    int OutSelection() override { return out; }
    void SetProgressRange(int low, int high) override { ranges.emplace_back(low, high); }
    void SetProgressPos(int position) override {
        positions.push_back(position);
        log.push_back("pos " + std::to_string(position));
    }
    MessageSeam& Messages() override { return logged; }

    void SelectPortsNamed(const std::string& name) {
        in = testutil::FindInput(name);
        out = testutil::FindOutput(name);
    }

    std::string path;
    int in = -1, out = -1;
    std::vector<bool> buttonStates;
    std::vector<bool> dataExchanges;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    RecordingMessageSeam messages{MessageAnswer::Yes};
    std::vector<std::string> log;  // what the run did to the dialog, in order

  private:
    struct LoggedSeam : MessageSeam {
        explicit LoggedSeam(FakeUi& u) : ui(u) {}
        MessageAnswer Show(const std::string& text, MessageButtons b) override {
            ui.log.push_back("message");
            return ui.messages.Show(text, b);
        }
        FakeUi& ui;
    } logged{*this};
};

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

// The flash the unit must hold after writing the file's plan over flash `before`.
std::vector<uint8_t> ExpectedFlash(const std::string& hex, std::vector<uint8_t> before) {
    DeviceProfile profile;
    profile.DescribePic24FJ64GB002();
    FirmwareImage image;
    RecordingMessageSeam m;
    EXPECT_TRUE(LoadHexFile(profile, hex, image, m));
    for (const auto& s : BuildProgrammingPlan(image)) {
        const std::size_t pageStart = static_cast<std::size_t>(s.start) & ~std::size_t{2047};
        for (int32_t p = 0; p < ErasePageCount(s); ++p) {
            for (std::size_t a = pageStart + 2048 * p; a < pageStart + 2048 * (p + 1); ++a) {
                if (a < before.size())
                    before[a] = a % 4 == 3 ? 0x00 : 0xFF;
            }
        }
        uint8_t block[kBlockSize];
        for (int32_t k = 0; k < BlockCount(s); ++k) {
            FillBlock(image, s, k, block);
            for (int j = 0; j < kBlockSize; ++j) {
                const std::size_t a = static_cast<std::size_t>(s.start + kBlockSize * k + j);
                if (a < before.size() && a % 4 != 3)
                    before[a] &= block[j];
            }
        }
    }
    return before;
}

struct UpgradeFixture {
    explicit UpgradeFixture(const sim::SimOptions& o = {}) : unit(WithLate(o)), ui(Example()) {
        ui.SelectPortsNamed(sim::kUnitPortName);
        before = unit.Core().FlashDump();
    }
    static sim::SimOptions WithLate(sim::SimOptions o) {
        o.lateDelay = std::chrono::milliseconds(80);  // past one 50 ms attempt
        return o;
    }
    UpgradeOutcome Go(bool readBack = false) {
        UpgradeOptions options;
        options.timings = kFast;
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

TEST(UpgradeRun, WholeUpgradeOfTheExampleAndRestartOnYes) {
    UpgradeFixture run;
    ASSERT_EQ(run.Go(), UpgradeOutcome::Completed);
    EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(kSuccess));
    EXPECT_EQ(run.ui.messages.Entries()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedFlash(Example(), run.before));
    EXPECT_EQ(run.unit.Core().Requests(code::kWriteBlock), 104);
    EXPECT_EQ(run.unit.Core().VerifyOks(), 1);
    EXPECT_EQ(run.unit.Core().Restarts(), 1);
    EXPECT_EQ(run.trace.Sent().back(), (Bytes{0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7}));

    EXPECT_THAT(run.ui.ranges, ElementsAre(std::pair{0, 104}));
    ASSERT_EQ(run.ui.positions.size(), 105u);
    for (int k = 0; k < 104; ++k)
        EXPECT_EQ(run.ui.positions[k], k);
    EXPECT_THAT(run.ui.buttonStates, ElementsAre(false, true));
    EXPECT_THAT(run.ui.dataExchanges, ElementsAre(true));
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
    {
        FakeUi ui(Example());  // no port selected
        EXPECT_EQ(RunUpgrade(ui), UpgradeOutcome::Refused);
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

TEST(UpgradeRun, EmptyPlanStillSendsVerifyOk) {
    testutil::TempFile low(testutil::Lines({testutil::Data(0x0000, {1, 2, 3, 4}), testutil::kEof}));
    UpgradeFixture run;
    run.ui.path = low.Path();
    EXPECT_EQ(run.Go(), UpgradeOutcome::Completed);
    EXPECT_THAT(run.ui.ranges, ElementsAre(std::pair{0, 0}));
    EXPECT_EQ(run.trace.Count(code::kErasePages), 0);
    EXPECT_EQ(run.trace.Count(code::kWriteBlock), 0);
    EXPECT_EQ(run.trace.Count(code::kVerifyOK), 1);
    EXPECT_THAT(run.ui.messages.Texts(), ElementsAre(kSuccess));
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
    SealFrame(f.data(), f.size());
    return f;
}

UpgradeOutcome RunOnBent(BentUnit::Bend bend, FakeUi& ui, sim::UnitCore& core,
                         bool readBack = false) {
    BentUnit unit(std::move(bend), core);
    ui.SelectPortsNamed("bent unit");
    UpgradeOptions options;
    options.timings = kFast;
    options.readBack = readBack;
    return RunUpgrade(ui, options);
}

UpgradeOutcome RunOnBent(BentUnit::Bend bend, FakeUi& ui) {
    sim::UnitCore core({});
    return RunOnBent(std::move(bend), ui, core);
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
        ui);
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
    EXPECT_EQ(run.Go(), UpgradeOutcome::Completed);
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
    UpgradeFixture run(o);
    run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
    ASSERT_EQ(run.Go(), UpgradeOutcome::Completed) << run.ui.messages.Texts().back();
    EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedFlash(Example(), run.before));
    const auto texts = run.ui.messages.Texts();
    EXPECT_EQ(texts.back(), kSuccess);
    for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
        EXPECT_EQ(texts[i], "Invalid short message received!\n");
    }
}

TEST(UpgradeFaults, ExhaustedAttemptsEndWithTheFailureReport) {
    sim::SimOptions o;
    o.faults[sim::FaultKind::Drop] = 1.0;
    UpgradeFixture run(o);
    EXPECT_EQ(run.Go(), UpgradeOutcome::Failed);
    EXPECT_THAT(run.ui.messages.Texts(),
                ElementsAre("VANTRO Update FAILED:\r\nError: Failed erasing flash memory\r\n"));
    run.ExpectPutBack();
}

TEST(UpgradeFaults, WithReadBackASuccessReportNeverCoversAWrongFlash) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        sim::SimOptions o;
        o.faults[sim::FaultKind::Drop] = 0.3;
        o.faults[sim::FaultKind::Corrupt] = 0.3;
        o.faults[sim::FaultKind::WrongEcho] = 0.02;
        o.seed = seed;
        UpgradeFixture run(o);
        run.ui.messages.SetYesNoAnswer(MessageAnswer::No);
        const auto outcome = run.Go(true);
        if (outcome == UpgradeOutcome::Completed) {
            EXPECT_EQ(run.unit.Core().FlashDump(), ExpectedFlash(Example(), run.before)) << seed;
        } else {
            EXPECT_EQ(outcome, UpgradeOutcome::Failed) << seed;
            EXPECT_THAT(run.ui.messages.Texts().back(), StartsWith("VANTRO Update FAILED:\r\n"));
        }
    }
}

TEST(UpgradeReadBack, FfReadAsZeroGivesTheWarningReport) {
    // A whole block of words whose three bytes are 0xFF; the unit reads some as 0x00.
    std::vector<uint8_t> words(16, 0xFF);
    for (int i = 3; i < 16; i += 4)
        words[i] = 0x00;  // phantom bytes, as compilers emit them
    std::string text16;
    for (unsigned a = 0x2800; a < 0x2900; a += 16)
        text16 += testutil::Data(a, words) + "\r\n";
    testutil::TempFile hex(text16 + testutil::kEof + "\r\n");
    sim::SimOptions o;
    o.faults[sim::FaultKind::FfAs00] = 1.0;
    UpgradeFixture run(o);
    run.ui.path = hex.Path();
    ASSERT_EQ(run.Go(true), UpgradeOutcome::Completed) << run.ui.messages.Texts().back();
    const std::string text = run.ui.messages.Texts().back();
    const std::string head =
        "VANTRO Update is completed and OK!\r\n\r\nA few warnings were detected:\r\n"
        "Warning: Some FF bytes were read as 00 at adress [2800]. Occured in ";
    EXPECT_THAT(text, StartsWith(head));
    EXPECT_THAT(text, ::testing::EndsWith(" bytes.\r\n\r\nRestart VANTRO?"));
    EXPECT_EQ(run.ui.messages.Entries().back().buttons, MessageButtons::YesNo);
}

TEST(UpgradeReadBack, AUnitThatDoesNotEraseIsCaught) {
    // The unit acknowledges the erase but keeps what it held: writes AND into old bytes.
    sim::UnitCore core({});
    std::vector<uint8_t> zeros(sim::UnitCore::kDumpSize, 0x00);
    std::string why;
    ASSERT_TRUE(core.LoadFlash(zeros, why));
    FakeUi ui(Example());
    const auto outcome = RunOnBent(
        [](const Bytes& req, sim::UnitCore& core) -> std::optional<Bytes> {
            if (req[5] == code::kErasePages) {
                return Reseal(Bytes{0xF0, 0x6F, 0x10, 0x00, 0x12, 0x04, 0, 0xF7});
            }
            return Answer(core, req);
        },
        ui, core, true);
    EXPECT_EQ(outcome, UpgradeOutcome::Failed);
    ASSERT_EQ(ui.messages.Texts().size(), 1u);
    EXPECT_THAT(
        ui.messages.Texts()[0],
        ::testing::MatchesRegex("VANTRO Update FAILED:\r\nError: Failed verifying flash "
                                "memory at adress \\[2800\\]\\. [0-9]+ bytes wrong\\.\r\n"));
}

}  // namespace
}  // namespace vantro
