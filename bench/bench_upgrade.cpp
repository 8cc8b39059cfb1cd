// A whole upgrade of the example firmware against the in-process simulated unit at 5-pin
// MIDI speed, against the bound the wire sets: every byte sent and received at 320 us plus
// the unit's modelled flash times. Once waking on a reply's arrival, once polling at the
// 50 ms tick. On Windows, --winmm-model runs it instead through the winmm backend and the winmm
// stand-in of the tests (run beside it, with winmm=n): once with the unit timing the wire as
// above, once with the stand-in's own wire at 31,250 baud (whose timed waits Wine rounds up).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "WireBound.h"
#include "bootloader/Link.h"
#include "sim/SimulatedUnit.h"
#include "upgrade/UpgradeRun.h"
#if defined(_WIN32)
#include "UnitOnTheModel.h"
#else
#include <thread>

#include "platform/DeviceChange.h"
#include "platform/MidiApi.h"
#include "sim/PublishedUnit.h"
#endif

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

using bench::kPageErase;
using bench::kRowWrite;

class Counter : public vantro::LinkTrace {
  public:
    using Clock = std::chrono::steady_clock;
    void Sent(const uint8_t* b, std::size_t n) override {
        Add(b, n);
        std::lock_guard lock(mutex_);
        if (firstSent == Clock::time_point{})
            firstSent = Clock::now();
        if (received_ != Clock::time_point{}) {
            turnaround += Clock::now() - received_;
            ++turnarounds;
        }
    }
    void Received(const uint8_t* b, std::size_t n) override {
        Add(b, n);
        std::lock_guard lock(mutex_);
        received_ = Clock::now();
        if (firstReceived == Clock::time_point{})
            firstReceived = received_;
    }
    bench::WireBound wire;
    // From each reply's arrival to the next request: the host's own time.
    Clock::duration turnaround{};
    int turnarounds = 0;
    // The run's first exchange: the identify before the link check.
    Clock::time_point firstSent{}, firstReceived{};

  private:
    void Add(const uint8_t* b, std::size_t n) {
        std::lock_guard lock(mutex_);
        wire.Add(b, n);
    }
    std::mutex mutex_;
    Clock::time_point received_{};
};

class QuietUi : public vantro::UpgradeProgress, public vantro::MessageSeam {
  public:
    void Running(bool) override {}
    void SetTotal(int) override {}
    void SetDone(int) override {}
    vantro::MessageAnswer Show(const std::string& text, vantro::MessageButtons) override {
        last = text;
        return vantro::MessageAnswer::No;
    }
    std::string last;
};

enum class Path { InProcess, ModelUnitTimesWire, ModelTimesWire, Jack };

#if !defined(_WIN32)
// The position of the first port whose name starts with prefix, -1 when there is none.
int Position(const std::vector<std::string>& names, const std::string& prefix) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].rfind(prefix, 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
}
#endif

// How long messages leave and the cable they cross.
struct Pacing {
    vantro::Pace pace;
    bool retry = false;  // the paced retry (no --pace given)
    uint32_t cable = 0;  // a cable that holds this many bytes (fifo:N); 0: none
};

