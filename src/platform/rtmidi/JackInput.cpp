#include "platform/rtmidi/JackInput.h"

#include <jack/midiport.h>

#include <stdexcept>

#include "platform/rtmidi/JackClient.h"

namespace platform::detail {

JackInput::JackInput(const std::string& clientName, const std::string& portName, Handler handler)
    : handler_(std::move(handler)) {
    client_ = OpenJackClient(clientName, portName, JackPortIsInput, port_);
    if (port_ == nullptr || jack_set_process_callback(client_, &JackInput::Process, this) != 0 ||
        jack_activate(client_) != 0) {
        Close();
        throw std::runtime_error("cannot open a JACK MIDI input port");
    }
}

JackInput::~JackInput() {
    Close();
}

void JackInput::Close() {
    CloseJackClient(client_);
}

int JackInput::Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackInput*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    if (buffer == nullptr || !self->handler_) {
        return 0;
    }
    // An event's frame in this cycle is a time on JACK's clock; both clocks tick alike.
    const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
    const auto jackNow = static_cast<int64_t>(jack_get_time());
    const auto now = std::chrono::steady_clock::now();
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) {
            continue;
        }
        const auto at =
            static_cast<int64_t>(jack_frames_to_time(self->client_, cycleStart + event.time));
        self->handler_(event.buffer, event.size, now + std::chrono::microseconds(at - jackNow));
    }
    return 0;
}

}  // namespace platform::detail
