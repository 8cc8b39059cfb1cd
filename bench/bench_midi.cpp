// Round trips of a 528-byte SysEx through our port classes: out of a CMIDIOutDevice, back
// through an echo, into a CMIDIInDevice and its receiver. Over the in-process virtual ports
// and, when a JACK server answers, over JACK. Prints the median of 100 round trips.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "platform/MidiApi.h"
#include "platform/VirtualMidi.h"
#include "platform/rtmidi/PublishedPortPair.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

using Clock = std::chrono::steady_clock;

class Arrivals : public midi::CMIDIReceiver {
  public:
    void OnLongMessage(const char*, uint32_t length, uint32_t) override {
        std::lock_guard lock(mutex_);
        bytes_ += length;
        cv_.notify_all();
    }
    void OnShortMessage(uint32_t, uint32_t) override {}
    void OnLongMessageError(const char*, uint32_t, uint32_t) override {}
    void OnShortMessageError(uint32_t, uint32_t) override {}

    bool WaitForBytes(std::size_t total) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(2), [&] { return bytes_ >= total; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::size_t bytes_ = 0;
};

int Find(bool input, const char* prefix) {
    const UINT n = input ? midiInGetNumDevs() : midiOutGetNumDevs();
    for (UINT i = 0; i < n; ++i) {
        char name[MAXPNAMELEN];
        if (input) {
            MIDIINCAPSA caps{};
            midiInGetDevCapsA(i, &caps, sizeof caps);
            std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
        } else {
            MIDIOUTCAPSA caps{};
            midiOutGetDevCapsA(i, &caps, sizeof caps);
            std::copy(std::begin(caps.szPname), std::end(caps.szPname), name);
        }
        if (std::string(name).rfind(prefix, 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// Returns the median round trip in milliseconds, or a negative value when it failed.
double MedianRoundTrip(const char* inName, const char* outName, int rounds) {
    const int inId = Find(true, inName), outId = Find(false, outName);
    if (inId < 0 || outId < 0)
        return -1;
    Arrivals arrivals;
    midi::CMIDIInDevice in;
    midi::CMIDIOutDevice out;
    in.AttachReceiver(&arrivals);
    in.OpenPort(static_cast<UINT>(inId));
    out.OpenPort(static_cast<UINT>(outId));
    std::vector<char> frame(528, 0x05);
    frame.front() = static_cast<char>(0xF0);
    frame.back() = static_cast<char>(0xF7);
    std::vector<double> times;
    in.Start();
    for (int r = 0; r < rounds; ++r) {
        in.QueueBuffer();
        const auto t0 = Clock::now();
        out.SendSysEx(frame.data(), 528);
        if (!arrivals.WaitForBytes(528u * static_cast<std::size_t>(r + 1)))
            return -2;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    in.Stop();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    constexpr int kRounds = 100;
    {
        std::unique_ptr<platform::VirtualInputPort> loopIn =
            std::make_unique<platform::VirtualInputPort>("bench loop in");
        platform::VirtualOutputPort loopOut(
            "bench loop out", [&](const uint8_t* b, std::size_t n) { loopIn->SendSysEx(b, n); });
        const double ms = MedianRoundTrip("bench loop in", "bench loop out", kRounds);
        std::printf("virtual: median round trip of a 528-byte SysEx: %.3f ms (%d rounds)\n", ms,
                    kRounds);
    }
    if (platform::RealMidiApi() != "jack") {
        std::printf("jack: skipped, no JACK server answers\n");
        return 0;
    }
    std::unique_ptr<platform::PublishedPortPair> echo;
    echo = std::make_unique<platform::PublishedPortPair>(
        "vantro-bench-echo", [&](const uint8_t* b, std::size_t n, auto) { echo->Send(b, n); });
    double ms = -1;
    for (int tries = 0; tries < 50 && ms == -1; ++tries) {
        ms = MedianRoundTrip("vantro-bench-echo", "vantro-bench-echo", kRounds);
    }
    std::printf("jack: median round trip of a 528-byte SysEx: %.3f ms (%d rounds)\n", ms, kRounds);
    return 0;
}
