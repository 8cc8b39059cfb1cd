#include "cli/UpgradeAll.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "bootloader/Detect.h"
#include "cli/Cli.h"
#include "upgrade/UpgradeRun.h"

namespace vantro::cli {

namespace {

using Clock = std::chrono::steady_clock;

// One unit's run, on a thread of its own.
struct UnitRun : UpgradeProgress {
    UnitRun(const FoundUnit& u, Answer answer) : unit(u), messages(report, answer) {}
    void Running(bool) override {}
    void SetTotal(int blocks) override { total = blocks; }
    void SetDone(int blocks) override {
        if (blocks > 0)
            done = blocks;  // the run puts 0 back at its end
    }

    FoundUnit unit;
    std::ostringstream report;
    UpgradeConsole messages;
    std::atomic<int> done{0}, total{0};
    std::atomic<bool> finished{false};
    UpgradeOutcome outcome = UpgradeOutcome::Refused;  // read once the thread has ended
};

const char* ResultText(UpgradeOutcome outcome) {
    switch (outcome) {
        case UpgradeOutcome::Completed:
            return "completed";
        case UpgradeOutcome::Failed:
            return "FAILED";
        case UpgradeOutcome::PortError:
            return "port failure";
        case UpgradeOutcome::Refused:
            break;
    }
    return "not started";
}

std::string ProgressLine(const UnitRun& r) {
    const int total = r.total, done = std::min(r.done.load(), total);
    const std::string bar = BlocksBar(done, total);
    char line[160];
    std::snprintf(line, sizeof line, "%s: [%s] %d/%d blocks%s", r.unit.Pair().c_str(), bar.c_str(),
                  done, total, r.finished ? " - done" : "");
    return line;
}

// Draws every unit's line until all have finished: in place on a terminal, else a line per
// unit every two seconds.
void ShowProgress(std::vector<std::unique_ptr<UnitRun>>& runs, std::mutex& m,
                  std::condition_variable& ended, std::ostream& err, bool terminal) {
    const auto interval = terminal ? std::chrono::milliseconds(200) : std::chrono::seconds(2);
    bool drawn = false;
    for (bool last = false; !last;) {
        {
            std::unique_lock lock(m);
            ended.wait_for(lock, interval, [&] {
                for (const auto& r : runs)
                    if (!r->finished)
                        return false;
                return true;
            });
        }
        last = true;
        for (const auto& r : runs)
            last = last && r->finished;
        if (terminal && drawn)
            err << "\x1b[" << runs.size() << 'A';
        for (const auto& r : runs)
            err << (terminal ? "\r\x1b[K" : "") << ProgressLine(*r) << '\n';
        err.flush();
        drawn = true;
    }
}

// The table, then the ports that were not looked at.
void PrintSummary(const std::vector<std::unique_ptr<UnitRun>>& runs, const DetectResult& found,
                  std::ostream& out) {
    out << "\nSummary:\n";
    const auto row = [&out](const std::string& pair, const std::string& versions,
                            const std::string& result) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-16s %-24s ", pair.c_str(), versions.c_str());
        out << line << result << '\n';
    };
    row("pair", "versions before", "result");
    for (const auto& r : runs)
        row(r->unit.Pair(), r->unit.Status(), ResultText(r->outcome));
    for (const AmbiguousPair& a : found.ambiguous)
        row(a.pair.Pair(), a.pair.Status(), "not upgraded: " + a.why);
    if (!found.ambiguous.empty())
        out << kAmbiguousHint << '\n';
    if (!found.skipped.empty()) {
        out << "Ports not looked at (a unit behind them was not upgraded):\n";
        for (const SkippedPort& s : found.skipped)
            out << "  skipped " << SkippedLine(s) << '\n';
    }
}

}  // namespace

UpgradeOptions CliUpgradeOptions(bool readBack, bool linkCheck, const LinkTimings& timings,
                                 LinkTrace* trace) {
    UpgradeOptions o;
    o.timings = timings;
    o.trace = trace;
    o.readBack = readBack;
    o.linkCheck = linkCheck;
    o.uncheckedLink = UncheckedLink::Refuse;
    o.uncheckedHint = kUncheckedHint;
    o.pacedHint = kPacedHint;
    return o;
}

int UpgradeAllUnits(const AllUnitsOptions& options, std::ostream& out, std::ostream& err,
                    bool terminal) {
    const DetectResult found = DetectUnits(options.detectWait, options.trace);
    if (found.units.empty() && found.ambiguous.empty()) {
        err << "vantro-cli upgrade: " << kNoUnitAnswered
            << (found.unconfirmed.empty() ? "" : std::string(": ") + kLateReplies) << '\n';
        for (const SkippedPort& s : found.skipped)
            err << "vantro-cli upgrade: skipped " << SkippedLine(s) << '\n';
        return found.NothingToTry() ? kExitPortError : kExitFailed;
    }
    std::vector<std::unique_ptr<UnitRun>> runs;
    for (const FoundUnit& u : found.units)
        runs.push_back(std::make_unique<UnitRun>(u, options.answer));
    std::mutex m;
    std::condition_variable ended;
    {
        std::vector<std::jthread> threads;
        for (auto& r : runs) {
            threads.emplace_back([&options, &m, &ended, run = r.get()] {
                UpgradeOptions o = CliUpgradeOptions(options.readBack, options.linkCheck,
                                                     options.timings, options.trace);
                o.ownCapture = true;
                const UpgradeRequest request{options.path, static_cast<int>(run->unit.in),
                                             static_cast<int>(run->unit.out)};
                run->outcome = RunUpgrade(request, *run, run->messages, o);
                if (run->outcome == UpgradeOutcome::Completed)
                    run->done = run->total.load();
                {
                    std::lock_guard lock(m);
                    run->finished = true;
                }
                ended.notify_all();
            });
        }
        ShowProgress(runs, m, ended, err, terminal);
    }  // every run's thread joined
    int status = kExitOk;
    for (const auto& r : runs) {
        out << "== " << r->unit.Pair() << " (IN \"" << r->unit.inName << "\", OUT \""
            << r->unit.outName << "\") ==\n"
            << r->report.str();
        if (r->outcome == UpgradeOutcome::PortError)
            status = kExitPortError;
        else if (r->outcome != UpgradeOutcome::Completed && status == kExitOk)
            status = kExitFailed;
    }
    PrintSummary(runs, found, out);
    if (status == kExitOk && (!found.ambiguous.empty() || !found.skipped.empty()))
        status = kExitNotAllReached;
    return status;
}

}  // namespace vantro::cli
