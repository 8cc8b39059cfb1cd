#pragma once

// Inside the MIDI system: the one small contract every backend keeps, the system's (RtMidi on
// Linux and macOS in rtmidi/, winmm on Windows in winmm/) and the in-process virtual ports
// (virtual/). A port is known by an identifier of the backend's own, never by its name alone:
// two interfaces with the same product name stay two ports.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::detail {

// One message as it came in, sorted the way winmm reports it.
struct Incoming {
    enum class Kind { SysEx, BrokenSysEx, Short, InvalidShort };
    Kind kind = Kind::Short;
    std::vector<uint8_t> bytes;  // SysEx kinds
    uint32_t word = 0;           // short kinds, status in the low byte
};

Incoming Classify(const uint8_t* bytes, std::size_t length);

// Why a port stopped working: a winmm code, and where the system has no words of its own for
// it, ours naming the port.
struct PortFailure {
    unsigned code = 0;  // 0: the port works
    std::string text;   // empty: the system's text for code
    explicit operator bool() const { return code != 0; }
};

// Our words for a port that has gone (unplugged, its client or server gone).
PortFailure PortGone(const std::string& portName, const std::string& why = "");

// Where an open port tells that it has failed or gone while open, sending or not; called on
// the backend's own thread. The first failure counts.
class FailureSink {
  public:
    virtual void Fail(PortFailure failure) = 0;

  protected:
    ~FailureSink() = default;
};

// Where a source hands what arrives; called on the source's own thread. After Fail nothing
// more arrives.
class InputSink : public FailureSink {
  public:
    virtual void Deliver(Incoming message) = 0;

  protected:
    ~InputSink() = default;
};

class RealInput {
  public:
    virtual ~RealInput() = default;  // no delivery after it returns
};

// An output tells its sink (given at open) as soon as its port has gone, not only at the next
// send: a reply wait ends on it.
class RealOutput {
  public:
    virtual ~RealOutput() = default;  // no failure is told after it returns
    // Hands one message to the system, or says why it cannot (refused, or the port has gone).
    // What was handed on leaves before the port closes (bounded).
    virtual PortFailure Send(const uint8_t* bytes, std::size_t length) = 0;
};

struct RealPort {
    std::string id;      // the backend's: a winmm device number, an RtMidi port's full name
    std::string name;    // what the lists show (cut to the product-name length later)
    unsigned capsError;  // non-zero: its capability query fails with this winmm code
};

// The system's ports, in the system's order. Results are winmm's codes (MMSYSERR_ALLOCATED,
// MMSYSERR_BADDEVICEID, ...).
std::vector<RealPort> RealInputPorts();
std::vector<RealPort> RealOutputPorts();
unsigned OpenRealInput(const std::string& id, InputSink& sink, std::unique_ptr<RealInput>& out);
unsigned OpenRealOutput(const std::string& id, FailureSink& sink, std::unique_ptr<RealOutput>& out);

// The in-process virtual ports, the same contract; they follow the system's in the lists.
namespace virtual_ports {
std::vector<RealPort> Inputs();
std::vector<RealPort> Outputs();
unsigned OpenInput(const std::string& id, InputSink& sink, std::unique_ptr<RealInput>& out);
unsigned OpenOutput(const std::string& id, FailureSink& sink, std::unique_ptr<RealOutput>& out);
}  // namespace virtual_ports

// The system's own text for a winmm code, where the system has texts (winmm); false elsewhere.
bool SystemErrorText(unsigned code, std::string& text);

}  // namespace platform::detail
