#include "midi/MidiInDevice.h"

#include <new>
#include <system_error>

#include "midi/MidiExceptions.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

char InputDataArea[kInputDataAreaSize];

InBufferHeader::InBufferHeader(HMIDIIN handle)
    : BufferHeader(InputDataArea, kInputDataAreaSize), m_hMidiIn(handle) {
    const MMRESULT result = midiInPrepareHeader(m_hMidiIn, &m_MIDIHdr, sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIInException(result);
    }
}

InBufferHeader::~InBufferHeader() {
    // Never free a buffer the driver still holds: have it handed back first.
    if (HeldByDriver()) {
        midiInReset(m_hMidiIn);
    }
    midiInUnprepareHeader(m_hMidiIn, &m_MIDIHdr, sizeof(MIDIHDR));
}

CMIDIInDevice::CMIDIInDevice() {
    try {
        m_Event = std::make_unique<AutoResetEvent>();
    } catch (const std::exception&) {
        throw CMIDIInEventFailure();
    }
}

CMIDIInDevice::~CMIDIInDevice() {
    // Never throws, and never leaves the device open with a callback into a dead object.
    try {
        Stop();
        if (m_State == Opened) {
            if (midiInClose(m_hMidiIn) != MMSYSERR_NOERROR) {
                midiInReset(m_hMidiIn);
                m_HdrQueue.ReleaseAll();
                midiInClose(m_hMidiIn);
            }
            m_State = Closed;
        }
    } catch (...) {
    }
    EndWorker();
}

void CMIDIInDevice::OpenPort(UINT deviceId) {
    ClosePort();
    m_Failure.Clear();  // before the open: the new device may fail at once
    const MMRESULT result =
        midiInOpen(&m_hMidiIn, deviceId, reinterpret_cast<DWORD_PTR>(&MidiInCallback),
                   reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIInException(result);
    }
    m_State = Opened;
    // One worker for as long as the port is open, idle while input is stopped: a thread made
    // and ended for every exchange costs milliseconds on some systems.
    m_WorkerEnds = false;
    m_Event->Reset();
    try {
        m_Worker = std::thread(&CMIDIInDevice::ReleaseThreadProc, this);
    } catch (const std::system_error&) {
        midiInClose(m_hMidiIn);
        m_State = Closed;
        throw CMIDIInException(MMSYSERR_NOMEM);
    }
}

void CMIDIInDevice::EndWorker() {
    if (m_Worker.joinable()) {
        m_WorkerEnds = true;
        m_Event->Set();
        m_Worker.join();
    }
}

void CMIDIInDevice::ThrowIfFailed() const {
    if (const MMRESULT code = m_Failure.Code()) {
        throw CMIDIInException(code);
    }
}

void CMIDIInDevice::QueueBuffer() {
    std::unique_ptr<InBufferHeader> header;
    try {
        header = std::make_unique<InBufferHeader>(m_hMidiIn);
    } catch (const std::bad_alloc&) {
        throw CMIDIInMemFailure();
    }
    // In the queue before the driver has it, so its return can never find it missing.
    InBufferHeader* raw = header.get();
    m_HdrQueue.Append(std::move(header));
    const MMRESULT result = midiInAddBuffer(m_hMidiIn, raw->Header(), sizeof(MIDIHDR));
    if (result != MMSYSERR_NOERROR) {
        m_HdrQueue.TakeBack(raw);
        throw CMIDIInException(result);
    }
}

void CMIDIInDevice::Start() {
    if (m_State != Opened) {
        return;
    }
    m_State = Started;
    m_Event->Reset();  // a signal left from an earlier exchange releases nothing
    const MMRESULT result = midiInStart(m_hMidiIn);
    if (result != MMSYSERR_NOERROR) {
        m_State = Opened;
        throw CMIDIInException(result);
    }
}

void CMIDIInDevice::Stop() {
    if (m_State != Started) {
        return;
    }
    // The worker releases nothing once input is stopped, and only buffers the driver has
    // handed back; the queue's lock keeps it and the release here apart.
    m_State = Opened;
    midiInReset(m_hMidiIn);
    m_HdrQueue.ReleaseAll();
}

void CMIDIInDevice::ClosePort() {
    Stop();
    if (m_State == Opened) {
        const MMRESULT result = midiInClose(m_hMidiIn);
        if (result != MMSYSERR_NOERROR) {
            throw CMIDIInException(result);
        }
        m_State = Closed;
        EndWorker();
    }
}

void CMIDIInDevice::GetPortCaps(UINT deviceId, MIDIINCAPSA& caps) const {
    const MMRESULT result = midiInGetDevCapsA(deviceId, &caps, sizeof(MIDIINCAPSA));
    if (result != MMSYSERR_NOERROR) {
        throw CMIDIInException(result);
    }
}

void CMIDIInDevice::MidiInCallback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                   DWORD_PTR param2) {
    auto* self = reinterpret_cast<CMIDIInDevice*>(instance);
    if (msg == MIM_DEVICEFAILED) {
        self->m_Failure.Note(static_cast<MMRESULT>(param1));
        return;
    }
    CMIDIReceiver* receiver = self->m_Receiver.load();
    if (receiver == nullptr) {
        return;
    }
    const auto stamp = static_cast<uint32_t>(param2);
    switch (msg) {
        case MIM_DATA:
            receiver->OnShortMessage(static_cast<uint32_t>(param1), stamp);
            break;
        case MIM_ERROR:
            receiver->OnShortMessageError(static_cast<uint32_t>(param1), stamp);
            break;
        case MIM_LONGDATA:
        case MIM_LONGERROR:
            if (self->m_State == Started) {
                auto* header = reinterpret_cast<MIDIHDR*>(param1);
                if (msg == MIM_LONGDATA) {
                    receiver->OnLongMessage(header->lpData, header->dwBytesRecorded, stamp);
                } else {
                    receiver->OnLongMessageError(header->lpData, header->dwBytesRecorded, stamp);
                }
                InBufferHeader::MarkHandedOn(header);
                self->m_Event->Set();
            }
            break;
        default:
            break;
    }
}

void CMIDIInDevice::ReleaseThreadProc() {
    for (;;) {
        m_Event->Wait();
        if (m_WorkerEnds) {
            return;
        }
        if (m_State == Started) {
            // Only a buffer the receiver has finished with: a signal left from an earlier
            // exchange must not free one whose callback is still running.
            m_HdrQueue.ReleaseOldestIf(
                [](const InBufferHeader& h) { return h.IsDone() && h.HandedOn(); });
        }
    }
}

}  // namespace midi
