#include "platform/DeviceChange.h"

#include <set>

#include "platform/MidiSeam.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform {

namespace {

std::mutex& WatchesMutex() {
    static std::mutex m;
    return m;
}

std::set<DeviceChangeWatch*>& Watches() {
    static std::set<DeviceChangeWatch*> watches;
    return watches;
}

}  // namespace

// Asked through the same winmm calls the port classes make.
PortNames CurrentPortNames() {
    PortNames names;
    names.inputCount = midiInGetNumDevs();
    for (UINT i = 0; i < names.inputCount; ++i) {
        MIDIINCAPSA caps{};
        if (const MMRESULT r = midiInGetDevCapsA(i, &caps, sizeof caps); r != MMSYSERR_NOERROR) {
            names.inputFailure = r;
            break;
        }
        names.inputs.emplace_back(caps.szPname);
    }
    names.outputCount = midiOutGetNumDevs();
    for (UINT i = 0; i < names.outputCount; ++i) {
        MIDIOUTCAPSA caps{};
        if (const MMRESULT r = midiOutGetDevCapsA(i, &caps, sizeof caps); r != MMSYSERR_NOERROR) {
            names.outputFailure = r;
            break;
        }
        names.outputs.emplace_back(caps.szPname);
    }
    return names;
}

DeviceChangeWatch::DeviceChangeWatch(std::function<void()> listener,
                                     std::chrono::milliseconds interval)
    : listener_(std::move(listener)), interval_(interval), last_(CurrentPortNames()) {
    {
        std::lock_guard lock(WatchesMutex());
        Watches().insert(this);
    }
    thread_ = std::thread([this] { Run(); });
}

DeviceChangeWatch::~DeviceChangeWatch() {
    {
        std::lock_guard lock(WatchesMutex());
        Watches().erase(this);
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void DeviceChangeWatch::PokeAll() {
    std::lock_guard lock(WatchesMutex());
    for (auto* w : Watches()) {
        {
            std::lock_guard wl(w->mutex_);
            w->poked_ = true;
        }
        w->wake_.notify_all();
    }
}

void DeviceChangeWatch::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, interval_, [this] { return stop_ || poked_; });
            if (stop_) {
                return;
            }
            poked_ = false;
        }
        PortNames now = CurrentPortNames();
        if (now != last_) {
            last_ = std::move(now);
            listener_();
        }
    }
}

}  // namespace platform
