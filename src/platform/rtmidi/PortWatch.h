#pragma once
// Watches over the real ports RtMidi opens, which are not told when their other end goes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/RealBackend.h"
#if defined(__linux__)
#include "platform/rtmidi/JackOutput.h"
#endif

namespace platform::detail {

// The system's port names, as the lists show them (RtMidiBackend.cpp).
std::vector<std::string> SystemPortNames(bool inputs);

// Looks, while a port is open, whether the system still lists the port it is connected to:
// neither ALSA nor JACK tells an RtMidi port that its other end has gone (interface pulled,
// client or server gone). onGone is called once, on the watch's thread.
class PortWatch {
  public:
    static constexpr auto kInterval = std::chrono::milliseconds(250);

    PortWatch(std::string name, bool input, std::function<void()> onGone)
        : name_(std::move(name)),
          input_(input),
          onGone_(std::move(onGone)),
          thread_([this] { Run(); }) {}
    ~PortWatch() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    bool Gone() const { return gone_.load(); }

  private:
    void Run();
    // A stopped JACK server may still show its last port list to a client.
    bool ServerStopped() const;

    const std::string name_;
    const bool input_;
    const std::function<void()> onGone_;
#if defined(__linux__)
    const uint64_t shutdownsAtStart_ = JackOutput::Shutdowns();
#endif
    std::atomic<bool> gone_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it runs on everything above
};

#if defined(__linux__)
// Our JACK output to another client's port, failing once that port has gone.
class ConnectedJackOutput final : public RealOutput {
  public:
    explicit ConnectedJackOutput(const std::string& destination)
        : port_("vantro-assistant-out", "out", true),
          name_(destination),
          watch_(destination, false, nullptr) {}

    bool Connect() { return port_.Connect(name_); }

    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        if (watch_.Gone()) {
            return PortGone(name_);
        }
        if (port_.ServerGone()) {
            return PortGone(name_, "the JACK server has stopped.");
        }
        return port_.Send(bytes, length);
    }

  private:
    JackOutput port_;
    const std::string name_;
    PortWatch watch_;
};
#endif

}  // namespace platform::detail
