#include "midi/MidiMsg.h"

#include <cstring>

#include "midi/MidiOutDevice.h"

namespace midi {

CLongMsg::CLongMsg(const char* bytes, uint32_t length) : m_Length(length) {
    if (length > 0) {
        m_Bytes = std::make_unique<char[]>(length);
        std::memcpy(m_Bytes.get(), bytes, length);
    }
}

void CLongMsg::SendTo(CMIDIOutDevice& device) {
    device.SendSysEx(m_Bytes.get(), m_Length);
}

}  // namespace midi
