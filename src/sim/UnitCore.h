#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vantro::sim {

enum class FaultKind { Drop, Corrupt, WrongEcho, Late, SilentVerify, FfAs00, ShortNoise };

// "drop", "corrupt", "wrong-echo", "late", "silent-verify", "ff-as-00", "short-noise".
const char* FaultName(FaultKind kind);
bool ParseFaultName(const std::string& name, FaultKind& kind);

struct SimOptions {
    uint32_t baud = 0;  // 0: instant; 31250: 5-pin MIDI, 10 bits a byte each way
    std::chrono::microseconds pageEraseTime{0};
    std::chrono::microseconds rowWriteTime{0};
    std::map<FaultKind, double> faults;  // kind -> chance per reply, 0..1
    uint64_t seed = 1;
    std::array<uint8_t, 4> versions = {1, 2, 3, 4};  // BL major, minor, FW major, minor
    // How much later a "late" reply comes: past one attempt's wait (200 polls of 50 ms).
    std::chrono::milliseconds lateDelay{10500};
    // A unit that comes for an upgrade holds its previous firmware, so a missing or misplaced
    // erase shows; an erased start is for runs that want it.
    bool startErased = false;
    // cut-after:K: the unit takes the first K requests, then hears nothing more, as if the
    // cable were pulled (until Reconnect).
    std::optional<uint32_t> cutAfter;
    // unplug-after:K: the unit takes the first K requests; the next one pulls its ports, which
    // fail as a removed device's do.
    std::optional<uint32_t> unplugAfter;
    // max-sysex:N: the link loses every message longer than N bytes, both ways.
    std::optional<uint32_t> maxSysEx;
    // max-sysex-to-unit:N: the same on the way to the unit only.
    std::optional<uint32_t> maxSysExToUnit;
    // fifo:N: the link towards the unit holds N bytes and drains at the wire's rate; bytes that
    // arrive while it is full are lost, as on a cable without flow control.
    std::optional<uint32_t> fifo;
    // no-readback: a bootloader that cannot read its flash answers a read with another code.
    bool noReadBack = false;
};

// Parses one option, named without its prefix ("baud", "fault", "seed", "versions",
// "page-erase-us", "row-write-us", "late-ms", "flash-start"); false with a reason when the
// value is bad.
bool ApplySimOption(const std::string& name, const std::string& value, SimOptions& options,
                    std::string& error);
bool IsSimOption(const std::string& name);

// The simulated unit as a command line sets it up, in every program that has one.
struct SimCommandLine {
    SimOptions options;
    std::string flashIn, flashOut;  // the first unit's
    bool lateGiven = false;         // late-ms was given
    uint32_t units = 1;             // units N (1..16): each with its own ports, versions, flash
    uint32_t throughs = 0;          // through N (0..16): port pairs that echo what they are sent
    // share KIND (repeatable): routings in which units share ports. in: the first unit's
    // replies also come in on a second IN port (a Through or a DAW's thru routed from it);
    // out: a second OUT port feeds the first unit too; thru-box: one more OUT port feeds every
    // unit at once, as a Thru box does.
    struct Sharing {
        bool in = false, out = false, thruBox = false;
    } sharing;
};

enum class SimArg { Consumed, NotMine, Error };

// Takes the unit's option at args[i] (named prefix + name: "--sim-baud" in vantro-cli and
// VANTRO, "--baud" in vantro-unit-sim) and its value, moving i on; NotMine leaves i alone.
// Error: error says why, naming the option.
SimArg ParseSimArgument(const std::vector<std::string>& args, std::size_t& i,
                        const std::string& prefix, SimCommandLine& line, std::string& error);

// What the unit does with one request.
struct UnitResponse {
    std::vector<uint8_t> reply;  // empty: no reply
    bool late = false;
    bool shortNoise = false;
    bool unplug = false;                // the ports are pulled now
    std::chrono::microseconds busy{0};  // flash work before the reply can start
};

// The bootloader's side of the protocol over a model of the program memory, in the image's
// byte addressing (four bytes an instruction word, the fourth a phantom that reads 0x00).
class UnitCore {
  public:
    static constexpr std::size_t kFlashSize = 0x15800;  // up to the configuration words
    static constexpr std::size_t kDumpSize = 0x153F0;
    static constexpr std::size_t kBootAreaEnd = 0x2800;

    explicit UnitCore(const SimOptions& options);

    UnitResponse Handle(const uint8_t* frame, std::size_t n);

    std::vector<uint8_t> FlashDump() const;  // byte addresses 0 .. 0x153F0
    // Starts from a dump of kDumpSize bytes (phantom bytes are forced to 0x00).
    bool LoadFlash(const std::vector<uint8_t>& dump, std::string& error);
    // The same from a file: only a regular file of exactly kDumpSize bytes; error says why not.
    bool LoadFlashFile(const std::string& path, std::string& error);
    // Writes FlashDump() to a file as raw bytes; false, with the reason, when it cannot.
    bool SaveFlashFile(const std::string& path, std::string& error) const;

    // The cable is back: a unit cut off by cut-after hears requests again.
    void Reconnect();

    int Restarts() const;
    int VerifyOks() const;
    int Requests(uint8_t commandCode) const;

    // The addresses the unit was given, in word addresses as they came (accepted or not).
    struct Erase {
        uint32_t wordAddress;
        unsigned pages;
        bool operator==(const Erase&) const = default;
    };
    std::vector<Erase> Erases() const;
    std::vector<uint32_t> WrittenWords() const;

  private:
    // The unit's answer to a sound request, with mutex_ held; false when it gives none.
    bool Answer(uint8_t command, const uint8_t* f, std::size_t n, UnitResponse& r);
    bool AnswerRead(const uint8_t* f, std::size_t n, UnitResponse& r);
    bool AnswerWrite(const uint8_t* f, std::size_t n, UnitResponse& r);
    bool AnswerErase(const uint8_t* f, std::size_t n, UnitResponse& r);
    void ApplyFaults(uint8_t command, UnitResponse& r);
    bool Chance(FaultKind kind);
    void EraseFrom(std::size_t byteAddress, unsigned pages);
    void WriteAt(std::size_t byteAddress, const uint8_t* data);
    std::vector<uint8_t> ReadReply(std::size_t byteAddress, uint32_t wordAddress);

    SimOptions options_;
    mutable std::mutex mutex_;
    std::mt19937_64 rng_;
    std::vector<uint8_t> flash_;
    uint64_t heard_ = 0;  // requests that reached the unit
    int restarts_ = 0;
    int verifyOks_ = 0;
    std::map<uint8_t, int> requests_;
    static constexpr std::size_t kMaxLog = 1 << 16;  // a unit that runs for days stays small
    std::vector<Erase> erases_;
    std::vector<uint32_t> writes_;
};

}  // namespace vantro::sim
