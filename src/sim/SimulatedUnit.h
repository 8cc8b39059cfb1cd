#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "platform/VirtualMidi.h"
#include "sim/UnitCore.h"

namespace vantro::sim {

// The name the simulated unit's ports carry.
inline constexpr const char* kUnitPortName = "VANTRO simulated unit";

// How the unit's replies leave it.
class UnitWire {
  public:
    virtual ~UnitWire() = default;
    virtual void SendSysEx(const uint8_t* bytes, std::size_t length) = 0;
    virtual void SendInvalidShort() = 0;
    // The unit's ports go, as a removed device's do (unplug-after); on the unit's thread.
    virtual void Unplug() = 0;
};

// The unit in time: requests take their wire time to arrive, flash work takes its time, and
// replies their wire time to leave, one after the other, on a thread of its own.
class SimulatedUnit {
  public:
    SimulatedUnit(const SimOptions& options, UnitWire& wire);
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // Ends the unit's thread; requests after it are ignored. The destructor does it too.
    void Stop();

    // Bytes from the host as they start to arrive, at `arrival`: a whole request, or a piece
    // of one (the unit joins a request's pieces up to its F7). Returns at once.
    void OnRequest(const uint8_t* bytes, std::size_t length);
    void OnRequest(const uint8_t* bytes, std::size_t length,
                   std::chrono::steady_clock::time_point arrival);

    UnitCore& Core() { return core_; }
    // The wire time of n bytes in one direction.
    std::chrono::nanoseconds WireTime(std::size_t bytes) const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Event {
        Clock::time_point due;
        uint64_t order;
        enum class Kind { Request, Reply, Noise } kind;
        std::vector<uint8_t> bytes;
        bool operator>(const Event& o) const {
            return due != o.due ? due > o.due : order > o.order;
        }
    };

    void Schedule(Event e);  // with mutex_ held
    // What a cable without flow control keeps of bytes arriving now (fifo:N); with mutex_ held.
    std::size_t CableKeeps(std::size_t length, Clock::time_point arrival);
    // Takes kept bytes into the request being joined; with mutex_ held.
    void Join(const uint8_t* bytes, std::size_t length);
    // Whether the link carries a message of length bytes, towards the unit or from it.
    bool LinkCarries(std::size_t length, bool toUnit) const;
    void Run();
    void Process(const Event& e);

    SimOptions options_;
    UnitCore core_;
    UnitWire& wire_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Event, std::vector<Event>, std::greater<>> events_;
    uint64_t order_ = 0;
    Clock::time_point inFree_{};
    std::vector<uint8_t> joining_;  // the request whose F7 has not come yet
    bool inSysEx_ = false;
    Clock::time_point cableFree_{};  // when the cable (fifo:N) has passed on all it holds
    Clock::time_point outFree_{};
    bool stop_ = false;
    std::thread thread_;
};

// The unit on an in-process virtual port pair, named kUnitPortName unless told otherwise.
class InProcessUnit {
  public:
    explicit InProcessUnit(const SimOptions& options = {}, const std::string& name = kUnitPortName);
    UnitCore& Core() { return unit_.Core(); }
    // Whether the host has either of the unit's ports open.
    bool PortsOpen() const { return toHost_.IsOpen() || fromHost_.IsOpen(); }
    SimulatedUnit& Unit() { return unit_; }
    // Its replies also come in on port from now on, as through a thru routed from its OUT;
    // port must outlive the unit. Called before the first request.
    void AlsoReplyOn(platform::VirtualInputPort& port) { wire_.copy = &port; }

  private:
    struct Wire : UnitWire {
        explicit Wire(platform::VirtualInputPort& p) : port(p) {}
        void SendSysEx(const uint8_t* bytes, std::size_t length) override {
            port.SendSysEx(bytes, length);
            if (copy)
                copy->SendSysEx(bytes, length);
        }
        void SendInvalidShort() override { port.SendInvalidShort(0x42); }
        void Unplug() override {
            port.Remove();
            if (requests)
                requests->Remove();
        }
        platform::VirtualInputPort& port;
        platform::VirtualOutputPort* requests = nullptr;
        platform::VirtualInputPort* copy = nullptr;
    };

    // Order matters: the request port goes first, the reply port last.
    platform::VirtualInputPort toHost_;
    Wire wire_{toHost_};
    SimulatedUnit unit_;
    platform::VirtualOutputPort fromHost_;
};

// A "Through" port pair, as MIDI interfaces and virtual cables offer: what its OUT port is sent
// comes back on its IN port.
class ThroughPair {
  public:
    explicit ThroughPair(const std::string& name);
    bool PortsOpen() const { return toHost_.IsOpen() || fromHost_.IsOpen(); }

  private:
    platform::VirtualInputPort toHost_;     // the host's IN port
    platform::VirtualOutputPort fromHost_;  // the host's OUT port
};

// The simulated units and Through pairs a command line asks for, Through pairs listed first:
// unit k (from 0) is kUnitPortName followed by " k+1" after the first, and reports a firmware
// minor version k higher than the options give, so that each can be told apart. The ports of
// a sharing come after the units' (see SimCommandLine::Sharing).
struct SimulatedPorts {
    SimulatedPorts() = default;
    SimulatedPorts(SimulatedPorts&&) = default;
    // The old ports go in the destructor's order: a unit never sends to a port that is gone.
    SimulatedPorts& operator=(SimulatedPorts&& other) noexcept;
    ~SimulatedPorts() = default;

    std::vector<std::unique_ptr<ThroughPair>> throughs;
    std::unique_ptr<platform::VirtualInputPort> sharedIn;  // the units send to it: goes after them
    std::vector<std::unique_ptr<InProcessUnit>> units;
    std::vector<std::unique_ptr<platform::VirtualOutputPort>> sharedOuts;  // go before the units
};
std::string UnitPortName(uint32_t k, const std::string& base = kUnitPortName);
// The options of unit k: its firmware minor version k higher.
SimOptions UnitOptions(const SimOptions& options, uint32_t k);
// firstUnit, when given, sets up the first unit instead of options. A sharing needs a unit.
SimulatedPorts StartSimulatedPorts(const SimOptions& options, uint32_t units, uint32_t throughs,
                                   const SimOptions* firstUnit = nullptr,
                                   const SimCommandLine::Sharing& sharing = {});

}  // namespace vantro::sim
