// vantro-cli upgrade: the dialog's upgrade button for a terminal.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>

#include "cli/Cli.h"
#include "cli/ConsoleMessages.h"
#include "cli/LinkOptions.h"
#include "cli/UpgradeAll.h"
#include "platform/Console.h"
#include "upgrade/UpgradeRun.h"

namespace vantro::cli {

namespace {

constexpr const char* kUpgradeUsage =
    "usage: vantro-cli upgrade [port choice] [link options] [--readback] [--no-link-check]\n"
    "                          [--yes | --no] FILE.hex\n"
    "       vantro-cli upgrade --all [link options] [--readback] [--no-link-check]\n"
    "                          (--yes | --no) FILE.hex\n"
    "\n"
    "Upgrades the unit with FILE.hex as the assistant's Upgrade button does: loads it,\n"
    "erases and writes the unit's program memory block by block, sends VerifyOK and prints\n"
    "the report. A progress bar goes to standard error.\n"
    "\n"
    "  --all       upgrade every unit 'vantro-cli detect' finds, all at the same time, each\n"
    "              on its own pair: a progress line per unit, each unit's report under its\n"
    "              ports' names, then a summary (pair, versions before, result); a pair\n"
    "              that shares a port with another (see 'vantro-cli detect') is not\n"
    "              upgraded, and every port that could not be opened is named: both end\n"
    "              in exit 5 even when every unit upgraded succeeded\n"
    "  --readback  read every written block back and compare it\n"
    "  --no-link-check  erase and write without first reading a block back (for a\n"
    "              bootloader that cannot read): a link that loses long messages towards\n"
    "              the computer is then found only at the first write, after the erase\n"
    "  --yes       answer the restart question Yes (the unit restarts)\n"
    "  --no        answer it No\n"
    "              (neither: asked on the terminal, or No when input is no terminal)\n"
    "\n"
    "Before the first erase the unit is asked for its versions (a unit that does not answer\n"
    "stops the run with the unit unchanged), then one block is read back: a link that loses\n"
    "long messages on their way to the computer stops the run with the unit unchanged. The\n"
    "way towards the unit carries its first long message with the first write.\n"
    "A file that holds nothing for the application area sends nothing and fails.\n"
    "\n"
    "Exit status: 0 after the success report, 1 after the failure report or a refusal,\n"
    "2 usage error, 3 a port failure, 4 done but the trace or flash dump was not written,\n"
    "5 (--all) every unit upgraded succeeded, but a port could not be opened or a pair was\n"
    "left alone for sharing a port: not every unit was reached.\n"
    "\n";

// Blocks done of total, percent, bytes per second and time left: redrawn in place on a
// terminal, a plain line about every two seconds otherwise.
class ProgressBar : public UpgradeProgress {
  public:
    explicit ProgressBar(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}

    void Running(bool running) override {
        if (!running)
            Finish();
    }

    void Checking(Check check) override {
        err_ << (check == Check::Versions
                     ? "Asking the unit for its versions (is it there, in its bootloader?)...\n"
                     : "Reading one block of its flash back (does the link carry long "
                       "messages towards the computer?)...\n")
             << std::flush;
    }

    void SetTotal(int high) override {
        total_ = high;
        start_ = Clock::now();
        lastLine_ = start_;
        lastPos_ = -1;
        active_ = high > 0;
    }

    void SetDone(int position) override {
        if (!active_)
            return;
        if (position == 0 && lastPos_ >= 0) {
            Finish();  // the run sets 0 when it ends
            return;
        }
        lastPos_ = position;
        const auto now = Clock::now();
        if (!terminal_ && position != 0 && now - lastLine_ < std::chrono::seconds(2))
            return;
        lastLine_ = now;
        Draw(position, now);
    }

    // Ends the bar with the blocks that were written.
    void Finish() {
        if (!active_)
            return;
        active_ = false;
        Draw(lastPos_ + 1, Clock::now());
        if (terminal_)
            err_ << '\n';
        err_.flush();
    }

  private:
    using Clock = std::chrono::steady_clock;

    void Draw(int done, Clock::time_point now) {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? done * 256.0 / seconds : 0.0;
        const int percent = total_ > 0 ? done * 100 / total_ : 0;
        char line[160];
        char left[32] = "--:--";
        if (rate > 0) {
            const int secs = static_cast<int>((total_ - done) * 256.0 / rate);
            std::snprintf(left, sizeof left, "%d:%02d", secs / 60, secs % 60);
        }
        const std::string bar = BlocksBar(done, total_);
        std::snprintf(line, sizeof line, "[%s] %d/%d blocks %3d%% %6.0f B/s %s left", bar.c_str(),
                      done, total_, percent, rate, left);
        if (terminal_) {
            err_ << '\r' << line << std::flush;
        } else {
            err_ << line << '\n' << std::flush;
        }
    }

