#pragma once

#include <cstdint>

namespace midi {

// Whoever consumes what an input port receives. Every call comes on the MIDI system's
// callback thread: copy what is needed and return; data points into a shared area that the
// next buffer overwrites.
class CMIDIReceiver {
  public:
    virtual ~CMIDIReceiver() = default;
    virtual void OnLongMessage(const char* data, uint32_t length, uint32_t timeStamp) = 0;
    virtual void OnShortMessage(uint32_t message, uint32_t timeStamp) = 0;
    virtual void OnLongMessageError(const char* data, uint32_t length, uint32_t timeStamp) = 0;
    virtual void OnShortMessageError(uint32_t message, uint32_t timeStamp) = 0;
};

}  // namespace midi
