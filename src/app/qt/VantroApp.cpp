#include "app/qt/VantroApp.h"

#include <QApplication>
#include <cstdio>
#include <memory>

#include "Version.h"
#include "app/qt/QtMessageSeam.h"
#include "app/qt/VantroDlg.h"
#include "sim/SimulatedUnit.h"

namespace vantro::app {

CVANTROApp theApp;

int CVANTROApp::InitInstance(int argc, char** argv) {
    sim::WindowCommandLine options;
    std::string error;
    switch (sim::ParseWindowCommandLine(std::vector<std::string>(argv + 1, argv + argc), options,
                                        error)) {
        case sim::WindowArgs::Help:
            std::fputs(sim::kWindowUsage, stdout);
            return 0;
        case sim::WindowArgs::Version:
            std::fputs("VANTRO " VANTRO_VERSION "\n", stdout);  // no window
            return 0;
        case sim::WindowArgs::Error:
            std::fprintf(stderr, "VANTRO: %s\n", error.c_str());
            return 2;
        case sim::WindowArgs::Run:
            break;
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
