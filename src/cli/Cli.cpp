#include "cli/Cli.h"

#include <filesystem>
#include <ostream>
#include <system_error>

#include "Version.h"
#include "platform/MidiApi.h"
#include "platform/Unicode.h"

namespace vantro::cli {

namespace {

constexpr const char* kUsage =
    "usage: vantro-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  inspect [--json] [--blocks-out FILE] FILE.hex\n"
    "      Load FILE.hex for the PIC24FJ64GB002 and describe the image and the\n"
    "      programming plan.\n"
    "\n"
    "  ports\n"
    "      List the MIDI IN and OUT ports with their numbers.\n"
    "  detect [--json] [--wait-ms N]\n"
    "      Find the units in their bootloader on every port pair.\n"
    "\n"
    "  verify [port choice] [link options]\n"
    "      Ask the unit's bootloader for its versions (as the Verify button).\n"
    "  reset [port choice] [link options]\n"
    "      Tell the unit to restart.\n"
    "  upgrade [port choice] [link options] [--readback] [--yes | --no] FILE.hex\n"
    "      Upgrade the unit's firmware with FILE.hex (as the Upgrade button).\n"
    "\n"
    "Run 'vantro-cli COMMAND --help' for the options of one command;\n"
    "'vantro-cli --version' prints the version.\n";

}  // namespace

std::string OutputOverwritingInput(
    const std::string& input, const std::vector<std::pair<std::string, std::string>>& outputs) {
    for (const auto& [option, path] : outputs) {
        std::error_code ec;  // an output that does not exist yet is no input
        if (!path.empty() && std::filesystem::equivalent(platform::PathFromUtf8(input),
                                                         platform::PathFromUtf8(path), ec)) {
            return option + " '" + path + "' names the HEX file '" + input +
                   "': it would be overwritten";
        }
    }
    return {};
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "vantro-cli: no command given (try 'vantro-cli --help')\n";
        return kExitUsage;
    }
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << "vantro-cli " VANTRO_VERSION "\n";
        return kExitOk;
    }
    if (std::string error; !platform::CheckMidiApiSetting(error)) {
        err << "vantro-cli: " << error << '\n';
        return kExitUsage;
    }
    if (command == "inspect") {
        return RunInspect(rest, out, err);
    }
    if (command == "verify") {
        return RunVerify(rest, out, err);
    }
    if (command == "upgrade") {
        return RunUpgradeCommand(rest, out, err);
    }
    if (command == "reset") {
        return RunReset(rest, out, err);
    }
    if (command == "ports") {
        return RunPorts(rest, out, err);
    }
    if (command == "detect") {
        return RunDetect(rest, out, err);
    }
    err << "vantro-cli: unknown command '" << command << "' (try 'vantro-cli --help')\n";
    return kExitUsage;
}

}  // namespace vantro::cli
