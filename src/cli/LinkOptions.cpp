#include "cli/LinkOptions.h"

#include <charconv>
#include <cstdio>
#include <ostream>

#include "cli/Cli.h"
#include "platform/MidiSeam.h"
#include "platform/Unicode.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro::cli {

namespace {

bool ParseUnsigned(const std::string& text, unsigned& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// The ranges of the numeric link options: wide enough for any real use, narrow enough that
// no wait computed from them can overflow.
constexpr unsigned kMaxPort = 65535;
constexpr unsigned kMaxPollIntervalMs = 60000;
constexpr unsigned kMaxPollCount = 10000;
constexpr unsigned kMaxAttempts = 100;

// The link's numeric options: each with its range and where its value goes.
struct NumericOption {
    const char* name;
    unsigned min, max;
    void (*apply)(LinkOptions& options, unsigned value);
};
constexpr NumericOption kNumericOptions[] = {
    {"--in", 0, kMaxPort, [](LinkOptions& o, unsigned n) { o.in = n; }},
    {"--out", 0, kMaxPort, [](LinkOptions& o, unsigned n) { o.out = n; }},
    {"--poll-interval-ms", 1, kMaxPollIntervalMs,
     [](LinkOptions& o, unsigned n) { o.timings.pollInterval = std::chrono::milliseconds(n); }},
    {"--poll-count", 1, kMaxPollCount,
     [](LinkOptions& o, unsigned n) { o.timings.pollCount = static_cast<int>(n); }},
    {"--attempts", 1, kMaxAttempts,
     [](LinkOptions& o, unsigned n) { o.timings.attempts = static_cast<int>(n); }},
    {"--wait-ms", 10, 10000,
     [](LinkOptions& o, unsigned n) { o.detectWait = std::chrono::milliseconds(n); }},
};

const NumericOption* FindNumericOption(const std::string& name) {
    for (const NumericOption& o : kNumericOptions) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

// --pace wire|C:G|off.
bool ParsePace(const std::string& text, Pace& pace, std::string& error) {
    constexpr unsigned kMaxPiece = 528;  // the longest request: one piece is no pacing
    constexpr unsigned kMaxGapMs = 1000;
    if (text == "wire") {
        pace = Pace::Wire();
        return true;
    }
    if (text == "off") {
        pace = Pace{};
        return true;
    }
    const auto colon = text.find(':');
    unsigned piece = 0, gap = 0;
    if (colon == std::string::npos || !ParseUnsigned(text.substr(0, colon), piece) ||
        !ParseUnsigned(text.substr(colon + 1), gap) || piece < 1 || piece > kMaxPiece ||
        gap > kMaxGapMs) {
        error =
            "--pace takes wire, off, or C:G with C bytes a piece from 1 to 528 and G ms "
            "between pieces from 0 to 1000, not '" +
            text + "'";
        return false;
    }
    pace = Pace{piece, std::chrono::milliseconds(gap), Pace::kByteTime};
    return true;
}

}  // namespace

const char* LinkOptionsHelp() {
    return "Port choice:\n"
           "  --in N --out N        the MIDI IN and OUT ports (0..65535), by their numbers in\n"
           "                        'vantro-cli ports' (default: the last of each list)\n"
           "  --unit auto           the one pair on which a unit in its bootloader answers\n"
           "                        (see 'vantro-cli detect')\n"
           "  --simulated-unit      talk to the built-in simulated unit instead\n"
           "  --sim-units N         N simulated units (1..16), each with its own ports,\n"
           "                        versions and flash (implies --simulated-unit)\n"
           "  --sim-through N       N Through port pairs (0..16) that send back what they are\n"
           "                        sent, listed before the units\n"
           "  --sim-share KIND      ports the units share, listed after theirs (repeatable;\n"
           "                        implies --simulated-unit): in, the first unit's replies\n"
           "                        also come in on a second IN port (a thru routed from it);\n"
           "                        out, a second OUT port feeds the first unit too; thru-box,\n"
           "                        one more OUT port feeds every unit at once\n"
           "  --sim-baud N          its wire speed (0..1000000): 0 instant (default), 31250\n"
           "                        5-pin MIDI\n"
           "  --sim-fault KIND:RATE its faults (repeatable): drop, corrupt, wrong-echo, late,\n"
           "                        silent-verify, ff-as-00, short-noise; RATE 0..1 per reply\n"
           "  --sim-fault cut-after:K  it falls silent after K requests (0..1000000), as if\n"
           "                        the cable were pulled\n"
           "  --sim-fault unplug-after:K  its ports go after K requests (0..1000000), as a\n"
           "                        removed interface's do\n"
           "  --sim-fault max-sysex:N  the link loses every message longer than N bytes\n"
           "                        (1..1000000), both ways\n"
           "  --sim-fault max-sysex-to-unit:N  the same on the way to the unit only\n"
           "  --sim-fault fifo:N    the link towards the unit holds N bytes (1..1000000) and\n"
           "                        drains at the wire's rate, losing what comes while full\n"
           "  --sim-fault no-readback  it answers a read with another code, as a\n"
           "                        bootloader that cannot read its flash\n"
           "  --sim-seed N          seed of its faults (default 1)\n"
           "  --sim-versions A.B.C.D its bootloader and firmware versions (default 1.2.3.4)\n"
           "  --sim-page-erase-us N, --sim-row-write-us N  its flash timings (0..10000000,\n"
           "                        default 0)\n"
           "  --sim-late-ms N       how much later its late replies come (0..600000; default:\n"
           "                        just after one attempt's wait has ended)\n"
           "  --sim-flash-start previous|erased  what its flash holds at start: an older\n"
           "                        firmware (default) or nothing\n"
           "  --sim-flash-in FILE   start it from this flash dump (0x153F0 bytes)\n"
           "  --sim-flash-out FILE  write its flash dump here at the end\n"
           "Link:\n"
           "  --trace FILE          write every SysEx message to and from the unit to FILE:\n"
           "                        milliseconds, '>' or '<', the bytes in hex\n"
           "  --poll-interval-ms N  reply poll interval (1..60000, default 50)\n"
           "  --poll-count N        polls per attempt (1..10000, default 200)\n"
           "  --attempts N          attempts per command (1..100, default 3)\n"
           "  --tick-polling        look for a reply only at each poll tick, not on arrival\n"
           "  --pace wire|C:G|off   how long messages leave: wire, in pieces of 32 bytes at\n"
           "                        the wire's own rate; C:G, pieces of C bytes (1..528), each\n"
           "                        after the wire time of the bytes before it and G ms more\n"
           "                        (0..1000); off, whole. Default: whole, and at the wire's\n"
           "                        rate once a long message has been lost\n"
           "  --wait-ms N           how long each OUT port waits for a unit to answer when the\n"
           "                        ports are looked for (10..10000, default 300): detect,\n"
           "                        --unit auto, upgrade --all\n";
}

OptionResult ParseLinkOption(const std::vector<std::string>& args, std::size_t& i,
                             LinkOptions& options, std::string& error) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        out = args[++i];
        return true;
    };
    auto number = [&](unsigned& out, unsigned min, unsigned max) {
        std::string v;
        if (!value(v))
            return false;
        if (!ParseUnsigned(v, out) || out < min || out > max) {
            error = a + " takes a whole number from " + std::to_string(min) + " to " +
                    std::to_string(max) + ", not '" + v + "'";
            return false;
        }
        return true;
    };

