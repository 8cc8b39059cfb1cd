#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace vantro::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortError = 3;
inline constexpr int kExitNotWritten = 4;  // done, but a trace or flash dump was not written
// upgrade --all: every unit it upgraded succeeded, but a port could not be opened or a pair
// shared a port with another, so not every unit was reached.
inline constexpr int kExitNotAllReached = 5;

// Why a command must not run when one of its output files (option, path) names its input file
// (the same file, also by another path or a hard link): an output would destroy it. Empty when
// none does.
std::string OutputOverwritingInput(const std::string& input,
                                   const std::vector<std::pair<std::string, std::string>>& outputs);

// Runs vantro-cli with args (without the program name); out and err stand for standard output
// and standard error.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// vantro-cli inspect, with the arguments after the command's name.
int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// vantro-cli verify and reset.
int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunReset(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// vantro-cli upgrade.
int RunUpgradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// vantro-cli detect.
int RunDetect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// vantro-cli ports.
int RunPorts(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vantro::cli
