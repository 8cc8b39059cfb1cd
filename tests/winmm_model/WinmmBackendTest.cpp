// The winmm backend, through the whole program (vantro-cli's commands in this process), against
// the winmm stand-in: the simulated unit sits on the stand-in's device pair.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "CableRuns.h"
#include "FlashCheck.h"
#include "HexFiles.h"
#include "PacedSend.h"
#include "UnitOnTheModel.h"
#include "cli/Cli.h"

namespace vantro {
namespace {

using ::testing::HasSubstr;

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
// The stand-in lists the synth as output 0: the unit's pair is input 0, output 1.
const std::vector<std::string> kUnitPorts = {"--in", "0", "--out", "1"};
// Waits of a minute an attempt: only a port failure can end a run in time.
const std::vector<std::string> kMinuteWaits = {"--poll-interval-ms", "1000", "--poll-count", "60"};

struct CliRun {
    int status;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args, const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    std::ostringstream o, e;
    const int s = cli::RunCli(args, o, e);
    return {s, o.str(), e.str()};
}

std::string SystemText(MMRESULT code) {
    char text[MAXERRORLENGTH] = {};
    midiOutGetErrorTextA(code, text, sizeof text);
    return text;
}

// The stand-in must have seen no misuse, and no callback after a close.
struct ModelChecked : UnitOnTheModel {
    using UnitOnTheModel::UnitOnTheModel;
    ~ModelChecked() override {
        Stop();
        EXPECT_EQ(Model().violations(), "");
        EXPECT_EQ(Model().callbacksAfterClose(), 0u);
    }
};

using Clock = std::chrono::steady_clock;
// A removed device must end a reply wait within two seconds (with room for a busy machine).
constexpr auto kNoticed = std::chrono::milliseconds(2500);

// Records when the simulated unit's interface was pulled.
struct PulledUnit : ModelChecked {
    using ModelChecked::ModelChecked;
    void Unplug() override {
        pulledAt = Clock::now().time_since_epoch().count();
        ModelChecked::Unplug();
    }
    Clock::time_point PulledAt() const { return Clock::time_point(Clock::duration(pulledAt)); }
    std::atomic<Clock::rep> pulledAt{0};
};

TEST(WinmmBackend, PortsVerifyAndUpgradesWithInputInPiecesAndABusyDriver) {
    // The stand-in's wire at 31,250 baud, as a driver hands back what arrives on a cable.
    ModelChecked unit({}, 31250);
    const testutil::TempFile hex(testutil::ApplicationBlocks(8));
    const CliRun ports = Cli({"ports"});
    EXPECT_THAT(ports.out, HasSubstr("IN ports:\n  0: VANTRO USB MIDI\n"));
    EXPECT_THAT(ports.out,
                HasSubstr("OUT ports:\n  0: Microsoft GS Wavetable Synth\n  1: VANTRO USB MIDI\n"));

    const CliRun verify = Cli({"verify"}, kUnitPorts);
    EXPECT_EQ(verify.status, 0) << verify.err;
    EXPECT_EQ(verify.out, "OK - BL V1.2, FW V3.4\n");

    // Whole buffers, then the small pieces some drivers hand back: every block read back
    // matches, and no byte is lost for want of a buffer.
    for (const unsigned piece : {0u, 3u, 7u}) {
        unit.Model().setPiece(unit.In(), piece);
        const CliRun r = Cli({"upgrade", "--readback", "--no", hex.Path()}, kUnitPorts);
        EXPECT_EQ(r.status, 0) << piece << r.out << r.err;
        EXPECT_EQ(r.out, "VANTRO Update is completed and OK!\nRestart VANTRO? No\n") << piece;
        EXPECT_EQ(unit.Model().lostBytes(unit.In()), 0u) << piece;
    }

    // A driver still busy with earlier data is asked again.
    unit.Model().failLongMsg(unit.Out(), 1, MIDIERR_NOTREADY);
    const CliRun busy = Cli({"upgrade", "--yes", hex.Path()}, kUnitPorts);
    EXPECT_EQ(busy.status, 0) << busy.out << busy.err;
    EXPECT_FALSE(unit.PortsOpen());
}

// An interface without flow control (a 64-byte buffer before the wire) loses a write handed
// over whole; in pieces at the wire's rate it gets through, and by itself after a lost attempt.
TEST(WinmmBackend, ACableThatLosesLongMessagesIsGotThroughPaced) {
    ModelChecked unit({}, 31250);
    unit.Model().setCable(unit.Out(), 64);
    const testutil::TempFile hex(testutil::ApplicationBlocks(3));
    for (const auto& [pace, status, noted] : testutil::kCableRuns) {
        std::vector<std::string> args = {
            "upgrade", "--no", "--poll-interval-ms", "10", "--poll-count", "30", hex.Path()};
        args.insert(args.begin() + 1, pace.begin(), pace.end());
        const CliRun r = Cli(args, kUnitPorts);
        ASSERT_EQ(r.status, status) << r.out << r.err;
        if (status == 0) {
            EXPECT_TRUE(testutil::FlashHoldsTheFile(unit.Core().FlashDump(), hex.Path()));
        }
        EXPECT_EQ(testutil::PacedFromTheFirstBlock(r.out), noted) << r.out;
    }
    EXPECT_GT(unit.Model().cableLostBytes(unit.Out()), 0u);
}

// A message split at every piece size leaves through winmm as its buffers, in order, and joins
// back to the same bytes.
TEST(WinmmBackend, PiecesOfEverySizeJoinBack) {
    ModelChecked unit;
    struct Heard {
        std::mutex m;
        std::condition_variable cv;
        std::vector<uint8_t> bytes;
        int (*timerPeriods)() = nullptr;
        int leastPeriods = 1;  // the pieces are timed finer than Windows' default 15.6 ms
        static void On(void* self, const unsigned char* b, unsigned n) {
            auto* h = static_cast<Heard*>(self);
            {
                std::lock_guard lock(h->m);
                h->bytes.insert(h->bytes.end(), b, b + n);
                h->leastPeriods = std::min(h->leastPeriods, h->timerPeriods());
            }
            h->cv.notify_all();
        }
    } heard;
    heard.timerPeriods = unit.Model().timerPeriods;
    unit.Model().setSink(unit.Out(), &Heard::On, &heard);
    std::vector<uint8_t> message(528);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<uint8_t>(i * 3 % 128);
    message.front() = 0xF0;
    message.back() = 0xF7;
    for (std::size_t piece = 1; piece <= message.size(); ++piece) {
        SendInPieces(0, 1, message, piece);  // the pair closes once all has left
        std::unique_lock lock(heard.m);
        ASSERT_TRUE(heard.cv.wait_for(lock, std::chrono::seconds(20), [&] {
            return heard.bytes.size() >= message.size();
        })) << piece;
        ASSERT_EQ(heard.bytes, message) << piece;
        heard.bytes.clear();
    }
    EXPECT_EQ(heard.leastPeriods, 1);
    EXPECT_EQ(unit.Model().timerPeriods(), 0);  // ended with the port
}

TEST(WinmmBackend, APortInUseOrPulledMidwayIsAPortFailureWithWinmmsText) {
    sim::SimOptions pulled;
    pulled.unplugAfter = 30;
    PulledUnit unit(pulled);
    unit.Model().failNextOpen(WINMM_MODEL_OUTPUT, unit.Out(), MMSYSERR_ALLOCATED);
    const CliRun inUse = Cli({"verify"}, kUnitPorts);
    EXPECT_EQ(inUse.status, 3);
    EXPECT_EQ(inUse.err, SystemText(MMSYSERR_ALLOCATED) + "\n");

    // A removed device makes no callback, and its handles go on answering the ID query, as
    // real drivers do: the run notices it in the device lists.
    unit.Model().idAfterRemoval(WINMM_MODEL_INPUT, unit.In(), 1);
    unit.Model().idAfterRemoval(WINMM_MODEL_OUTPUT, unit.Out(), 1);
    CliRun r = Cli({"upgrade", "--yes", kExample, "--in", "0", "--out", "1"}, kMinuteWaits);
    EXPECT_LT(Clock::now() - unit.PulledAt(), kNoticed);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, SystemText(MMSYSERR_NODRIVER) + "\n");  // no success, no report
    EXPECT_FALSE(unit.PortsOpen());
}

TEST(WinmmBackend, BuffersADriverKeepsPastAResetAreNotFreedUnderIt) {
    ModelChecked unit;
    // A wire too slow for the request's bound (a byte a second), and a driver that keeps each
    // buffer 1.5 s past a reset: longer than the send waits after its reset.
    unit.Model().setBaud(WINMM_MODEL_OUTPUT, unit.Out(), 10);
    unit.Model().holdAfterReset(WINMM_MODEL_OUTPUT, unit.Out(), 1500);
    unit.Model().holdAfterReset(WINMM_MODEL_INPUT, unit.In(), 500);
    const CliRun r = Cli({"verify"}, kUnitPorts);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_EQ(unit.Model().headerViolations(), 0u);
    EXPECT_EQ(unit.Model().heldHeaders(), 0u);
    EXPECT_FALSE(unit.PortsOpen());  // closed once the driver had handed them back
}

TEST(WinmmBackend, AnOutPortPulledAloneDuringAReplyWaitIsAPortFailureWithinTwoSeconds) {
    ModelChecked unit;
    // The request reaches this sink instead of the unit: the run waits for a reply.
    struct Heard {
        std::mutex m;
        std::condition_variable cv;
        bool heard = false;
        static void On(void* self, const unsigned char*, unsigned) {
            auto* h = static_cast<Heard*>(self);
            {
                std::lock_guard lock(h->m);
                h->heard = true;
            }
            h->cv.notify_all();
        }
    } heard;
    unit.Model().setSink(unit.Out(), &Heard::On, &heard);
    unit.Model().idAfterRemoval(WINMM_MODEL_OUTPUT, unit.Out(), 1);
    std::vector<std::string> args = kUnitPorts;
    args.insert(args.end(), kMinuteWaits.begin(), kMinuteWaits.end());
    CliRun r{};
    std::thread run([&] { r = Cli({"upgrade", "--yes", kExample}, args); });
    {
        std::unique_lock lock(heard.m);
        EXPECT_TRUE(heard.cv.wait_for(lock, std::chrono::seconds(20), [&] { return heard.heard; }));
    }
    const auto removed = Clock::now();
    unit.Model().remove(WINMM_MODEL_OUTPUT, unit.Out());
    run.join();
    EXPECT_LT(Clock::now() - removed, kNoticed);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, SystemText(MMSYSERR_NODRIVER) + "\n");
    EXPECT_FALSE(unit.PortsOpen());
}

}  // namespace
}  // namespace vantro
