#pragma once
// Which MIDI system RtMidi can use here, and why not: asked of the systems themselves, with
// their own error output silenced.

#include <rtmidi/RtMidi.h>

#include <string>

namespace platform::detail {

#if defined(__linux__)
// Keeps ALSA and JACK from printing; once per process.
void SilenceLibraries();
// Why the ALSA sequencer does not open; empty when it does.
std::string AlsaProblem();
// Why no JACK server can be reached; empty when one runs.
std::string JackProblem();
#endif

// The system's MIDI API as VANTRO_MIDI_API asks for it (want: "", "alsa" or "jack");
// RtMidi::UNSPECIFIED when none can be used.
RtMidi::Api ChooseApi(const std::string& want);

}  // namespace platform::detail
