#include "platform/MidiApi.h"

#include <cstdlib>

namespace platform {

namespace {

// The values this system's backend knows, besides "" and "none".
#if defined(_WIN32)
constexpr const char* kSystemApis[] = {"winmm"};
#elif defined(__EMSCRIPTEN__)
constexpr const char* kSystemApis[] = {"webmidi"};
#elif defined(__linux__)
constexpr const char* kSystemApis[] = {"alsa", "jack"};
#elif defined(__APPLE__)
constexpr const char* kSystemApis[] = {"coremidi"};
#else
constexpr const char* kSystemApis[] = {"none"};  // no system of its own
#endif

}  // namespace

std::string RequestedMidiApi() {
    const char* value = std::getenv("VANTRO_MIDI_API");
    return value != nullptr ? value : "";
}

bool CheckMidiApiSetting(std::string& error) {
    const std::string value = RequestedMidiApi();
    std::string valid = "none";
    for (const char* api : kSystemApis) {
        if (value == api)
            return true;
        valid += std::string(", ") + api;
    }
    if (value.empty() || value == "none")
        return true;
    error = "VANTRO_MIDI_API is '" + value + "'; it takes " + valid +
            ", or nothing for the system's own choice";
    return false;
}

std::string NoneAskedReport() {
    return "none (VANTRO_MIDI_API=none: only the ports inside this program)";
}

}  // namespace platform
