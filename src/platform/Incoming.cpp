// Sorting raw bytes the way winmm reports them, for backends whose system hands over bytes.
#include "platform/RealBackend.h"

namespace platform::detail {

Incoming Classify(const uint8_t* bytes, std::size_t length) {
    Incoming m;
    if (length > 0 && bytes[0] == 0xF0) {
        m.kind = bytes[length - 1] == 0xF7 ? Incoming::Kind::SysEx : Incoming::Kind::BrokenSysEx;
        m.bytes.assign(bytes, bytes + length);
        return m;
    }
    for (std::size_t i = 0; i < length && i < 3; ++i) {
        m.word |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    const bool valid = length > 0 && length <= 3 && bytes[0] >= 0x80;
    m.kind = valid ? Incoming::Kind::Short : Incoming::Kind::InvalidShort;
    return m;
}

}  // namespace platform::detail
