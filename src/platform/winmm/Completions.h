#pragma once
// Windows only: what a winmm output's callback tells.

#include "platform/Windows.h"
// windows.h first
#include <mmsystem.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform::detail {

// What an output's callback tells: its messages handed back (MOM_DONE). Apart from the output,
// so that a handle that does not close keeps it for its callbacks.
class Completions {
  public:
    // The message now being sent: its own MOM_DONE ends its wait.
    void Sending(const MIDIHDR* h) {
        std::lock_guard lock(mutex_);
        sending_ = h;
        done_ = false;
    }
    bool WaitDone(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [this] { return done_; });
    }
    uint64_t Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // Waits until a message has been handed back since Count() said seen; false at until.
    bool WaitAfter(uint64_t seen, std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, until, [&] { return count_ != seen; });
    }

    static void CALLBACK Callback(HMIDIOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        if (msg != MOM_DONE)
            return;
        auto* self = reinterpret_cast<Completions*>(instance);
        {
            std::lock_guard lock(self->mutex_);
            ++self->count_;
            if (reinterpret_cast<const MIDIHDR*>(p1) == self->sending_)
                self->done_ = true;
        }
        self->changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const MIDIHDR* sending_ = nullptr;
    bool done_ = false;
    uint64_t count_ = 0;
};

}  // namespace platform::detail
