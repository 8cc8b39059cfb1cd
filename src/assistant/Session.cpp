#include "assistant/Session.h"

#include "platform/MidiApi.h"

namespace vantro::assistant {

const char* const kWindowUsage =
    "usage: VANTRO [--version] [--simulated-unit [--sim-units N] [--sim-through N]\n"
    "              [--sim-baud N] [--sim-fault KIND:RATE]...\n"
    "              [--sim-seed N] [--sim-versions A.B.C.D] [--sim-page-erase-us N]\n"
    "              [--sim-row-write-us N] [--sim-late-ms N] [--sim-flash-start previous|erased]\n"
    "              [--sim-flash-in FILE] [--sim-flash-out FILE]]\n"
    "\n"
    "Opens the VANTRO Assistant. --simulated-unit adds a built-in simulated unit's MIDI ports\n"
    "after the real ones, so the six steps can be tried without a unit; --sim-units N adds N\n"
    "of them, --sim-through N as many Through port pairs; the --sim-* options are those of\n"
    "vantro-cli.\n";

WindowArgs ParseWindowCommandLine(const std::vector<std::string>& args, WindowCommandLine& line,
                                  std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            return WindowArgs::Help;
        }
        if (a == "--version") {
            return WindowArgs::Version;
        }
        if (a == "--simulated-unit") {
            line.simulated = true;
            continue;
        }
        line.simulated = line.simulated || a == "--sim-units";
        if (a == "--restarted") {
            continue;  // started again by the system's restart manager (Windows)
        }
        switch (sim::ParseSimArgument(args, i, "--sim-", line.sim, error)) {
            case sim::SimArg::Consumed:
                continue;
            case sim::SimArg::Error:
                return WindowArgs::Error;
            case sim::SimArg::NotMine:
                error = "unknown argument " + a + " (see --help)";
                return WindowArgs::Error;
        }
    }
    if (!line.simulated && (!line.sim.flashIn.empty() || !line.sim.flashOut.empty())) {
        error = "--sim-flash-in and --sim-flash-out need --simulated-unit";
        return WindowArgs::Error;
    }
    if (!platform::CheckMidiApiSetting(error)) {
        return WindowArgs::Error;
    }
    return WindowArgs::Run;
}

namespace {

// The simulated ports a window starts from its command line. A flash dump that cannot be used
// does not stop the window: problem then says why and the first unit starts erased.
sim::SimulatedPorts StartWindowPorts(const WindowCommandLine& line, std::string& problem) {
    const uint32_t units = line.simulated ? line.sim.units : 0;
    auto ports = sim::StartSimulatedPorts(line.sim.options, units, line.sim.throughs, nullptr,
                                          line.sim.sharing);
    std::string why;
    if (units > 0 && !line.sim.flashIn.empty() &&
        !ports.units[0]->Core().LoadFlashFile(line.sim.flashIn, why)) {
        problem = "Cannot use '" + line.sim.flashIn + "' as flash dump: " + why +
                  ".\nThe simulated unit starts with its flash erased.";
        sim::SimOptions erased = line.sim.options;
        erased.startErased = true;
        ports = {};  // its ports go before the new ones come
        ports = sim::StartSimulatedPorts(line.sim.options, units, line.sim.throughs, &erased,
                                         line.sim.sharing);
    }
    return ports;
}

}  // namespace

int RunWindowProgram(const std::vector<std::string>& args, const char* version,
                     WindowProgram& program) {
    WindowCommandLine line;
    std::string error;
    switch (ParseWindowCommandLine(args, line, error)) {
        case WindowArgs::Help:
            program.Print(kWindowUsage, false);
            return 0;
        case WindowArgs::Version:
            program.Print(std::string("VANTRO ") + version + "\n", false);  // no window
            return 0;
        case WindowArgs::Error:
            program.Print("VANTRO: " + error + "\n", true);
            return 2;
        case WindowArgs::Run:
            break;
    }
    program.Prepare(args);
    std::string notice;
    auto simulated = StartWindowPorts(line, notice);
    program.RunDialog(notice);  // Quit, Enter, Escape and the close box all end here alike
    std::string why;
    if (!simulated.units.empty() && !line.sim.flashOut.empty() &&
        !simulated.units[0]->Core().SaveFlashFile(line.sim.flashOut, why)) {
        program.Messages().Show(
            "Could not write the flash dump '" + line.sim.flashOut + "': " + why,
            MessageButtons::Ok);
        return 1;
    }
    return 0;
}

}  // namespace vantro::assistant
