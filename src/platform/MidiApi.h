#pragma once
// Which MIDI system carries the real ports, as VANTRO_MIDI_API asks: read here only.

#include <string>

namespace platform {

// The value asked for: "" (unset or empty: the system's own choice), "none" (only the
// in-process ports), or one the system has ("alsa", "jack" on Linux; "winmm" on Windows).
std::string RequestedMidiApi();

// False, with a message naming the valid values, when VANTRO_MIDI_API holds anything else:
// every program refuses it as a usage error (exit 2).
bool CheckMidiApiSetting(std::string& error);

// Which real MIDI system carries the real ports: "alsa", "jack", "coremidi", "winmm", or ""
// when none can open (or "none" was asked for).
std::string RealMidiApi();

// Which MIDI system carries the real ports, for a person: its name ("ALSA sequencer", "JACK",
// "winmm", ...), or why there is none ("ALSA sequencer: cannot open /dev/snd/seq (No such
// file or directory); JACK: no server running").
std::string MidiSystemReport();

// MidiSystemReport's text when VANTRO_MIDI_API is "none".
std::string NoneAskedReport();

}  // namespace platform
