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

// Asked through the same winmm calls the port lists use.
PortNames CurrentPortNames() {
    PortNames names;
    const UINT inputs = midiInGetNumDevs();
    for (UINT i = 0; i < inputs; ++i) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            names.inputs.emplace_back(caps.szPname);
        }
    }
    const UINT outputs = midiOutGetNumDevs();
    for (UINT i = 0; i < outputs; ++i) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            names.outputs.emplace_back(caps.szPname);
        }
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
