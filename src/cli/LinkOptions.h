#pragma once

#include <chrono>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/Detect.h"
#include "bootloader/Link.h"
#include "sim/SimulatedUnit.h"

namespace vantro::cli {

// How a command reaches the unit: port numbers or the in-process simulated unit, the trace,
// and the reply wait.
struct LinkOptions {
    std::optional<unsigned> in, out;
    bool autoUnit = false;  // --unit auto: the one pair on which a unit answers
    bool simulated = false;
    sim::SimCommandLine sim;  // without --sim-late-ms, late replies come just after a wait ends
    std::string tracePath;
    LinkTimings timings;
    // How long each OUT port waits for a unit to answer when the ports are looked for
    // (detect, --unit auto, upgrade --all).
    std::chrono::milliseconds detectWait = kDefaultDetectWait;
};

enum class OptionResult { Consumed, NotMine, Error };

// Takes the link option at args[i] (and its value, moving i on); NotMine leaves i alone.
OptionResult ParseLinkOption(const std::vector<std::string>& args, std::size_t& i,
                             LinkOptions& options, std::string& error);

// The --help lines of the link options.
const char* LinkOptionsHelp();

// Writes each SysEx message as "ms > bytes" or "ms < bytes", milliseconds since the command
// started.
class FileTrace : public LinkTrace {
  public:
    explicit FileTrace(const std::string& path);
    bool IsOpen() const { return file_.is_open() && file_.good(); }
    // A write failed (the disk is full, say); nothing more is written.
    bool Failed();
    void Sent(const uint8_t* bytes, std::size_t length) override { Write('>', bytes, length); }
    void Received(const uint8_t* bytes, std::size_t length) override { Write('<', bytes, length); }

  private:
    void Write(char direction, const uint8_t* bytes, std::size_t length);
    std::mutex mutex_;
    std::ofstream file_;
    bool failed_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// What one command sets up around its port pair.
class LinkSession {
  public:
    // Returns null after a message on err; exitCode then holds the status to end with.
    static std::unique_ptr<LinkSession> Start(const LinkOptions& options, std::ostream& err,
                                              int& exitCode);

    // Called once the command's pair is closed: writes the simulated unit's flash dump and
    // says once whether that or the trace could not be written. Returns the status to end
    // with: the command's own, or kExitNotWritten when it succeeded but an output did not.
    int Finish(int status);

    enum class Selection { Ok, NoSelection, NoSuchPort, NoUnit, SeveralUnits };
    // The IN and OUT port numbers to open: as given, the pair a unit answers on (--unit auto),
    // or the last of each list as the dialog selects. NoSelection when a list is empty;
    // NoSuchPort (with why) for a number past the end of its list; NoUnit and SeveralUnits
    // (with why) when --unit auto finds no unit, or more than one, or pairs that share a port.
    Selection SelectPorts(unsigned& in, unsigned& out, std::string& why) const;

    LinkTrace* Trace() { return trace_.get(); }
    std::chrono::milliseconds DetectWait() const { return options_.detectWait; }
    const LinkTimings& Timings() const { return options_.timings; }
    sim::InProcessUnit* Unit() { return sim_.units.empty() ? nullptr : sim_.units[0].get(); }
    sim::SimulatedPorts& Simulated() { return sim_; }

  private:
    explicit LinkSession(const LinkOptions& options) : options_(options) {}
    LinkOptions options_;
    std::unique_ptr<FileTrace> trace_;
    sim::SimulatedPorts sim_;
    std::ostream* err_ = nullptr;
};

// The status a command ends with when its ports cannot be chosen, after saying why on err:
// usage for a port that is not there or several units, failure for no unit. Nothing for Ok
// and NoSelection, which the command tells as the dialog does.
std::optional<int> RefusedSelection(LinkSession::Selection selection, const std::string& command,
                                    const std::string& why, std::ostream& err);

}  // namespace vantro::cli
