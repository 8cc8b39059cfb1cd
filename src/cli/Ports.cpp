#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <ostream>

#include "cli/Cli.h"
#include "midi/MidiExceptions.h"
#include "platform/Console.h"
#include "platform/DeviceChange.h"
#include "platform/MidiApi.h"

namespace vantro::cli {

namespace {

constexpr const char* kPortsUsage =
    "usage: vantro-cli ports [--watch [--watch-ms N]]\n\n"
    "Says which MIDI system carries the ports (or why there is none) and lists the MIDI IN\n"
    "and OUT ports with the numbers that --in and --out take.\n"
    "  --watch       then prints each port as it comes (+) or goes (-), with the time, until\n"
    "                Ctrl-C: plug an interface in and see its ports appear\n"
    "  --watch-ms N  stop watching after N milliseconds (1..86400000), for scripts\n";

void List(std::ostream& out) {
    out << "MIDI system: " << platform::MidiSystemReport() << '\n';
    const platform::PortNames ports = platform::CurrentPortNames();
    const auto list = [&out](const char* heading, const char* none,
                             const std::vector<std::string>& names, unsigned count) {
        out << heading << (count == 0 ? none : "") << '\n';
        for (std::size_t i = 0; i < names.size(); ++i)
            out << "  " << i << ": " << names[i] << '\n';
    };
    // A failing capability query ends the listing, after the ports before it.
    list("IN ports:", " none (no MIDI input port found)", ports.inputs, ports.inputCount);
    if (ports.inputFailure != 0)
        throw midi::CMIDIInException(ports.inputFailure);
    list("OUT ports:", " none (no MIDI output port found)", ports.outputs, ports.outputCount);
    if (ports.outputFailure != 0)
        throw midi::CMIDIOutException(ports.outputFailure);
}

std::string Now() {
    const std::time_t t = std::time(nullptr);
    char text[16] = "??:??:??";
    if (const std::tm* local = std::localtime(&t))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

// The ports of one direction that came (+) and went (-) between two listings.
void PrintChanges(std::ostream& out, const std::vector<std::string>& before,
                  const std::vector<std::string>& now, const char* kind) {
    std::vector<std::string> left = before;
    for (const std::string& name : now) {
        if (auto it = std::find(left.begin(), left.end(), name); it != left.end())
            left.erase(it);  // one of each kept name is accounted for
        else
            out << Now() << " + " << kind << " \"" << name << "\"\n";
    }
    for (const std::string& name : left)
        out << Now() << " - " << kind << " \"" << name << "\"\n";
}

// Prints each port that comes or goes until Ctrl-C, or until limit has passed: woken by the
// device-change watch, Ctrl-C or the limit, never by a clock of its own.
void Watch(std::ostream& out, std::optional<std::chrono::milliseconds> limit) {
    std::mutex m;
    std::condition_variable changed;
    bool pending = false;
    bool interrupted = false;
    const auto wake = [&](bool& what) {
        {
            std::lock_guard lock(m);
            what = true;
        }
        changed.notify_all();
    };
    platform::PortNames last = platform::CurrentPortNames();
    platform::CtrlCWatch ctrlC([&] { wake(interrupted); });
    platform::DeviceChangeWatch watch([&] { wake(pending); }, std::chrono::milliseconds(250));
    out << "Watching; Ctrl-C ends.\n" << std::flush;
    const auto end = limit ? std::chrono::steady_clock::now() + *limit
                           : std::chrono::steady_clock::time_point::max();
    const auto woken = [&] { return pending || interrupted; };
    for (;;) {
        std::unique_lock lock(m);
        if (limit)
            changed.wait_until(lock, end, woken);
        else
            changed.wait(lock, woken);
        if (interrupted || !pending)
            return;  // Ctrl-C, or the limit has passed
        pending = false;
        lock.unlock();
        const platform::PortNames now = platform::CurrentPortNames();
        PrintChanges(out, last.inputs, now.inputs, "IN");
        PrintChanges(out, last.outputs, now.outputs, "OUT");
        out.flush();
        last = now;
    }
}

}  // namespace

int RunPorts(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool watch = false;
    std::optional<std::chrono::milliseconds> limit;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << kPortsUsage;
            return kExitOk;
        }
        if (a == "--watch") {
            watch = true;
            continue;
        }
        if (a == "--watch-ms") {
            const std::string v = i + 1 < args.size() ? args[++i] : "";
            unsigned ms = 0;
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
            if (v.empty() || ec != std::errc() || end != v.data() + v.size() || ms < 1 ||
                ms > 86400000) {
                err << "vantro-cli ports: --watch-ms takes a whole number from 1 to 86400000, "
                       "not '"
                    << v << "'\n";
                return kExitUsage;
            }
            limit = std::chrono::milliseconds(ms);
            continue;
        }
        err << "vantro-cli ports: unexpected argument '" << a << "'\n";
        return kExitUsage;
    }
    if (limit && !watch) {
        err << "vantro-cli ports: --watch-ms needs --watch\n";
        return kExitUsage;
    }
    List(out);
    if (watch)
        Watch(out, limit);
    return kExitOk;
}

}  // namespace vantro::cli
