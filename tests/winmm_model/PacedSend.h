#pragma once
// The pair's paced send, for test programs that include windows.h (whose macros the MIDI
// seam's names collide with).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantro {

// Opens a pair on the ports and sends message in pieces of `piece` bytes, back to back.
void SendInPieces(unsigned in, unsigned out, const std::vector<uint8_t>& message,
                  std::size_t piece);

}  // namespace vantro
