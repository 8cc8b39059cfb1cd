#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/AutoResetEvent.h"
#include "midi/BufferHeader.h"
#include "midi/DeviceFailure.h"
#include "midi/HeaderQueue.h"
#include "midi/MidiInDevice.h"
#include "platform/MidiSeam.h"

namespace midi {

// One outgoing SysEx message in the hands of the driver, over the caller's bytes (not a
// copy); prepared on construction, unprepared on destruction.
class OutBufferHeader : public BufferHeader {
  public:
    OutBufferHeader(mm::HMIDIOUT handle, const char* bytes, mm::DWORD length);
    ~OutBufferHeader();

  private:
    mm::HMIDIOUT m_hMidiOut;
};

// One MIDI output port that sends System Exclusive messages asynchronously.
class CMIDIOutDevice {
  public:
    CMIDIOutDevice();
    ~CMIDIOutDevice();
    CMIDIOutDevice(const CMIDIOutDevice&) = delete;
    CMIDIOutDevice& operator=(const CMIDIOutDevice&) = delete;

    void OpenPort(mm::UINT deviceId);
    void ClosePort();
    // The bytes must stay alive and unchanged until the port has finished with them.
    void SendSysEx(const char* bytes, uint32_t length);

    // Returns once the driver has finished with every message sent, so their bytes may be
    // reused; a driver that holds on past a bound fitting their wire time is reset.
    void WaitUntilSent() noexcept;

    mm::UINT PortCount() const { return mm::midiOutGetNumDevs(); }
    void GetPortCaps(mm::UINT deviceId, mm::MIDIOUTCAPSA& caps) const;

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

  private:
    static void MidiOutCallback(mm::HMIDIOUT handle, mm::UINT msg, mm::DWORD_PTR instance,
                                mm::DWORD_PTR param1, mm::DWORD_PTR param2);
    void ReleaseThreadProc();

    mm::HMIDIOUT m_hMidiOut = nullptr;
    std::unique_ptr<AutoResetEvent> m_Event;
    // Told of every completion, for a wait until the driver holds nothing more.
    std::mutex m_SentMutex;
    std::condition_variable m_Sent;
    std::thread m_Worker;
    HeaderQueue<OutBufferHeader> m_HdrQueue;
    std::atomic<PortState> m_State{Closed};
    DeviceFailure m_Failure;
};

}  // namespace midi
