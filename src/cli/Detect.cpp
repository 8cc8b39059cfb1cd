// vantro-cli detect: finds the units in their bootloader on every MIDI port pair.
#include <ostream>

#include "bootloader/Detect.h"
#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/LinkOptions.h"

namespace vantro::cli {

namespace {

const char* const kDetectUsage =
    "usage: vantro-cli detect [--json] [--wait-ms N] [--simulated-unit --sim-*] [--trace FILE]\n"
    "\n"
    "Looks for VANTRO units in their bootloader on every MIDI port pair: every IN port\n"
    "listens while the identify request goes out on each OUT port in turn. Each pair on\n"
    "which a unit answers is listed as \"IN i / OUT o: OK - BL Vx.y, FW Vx.y\" with the\n"
    "ports' names; a port that cannot be opened (another program has it) is listed as\n"
    "skipped, with the system's text. A Through port, which sends the request back, is no\n"
    "unit. Only a unit in its bootloader answers: see step 3 of the assistant.\n"
    "Each OUT port that brought a reply is asked again on its own, so that a late reply is\n"
    "not credited to the wrong OUT port. Pairs that share an IN or OUT port with another\n"
    "that answered (a unit heard on two IN ports, fed by two OUT ports, two units behind\n"
    "one OUT) are listed as \"ambiguous IN i / OUT o: ...: why\"; --unit auto and\n"
    "upgrade --all leave them alone: choose the pair with --in and --out. When replies come\n"
    "later than the wait, no pair is credited and each OUT port that brought one is listed\n"
    "as \"unconfirmed OUT o: ...\": give a longer --wait-ms.\n"
    "  --json       one JSON object: units (in, out, in_name, out_name, bootloader,\n"
    "               firmware, status), ambiguous (the same and why), skipped (port,\n"
    "               number, name, why), unconfirmed_outs (OUT ports answered when\n"
    "               replies came later than the wait), in_ports, out_ports\n"
    "  --wait-ms N  how long each OUT port waits for an answer (10..10000, default 300)\n"
    "Exit status: 0 a unit answered (on an ambiguous pair too), 1 none did, 2 usage error,\n"
    "3 no IN or no OUT port could be opened.\n\n";

struct DetectArgs {
    LinkOptions link;
    bool json = false;
    bool help = false;
};

// kExitOk when parsed (or --help asked), kExitUsage after saying why not.
int ParseDetectArgs(const std::vector<std::string>& args, DetectArgs& parsed, std::ostream& err) {
    std::string error;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            parsed.help = true;
            return kExitOk;
        }
        if (a == "--json") {
            parsed.json = true;
        } else if (ParseLinkOption(args, i, parsed.link, error) == OptionResult::NotMine) {
            error = "unknown option '" + a + "'";
        }
    }
    if (error.empty() && (parsed.link.in || parsed.link.out || parsed.link.autoUnit))
        error = "detect tries every port: --in, --out and --unit do not apply";
    if (!error.empty()) {
        err << "vantro-cli detect: " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

// A pair's keys, without the braces.
void PrintPairJson(const FoundUnit& u, std::ostream& out) {
    out << "\"in\": " << u.in << ", \"out\": " << u.out << ", \"in_name\": " << JsonString(u.inName)
        << ", \"out_name\": " << JsonString(u.outName) << ", \"bootloader\": \""
        << unsigned{u.blMajor} << '.' << unsigned{u.blMinor} << "\", \"firmware\": \""
        << unsigned{u.fwMajor} << '.' << unsigned{u.fwMinor}
        << "\", \"status\": " << JsonString(u.Status());
}

void PrintJson(const DetectResult& r, std::ostream& out) {
    out << "{\"units\": [";
    for (std::size_t i = 0; i < r.units.size(); ++i) {
        out << (i ? ", " : "") << '{';
        PrintPairJson(r.units[i], out);
        out << '}';
    }
    out << "], \"ambiguous\": [";
    for (std::size_t i = 0; i < r.ambiguous.size(); ++i) {
        out << (i ? ", " : "") << '{';
        PrintPairJson(r.ambiguous[i].pair, out);
        out << ", \"why\": " << JsonString(r.ambiguous[i].why) << '}';
    }
    out << "], \"skipped\": [";
    for (std::size_t i = 0; i < r.skipped.size(); ++i) {
        const SkippedPort& s = r.skipped[i];
        out << (i ? ", " : "") << "{\"port\": \"" << (s.input ? "in" : "out")
            << "\", \"number\": " << s.number << ", \"name\": " << JsonString(s.name)
            << ", \"why\": " << JsonString(s.why) << '}';
    }
    out << "], \"unconfirmed_outs\": [";
    for (std::size_t i = 0; i < r.unconfirmed.size(); ++i)
        out << (i ? ", " : "") << r.unconfirmed[i];
    out << "], \"in_ports\": " << r.inPorts << ", \"out_ports\": " << r.outPorts << "}\n";
}

void PrintText(const DetectResult& r, std::ostream& out) {
    for (const FoundUnit& u : r.units)
        out << u.Line() << '\n';
    for (const AmbiguousPair& a : r.ambiguous)
        out << "ambiguous " << a.Line() << '\n';
    for (const SkippedPort& s : r.skipped)
        out << "skipped " << SkippedLine(s) << '\n';
    for (unsigned o : r.unconfirmed) {
        out << "unconfirmed OUT " << o << ": " << kLateReplies << '\n';
    }
    if (!r.ambiguous.empty())
        out << kAmbiguousHint << '\n';
    if (r.units.empty() && r.ambiguous.empty()) {
        out << kNoUnitAnswered << " (" << r.inPorts << " IN, " << r.outPorts
            << " OUT ports tried). Only a unit in its bootloader answers: see step 3 of the "
               "assistant.\n";
    }
}

}  // namespace

int RunDetect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    DetectArgs parsed;
    if (const int status = ParseDetectArgs(args, parsed, err); status != kExitOk)
        return status;
    if (parsed.help) {
        out << kDetectUsage << LinkOptionsHelp();
        return kExitOk;
    }
    int status = kExitOk;
    auto session = LinkSession::Start(parsed.link, err, status);
    if (!session)
        return status;
    const DetectResult found = DetectUnits(session->DetectWait(), session->Trace());
    if (parsed.json)
        PrintJson(found, out);
    else
        PrintText(found, out);
    if (found.units.empty() && found.ambiguous.empty())
        status = found.NothingToTry() ? kExitPortError : kExitFailed;
    return session->Finish(status);
}

}  // namespace vantro::cli
