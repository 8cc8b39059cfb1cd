#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/Console.h"
#include "platform/Unicode.h"

int main(int argc, char** argv) {
    platform::UseBinaryOutput();             // our lines end in LF on every system
    const platform::UnicodeConsole console;  // a file name in any script shows as it is
    const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    try {
        return vantro::cli::RunCli(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "vantro-cli: " << e.what() << '\n';
        return 3;
    }
}
