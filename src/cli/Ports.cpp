#include <ostream>

#include "cli/Cli.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "midi/PortNames.h"

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
    const auto list = [&out](const char* heading, const char* none, const auto& port, auto caps) {
        out << heading;
        if (port.PortCount() == 0) {
            out << none;
        }
        out << '\n';
        midi::ForEachPortName<decltype(caps)>(
            port, [&out](UINT i, const char* name) { out << "  " << i << ": " << name << '\n'; });
    };
    list("IN ports:", " none (no MIDI input port found)", midi::CMIDIInDevice(), MIDIINCAPSA{});
    list("OUT ports:", " none (no MIDI output port found)", midi::CMIDIOutDevice(), MIDIOUTCAPSA{});
    return kExitOk;
}

}  // namespace vantro::cli
