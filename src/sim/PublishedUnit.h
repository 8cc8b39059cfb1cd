#pragma once
// The simulated unit on real MIDI ports of its own (ALSA or JACK, through RtMidi), for
// vantro-unit-sim: winmm cannot offer ports to other programs.

#include <memory>
#include <string>

#include "platform/rtmidi/PublishedPortPair.h"
#include "sim/SimulatedUnit.h"

namespace vantro::sim {

// The unit on real MIDI ports published by this process (ALSA or JACK).
class PublishedUnit {
  public:
    explicit PublishedUnit(const SimOptions& options, const std::string& name = kUnitPortName);
    ~PublishedUnit();
    PublishedUnit(const PublishedUnit&) = delete;
    PublishedUnit& operator=(const PublishedUnit&) = delete;
    UnitCore& Core() { return unit_->Core(); }

  private:
    struct Wire : UnitWire {
        void SendSysEx(const uint8_t* bytes, std::size_t length) override {
            if (ports)
                ports->Send(bytes, length);
        }
        void SendInvalidShort() override {
            const uint8_t stray = 0x42;  // a data byte with no status
            if (ports)
                ports->Send(&stray, 1);
        }
        void Unplug() override {
            if (ports)
                ports->Close();
        }
        platform::PublishedPortPair* ports = nullptr;
    };

    Wire wire_;
    std::unique_ptr<SimulatedUnit> unit_;
    std::unique_ptr<platform::PublishedPortPair> ports_;
};

}  // namespace vantro::sim
