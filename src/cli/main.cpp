#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    platform::UseBinaryOutput();  // our lines end in LF on every system
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return vantro::cli::RunCli(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "vantro-cli: " << e.what() << '\n';
        return 3;
    }
}
