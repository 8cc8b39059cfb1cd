#pragma once
// Watches over the real ports RtMidi opens, which are not told when their other end goes.

#include <functional>
#include <string>
#include <vector>

#include "platform/PresenceWatch.h"
#include "platform/RealBackend.h"
#if defined(__linux__)
#include "platform/rtmidi/JackOutput.h"
#endif

namespace platform::detail {

// The system's port names, as the lists show them (RtMidiBackend.cpp).
std::vector<std::string> SystemPortNames(bool inputs);

// Looks, while a port is open, whether the system still lists the port it is connected to:
// neither ALSA nor JACK tells an RtMidi port that its other end has gone (interface pulled,
// client or server gone). onGone hears why, once, on the watch's thread.
class PortWatch : public PresenceWatch {
  public:
    PortWatch(const std::string& name, bool input, std::function<void(PortFailure)> onGone)
        : PresenceWatch(Check(name, input), std::move(onGone)) {}

  private:
    static std::function<PortFailure()> Check(const std::string& name, bool input);
};

#if defined(__linux__)
// Our JACK output to another client's port, failing once that port has gone.
class ConnectedJackOutput final : public RealOutput {
  public:
    ConnectedJackOutput(const std::string& destination, FailureSink& sink)
        : port_("vantro-assistant-out", "out", true),
          name_(destination),
          watch_(destination, false, [&sink](PortFailure why) { sink.Fail(std::move(why)); }) {}

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
