#pragma once

#include <string>
#include <vector>

namespace vantro::app {

// The application: prepares the window system, runs the assistant dialog modally, and ends
// when it closes. With --simulated-unit (and the --sim-* options of vantro-cli) the
// in-process simulated unit's ports are listed after the real ones.
class CVANTROApp {
  public:
    CVANTROApp() = default;
    CVANTROApp(const CVANTROApp&) = delete;
    CVANTROApp& operator=(const CVANTROApp&) = delete;

    // Returns the process's exit status.
    int InitInstance(int argc, char** argv);
};

// The one application object.
extern CVANTROApp theApp;

}  // namespace vantro::app
