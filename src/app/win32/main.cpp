// VANTRO.exe: the assistant on the Windows API. VANTRO --simulated-unit [--sim-*] adds the
// built-in simulated unit after the real ports.
#include "platform/Windows.h"
// windows.h first
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/Win32Dialog.h"
#include "sim/SimulatedUnit.h"

namespace {

constexpr const char* kUsage =
    "usage: VANTRO [--simulated-unit [--sim-baud N] [--sim-fault KIND:RATE]... [--sim-seed N]\n"
    "              [--sim-versions A.B.C.D] [--sim-page-erase-us N] [--sim-row-write-us N]\n"
    "              [--sim-late-ms N] [--sim-flash-start previous|erased] [--sim-flash-in FILE]\n"
    "              [--sim-flash-out FILE]]";

void Tell(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), vantro::win32::ApplicationTitle().c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace vantro;
    const std::vector<std::string> args(__argv + 1, __argv + __argc);
    bool simulated = false;
    sim::SimCommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--simulated-unit") {
            simulated = true;
            continue;
        }
        std::string error;
        const auto r = sim::ParseSimArgument(args, i, "--sim-", line, error);
        if (r == sim::SimArg::Error) {
            Tell(error);
            return 2;
        }
        if (r == sim::SimArg::NotMine) {
            Tell(args[i] == "--help" ? std::string(kUsage) : "unknown argument " + args[i]);
            return args[i] == "--help" ? 0 : 2;
        }
    }

    INITCOMMONCONTROLSEX controls{8, 0xFF};  // ICC_WIN95_CLASSES: the progress bar among them
    InitCommonControlsEx(&controls);

    std::unique_ptr<sim::InProcessUnit> unit;
    std::string flashProblem;
    if (simulated) {
        unit = sim::StartWindowUnit(line, flashProblem);
    }
    if (!flashProblem.empty())
        Tell(flashProblem);
    {
        win32::CVANTRODlg dialog;
        dialog.DoModal();  // Quit, Enter, Escape and the close box all end here alike
    }
    std::string why;
    if (unit && !line.flashOut.empty() && !unit->Core().SaveFlashFile(line.flashOut, why)) {
        Tell("Could not write the flash dump '" + line.flashOut + "': " + why);
        return 1;
    }
    return 0;
}
