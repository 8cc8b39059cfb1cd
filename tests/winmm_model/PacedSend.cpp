#include "PacedSend.h"

#include "bootloader/Link.h"

namespace vantro {

void SendInPieces(unsigned in, unsigned out, const std::vector<uint8_t>& message,
                  std::size_t piece) {
    LinkTimings t;
    t.pace = Pace{piece, std::chrono::milliseconds(0), std::chrono::microseconds(0)};
    MidiPortPair pair(nullptr, t);
    pair.OpenPorts(in, out);
    pair.Send(message.data(), message.size());
}

}  // namespace vantro
