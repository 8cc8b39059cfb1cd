#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/MidiSeam.h"
#include "platform/SharedField.h"

namespace midi {

// What both directions' buffer headers share: the MIDIHDR and what the driver's flags say.
// The flags are read atomically: the driver sets them on a thread of its own.
class BufferHeader {
  public:
    BufferHeader(const BufferHeader&) = delete;
    BufferHeader& operator=(const BufferHeader&) = delete;

    mm::MIDIHDR* Header() { return &m_MIDIHdr; }
    bool IsDone() const { return (Flags() & mm::MHDR_DONE) != 0; }
    bool HeldByDriver() const { return (Flags() & mm::MHDR_INQUEUE) != 0; }
    std::size_t Length() const { return m_MIDIHdr.dwBufferLength; }

  protected:
    // A header over data with flags cleared, not yet prepared.
    BufferHeader(char* data, mm::DWORD length) {
        std::memset(&m_MIDIHdr, 0, sizeof m_MIDIHdr);
        m_MIDIHdr.lpData = data;
        m_MIDIHdr.dwBufferLength = length;
    }
    ~BufferHeader() = default;

    mm::MIDIHDR m_MIDIHdr;

  private:
    mm::DWORD Flags() const { return platform::LoadShared(m_MIDIHdr.dwFlags); }
};

}  // namespace midi
