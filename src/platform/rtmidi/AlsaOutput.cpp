#include "platform/rtmidi/AlsaOutput.h"

#include <charconv>
#include <stdexcept>

namespace platform::detail {

namespace {
// Room for the longest short message the encoder may have to join.
constexpr std::size_t kEncoderBytes = 16;

std::string AlsaText(int error) {
    return snd_strerror(error);
}
}  // namespace

bool AlsaOutput::AddressOf(const std::string& name, int& client, int& port) {
    const std::size_t space = name.find_last_of(' ');
    const std::size_t colon = name.find_last_of(':');
    if (space == std::string::npos || colon == std::string::npos || colon < space)
        return false;
    const char* end = name.data() + name.size();
    const auto c = std::from_chars(name.data() + space + 1, name.data() + colon, client);
    const auto p = std::from_chars(name.data() + colon + 1, end, port);
    return c.ec == std::errc{} && c.ptr == name.data() + colon && p.ec == std::errc{} &&
           p.ptr == end && client >= 0 && port >= 0;
}

AlsaOutput::AlsaOutput(const std::string& destination) : name_(destination) {
    int client = 0;
    int port = 0;
    if (!AddressOf(destination, client, port))
        throw std::runtime_error("not an ALSA sequencer port: " + destination);
    int r = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0);
    if (r < 0) {
        seq_ = nullptr;
        throw std::runtime_error("the ALSA sequencer does not open: " + AlsaText(r));
    }
    snd_seq_set_client_name(seq_, "vantro-assistant-out");
    port_ =
        snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    r = port_ < 0 ? port_ : snd_seq_connect_to(seq_, port_, client, port);
    if (r >= 0)
        r = snd_midi_event_new(kEncoderBytes, &encoder_);
    if (r < 0) {
        Close();
        throw std::runtime_error("cannot connect to " + destination + ": " + AlsaText(r));
    }
}

AlsaOutput::~AlsaOutput() {
    watch_.reset();  // no failure is told after this
    Close();
}

void AlsaOutput::Close() {
    if (encoder_ != nullptr) {
        snd_midi_event_free(encoder_);
        encoder_ = nullptr;
    }
    if (seq_ != nullptr) {
        snd_seq_close(seq_);  // events sent direct have already left
        seq_ = nullptr;
    }
}

PortFailure AlsaOutput::Output(snd_seq_event_t& event) {
    snd_seq_ev_set_source(&event, port_);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    const int r = snd_seq_event_output_direct(seq_, &event);
    if (r < 0)
        return PortGone(name_, "the ALSA sequencer refused the message: " + AlsaText(r) + ".");
    return PortFailure{};
}

PortFailure AlsaOutput::Send(const uint8_t* bytes, std::size_t length) {
    if (watch_ && watch_->Gone())
        return PortGone(name_);
    if (length == 0)
        return PortFailure{};
    // A SysEx, or a piece that goes on with the one before (its end included): its bytes as
    // they are.
    if (bytes[0] == 0xF0 || inSysEx_) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_sysex(&event, static_cast<unsigned>(length), const_cast<uint8_t*>(bytes));
        PortFailure failed = Output(event);
        if (!failed)
            inSysEx_ = bytes[length - 1] != 0xF7;
        return failed;
    }
    inSysEx_ = false;
    snd_midi_event_reset_encode(encoder_);
    for (std::size_t done = 0; done < length;) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used =
            snd_midi_event_encode(encoder_, bytes + done, static_cast<long>(length - done), &event);
        if (used <= 0)
            break;  // nothing the encoder makes a message of
        done += static_cast<std::size_t>(used);
        if (event.type == SND_SEQ_EVENT_NONE)
            continue;
        if (PortFailure failed = Output(event))
            return failed;
    }
    return PortFailure{};
}

}  // namespace platform::detail
