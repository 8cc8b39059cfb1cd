#include "platform/rtmidi/SystemProbe.h"

#if defined(__linux__)
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#endif

#include <cstring>
#include <mutex>

namespace platform::detail {

#if defined(__linux__)
namespace {

void SilentAlsa(const char*, int, const char*, int, const char*, ...) {}
void SilentJack(const char*) {}

}  // namespace

void SilenceLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&SilentAlsa);
        jack_set_error_function(&SilentJack);
        jack_set_info_function(&SilentJack);
    });
}

std::string AlsaProblem() {
    snd_seq_t* seq = nullptr;
    const int error = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (error != 0) {
        return std::string("cannot open /dev/snd/seq (") + std::strerror(-error) + ")";
    }
    snd_seq_close(seq);
    return {};
}

std::string JackProblem() {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("vantro-assistant-probe", JackNoStartServer, &status);
    if (client == nullptr) {
        return (status & JackServerFailed) != 0 ? "no server running"
                                                : "cannot connect to the server";
    }
    jack_client_close(client);
    return {};
}

namespace {

bool AlsaOpens() {
    return AlsaProblem().empty();
}

bool JackRuns() {
    return JackProblem().empty();
}

}  // namespace

RtMidi::Api ChooseApi(const std::string& want) {
    SilenceLibraries();
    if (want != "jack" && AlsaOpens()) {
        return RtMidi::LINUX_ALSA;
    }
    if (want != "alsa" && JackRuns()) {
        return RtMidi::UNIX_JACK;
    }
    return RtMidi::UNSPECIFIED;
}
#elif defined(__APPLE__)
RtMidi::Api ChooseApi(const std::string&) {
    return RtMidi::MACOSX_CORE;
}
#else
RtMidi::Api ChooseApi(const std::string&) {
    return RtMidi::UNSPECIFIED;  // a system we have no MIDI API for: the in-process ports only
}
#endif

}  // namespace platform::detail
