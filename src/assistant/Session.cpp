#include "assistant/Session.h"

#include "platform/MidiApi.h"

namespace vantro::assistant {

const char* const kWindowUsage =
    "usage: VANTRO [--version] [--simulated-unit [--sim-baud N] [--sim-fault KIND:RATE]...\n"
    "              [--sim-seed N] [--sim-versions A.B.C.D] [--sim-page-erase-us N]\n"
    "              [--sim-row-write-us N] [--sim-late-ms N] [--sim-flash-start previous|erased]\n"
    "              [--sim-flash-in FILE] [--sim-flash-out FILE]]\n"
    "\n"
    "Opens the VANTRO Assistant. --simulated-unit adds a built-in simulated unit's MIDI ports\n"
    "after the real ones, so the six steps can be tried without a unit; the --sim-* options\n"
    "are those of vantro-cli.\n";

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

// The unit a window starts from its command line. A flash dump that cannot be used does not
// stop the window: problem then says why and the unit starts erased.
std::unique_ptr<sim::InProcessUnit> StartWindowUnit(const sim::SimCommandLine& line,
                                                    std::string& problem) {
    auto unit = std::make_unique<sim::InProcessUnit>(line.options);
    std::string why;
    if (!line.flashIn.empty() && !unit->Core().LoadFlashFile(line.flashIn, why)) {
        problem = "Cannot use '" + line.flashIn + "' as flash dump: " + why +
                  ".\nThe simulated unit starts with its flash erased.";
        sim::SimOptions erased = line.options;
        erased.startErased = true;
        unit.reset();  // its ports go before the new unit's come
        unit = std::make_unique<sim::InProcessUnit>(erased);
    }
    return unit;
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
    std::unique_ptr<sim::InProcessUnit> unit;
    std::string notice;
    if (line.simulated)
        unit = StartWindowUnit(line.sim, notice);
    program.RunDialog(notice);  // Quit, Enter, Escape and the close box all end here alike
    std::string why;
    if (unit && !line.sim.flashOut.empty() && !unit->Core().SaveFlashFile(line.sim.flashOut, why)) {
        program.Messages().Show(
            "Could not write the flash dump '" + line.sim.flashOut + "': " + why,
            MessageButtons::Ok);
        return 1;
    }
    return 0;
}

}  // namespace vantro::assistant