    unsigned n = 0;
    std::string v;
    if (a == "--unit") {
        if (!value(v))
            return OptionResult::Error;
        if (v != "auto") {
            error = "--unit takes 'auto', not '" + v + "'";
            return OptionResult::Error;
        }
        options.autoUnit = true;
    } else if (a == "--simulated-unit") {
        options.simulated = true;
    } else if (const auto r = sim::ParseSimArgument(args, i, "--sim-", options.sim, error);
               r != sim::SimArg::NotMine) {
        options.simulated = options.simulated || a == "--sim-units" || a == "--sim-share";
        return r == sim::SimArg::Consumed ? OptionResult::Consumed : OptionResult::Error;
    } else if (a == "--trace") {
        if (!value(options.tracePath))
            return OptionResult::Error;
    } else if (a == "--tick-polling") {
        options.timings.wakeOnArrival = false;
    } else if (a == "--pace") {
        if (!value(v) || !ParsePace(v, options.timings.pace, error))
            return OptionResult::Error;
        options.timings.pacedRetry = false;  // the user has chosen
    } else if (const NumericOption* o = FindNumericOption(a)) {
        if (!number(n, o->min, o->max))
            return OptionResult::Error;
        o->apply(options, n);
    } else {
        return OptionResult::NotMine;
    }
    return OptionResult::Consumed;
}

FileTrace::FileTrace(const std::string& path)
    : file_(platform::PathFromUtf8(path), std::ios::trunc) {}

void FileTrace::Write(char direction, const uint8_t* bytes, std::size_t length) {
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    std::string line;
    line.reserve(16 + 3 * length);
    char head[32];
    std::snprintf(head, sizeof head, "%.3f %c", ms, direction);
    line += head;
    for (std::size_t i = 0; i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        line += hex;
    }
    line += '\n';
    std::lock_guard lock(mutex_);
    if (failed_)
        return;  // told once, at the end
    file_ << line;
    file_.flush();
    failed_ = !file_.good();
}

bool FileTrace::Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
}

