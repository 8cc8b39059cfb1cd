#include "midi/MidiInDevice.h"

#include "midi/MidiExceptions.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace midi {

char InputDataArea[kInputDataAreaSize];

CMIDIInDevice::~CMIDIInDevice() {
    // Never throws, and never leaves the device open with a callback into a dead object.
    try {
        Stop();
        if (m_State == Opened) {
            if (midiInClose(m_Handle) != MMSYSERR_NOERROR) {
                midiInReset(m_Handle);
                m_HdrQueue.ReleaseAll();
                midiInClose(m_Handle);
            }
            m_State = Closed;
        }
    } catch (...) {
    }
    EndWorker();
}

void CMIDIInDevice::OpenPort(UINT deviceId) {
    ClosePort();
    Open(deviceId, &MidiInCallback, this, &CMIDIInDevice::ReleaseHandedOn);
}

void CMIDIInDevice::UseOwnDataArea() {
    if (!m_OwnArea) {
        m_OwnArea = std::make_unique<char[]>(kInputDataAreaSize);
        m_DataArea = m_OwnArea.get();
    }
}

void CMIDIInDevice::QueueBuffer() {
    QueueHeader(m_DataArea);
}

void CMIDIInDevice::Start() {
    if (m_State != Opened) {
        return;
    }
    m_State = Started;
    m_Event->Reset();  // a signal left from an earlier exchange releases nothing
    const MMRESULT result = midiInStart(m_Handle);
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
    midiInReset(m_Handle);
    m_HdrQueue.ReleaseAll();
}

void CMIDIInDevice::ClosePort() {
    Stop();
    if (m_State == Opened) {
        Check(midiInClose(m_Handle));
        m_State = Closed;
        EndWorker();
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

void CMIDIInDevice::ReleaseHandedOn() {
    if (m_State == Started) {
        // Only a buffer the receiver has finished with: a signal left from an earlier
        // exchange must not free one whose callback is still running.
        m_HdrQueue.ReleaseOldestIf(
            [](const InBufferHeader& h) { return h.IsDone() && h.HandedOn(); });
    }
}

}  // namespace midi
