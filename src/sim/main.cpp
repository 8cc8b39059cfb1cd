// vantro-unit-sim: the simulated unit on real MIDI ports (ALSA or JACK), until SIGINT or
// SIGTERM; then it writes its flash dump when asked to.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "Version.h"
#include "platform/MidiApi.h"
#include "sim/PublishedUnit.h"

namespace {

constexpr const char* kUsage =
    "usage: vantro-unit-sim [OPTIONS]\n"
    "\n"
    "Publishes a MIDI port pair named 'VANTRO simulated unit' that answers as the unit's\n"
    "bootloader, until stopped with SIGINT or SIGTERM.\n"
    "\n"
    "  --baud N              wire speed to model: 0 instant (default), 31250 5-pin MIDI\n"
    "  --page-erase-us N     time to erase one 2048-byte page (default 0)\n"
    "  --row-write-us N      time to write one 256-byte block (default 0)\n"
    "  --fault KIND:RATE     make a fault happen with chance RATE (0..1) per reply;\n"
    "                        KIND: drop, corrupt, wrong-echo, late, silent-verify,\n"
    "                        ff-as-00, short-noise (repeatable)\n"
    "  --fault fifo:N        hold N bytes of what comes towards the unit, drain them at\n"
    "                        the wire's rate and lose what comes while full\n"
    "  --late-ms N           how much later a late reply comes (default 10500)\n"
    "  --seed N              seed of the faults, for repeatable runs (default 1)\n"
    "  --versions A.B.C.D    bootloader and firmware versions (default 1.2.3.4)\n"
    "  --flash-start previous|erased  what the flash holds at start: an older firmware\n"
    "                        (default) or nothing\n"
    "  --flash-in FILE       start from this flash dump (0x153F0 bytes)\n"
    "  --flash-out FILE      write the flash dump here when stopped\n"
    "                        (both the first unit's)\n"
    "  --name NAME           port name (default 'VANTRO simulated unit')\n"
    "  --stdio               no ports: the unit hears raw MIDI bytes on standard input and\n"
    "                        answers on standard output (for a test's bridge), until the\n"
    "                        input ends or a signal comes; messages go to standard error\n"
    "  --units N             publish N units (1..16), the second as 'NAME 2' and so on, each\n"
    "                        with its own flash and a firmware minor version one higher\n"
    "  --help                show this text\n"
    "  --version             show the version\n";

enum class Parsed { Run, Exit, Error };

// The command line; Exit after --help or --version, Error after saying what is wrong.
Parsed ParseArgs(const std::vector<std::string>& args, vantro::sim::SimCommandLine& line,
                 std::string& name, bool& stdio) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return Parsed::Exit;
        }
        if (arg == "--version") {
            std::cout << "vantro-unit-sim " VANTRO_VERSION "\n";
            return Parsed::Exit;
        }
        if (arg == "--stdio") {
            stdio = true;
            continue;
        }
        if (arg == "--name" && i + 1 < args.size()) {
            name = args[++i];
            continue;
        }
        std::string error;
        switch (vantro::sim::ParseSimArgument(args, i, "--", line, error)) {
            case vantro::sim::SimArg::Consumed:
                continue;
            case vantro::sim::SimArg::Error:
                std::cerr << "vantro-unit-sim: " << error << '\n';
                return Parsed::Error;
            case vantro::sim::SimArg::NotMine:
                std::cerr << "vantro-unit-sim: "
                          << (arg == "--name" ? "missing value for " : "unknown option ") << arg
                          << " (see --help)\n";
                return Parsed::Error;
        }
    }
    if (line.throughs > 0 || line.sharing.in || line.sharing.out || line.sharing.thruBox) {
        std::cerr << "vantro-unit-sim: --through and --share are for the in-process ports of "
                     "vantro-cli and VANTRO (--sim-through, --sim-share)\n";
        return Parsed::Error;
    }
    if (stdio && line.units != 1) {
        std::cerr << "vantro-unit-sim: --stdio carries one unit\n";
        return Parsed::Error;
    }
    if (std::string error; !platform::CheckMidiApiSetting(error)) {
        std::cerr << "vantro-unit-sim: " << error << '\n';
        return Parsed::Error;
    }
    return Parsed::Run;
}