    std::ostream& err_;
    bool terminal_;
    bool active_ = false;
    int total_ = 0;
    int lastPos_ = -1;
    Clock::time_point start_{};
    Clock::time_point lastLine_{};
};

}  // namespace

namespace {

struct UpgradeArgs {
    LinkOptions link;
    Answer answer = Answer::Ask;
    bool readBack = false;
    bool linkCheck = true;
    bool all = false;
    bool help = false;
    std::optional<std::string> path;
};

// The command's own options besides the link's; false with a reason when one is wrong.
bool TakeUpgradeOption(const std::string& a, UpgradeArgs& parsed, std::string& error) {
    if (a == "--readback") {
        parsed.readBack = true;
    } else if (a == "--no-link-check") {
        parsed.linkCheck = false;
    } else if (a == "--all") {
        parsed.all = true;
    } else if (a == "--yes" || a == "--no") {
        const Answer given = a == "--yes" ? Answer::Yes : Answer::No;
        if (parsed.answer != Answer::Ask && parsed.answer != given) {
            error = "--yes and --no exclude each other";
            return false;
        }
        parsed.answer = given;
    } else if (a.size() > 1 && a[0] == '-') {
        error = "unknown option '" + a + "'";
        return false;
    } else if (parsed.path) {
        error = "more than one HEX file given";
        return false;
    } else {
        parsed.path = a;
    }
    return true;
}

// kExitOk when parsed (or --help asked), kExitUsage after saying why not.
int ParseUpgradeArgs(const std::vector<std::string>& args, UpgradeArgs& parsed, std::ostream& err) {
    std::string error;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            parsed.help = true;
            return kExitOk;
        }
        switch (ParseLinkOption(args, i, parsed.link, error)) {
            case OptionResult::Consumed:
            case OptionResult::Error:
                continue;
            case OptionResult::NotMine:
                TakeUpgradeOption(args[i], parsed, error);
                break;
        }
    }
    if (error.empty() && !parsed.path) {
        error = "no HEX file given";
    }
    if (error.empty() && parsed.all &&
        (parsed.link.in || parsed.link.out || parsed.link.autoUnit)) {
        error = "--all upgrades every unit found: --in, --out and --unit do not apply";
    }
    if (error.empty() && parsed.all && parsed.answer == Answer::Ask) {
        error = "--all needs --yes or --no: the units are upgraded at the same time";
    }
    if (error.empty()) {
        error = OutputOverwritingInput(
            *parsed.path,
            {{"--trace", parsed.link.tracePath}, {"--sim-flash-out", parsed.link.sim.flashOut}});
    }
    if (!error.empty()) {
        err << "vantro-cli upgrade: " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

int RunParsedUpgrade(const UpgradeArgs& parsed, std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    auto session = LinkSession::Start(parsed.link, err, status);
    if (!session) {
        return status;
    }
    const bool terminal = &err == &std::cerr && platform::IsTerminal(platform::Stream::Err);
    if (parsed.all) {
        const AllUnitsOptions all{*parsed.path,         parsed.answer,      parsed.readBack,
                                  parsed.linkCheck,     session->Timings(), session->Trace(),
                                  session->DetectWait()};
        return session->Finish(UpgradeAllUnits(all, out, err, terminal));
    }
    unsigned in = 0, outPort = 0;
    std::string why;
    UpgradeRequest request{*parsed.path};
    const auto selection = session->SelectPorts(in, outPort, why);
    if (const auto refused = RefusedSelection(selection, "upgrade", why, err))
        return *refused;
    if (selection == LinkSession::Selection::Ok) {
        request.inPort = static_cast<int>(in);
        request.outPort = static_cast<int>(outPort);
    }  // else the run says "Invalid device selected"

    UpgradeConsole messages(out, parsed.answer);
    ProgressBar bar(err, terminal);
    const UpgradeOptions options =
        CliUpgradeOptions(parsed.readBack, parsed.linkCheck, session->Timings(), session->Trace());
    const UpgradeOutcome outcome = RunUpgrade(request, bar, messages, options);
    switch (outcome) {
        case UpgradeOutcome::Completed:
            return session->Finish(kExitOk);
        case UpgradeOutcome::PortError:
            return session->Finish(kExitPortError);
        default:
            return session->Finish(kExitFailed);
    }
}

}  // namespace

int RunUpgradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    UpgradeArgs parsed;
    if (const int status = ParseUpgradeArgs(args, parsed, err); status != kExitOk) {
        return status;
    }
    if (parsed.help) {
        out << kUpgradeUsage << LinkOptionsHelp();
        return kExitOk;
    }
    return RunParsedUpgrade(parsed, out, err);
}

}  // namespace vantro::cli
