// Any bytes as the unit's reply: they arrive through the input port as one SysEx message,
// reach MyReceiver, then the frame checks and the decoder of the command chosen by the first
// byte. Whatever arrives, the command ends, and a failed command leaves its outputs alone.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bootloader/Commands.h"
#include "platform/VirtualMidi.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Unit {
    std::vector<uint8_t> reply;
    platform::VirtualInputPort toHost{"fuzz unit"};
    platform::VirtualOutputPort fromHost{"fuzz unit", [this](const uint8_t*, std::size_t) {
                                             if (!reply.empty())
                                                 toHost.SendSysEx(reply.data(), reply.size());
                                         }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantro;
    if (size == 0)
        return 0;
    static Unit unit;  // its ports stay; each input opens and closes a pair on them
    unit.reply.assign(data + 1, data + size);

    // One attempt, and a short wait for a reply that never comes (an empty one).
    const LinkTimings timings{std::chrono::milliseconds(1), 5, 1, true, {}, {}, true};
    MidiPortPair pair(nullptr, timings);
    pair.OpenPorts(midiInGetNumDevs() - 1, midiOutGetNumDevs() - 1);

    switch (data[0] % 5) {
        case 0: {
            uint8_t v[4] = {7, 7, 7, 7};
            if (!QueryVersions(pair, v[0], v[1], v[2], v[3]))
                Check(v[0] == 7 && v[1] == 7 && v[2] == 7 && v[3] == 7, "versions untouched");
            else
                Check(unit.reply.size() >= 16 && unit.reply[5] == 0x01, "identify reply shape");
            break;
        }
        case 1: {
            uint8_t block[256];
            std::memset(block, 0xA5, sizeof block);
            const bool ok = ReadBlock(pair, 0x1400, block);
            if (!ok) {
                for (const uint8_t b : block)
                    Check(b == 0xA5, "block untouched");
            } else {
                Check(unit.reply.size() == 528 && unit.reply[5] == 0x02, "read reply shape");
            }
            break;
        }
        case 2: {
            const uint8_t block[256] = {};
            if (WriteBlock(pair, block, 0x1400))
                Check(unit.reply[5] == 0x03, "write echo");
            break;
        }
        case 3:
            if (ErasePages(pair, 1, 0x1400))
                Check(unit.reply[5] == 0x04, "erase echo");
            break;
        default:
            // Silence counts as accepted; an answer must name VerifyOK.
            SendVerifyOK(pair);
            break;
    }
    return 0;
}