sigset_t StopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    return stopSignals;
}

int SaveFlash(vantro::sim::UnitCore& core, const std::string& path) {
    std::string error;
    if (!path.empty() && !core.SaveFlashFile(path, error)) {
        std::cerr << "vantro-unit-sim: could not write the flash dump '" << path << "': " << error
                  << '\n';
        return 1;
    }
    return 0;
}

// The unit's side of a byte stream: what it answers goes to standard output as it leaves.
struct StdoutWire : vantro::sim::UnitWire {
    void SendSysEx(const uint8_t* bytes, std::size_t length) override { Write(bytes, length); }
    void SendInvalidShort() override {
        const uint8_t stray = 0x42;  // a data byte with no status
        Write(&stray, 1);
    }
    void Unplug() override {
        std::lock_guard lock(mutex);
        unplugged = true;
        std::fclose(stdout);  // the other end sees the stream end, as a cable pulled
    }
    void Write(const uint8_t* bytes, std::size_t length) {
        std::lock_guard lock(mutex);
        if (!unplugged && std::fwrite(bytes, 1, length, stdout) == length)
            std::fflush(stdout);
    }
    std::mutex mutex;
    bool unplugged = false;
};

// The unit over standard input and output until the input ends, SIGINT or SIGTERM.
int ServeStdio(const vantro::sim::SimCommandLine& line) {
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    StdoutWire wire;
    vantro::sim::SimulatedUnit unit(line.options, wire);
    std::string error;
    if (!line.flashIn.empty() && !unit.Core().LoadFlashFile(line.flashIn, error)) {
        std::cerr << "vantro-unit-sim: cannot use '" << line.flashIn << "' as flash dump: " << error
                  << '\n';
        return 2;
    }
    std::cerr << "vantro-unit-sim: ready on standard input and output" << std::endl;
    const timespec now{0, 0};
    for (;;) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 50) > 0) {
            uint8_t bytes[4096];
            const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
            if (n <= 0)
                break;  // the other end has gone
            unit.OnRequest(bytes, static_cast<std::size_t>(n));
        }
        if (sigtimedwait(&stopSignals, nullptr, &now) > 0)
            break;
    }
    unit.Stop();
    return SaveFlash(unit.Core(), line.flashOut);
}

// Publishes the unit until SIGINT or SIGTERM, then writes its flash dump when asked to.
int Serve(const vantro::sim::SimCommandLine& line, const std::string& name) {
    // Every thread started from here on leaves the two signals to sigwait below.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        std::vector<std::unique_ptr<vantro::sim::PublishedUnit>> units;
        for (uint32_t k = 0; k < line.units; ++k) {
            units.push_back(std::make_unique<vantro::sim::PublishedUnit>(
                vantro::sim::UnitOptions(line.options, k), vantro::sim::UnitPortName(k, name)));
        }
        auto& unit = *units.front();
        std::string error;
        if (!line.flashIn.empty() && !unit.Core().LoadFlashFile(line.flashIn, error)) {
            std::cerr << "vantro-unit-sim: cannot use '" << line.flashIn
                      << "' as flash dump: " << error << '\n';
            return 2;
        }
        for (uint32_t k = 0; k < line.units; ++k) {
            std::cout << "vantro-unit-sim: '" << vantro::sim::UnitPortName(k, name) << "' ready on "
                      << platform::RealMidiApi() << '\n';
        }
        std::cout.flush();
        int signal = 0;
        sigwait(&stopSignals, &signal);
        return SaveFlash(unit.Core(), line.flashOut);
    } catch (const std::exception& e) {
        std::cerr << "vantro-unit-sim: " << e.what() << '\n';
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    vantro::sim::SimCommandLine line;
    std::string name = vantro::sim::kUnitPortName;
    bool stdio = false;
    switch (ParseArgs(std::vector<std::string>(argv + 1, argv + argc), line, name, stdio)) {
        case Parsed::Exit:
            return 0;
        case Parsed::Error:
            return 2;
        case Parsed::Run:
            break;
    }
    return stdio ? ServeStdio(line) : Serve(line, name);
}
