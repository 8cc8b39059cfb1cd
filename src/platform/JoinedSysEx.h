#pragma once
// For a system that takes whole messages only (RtMidi's outputs, Web MIDI): the pieces of a
// paced SysEx are joined, and the message leaves whole once its F7 has come.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/RealBackend.h"

namespace platform::detail {

class JoinedSysEx {
  public:
    // Hands sendWhole(bytes, length) what may leave now: the message itself, or the joined
    // pieces once the last has come; a piece before it leaves nothing yet. On the handle's
    // thread only.
    template <typename SendWhole>
    PortFailure Send(const uint8_t* bytes, std::size_t length, SendWhole sendWhole) {
        if (!pieces_.empty() || (length > 0 && bytes[0] == 0xF0 && bytes[length - 1] != 0xF7)) {
            pieces_.insert(pieces_.end(), bytes, bytes + length);
            if (pieces_.back() != 0xF7 && pieces_.size() <= kLongestJoined)
                return PortFailure{};
            const std::vector<uint8_t> whole = std::exchange(pieces_, {});
            return sendWhole(whole.data(), whole.size());
        }
        return sendWhole(bytes, length);
    }

  private:
    static constexpr std::size_t kLongestJoined = 4096;  // a message without its end is cut off
    std::vector<uint8_t> pieces_;
};

}  // namespace platform::detail
