#pragma once

#include <string>
#include <vector>

namespace vantro::win32 {

// The command line the restart manager starts the program with again (it puts the program's
// name before it): --restarted and the arguments it had, each quoted where CommandLineToArgvW
// would split or unquote it.
std::wstring RestartCommandLine(const std::vector<std::string>& args);

}  // namespace vantro::win32
