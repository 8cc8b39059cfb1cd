#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

#include "midi/AutoResetEvent.h"
#include "midi/BufferHeader.h"
#include "midi/DeviceFailure.h"
#include "midi/HeaderQueue.h"
#include "midi/MidiPort.h"
#include "midi/MidiReceiver.h"
#include "platform/MidiSeam.h"
#include "platform/SharedField.h"

namespace midi {

inline constexpr mm::DWORD kInputDataAreaSize = 4096;

// The one data area every input buffer of every input port points at.
extern char InputDataArea[kInputDataAreaSize];

// One input buffer in the hands of the driver; prepared on construction, unprepared on
// destruction.
class InBufferHeader : public PortBufferHeader<InCalls> {
  public:
    InBufferHeader(mm::HMIDIIN handle, char* area)
        : PortBufferHeader(handle, area, kInputDataAreaSize, 0) {}

    // Marked by the callback once the receiver has finished with the returned buffer; until
    // then the worker may not free it, even though the driver has marked it done.
    static void MarkHandedOn(mm::MIDIHDR* header) {
        platform::StoreShared<mm::DWORD_PTR>(header->dwUser, 1);
    }
    bool HandedOn() const { return platform::LoadShared(m_MIDIHdr.dwUser) == 1; }
};

// One MIDI input port: opens by device identifier, queues SysEx buffers, starts and stops
// input, and hands everything that arrives to the attached receiver.
class CMIDIInDevice : public MidiPort<InCalls, InBufferHeader> {
  public:
    ~CMIDIInDevice();

    void AttachReceiver(CMIDIReceiver* receiver) { m_Receiver.store(receiver); }
    // Gives the port a data area of its own instead of the shared one, for ports that listen
    // at the same time as others (several units, or looking for one on every port).
    void UseOwnDataArea();
    void OpenPort(mm::UINT deviceId);
    void QueueBuffer();
    void Start();
    void Stop();
    void ReleaseBuffers() { m_HdrQueue.ReleaseAll(); }
    void ClosePort();

    bool DriverHoldsBuffers() const { return m_HdrQueue.AnyHeldByDriver(); }

  private:
    static void MidiInCallback(mm::HMIDIIN handle, mm::UINT msg, mm::DWORD_PTR instance,
                               mm::DWORD_PTR param1, mm::DWORD_PTR param2);
    void ReleaseHandedOn();

    std::atomic<CMIDIReceiver*> m_Receiver{nullptr};
    std::unique_ptr<char[]> m_OwnArea;
    char* m_DataArea = InputDataArea;
};

}  // namespace midi
