#include <ostream>

#include "cli/Cli.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::cli {

int RunPorts(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            out << "usage: vantro-cli ports\n\n"
                   "Lists the MIDI IN and OUT ports with the numbers that --in and --out take.\n";
            return kExitOk;
        }
        err << "vantro-cli ports: unexpected argument '" << a << "'\n";
        return kExitUsage;
    }
    // The same queries the dialog's lists make, through closed port objects.
    midi::CMIDIInDevice in;
    midi::CMIDIOutDevice outPort;
    const UINT inCount = in.PortCount();
    out << "IN ports:";
    if (inCount == 0) {
        out << " none (no MIDI input port found)";
    }
    out << '\n';
    for (UINT i = 0; i < inCount; ++i) {
        MIDIINCAPSA caps{};
        in.GetPortCaps(i, caps);
        out << "  " << i << ": " << caps.szPname << '\n';
    }
    const UINT outCount = outPort.PortCount();
    out << "OUT ports:";
    if (outCount == 0) {
        out << " none (no MIDI output port found)";
    }
    out << '\n';
    for (UINT i = 0; i < outCount; ++i) {
        MIDIOUTCAPSA caps{};
        outPort.GetPortCaps(i, caps);
        out << "  " << i << ": " << caps.szPname << '\n';
    }
    return kExitOk;
}

}  // namespace vantro::cli
