// vantro-cli verify and reset: the dialog's Verify and Reset actions for a terminal.
#include <exception>
#include <ostream>

#include "bootloader/Commands.h"
#include "cli/Cli.h"
#include "cli/ConsoleMessages.h"
#include "cli/LinkOptions.h"
#include "upgrade/UpgradeRun.h"

namespace vantro::cli {

namespace {

struct Parsed {
    LinkOptions link;
    bool help = false;
};

// Returns kExitOk when parsed, or the status to end with after a message.
int ParseLinkCommand(const std::string& command, const std::vector<std::string>& args,
                     Parsed& parsed, std::ostream& err) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            parsed.help = true;
            return kExitOk;
        }
        std::string error;
        switch (ParseLinkOption(args, i, parsed.link, error)) {
            case OptionResult::Consumed:
                break;
            case OptionResult::Error:
                err << "vantro-cli " << command << ": " << error << '\n';
                return kExitUsage;
            case OptionResult::NotMine:
                err << "vantro-cli " << command << ": unknown option '" << args[i] << "'\n";
                return kExitUsage;
        }
    }
    return kExitOk;
}

// Runs action on an open pair, as the dialog does: a pair per command, closed on every way
// out; a port failure ends the command with its text and status 3.
template <typename Action>
int WithOpenPair(const std::string& command, const Parsed& parsed, std::ostream& out,
                 std::ostream& err, Action action) {
    int status = kExitOk;
    auto session = LinkSession::Start(parsed.link, err, status);
    if (!session) {
        return status;
    }
    ConsoleMessages messages(err);
    auto run = [&]() -> int {
        try {
            MidiPortPair pair(&messages, session->Timings(), session->Trace());
            unsigned in = 0, outPort = 0;
            std::string why;
            const auto selection = session->SelectPorts(in, outPort, why);
            if (const auto refused = RefusedSelection(selection, command, why, err))
                return *refused;
            if (selection == LinkSession::Selection::NoSelection) {
                messages.Show(kInvalidDeviceSelected, MessageButtons::Ok);
                return kExitFailed;
            }
            pair.OpenPorts(in, outPort);
            return action(pair, out);
        } catch (const std::exception& e) {
            err << e.what() << '\n';
            return kExitPortError;
        }
    };
    return session->Finish(run());  // the pair is closed by now
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Parsed parsed;
    if (const int s = ParseLinkCommand("verify", args, parsed, err); s != kExitOk) {
        return s;
    }
    if (parsed.help) {
        out << "usage: vantro-cli verify [port choice] [link options]\n\n"
               "Asks the unit's bootloader for its versions and prints the status line the\n"
               "assistant shows: \"OK - BL Vx.y, FW Vx.y\" or \"ERROR!\", or \"Invalid device\n"
               "selected\" when a port list is empty.\n"
               "Exit status: 0 OK, 1 ERROR! or no port, 2 usage error, 3 a port failure (its\n"
               "text is printed), 4 OK but the trace or flash dump was not written.\n\n"
            << LinkOptionsHelp();
        return kExitOk;
    }
    return WithOpenPair("verify", parsed, out, err, [](MidiPortPair& pair, std::ostream& o) {
        uint8_t blMajor = 0, blMinor = 0, fwMajor = 0, fwMinor = 0;
        if (QueryVersions(pair, blMajor, blMinor, fwMajor, fwMinor)) {
            o << VersionStatus(blMajor, blMinor, fwMajor, fwMinor) << '\n';
            return kExitOk;
        }
        o << kVerifyFailed << '\n';
        return kExitFailed;
    });
}

int RunReset(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Parsed parsed;
    if (const int s = ParseLinkCommand("reset", args, parsed, err); s != kExitOk) {
        return s;
    }
    if (parsed.help) {
        out << "usage: vantro-cli reset [port choice] [link options]\n\n"
               "Sends the unit the restart command; no reply is awaited.\n"
               "Exit status: 0 sent, 1 a port list is empty, 2 usage error, 3 a port failure\n"
               "(its text is printed), 4 sent but the trace or flash dump was not written.\n\n"
            << LinkOptionsHelp();
        return kExitOk;
    }
    return WithOpenPair("reset", parsed, out, err, [](MidiPortPair& pair, std::ostream& o) {
        SendRestart(pair);
        o << "Restart sent.\n";
        return kExitOk;
    });
}

}  // namespace vantro::cli
