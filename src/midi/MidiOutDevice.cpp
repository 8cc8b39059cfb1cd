#include "midi/MidiOutDevice.h"

#include "midi/MidiExceptions.h"
#include "platform/SendBound.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

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
    Open(deviceId, &MidiOutCallback, this, &CMIDIOutDevice::ReleaseDone);
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
        midiOutReset(m_Handle);  // a driver that holds on past the bound gives them back
    }
}

void CMIDIOutDevice::ClosePort() {
    if (m_State != Opened) {
        return;
    }
    m_State = Closed;
    EndWorker();
    // What was sent leaves first (a restart frame must reach the unit); a driver that holds
    // on past the bound gets its buffers taken back before they are freed.
    WaitUntilSent();
    m_HdrQueue.ReleaseAll();
    midiOutClose(m_Handle);
}

void CMIDIOutDevice::SendSysEx(const char* bytes, uint32_t length) {
    if (m_State != Opened) {
        return;
    }
    ThrowIfFailed();  // a device that has gone takes nothing more
    QueueHeader(bytes, length);
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

void CMIDIOutDevice::ReleaseDone() {
    if (m_State == Opened) {
        m_HdrQueue.ReleaseOldestIfDone();
    }
}

}  // namespace midi
