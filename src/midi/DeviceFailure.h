#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "platform/MidiSeam.h"

namespace midi {

// What a port keeps of its device failing while open: the first failure's code, and whom to
// tell. Noted on the system's thread, read on the controlling thread.
class DeviceFailure {
  public:
    // Set while the port is closed.
    void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }
    void Clear() { code_ = 0; }
    void Note(mm::MMRESULT code) {
        mm::MMRESULT none = 0;
        if (code != 0 && code_.compare_exchange_strong(none, code) && listener_) {
            listener_();
        }
    }
    mm::MMRESULT Code() const { return code_.load(); }

  private:
    std::atomic<mm::MMRESULT> code_{0};
    std::function<void()> listener_;
};

}  // namespace midi
