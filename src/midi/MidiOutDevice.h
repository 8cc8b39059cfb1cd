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
#include "midi/MidiPort.h"
#include "platform/MidiSeam.h"

namespace midi {

// One outgoing SysEx message in the hands of the driver, over the caller's bytes (not a
// copy); prepared on construction, unprepared on destruction.
class OutBufferHeader : public PortBufferHeader<OutCalls> {
  public:
    OutBufferHeader(mm::HMIDIOUT handle, const char* bytes, mm::DWORD length)
        // The driver only reads output data.
        : PortBufferHeader(handle, const_cast<char*>(bytes), length, length) {}
};

// One MIDI output port that sends System Exclusive messages asynchronously.
class CMIDIOutDevice : public MidiPort<OutCalls, OutBufferHeader> {
  public:
    ~CMIDIOutDevice();

    void OpenPort(mm::UINT deviceId);
    void ClosePort();
    // The bytes must stay alive and unchanged until the port has finished with them.
    void SendSysEx(const char* bytes, uint32_t length);

    // Returns once the driver has finished with every message sent, so their bytes may be
    // reused; a driver that holds on past a bound fitting their wire time is reset.
    void WaitUntilSent() noexcept;

  private:
    static void MidiOutCallback(mm::HMIDIOUT handle, mm::UINT msg, mm::DWORD_PTR instance,
                                mm::DWORD_PTR param1, mm::DWORD_PTR param2);
    void ReleaseDone();

    // Told of every completion, for a wait until the driver holds nothing more.
    std::mutex m_SentMutex;
    std::condition_variable m_Sent;
};

}  // namespace midi
