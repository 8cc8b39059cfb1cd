#pragma once

#include <exception>
#include <new>

#include "platform/MidiSeam.h"

namespace midi {

// A failed winmm call, with the system's text for its result code.
class MidiCallError : public std::exception {
  public:
    const char* what() const noexcept override { return m_ErrorText; }

  protected:
    using GetErrorText = mm::MMRESULT (*)(mm::MMRESULT, mm::LPSTR, mm::UINT);
    // direction: what the text says where the system has none.
    MidiCallError(mm::MMRESULT code, GetErrorText getText, const char* direction) noexcept;

  private:
    char m_ErrorText[128];
};

// A failed winmm input call.
class CMIDIInException : public MidiCallError {
  public:
    explicit CMIDIInException(mm::MMRESULT code) noexcept;
};

// A failed winmm output call.
class CMIDIOutException : public MidiCallError {
  public:
    explicit CMIDIOutException(mm::MMRESULT code) noexcept;
};

// An error that says the same every time, of kind Base.
template <typename Base, const char* Text>
class FixedTextError : public Base {
  public:
    const char* what() const noexcept override { return Text; }
};

inline constexpr char kInMemFailure[] = "Memory allocation within a CMIDIInDevice object failed.";
inline constexpr char kOutMemFailure[] = "Memory allocation within a CMIDIOutDevice object failed.";
inline constexpr char kInEventFailure[] =
    "Unable to create a signalling event for CMIDIInDevice object.";
inline constexpr char kOutEventFailure[] =
    "Unable to create a signalling event for CMIDIOutDevice object.";

class CMIDIInMemFailure : public FixedTextError<std::bad_alloc, kInMemFailure> {};
class CMIDIOutMemFailure : public FixedTextError<std::bad_alloc, kOutMemFailure> {};
class CMIDIInEventFailure : public FixedTextError<std::exception, kInEventFailure> {};
class CMIDIOutEventFailure : public FixedTextError<std::exception, kOutEventFailure> {};

}  // namespace midi
