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
#include "midi/MidiReceiver.h"
#include "platform/MidiSeam.h"

namespace midi {

inline constexpr mm::DWORD kInputDataAreaSize = 4096;

// The one data area every input buffer of every input port points at.
extern char InputDataArea[kInputDataAreaSize];

enum PortState { Closed = 0, Opened = 1, Started = 2 };

// One input buffer in the hands of the driver; prepared on construction, unprepared on
// destruction.
class InBufferHeader : public BufferHeader {
  public:
    explicit InBufferHeader(mm::HMIDIIN handle);
    ~InBufferHeader();

    // Marked by the callback once the receiver has finished with the returned buffer; until
    // then the worker may not free it, even though the driver has marked it done.
    static void MarkHandedOn(mm::MIDIHDR* header) {
        std::atomic_ref<mm::DWORD_PTR>(header->dwUser).store(1);
    }
    bool HandedOn() const {
        return std::atomic_ref<mm::DWORD_PTR>(const_cast<mm::DWORD_PTR&>(m_MIDIHdr.dwUser))
                   .load() == 1;
    }

  private:
    mm::HMIDIIN m_hMidiIn;
};

// One MIDI input port: opens by device identifier, queues SysEx buffers, starts and stops
// input, and hands everything that arrives to the attached receiver.
class CMIDIInDevice {
  public:
    CMIDIInDevice();
    ~CMIDIInDevice();
    CMIDIInDevice(const CMIDIInDevice&) = delete;
    CMIDIInDevice& operator=(const CMIDIInDevice&) = delete;

    void AttachReceiver(CMIDIReceiver* receiver) { m_Receiver.store(receiver); }
    void OpenPort(mm::UINT deviceId);
    void QueueBuffer();
    void Start();
    void Stop();
    void ReleaseBuffers() { m_HdrQueue.ReleaseAll(); }
    void ClosePort();

    mm::UINT PortCount() const { return mm::midiInGetNumDevs(); }
    void GetPortCaps(mm::UINT deviceId, mm::MIDIINCAPSA& caps) const;

    // Called on the system's thread when the open device fails or goes (unplugged, its MIDI
    // system stopped); it must only hand the news on. Set before the port opens.
    void SetFailureListener(std::function<void()> listener) {
        m_Failure.SetListener(std::move(listener));
    }
    // The code of the device's failure since it was opened, 0 while it works.
    mm::MMRESULT Failure() const { return m_Failure.Code(); }
    // Throws the port error for that failure, if there is one.
    void ThrowIfFailed() const;

    PortState GetState() const { return m_State.load(); }
    std::size_t QueuedBufferCount() const { return m_HdrQueue.Size(); }
    bool DriverHoldsBuffers() const { return m_HdrQueue.AnyHeldByDriver(); }

  private:
    static void MidiInCallback(mm::HMIDIIN handle, mm::UINT msg, mm::DWORD_PTR instance,
                               mm::DWORD_PTR param1, mm::DWORD_PTR param2);
    void ReleaseThreadProc();
    void EndWorker();

    mm::HMIDIIN m_hMidiIn = nullptr;
    std::unique_ptr<AutoResetEvent> m_Event;
    std::thread m_Worker;  // from OpenPort to ClosePort
    std::atomic<bool> m_WorkerEnds{false};
    std::atomic<CMIDIReceiver*> m_Receiver{nullptr};
    HeaderQueue<InBufferHeader> m_HdrQueue;
    std::atomic<PortState> m_State{Closed};
    DeviceFailure m_Failure;
};

}  // namespace midi
