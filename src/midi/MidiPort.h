#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "midi/AutoResetEvent.h"
#include "midi/BufferHeader.h"
#include "midi/DeviceFailure.h"
#include "midi/HeaderQueue.h"
#include "midi/MidiExceptions.h"
#include "platform/MidiSeam.h"

namespace midi {

enum PortState { Closed = 0, Opened = 1, Started = 2 };

// One direction's calls and errors, for what the input and the output port share.
struct InCalls {
    using Handle = mm::HMIDIIN;
    using Proc = mm::MidiInProc;
    using Caps = mm::MIDIINCAPSA;
    using Error = CMIDIInException;
    using MemFailure = CMIDIInMemFailure;
    using EventFailure = CMIDIInEventFailure;
    static constexpr auto Count = &mm::midiInGetNumDevs;
    static constexpr auto GetCaps = &mm::midiInGetDevCapsA;
    static constexpr auto Open = &mm::midiInOpen;
    static constexpr auto Close = &mm::midiInClose;
    static constexpr auto Prepare = &mm::midiInPrepareHeader;
    static constexpr auto Unprepare = &mm::midiInUnprepareHeader;
    static constexpr auto Queue = &mm::midiInAddBuffer;
    static constexpr auto Reset = &mm::midiInReset;
};

struct OutCalls {
    using Handle = mm::HMIDIOUT;
    using Proc = mm::MidiOutProc;
    using Caps = mm::MIDIOUTCAPSA;
    using Error = CMIDIOutException;
    using MemFailure = CMIDIOutMemFailure;
    using EventFailure = CMIDIOutEventFailure;
    static constexpr auto Count = &mm::midiOutGetNumDevs;
    static constexpr auto GetCaps = &mm::midiOutGetDevCapsA;
    static constexpr auto Open = &mm::midiOutOpen;
    static constexpr auto Close = &mm::midiOutClose;
    static constexpr auto Prepare = &mm::midiOutPrepareHeader;
    static constexpr auto Unprepare = &mm::midiOutUnprepareHeader;
    static constexpr auto Queue = &mm::midiOutLongMsg;
    static constexpr auto Reset = &mm::midiOutReset;
};

// A buffer header in the hands of one direction's driver; prepared on construction,
// unprepared on destruction.
template <typename Calls>
class PortBufferHeader : public BufferHeader {
  protected:
    PortBufferHeader(typename Calls::Handle handle, char* data, mm::DWORD length,
                     mm::DWORD recorded)
        : BufferHeader(data, length), m_Handle(handle) {
        m_MIDIHdr.dwBytesRecorded = recorded;
        const mm::MMRESULT result = Calls::Prepare(m_Handle, &m_MIDIHdr, sizeof(mm::MIDIHDR));
        if (result != mm::MMSYSERR_NOERROR) {
            throw typename Calls::Error(result);
        }
    }

    ~PortBufferHeader() {
        // Never free a buffer the driver still holds: have it handed back first.
        if (HeldByDriver()) {
            Calls::Reset(m_Handle);
        }
        Calls::Unprepare(m_Handle, &m_MIDIHdr, sizeof(mm::MIDIHDR));
    }

  private:
    typename Calls::Handle m_Handle;
};

// What the input and the output port share: the device handle and its state, the queue of
// buffers handed to the driver, the worker that frees what it hands back, the failure noted
// while open, and the direction's errors. A port ends its worker before it goes.
template <typename Calls, typename Header>
class MidiPort {
  public:
    MidiPort(const MidiPort&) = delete;
    MidiPort& operator=(const MidiPort&) = delete;

    mm::UINT PortCount() const { return Calls::Count(); }
    void GetPortCaps(mm::UINT deviceId, typename Calls::Caps& caps) const {
        Check(Calls::GetCaps(deviceId, &caps, sizeof caps));
    }

    // Called on the system's thread when the open device fails or goes (unplugged, its MIDI
    // system stopped); it must only hand the news on. Set before the port opens.
    void SetFailureListener(std::function<void()> listener) {
        m_Failure.SetListener(std::move(listener));
    }
    // The code of the device's failure since it was opened, 0 while it works.
    mm::MMRESULT Failure() const { return m_Failure.Code(); }
    // Throws the port error for that failure, if there is one.
    void ThrowIfFailed() const { Check(m_Failure.Code()); }

    PortState GetState() const { return m_State.load(); }
    std::size_t QueuedBufferCount() const { return m_HdrQueue.Size(); }

  protected:
    MidiPort() {
        try {
            m_Event = std::make_unique<AutoResetEvent>();
        } catch (const std::exception&) {
            throw typename Calls::EventFailure();
        }
    }
    ~MidiPort() = default;

    // Throws the port error for a call that failed.
    static void Check(mm::MMRESULT result) {
        if (result != mm::MMSYSERR_NOERROR) {
            throw typename Calls::Error(result);
        }
    }

    // Opens the device, its callback told self, and starts the worker, which calls release on
    // self each time it is woken until EndWorker. One worker for as long as the port is open,
    // idle in between: a thread made and ended for every exchange costs milliseconds on some
    // systems.
    template <typename Self>
    void Open(mm::UINT deviceId, typename Calls::Proc callback, Self* self,
              void (Self::*release)()) {
        m_Failure.Clear();  // before the open: the new device may fail at once
        Check(Calls::Open(&m_Handle, deviceId, reinterpret_cast<mm::DWORD_PTR>(callback),
                          reinterpret_cast<mm::DWORD_PTR>(self), mm::CALLBACK_FUNCTION));
        m_State = Opened;
        m_WorkerEnds = false;
        m_Event->Reset();  // a signal left from before releases nothing
        try {
            m_Worker = std::thread([this, self, release] { Work(self, release); });
        } catch (const std::system_error&) {
            Calls::Close(m_Handle);
            m_State = Closed;
            throw typename Calls::Error(mm::MMSYSERR_NOMEM);
        }
    }

    void EndWorker() {
        if (m_Worker.joinable()) {
            m_WorkerEnds = true;
            m_Event->Set();
            m_Worker.join();
        }
    }

    // Hands the driver a new header made of args. It is in the queue before the driver has
    // it, so its return can never find it missing.
    template <typename... Args>
    void QueueHeader(Args... args) {
        std::unique_ptr<Header> header;
        try {
            header = std::make_unique<Header>(m_Handle, args...);
        } catch (const std::bad_alloc&) {
            throw typename Calls::MemFailure();
        }
        Header* raw = header.get();
        m_HdrQueue.Append(std::move(header));
        const mm::MMRESULT result = Calls::Queue(m_Handle, raw->Header(), sizeof(mm::MIDIHDR));
        if (result != mm::MMSYSERR_NOERROR) {
            m_HdrQueue.TakeBack(raw);
            throw typename Calls::Error(result);
        }
    }

    typename Calls::Handle m_Handle = nullptr;
    std::unique_ptr<AutoResetEvent> m_Event;
    HeaderQueue<Header> m_HdrQueue;
    std::atomic<PortState> m_State{Closed};
    DeviceFailure m_Failure;

  private:
    template <typename Self>
    void Work(Self* self, void (Self::*release)()) {
        for (;;) {
            m_Event->Wait();
            if (m_WorkerEnds) {
                return;
            }
            (self->*release)();
        }
    }

    std::thread m_Worker;  // from the open to the close
    std::atomic<bool> m_WorkerEnds{false};
};

}  // namespace midi