std::unique_ptr<LinkSession> LinkSession::Start(const LinkOptions& options, std::ostream& err,
                                                int& exitCode) {
    std::unique_ptr<LinkSession> s(new LinkSession(options));
    s->err_ = &err;
    if (!options.tracePath.empty()) {
        s->trace_ = std::make_unique<FileTrace>(options.tracePath);
        if (!s->trace_->IsOpen()) {
            err << "vantro-cli: cannot write the trace file '" << options.tracePath << "'\n";
            exitCode = kExitUsage;
            return nullptr;
        }
    }
    if (options.autoUnit && (options.in || options.out)) {
        err << "vantro-cli: --unit auto and --in/--out exclude each other\n";
        exitCode = kExitUsage;
        return nullptr;
    }
    if (options.simulated || options.sim.throughs > 0) {
        sim::SimOptions simOptions = options.sim.options;
        if (!options.sim.lateGiven) {
            const auto attempt = AttemptWait(options.timings);
            simOptions.lateDelay = attempt + attempt / 20 + std::chrono::milliseconds(10);
        }
        s->sim_ = sim::StartSimulatedPorts(simOptions, options.simulated ? options.sim.units : 0,
                                           options.sim.throughs, nullptr, options.sim.sharing);
    }
    if (options.simulated) {
        std::string why;
        if (!options.sim.flashIn.empty() &&
            !s->Unit()->Core().LoadFlashFile(options.sim.flashIn, why)) {
            err << "vantro-cli: cannot use '" << options.sim.flashIn << "' as flash dump: " << why
                << '\n';
            exitCode = kExitUsage;
            return nullptr;
        }
    } else if (!options.sim.flashIn.empty() || !options.sim.flashOut.empty()) {
        err << "vantro-cli: --sim-flash-in and --sim-flash-out need --simulated-unit\n";
        exitCode = kExitUsage;
        return nullptr;
    }
    return s;
}

int LinkSession::Finish(int status) {
    bool wrote = true;
    if (trace_ && trace_->Failed()) {
        *err_ << "vantro-cli: could not write the trace file '" << options_.tracePath << "'\n";
        wrote = false;
    }
    if (Unit() != nullptr && !options_.sim.flashOut.empty()) {
        std::string why;
        if (!Unit()->Core().SaveFlashFile(options_.sim.flashOut, why)) {
            *err_ << "vantro-cli: could not write the flash dump '" << options_.sim.flashOut
                  << "': " << why << '\n';
            wrote = false;
        }
    }
    return status == kExitOk && !wrote ? kExitNotWritten : status;
}

std::optional<int> RefusedSelection(LinkSession::Selection selection, const std::string& command,
                                    const std::string& why, std::ostream& err) {
    switch (selection) {
        case LinkSession::Selection::NoSuchPort:
        case LinkSession::Selection::SeveralUnits:
            err << "vantro-cli " << command << ": " << why << '\n';
            return kExitUsage;
        case LinkSession::Selection::NoUnit:
            err << "vantro-cli " << command << ": " << why << '\n';
            return kExitFailed;
        default:
            return std::nullopt;
    }
}

LinkSession::Selection LinkSession::SelectPorts(unsigned& in, unsigned& out,
                                                std::string& why) const {
    if (options_.autoUnit) {
        const DetectResult found = DetectUnits(options_.detectWait, trace_.get());
        if (!found.ambiguous.empty()) {
            why = "VANTRO units answered on pairs that share a port:\n";
            for (const auto& a : found.ambiguous)
                why += "  " + a.Line() + "\n";
            for (const auto& u : found.units)
                why += "  " + u.Line() + "\n";
            why += kAmbiguousHint;
            return Selection::SeveralUnits;
        }
        if (found.units.size() == 1) {
            in = found.units[0].in;
            out = found.units[0].out;
            return Selection::Ok;
        }
        if (found.units.empty()) {
            why = kNoUnitAnswered;
            if (!found.unconfirmed.empty())
                why += std::string(": ") + kLateReplies;
            return Selection::NoUnit;
        }
        why = "several VANTRO units answered:\n";
        for (const auto& u : found.units)
            why += "  " + u.Line() + "\n";
        why += "choose one with --in and --out";
        return Selection::SeveralUnits;
    }
    const unsigned inCount = midiInGetNumDevs();
    const unsigned outCount = midiOutGetNumDevs();
    if (inCount == 0 || outCount == 0) {
        return Selection::NoSelection;
    }
    in = options_.in.value_or(inCount - 1);
    out = options_.out.value_or(outCount - 1);
    if (in >= inCount || out >= outCount) {
        const bool badIn = in >= inCount;
        why = std::string("there is no ") + (badIn ? "IN" : "OUT") + " port " +
              std::to_string(badIn ? in : out) + " (see 'vantro-cli ports')";
        return Selection::NoSuchPort;
    }
    return Selection::Ok;
}

}  // namespace vantro::cli
