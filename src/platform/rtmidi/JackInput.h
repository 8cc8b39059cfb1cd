#pragma once
// A MIDI input port on a JACK client of our own, for the ports this process publishes: RtMidi
// joins the pieces of a SysEx message and tells when the last arrived, while the simulated
// unit's cable needs each piece and the time it arrived.

#include <jack/jack.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform::detail {

class JackInput {
  public:
    // Each event as it came, with when it arrived; called on JACK's thread.
    using Handler = std::function<void(const uint8_t* bytes, std::size_t length,
                                       std::chrono::steady_clock::time_point arrival)>;

    // Throws std::runtime_error with the reason when the client or its port cannot be made.
    JackInput(const std::string& clientName, const std::string& portName, Handler handler);
    ~JackInput();  // no handler call after it returns
    JackInput(const JackInput&) = delete;
    JackInput& operator=(const JackInput&) = delete;

  private:
    static int Process(jack_nframes_t frames, void* self);
    void Close();

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    Handler handler_;
};

}  // namespace platform::detail
