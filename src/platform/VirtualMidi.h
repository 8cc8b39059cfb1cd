#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

namespace detail {
struct VirtualInputCore;
struct VirtualOutputCore;
}  // namespace detail

// An in-process MIDI input port: it shows in the input list after the real ports, and what
// our own code sends into it reaches whoever has the port open, as if it came over a cable.
class VirtualInputPort {
  public:
    explicit VirtualInputPort(std::string name);
    ~VirtualInputPort();
    VirtualInputPort(const VirtualInputPort&) = delete;
    VirtualInputPort& operator=(const VirtualInputPort&) = delete;

    // One whole System Exclusive message, F0 to F7. Lost when the port is not open or its
    // input is not started.
    void SendSysEx(const uint8_t* bytes, std::size_t length);
    // A short message, packed as winmm packs it (status in the low byte).
    void SendShort(uint32_t message);
    // A short message the driver found invalid (reaches the opener as MIM_ERROR).
    void SendInvalidShort(uint32_t message);
    // A System Exclusive message cut off before its end (MIM_LONGERROR).
    void SendBrokenSysEx(const uint8_t* bytes, std::size_t length);

    bool IsOpen() const;
    const std::string& Name() const;
    // From now on its capability query fails with this winmm code (0: works again), as a
    // driver that has gone bad does.
    void FailCapabilityQueries(unsigned code);
    // The port goes as a removed device's does: it leaves the list, and a handle that has it
    // open fails. The destructor does the same.
    void Remove();

  private:
    std::shared_ptr<detail::VirtualInputCore> core_;
};

// An in-process MIDI output port: it shows in the output list after the real ports, and every
// message sent to it is handed to the handler, on a thread of the MIDI system.
class VirtualOutputPort {
  public:
    using Handler = std::function<void(const uint8_t* bytes, std::size_t length)>;

    VirtualOutputPort(std::string name, Handler handler);
    ~VirtualOutputPort();  // waits for a handler call in progress
    VirtualOutputPort(const VirtualOutputPort&) = delete;
    VirtualOutputPort& operator=(const VirtualOutputPort&) = delete;

    bool IsOpen() const;
    const std::string& Name() const;
    // As VirtualInputPort::FailCapabilityQueries.
    void FailCapabilityQueries(unsigned code);
    // As VirtualInputPort::Remove: the handle that has it open fails at once, and sends to it
    // fail from now on.
    void Remove();
    // Every send fails with this winmm code (0: sends work again), as a driver that refuses.
    void RefuseSends(unsigned code);

  private:
    std::shared_ptr<detail::VirtualOutputCore> core_;
};

}  // namespace platform
