#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiReceiver.h"
#include "platform/MidiSeam.h"

namespace testutil {

using Bytes = std::vector<uint8_t>;

// Records everything an input port hands on, and lets a test wait for it (never for long).
class RecordingReceiver : public midi::CMIDIReceiver {
  public:
    void OnLongMessage(const char* data, uint32_t length, uint32_t) override {
        Add(longs_, data, length);
    }
    void OnShortMessage(uint32_t message, uint32_t) override {
        std::lock_guard lock(mutex_);
        shorts_.push_back(message);
        cv_.notify_all();
    }
    void OnLongMessageError(const char* data, uint32_t length, uint32_t) override {
        Add(longErrors_, data, length);
    }
    void OnShortMessageError(uint32_t message, uint32_t) override {
        std::lock_guard lock(mutex_);
        shortErrors_.push_back(message);
        cv_.notify_all();
    }

    // Waits until f() holds or the bound passes; returns f().
    template <typename F>
    bool WaitFor(F f, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, bound, [&] { return f(*this); });
    }

    std::vector<Bytes> Longs() {
        std::lock_guard lock(mutex_);
        return longs_;
    }
    std::vector<Bytes> LongErrors() {
        std::lock_guard lock(mutex_);
        return longErrors_;
    }
    std::vector<uint32_t> Shorts() {
        std::lock_guard lock(mutex_);
        return shorts_;
    }
    std::vector<uint32_t> ShortErrors() {
        std::lock_guard lock(mutex_);
        return shortErrors_;
    }

    // For WaitFor predicates, which run with the lock held.
    std::vector<Bytes> longs_, longErrors_;
    std::vector<uint32_t> shorts_, shortErrors_;

  private:
    void Add(std::vector<Bytes>& to, const char* data, uint32_t length) {
        std::lock_guard lock(mutex_);
        to.emplace_back(reinterpret_cast<const uint8_t*>(data),
                        reinterpret_cast<const uint8_t*>(data) + length);
        cv_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable cv_;
};

// A SysEx message of n bytes: F0, a counting body kept below 0x80, F7.
inline Bytes SysEx(std::size_t n, uint8_t seed = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>((i + seed) & 0x7F);
    b.front() = 0xF0;
    b.back() = 0xF7;
    return b;
}

inline int FindInput(const std::string& name) {
    for (mm::UINT i = 0; i < mm::midiInGetNumDevs(); ++i) {
        mm::MIDIINCAPSA caps{};
        if (mm::midiInGetDevCapsA(i, &caps, sizeof caps) == mm::MMSYSERR_NOERROR &&
            std::string(caps.szPname).rfind(name, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

inline int FindOutput(const std::string& name) {
    for (mm::UINT i = 0; i < mm::midiOutGetNumDevs(); ++i) {
        mm::MIDIOUTCAPSA caps{};
        if (mm::midiOutGetDevCapsA(i, &caps, sizeof caps) == mm::MMSYSERR_NOERROR &&
            std::string(caps.szPname).rfind(name, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

inline std::string ErrorText(mm::MMRESULT code) {
    char text[256];
    mm::midiInGetErrorTextA(code, text, sizeof text);
    return text;
}

// Polls f every millisecond until it holds or the bound passes.
template <typename F>
bool Eventually(F f, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!f()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testutil
