#include "midi/MidiExceptions.h"

#include <cstdio>

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

MidiCallError::MidiCallError(MMRESULT code, GetErrorText getText, const char* direction) noexcept
    : m_ErrorText{} {
    if (getText(code, m_ErrorText, sizeof m_ErrorText) != MMSYSERR_NOERROR ||
        m_ErrorText[0] == '\0') {
        // The system has no text for some codes; the exception still says something whole.
        std::snprintf(m_ErrorText, sizeof m_ErrorText, "Unknown MIDI %s error (code %u).",
                      direction, static_cast<unsigned>(code));
    }
    m_ErrorText[sizeof m_ErrorText - 1] = '\0';
}

CMIDIInException::CMIDIInException(MMRESULT code) noexcept
    : MidiCallError(code, &midiInGetErrorTextA, "input") {}

CMIDIOutException::CMIDIOutException(MMRESULT code) noexcept
    : MidiCallError(code, &midiOutGetErrorTextA, "output") {}

}  // namespace midi
