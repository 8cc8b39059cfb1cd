#pragma once
// A MIDI output port on an ALSA sequencer client of our own, used instead of RtMidi's on ALSA:
// RtMidi's encoder passes a SysEx on only whole, so the pieces of a paced message would leave
// together. Here each piece leaves at once as a SysEx event of its own.

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/RealBackend.h"
#include "platform/rtmidi/PortWatch.h"

namespace platform::detail {

class AlsaOutput final : public RealOutput {
  public:
    // destination: the port as the lists show it, its name ending in its "client:port"
    // address. Throws std::runtime_error with the reason when our client, its port or the
    // connection cannot be made.
    explicit AlsaOutput(const std::string& destination);
    ~AlsaOutput() override;
    AlsaOutput(const AlsaOutput&) = delete;
    AlsaOutput& operator=(const AlsaOutput&) = delete;

    // From now on a send fails once watch says the destination has gone.
    void Watch(std::unique_ptr<PortWatch> watch) { watch_ = std::move(watch); }
    PortFailure Send(const uint8_t* bytes, std::size_t length) override;

    // The address at the end of a port's name ("... 20:0"); false when it carries none.
    static bool AddressOf(const std::string& name, int& client, int& port);

  private:
    PortFailure Output(snd_seq_event_t& event);
    void Close();

    const std::string name_;
    snd_seq_t* seq_ = nullptr;
    snd_midi_event_t* encoder_ = nullptr;  // for what is not SysEx
    int port_ = -1;
    bool inSysEx_ = false;  // the last piece sent did not end its SysEx
    std::unique_ptr<PortWatch> watch_;
};

}  // namespace platform::detail