void RunOnce(const char* label, bool wakeOnArrival, const std::string& hex, Path path,
             const Pacing& pacing = {}) {
    const bool throughModel = path == Path::ModelUnitTimesWire || path == Path::ModelTimesWire;
    vantro::sim::SimOptions sim;
    sim.baud = 31250;
    sim.pageEraseTime = kPageErase;
    sim.rowWriteTime = kRowWrite;
    if (pacing.cable != 0 && !throughModel)
        sim.fifo = pacing.cable;
    std::unique_ptr<vantro::sim::InProcessUnit> inProcess;
#if defined(_WIN32)
    std::unique_ptr<vantro::UnitOnTheModel> onModel;
    if (path == Path::ModelTimesWire) {
        sim.baud = 0;  // the stand-in's wire takes the time instead
    }
    if (throughModel) {
        onModel =
            std::make_unique<vantro::UnitOnTheModel>(sim, path == Path::ModelTimesWire ? 31250 : 0);
    }
    if (onModel && pacing.cable != 0)
        onModel->Model().setCable(onModel->Out(), pacing.cable);
#endif
    vantro::UpgradeRequest request{hex, -1, -1};
#if !defined(_WIN32)
    std::unique_ptr<vantro::sim::PublishedUnit> published;
    if (path == Path::Jack) {
        const std::string name = "VANTRO bench unit";
        published = std::make_unique<vantro::sim::PublishedUnit>(sim, name);
        for (int tries = 0; tries < 200 && (request.inPort < 0 || request.outPort < 0); ++tries) {
            const platform::PortNames ports = platform::CurrentPortNames();
            request.inPort = Position(ports.inputs, name);
            request.outPort = Position(ports.outputs, name);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
#endif
    if (path == Path::InProcess)
        inProcess = std::make_unique<vantro::sim::InProcessUnit>(sim);
    if (path != Path::Jack) {
        request.inPort = static_cast<int>(mm::midiInGetNumDevs()) - 1;
        request.outPort = static_cast<int>(mm::midiOutGetNumDevs()) - 1;
    }
    QuietUi ui;
    Counter counter;
    vantro::UpgradeOptions options;
    options.trace = &counter;
    options.timings.wakeOnArrival = wakeOnArrival;
    options.timings.pace = pacing.pace;
    options.timings.pacedRetry = pacing.retry;
    const auto t0 = std::chrono::steady_clock::now();
    const auto outcome = vantro::RunUpgrade(request, ui, ui, options);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double bound = counter.wire.Seconds();
    std::printf(
        "%s: %s, wall %.3f s, wire bound %.3f s (%zu bytes), ratio %.4f, %.2f ms from "
        "a reply to the next request\n",
        label, outcome == vantro::UpgradeOutcome::Completed ? "completed" : "NOT completed", wall,
        bound, counter.wire.bytes, wall / bound,
        std::chrono::duration<double, std::milli>(counter.turnaround).count() /
            std::max(1, counter.turnarounds));
    std::printf("  the identify before the link check: %.2f ms (its wire time %.2f ms)\n",
                std::chrono::duration<double, std::milli>(counter.firstReceived - counter.firstSent)
                    .count(),
                (8 + 16) * bench::kByteSeconds * 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool model = argc > 1 && std::string(argv[1]) == "--winmm-model";
    const std::string hex = argc > 1 + model ? argv[1 + model] : VANTRO_EXAMPLE_HEX;
    const Pacing wire{vantro::Pace::Wire()};
    const Pacing cableWire{vantro::Pace::Wire(), false, 64};
    const Pacing cableRetry{{}, true, 64};
    if (model) {
        RunOnce("upgrade at 31250 baud through winmm and the stand-in, the unit times the wire",
                true, hex, Path::ModelUnitTimesWire);
        RunOnce("upgrade at 31250 baud through winmm and the stand-in, the stand-in times it", true,
                hex, Path::ModelTimesWire);
        RunOnce("the same, --pace wire                                      ", true, hex,
                Path::ModelTimesWire, wire);
        RunOnce("the same over a 64-byte cable, --pace wire                 ", true, hex,
                Path::ModelTimesWire, cableWire);
        RunOnce("the same over a 64-byte cable, no --pace (the paced retry) ", true, hex,
                Path::ModelTimesWire, cableRetry);
        return 0;
    }
    RunOnce("upgrade at 31250 baud, waking on arrival", true, hex, Path::InProcess);
    RunOnce("upgrade at 31250 baud, 50 ms poll tick  ", false, hex, Path::InProcess);
    RunOnce("the first, --pace wire                  ", true, hex, Path::InProcess, wire);
    RunOnce("over fifo:64, --pace wire               ", true, hex, Path::InProcess, cableWire);
    RunOnce("over fifo:64, no --pace (paced retry)   ", true, hex, Path::InProcess, cableRetry);
#if !defined(_WIN32)
    if (platform::RealMidiApi() == "jack") {
        RunOnce("JACK ports, waking on arrival          ", true, hex, Path::Jack);
        RunOnce("JACK ports, --pace wire                ", true, hex, Path::Jack, wire);
        RunOnce("JACK ports, over fifo:64, --pace wire  ", true, hex, Path::Jack, cableWire);
        RunOnce("JACK ports, over fifo:64, paced retry  ", true, hex, Path::Jack, cableRetry);
    }
#endif
    return 0;
}
