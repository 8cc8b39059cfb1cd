#pragma once

// Inside the MIDI system: what the winmm-shaped functions need from the real-port backend.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/winmm.h"

namespace platform::detail {

// One message as it came in, sorted the way winmm reports it.
struct Incoming {
    enum class Kind { SysEx, BrokenSysEx, Short, InvalidShort };
    Kind kind = Kind::Short;
    std::vector<uint8_t> bytes;  // SysEx kinds
    uint32_t word = 0;           // short kinds, status in the low byte
};

Incoming Classify(const uint8_t* bytes, std::size_t length);

// Where a source hands what arrives; called on the source's own thread.
class InputSink {
  public:
    virtual void Deliver(Incoming message) = 0;

  protected:
    ~InputSink() = default;
};

class RealInput {
  public:
    virtual ~RealInput() = default;  // no delivery after it returns
};

class RealOutput {
  public:
    virtual ~RealOutput() = default;
    virtual bool Send(const uint8_t* bytes, std::size_t length) = 0;
};

std::vector<std::string> RealInputNames();
std::vector<std::string> RealOutputNames();
mm::MMRESULT OpenRealInput(const std::string& name, InputSink& sink,
                           std::unique_ptr<RealInput>& out);
mm::MMRESULT OpenRealOutput(const std::string& name, std::unique_ptr<RealOutput>& out);

}  // namespace platform::detail
