// VANTRO.exe: the assistant on the Windows API. VANTRO --simulated-unit [--sim-*] adds the
// built-in simulated unit after the real ports; --version prints the version and opens nothing.
#include "platform/Windows.h"
// windows.h first
#include <commctrl.h>

#include <string>
#include <vector>

#include "Version.h"
#include "app/win32/CommandLine.h"
#include "app/win32/Win32Dialog.h"
#include "assistant/Session.h"
#include "platform/Console.h"
#include "platform/Unicode.h"

namespace {

// A GUI program has no console of its own: the text goes to where standard output (or error)
// was sent, else to the console the program was started from; false when there is neither.
bool PrintToConsole(const std::string& text, bool error) {
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    HANDLE opened = INVALID_HANDLE_VALUE;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        opened = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        out = opened;
    }
    const bool printed =
        out != nullptr && out != INVALID_HANDLE_VALUE && platform::WriteText(out, text);
    if (opened != INVALID_HANDLE_VALUE)
        CloseHandle(opened);
    return printed;
}

// The system's restart manager may start the program again (after an update, a hang or a
// crash) with the arguments it had, marked as such; no recovery, no autosave.
void RegisterForRestart(const std::vector<std::string>& args) {
    RegisterApplicationRestart(vantro::win32::RestartCommandLine(args).c_str(), 0);
}

// The program on the Windows API: a console line where there is a console, else a box.
class Win32Program : public vantro::assistant::WindowProgram {
  public:
    void Print(const std::string& text, bool error) override {
        if (!PrintToConsole(text, error))
            boxes_.Show(text, vantro::MessageButtons::Ok);
    }
    void Prepare(const std::vector<std::string>& args) override {
        RegisterForRestart(args);
        INITCOMMONCONTROLSEX controls{8, 0xFF};  // ICC_WIN95_CLASSES: the progress bar among them
        InitCommonControlsEx(&controls);
    }
    void RunDialog(const std::string& notice) override {
        vantro::win32::CVANTRODlg dialog(nullptr, notice);
        dialog.DoModal();
    }
    vantro::MessageSeam& Messages() override { return boxes_; }

  private:
    vantro::win32::Win32MessageSeam boxes_{nullptr};
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Win32Program program;
    return vantro::assistant::RunWindowProgram(platform::ProgramArguments(__argc, __argv),
                                               VANTRO_VERSION, program);
}
