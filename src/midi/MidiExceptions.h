#pragma once

#include <exception>
#include <new>

#include "platform/MidiSeam.h"

namespace midi {

// A failed winmm input call, with the system's text for its result code.
class CMIDIInException : public std::exception {
  public:
    explicit CMIDIInException(mm::MMRESULT code) noexcept;
    const char* what() const noexcept override { return m_ErrorText; }

  private:
    char m_ErrorText[128];
};

// A failed winmm output call, with the system's text for its result code.
class CMIDIOutException : public std::exception {
  public:
    explicit CMIDIOutException(mm::MMRESULT code) noexcept;
    const char* what() const noexcept override { return m_ErrorText; }

  private:
    char m_ErrorText[128];
};

class CMIDIInMemFailure : public std::bad_alloc {
  public:
    const char* what() const noexcept override {
        return "Memory allocation within a CMIDIInDevice object failed.";
    }
};

class CMIDIOutMemFailure : public std::bad_alloc {
  public:
    const char* what() const noexcept override {
        return "Memory allocation within a CMIDIOutDevice object failed.";
    }
};

class CMIDIInEventFailure : public std::exception {
  public:
    const char* what() const noexcept override {
        return "Unable to create a signalling event for CMIDIInDevice object.";
    }
};

class CMIDIOutEventFailure : public std::exception {
  public:
    const char* what() const noexcept override {
        return "Unable to create a signalling event for CMIDIOutDevice object.";
    }
};

}  // namespace midi
