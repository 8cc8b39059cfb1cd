#include "midi/MidiOutDevice.h"

#include <new>
#include <system_error>

#include "midi/MidiExceptions.h"
#include "platform/SendBound.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

OutBufferHeader::OutBufferHeader(HMIDIOUT handle, const char* bytes, DWORD length)
    // The driver only reads output data.
    : BufferHeader(const_cast<char*>(bytes), length), m_hMidiOut(handle) {
    m_MIDIHdr.dwBytesRecorded = length;
    const MMRESULT result = midiOutPrepareHeader(m_hMidiOut, &m_MIDIHdr, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIOutException(result);
    }
}

OutBufferHeader::~OutBufferHeader() {
    if (HeldByDriver()) {
        midiOutReset(m_hMidiOut);
    }
    midiOutUnprepareHeader(m_hMidiOut, &m_MIDIHdr, sizeof(MIDIHDR));
}

CMIDIOutDevice::CMIDIOutDevice() {
    try {
        m_Event = std::make_unique<AutoResetEvent>();
    } catch (const std::exception&) {
        throw CMIDIOutEventFailure();
    }
}

CMIDIOutDevice::~CMIDIOutDevice() {
    try {
        ClosePort();
    } catch (...) {
    }
}

void CMIDIOutDevice::OpenPort(UINT deviceId) {
    if (m_State == Opened) {
        ClosePort();
    }
    m_Failure.Clear();  // before the open: the new device may fail at once
    const MMRESULT result =
        midiOutOpen(&m_hMidiOut, deviceId, reinterpret_cast<DWORD_PTR>(&MidiOutCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIOutException(result);
    }
    m_State = Opened;
    m_Event->Reset();  // a completion left from before must not release anything
    try {
        m_Worker = std::thread(&CMIDIOutDevice::ReleaseThreadProc, this);
    } catch (const std::system_error&) {
        m_State = Closed;
        midiOutClose(m_hMidiOut);
        throw CMIDIOutException(MMSYSERR_NOMEM);
    }
}

void CMIDIOutDevice::WaitUntilSent() noexcept {
    if (!m_HdrQueue.AnyHeldByDriver()) {
        return;
    }
    // Woken by each completion; no loop of short sleeps (coarse on Windows).
    const auto deadline =
        std::chrono::steady_clock::now() + platform::SendBound(m_HdrQueue.HeldBytes());
    std::unique_lock lock(m_SentMutex);
    if (!m_Sent.wait_until(lock, deadline, [this] { return !m_HdrQueue.AnyHeldByDriver(); })) {
        lock.unlock();
        midiOutReset(m_hMidiOut);  // a driver that holds on past the bound gives them back
    }
}

void CMIDIOutDevice::ClosePort() {
    if (m_State != Opened) {
        return;
    }
    m_State = Closed;
    m_Event->Set();
    if (m_Worker.joinable()) {
        m_Worker.join();
    }
    // What was sent leaves first (a restart frame must reach the unit); a driver that holds
    // on past the bound gets its buffers taken back before they are freed.
    WaitUntilSent();
    m_HdrQueue.ReleaseAll();
    midiOutClose(m_hMidiOut);
}

void CMIDIOutDevice::ThrowIfFailed() const {
    if (const MMRESULT code = m_Failure.Code()) {
        throw CMIDIOutException(code);
    }
}

void CMIDIOutDevice::SendSysEx(const char* bytes, uint32_t length) {
    if (m_State != Opened) {
        return;
    }
    ThrowIfFailed();  // a device that has gone takes nothing more
    std::unique_ptr<OutBufferHeader> header;
    try {
        header = std::make_unique<OutBufferHeader>(m_hMidiOut, bytes, length);
    } catch (const std::bad_alloc&) {
        throw CMIDIOutMemFailure();
    }
    // In the queue before the driver has it, so its completion can never find it missing.
    OutBufferHeader* raw = header.get();
    m_HdrQueue.Append(std::move(header));
    const MMRESULT result = midiOutLongMsg(m_hMidiOut, raw->Header(), sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
        m_HdrQueue.TakeBack(raw);
        throw CMIDIOutException(result);
    }
}

void CMIDIOutDevice::GetPortCaps(UINT deviceId, MIDIOUTCAPSA& caps) const {
    const MMRESULT result = midiOutGetDevCapsA(deviceId, &caps, sizeof(MIDIOUTCAPSA));
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIOutException(result);
    }
}

void CMIDIOutDevice::MidiOutCallback(HMIDIOUT, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                     DWORD_PTR) {
    if (msg == MOM_DEVICEFAILED) {
        reinterpret_cast<CMIDIOutDevice*>(instance)->m_Failure.Note(static_cast<MMRESULT>(param1));
        return;
    }
    if (msg == MOM_DONE) {
        auto* self = reinterpret_cast<CMIDIOutDevice*>(instance);
        self->m_Event->Set();
        {
            std::lock_guard lock(self->m_SentMutex);  // held only to hand on the wake-up
        }
        self->m_Sent.notify_all();
    }
}

void CMIDIOutDevice::ReleaseThreadProc() {
    while (m_State == Opened) {
        m_Event->Wait();
        if (m_State != Opened) {
            break;
        }
        m_HdrQueue.ReleaseOldestIfDone();
    }
}

}  // namespace midi
