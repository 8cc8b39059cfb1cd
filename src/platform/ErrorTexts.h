#pragma once
// The texts of the MIDI seam's result codes.

#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"

namespace platform::detail {

// The code a failure is known by: the system's own when its text is the system's, otherwise a
// code of our own that stands for the failure's words (the newest few are kept).
mm::MMRESULT FailureCode(const PortFailure& failure);

// midiInGetErrorTextA / midiOutGetErrorTextA: the text for code, cut to size with a NUL.
mm::MMRESULT GetErrorText(mm::MMRESULT code, mm::LPSTR text, mm::UINT size);

}  // namespace platform::detail
