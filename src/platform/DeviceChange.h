#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// The names of every input and output port, real ones first, in device order: the one port
// listing of the dialog's lists, detect, vantro-cli ports and the device watch. A capability
// query that fails ends its list there, with its winmm code; the count is the system's.
struct PortNames {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    unsigned inputCount = 0, outputCount = 0;
    unsigned inputFailure = 0, outputFailure = 0;  // 0: every name was had
    bool operator==(const PortNames&) const = default;
};

PortNames CurrentPortNames();

// Calls the listener, on a thread of its own, whenever the set of ports changes. Real ports
// are looked at every interval; virtual ports count at once.
class DeviceChangeWatch {
  public:
    explicit DeviceChangeWatch(std::function<void()> listener,
                               std::chrono::milliseconds interval = std::chrono::seconds(1));
    ~DeviceChangeWatch();
    DeviceChangeWatch(const DeviceChangeWatch&) = delete;
    DeviceChangeWatch& operator=(const DeviceChangeWatch&) = delete;

    // Wakes every watch at once (the MIDI system calls it when a virtual port comes or goes).
    static void PokeAll();

  private:
    void Run();

    std::function<void()> listener_;
    std::chrono::milliseconds interval_;
    PortNames last_;  // what the listener was last told about, taken before any change
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = false;
    std::thread thread_;
};

}  // namespace platform
