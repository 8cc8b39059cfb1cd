// Finding units and upgrading several at once, against in-process simulated units:
// detect over 8 OUT ports (six that never answer, a Through pair, one unit) with the default
// wait and the second request on the unit's OUT port, and upgrade --all of 4 units at 31,250 baud
// against one unit's wire bound (the units share no wire, so all four should take about as long as
// one).
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "WireBound.h"
#include "bootloader/Detect.h"
#include "cli/UpgradeAll.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::kPageErase;
using bench::kRowWrite;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// When each request left and each identify reply (16 bytes) came, and the wire's bound.
class Recorder : public vantro::LinkTrace {
  public:
    void Sent(const uint8_t* b, std::size_t n) override {
        std::lock_guard lock(mutex_);
        sent.push_back(Clock::now());
        wire.Add(b, n);
    }
    void Received(const uint8_t* b, std::size_t n) override {
        std::lock_guard lock(mutex_);
        if (n == 16 && b[5] == 0x01)
            replies.push_back(Clock::now());
        wire.Add(b, n);
    }
    std::vector<Clock::time_point> sent, replies;
    bench::WireBound wire;

  private:
    std::mutex mutex_;
};

void Detect() {
    std::vector<std::unique_ptr<platform::VirtualInputPort>> silentIn;
    std::vector<std::unique_ptr<platform::VirtualOutputPort>> silentOut;
    for (int k = 0; k < 6; ++k) {
        silentIn.push_back(std::make_unique<platform::VirtualInputPort>("silent in"));
        silentOut.push_back(std::make_unique<platform::VirtualOutputPort>("silent out", nullptr));
    }
    auto ports = vantro::sim::StartSimulatedPorts({}, 1, 1);  // the Through pair, then the unit
    Recorder trace;
    const auto wait = vantro::kDefaultDetectWait;
    const auto t0 = Clock::now();
    const vantro::DetectResult found = vantro::DetectUnits(wait, &trace);
    const auto t1 = Clock::now();
    const double wall = Seconds(t1 - t0);
    const double bound = 1.5 * 8 * Seconds(wait);
    // A request on each OUT port, then the second on the unit's own, each answered once.
    const bool asked = trace.sent.size() == 9 && trace.replies.size() == 2;
    const double toFind = asked ? Seconds(trace.replies[0] - trace.sent[7]) : -1;
    const double unitPort = asked ? Seconds(t1 - trace.sent[7]) : -1;
    std::printf(
        "detect over 8 OUT ports, wait %.0f ms: %zu unit(s) found, wall %.3f s, bound %.3f s "
        "(1.5 x 8 waits), ratio %.3f; the unit's reply %.1f ms after its request; its OUT "
        "port's two requests and quiet times %.1f ms\n",
        1000 * Seconds(wait), found.units.size(), wall, bound, wall / bound, 1000 * toFind,
        1000 * unitPort);
}

void UpgradeAll(const char* hex) {
    vantro::sim::SimOptions sim;
    sim.baud = 31250;
    sim.pageEraseTime = kPageErase;
    sim.rowWriteTime = kRowWrite;
    auto ports = vantro::sim::StartSimulatedPorts(sim, 4, 0);
    Recorder trace;
    vantro::cli::AllUnitsOptions options;
    options.path = hex;
    options.trace = &trace;
    std::ostringstream out, err;
    const auto t0 = Clock::now();
    const int status = vantro::cli::UpgradeAllUnits(options, out, err, false);
    const double wall = Seconds(Clock::now() - t0);
    // Detect's own time: from its first request to the first request of an upgrade.
    const double detect = trace.sent.size() > 4 ? Seconds(trace.sent[4] - trace.sent[0]) : 0;
    const double oneUnit = trace.wire.Seconds() / 4;
    std::printf(
        "upgrade --all of 4 units at 31250 baud: exit %d, wall %.3f s (detect %.3f s of it), one "
        "unit's wire bound %.3f s, ratio %.3f (without detect %.3f)\n",
        status, wall, detect, oneUnit, wall / oneUnit, (wall - detect) / oneUnit);
}

}  // namespace

int main(int argc, char** argv) {
    Detect();
    UpgradeAll(argc > 1 ? argv[1] : VANTRO_EXAMPLE_HEX);
    return 0;
}
