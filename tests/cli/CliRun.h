#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace testutil {

// vantro-cli run in the test's own process: its status and what it wrote.
struct CliRun {
    int status;
    std::string out, err;
};

inline CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream o, e;
    const int s = vantro::cli::RunCli(args, o, e);
    return {s, o.str(), e.str()};
}

}  // namespace testutil
