#pragma once
// Watches over an open port whose system does not tell it that its device has gone (RtMidi's
// ports on ALSA and JACK, winmm's: a removed device makes no callback). While the port is
// open it asks check() every interval why the device is gone; the first answer is handed to
// onGone, once, on the watch's thread. The port's sink hears of it at once, whether or not
// anything is being sent.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/RealBackend.h"

namespace platform::detail {

class PresenceWatch {
  public:
    static constexpr auto kInterval = std::chrono::milliseconds(250);

    // check: a failure once the device has gone, none while it is there.
    PresenceWatch(std::function<PortFailure()> check, std::function<void(PortFailure)> onGone)
        : check_(std::move(check)), onGone_(std::move(onGone)), thread_([this] { Run(); }) {}
    ~PresenceWatch() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();  // no onGone after this
    }
    PresenceWatch(const PresenceWatch&) = delete;
    PresenceWatch& operator=(const PresenceWatch&) = delete;

    bool Gone() const { return gone_.load(); }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kInterval, [this] { return stop_; })) {
            lock.unlock();
            PortFailure failure = check_();
            if (failure) {
                gone_ = true;
                if (onGone_)
                    onGone_(std::move(failure));
                return;
            }
            lock.lock();
        }
    }

    const std::function<PortFailure()> check_;
    const std::function<void(PortFailure)> onGone_;
    std::atomic<bool> gone_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it runs on everything above
};

}  // namespace platform::detail
