#include "midi/MidiExceptions.h"

#include <cstdio>

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

namespace {

// The system has no text for some codes; the exception still says something whole.
void FallbackText(char (&text)[128], const char* direction, MMRESULT code) {
    std::snprintf(text, sizeof text, "Unknown MIDI %s error (code %u).", direction,
                  static_cast<unsigned>(code));
}

}  // namespace

CMIDIInException::CMIDIInException(MMRESULT code) noexcept : m_ErrorText{} {
    if (midiInGetErrorTextA(code, m_ErrorText, sizeof m_ErrorText) != MMSYSERR_NOERROR ||
        m_ErrorText[0] == '\0') {
        FallbackText(m_ErrorText, "input", code);
    }
    m_ErrorText[sizeof m_ErrorText - 1] = '\0';
}

CMIDIOutException::CMIDIOutException(MMRESULT code) noexcept : m_ErrorText{} {
    if (midiOutGetErrorTextA(code, m_ErrorText, sizeof m_ErrorText) != MMSYSERR_NOERROR ||
        m_ErrorText[0] == '\0') {
        FallbackText(m_ErrorText, "output", code);
    }
    m_ErrorText[sizeof m_ErrorText - 1] = '\0';
}

}  // namespace midi
