#include "app/qt/VantroApp.h"

#include <QApplication>
#include <cstdio>
#include <memory>

#include "app/qt/QtMessageSeam.h"
#include "app/qt/VantroDlg.h"
#include "sim/SimulatedUnit.h"

namespace vantro::app {

CVANTROApp theApp;

namespace {

constexpr const char* kUsage =
    "usage: VANTRO [--simulated-unit [--sim-baud N] [--sim-fault KIND:RATE]... [--sim-seed N]\n"
    "              [--sim-versions A.B.C.D] [--sim-page-erase-us N] [--sim-row-write-us N]\n"
    "              [--sim-late-ms N] [--sim-flash-start previous|erased] [--sim-flash-in FILE]\n"
    "              [--sim-flash-out FILE]]\n"
    "\n"
    "Opens the VANTRO Assistant. --simulated-unit adds a built-in simulated unit's MIDI ports\n"
    "after the real ones, so the six steps can be tried without a unit; the --sim-* options\n"
    "are those of vantro-cli.\n";

struct Options {
    bool simulated = false;
    sim::SimCommandLine sim;
};

// Returns -1 when the options are good, else the exit status after a message.
int Parse(const std::vector<std::string>& args, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--simulated-unit") {
            o.simulated = true;
            continue;
        }
        std::string error;
        switch (sim::ParseSimArgument(args, i, "--sim-", o.sim, error)) {
            case sim::SimArg::Consumed:
                continue;
            case sim::SimArg::Error:
                std::fprintf(stderr, "VANTRO: %s\n", error.c_str());
                return 2;
            case sim::SimArg::NotMine:
                std::fprintf(stderr, "VANTRO: unknown argument %s (see --help)\n", a.c_str());
                return 2;
        }
    }
    if (!o.simulated && (!o.sim.flashIn.empty() || !o.sim.flashOut.empty())) {
        std::fprintf(stderr, "VANTRO: --sim-flash-in and --sim-flash-out need --simulated-unit\n");
        return 2;
    }
    return -1;
}

}  // namespace

int CVANTROApp::InitInstance(int argc, char** argv) {
    Options options;
    if (const int status = Parse(std::vector<std::string>(argv + 1, argv + argc), options);
        status >= 0) {
        return status;
    }
    QApplication application(argc, argv);

    std::unique_ptr<sim::InProcessUnit> unit;
    std::string flashInProblem;
    if (options.simulated) {
        unit = sim::StartWindowUnit(options.sim, flashInProblem);  // said once the window is up
    }
    {
        CVANTRODlg dialog;
        if (!flashInProblem.empty()) {
            QtMessageSeam(&dialog).Show(flashInProblem, MessageButtons::Ok);
        }
        dialog.exec();  // Quit, Enter, Escape and the close box all end here alike
    }
    std::string why;
    if (unit && !options.sim.flashOut.empty() &&
        !unit->Core().SaveFlashFile(options.sim.flashOut, why)) {
        std::fprintf(stderr, "VANTRO: could not write the flash dump '%s': %s\n",
                     options.sim.flashOut.c_str(), why.c_str());
        return 1;
    }
    return 0;
}

}  // namespace vantro::app
