// VANTRO.exe: the assistant on the Windows API. VANTRO --simulated-unit [--sim-*] adds the
// built-in simulated unit after the real ports; --version prints the version and opens nothing.
#include "platform/Windows.h"
// windows.h first
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Version.h"
#include "app/win32/Win32Dialog.h"
#include "sim/SimulatedUnit.h"

namespace {

// A GUI program has no console of its own: the text goes to where standard output was sent,
// else to the console the program was started from.
void PrintToStdout(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE opened = INVALID_HANDLE_VALUE;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        opened = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        out = opened;
    }
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    if (opened != INVALID_HANDLE_VALUE)
        CloseHandle(opened);
}

void Tell(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), vantro::win32::ApplicationTitle().c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

// The system's restart manager may start the program again (after an update, a hang or a
// crash) with the arguments it had, marked as such; no recovery, no autosave.
void RegisterForRestart(const std::vector<std::string>& args) {
    std::wstring line = L"--restarted";
    for (const auto& a : args) {
        if (a != "--restarted")
            line += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    }
    RegisterApplicationRestart(line.c_str(), 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace vantro;
    const std::vector<std::string> args(__argv + 1, __argv + __argc);
    sim::WindowCommandLine line;
    std::string error;
    switch (sim::ParseWindowCommandLine(args, line, error)) {
        case sim::WindowArgs::Help:
            Tell(sim::kWindowUsage);
            return 0;
        case sim::WindowArgs::Version:
            PrintToStdout("VANTRO " VANTRO_VERSION "\n");  // no window
            return 0;
        case sim::WindowArgs::Error:
            Tell(error);
            return 2;
        case sim::WindowArgs::Run:
            break;
    }

    RegisterForRestart(args);
    INITCOMMONCONTROLSEX controls{8, 0xFF};  // ICC_WIN95_CLASSES: the progress bar among them
    InitCommonControlsEx(&controls);

    std::unique_ptr<sim::InProcessUnit> unit;
    std::string flashProblem;
    if (line.simulated) {
        unit = sim::StartWindowUnit(line.sim, flashProblem);
    }
    if (!flashProblem.empty())
        Tell(flashProblem);
    {
        win32::CVANTRODlg dialog;
        dialog.DoModal();  // Quit, Enter, Escape and the close box all end here alike
    }
    std::string why;
    if (unit && !line.sim.flashOut.empty() && !unit->Core().SaveFlashFile(line.sim.flashOut, why)) {
        Tell("Could not write the flash dump '" + line.sim.flashOut + "': " + why);
        return 1;
    }
    return 0;
}
