#pragma once

#include <condition_variable>
#include <mutex>

namespace midi {

// Signalled until one waiter has woken, then unsignalled again; signals before a wait count
// once.
class AutoResetEvent {
  public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace midi
