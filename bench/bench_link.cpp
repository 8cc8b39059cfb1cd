// One identify exchange against the in-process simulated unit with no wire delay: the whole
// command (arm input, send, wait, check), median of 200.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bootloader/Commands.h"
#include "sim/SimulatedUnit.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

int FindPort(bool input) {
    const UINT n = input ? midiInGetNumDevs() : midiOutGetNumDevs();
    return n == 0 ? -1 : static_cast<int>(n - 1);  // the unit's ports come last
}

double MedianIdentify(bool wakeOnArrival, int rounds) {
    vantro::sim::InProcessUnit unit;
    vantro::LinkTimings timings;
    timings.wakeOnArrival = wakeOnArrival;
    vantro::MidiPortPair pair(nullptr, timings);
    pair.OpenPorts(static_cast<UINT>(FindPort(true)), static_cast<UINT>(FindPort(false)));
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        uint8_t a, b, c, d;
        const auto t0 = std::chrono::steady_clock::now();
        if (!vantro::QueryVersions(pair, a, b, c, d))
            return -1;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main() {
    std::printf("identify exchange, in-process unit, no wire delay: median %.3f ms (200 rounds)\n",
                MedianIdentify(true, 200));
    std::printf("the same with the 50 ms poll tick: median %.3f ms (10 rounds)\n",
                MedianIdentify(false, 10));
    return 0;
}
