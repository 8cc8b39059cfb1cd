#pragma once

// The assistant program from its command line to its exit status, alike for every front-end:
// what the command line means, the built-in simulated unit, and what is told when.

#include <memory>
#include <string>
#include <vector>

#include "seam/MessageSeam.h"
#include "sim/SimulatedUnit.h"

namespace vantro::assistant {

// --simulated-unit adds the built-in unit; the --sim-* options set it up.
struct WindowCommandLine {
    bool simulated = false;
    sim::SimCommandLine sim;
};

enum class WindowArgs { Run, Help, Version, Error };

extern const char* const kWindowUsage;

// Error: error says why, for the user.
WindowArgs ParseWindowCommandLine(const std::vector<std::string>& args, WindowCommandLine& line,
                                  std::string& error);

// What the program needs of its toolkit.
class WindowProgram {
  public:
    virtual ~WindowProgram() = default;
    // Help, the version, a usage error: for whoever started the program.
    virtual void Print(const std::string& text, bool error) = 0;
    // Prepares the window system for the dialog (and registers the program's restart).
    virtual void Prepare(const std::vector<std::string>& args) = 0;
    // Runs the assistant modally until it ends; notice is told once it has started.
    virtual void RunDialog(const std::string& notice) = 0;
    // Message boxes with no window, once the dialog has gone.
    virtual MessageSeam& Messages() = 0;
};

// Returns the process's exit status: 0, 1 when the flash dump could not be written, 2 for a
// usage error.
int RunWindowProgram(const std::vector<std::string>& args, const char* version,
                     WindowProgram& program);

}  // namespace vantro::assistant
