#include "bootloader/Detect.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "bootloader/Commands.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "midi/PortNames.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro {

namespace {

using Clock = std::chrono::steady_clock;

struct Heard {
    unsigned in;
    std::vector<uint8_t> bytes;
};

// What every listening IN port has received, handed over from the callback threads.
class Collector {
  public:
    void Add(unsigned in, const char* data, uint32_t length) {
        {
            std::lock_guard lock(mutex_);
            if (heard_.size() < kMaxHeard)
                heard_.push_back({in, std::vector<uint8_t>(data, data + length)});
        }
        arrived_.notify_all();
    }
    std::vector<Heard> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(heard_, {});
    }
    // Whether anything heard so far passes the test.
    template <typename Test>
    bool Any(Test test) {
        std::lock_guard lock(mutex_);
        return std::any_of(heard_.begin(), heard_.end(), test);
    }
    // Waits until more than seen messages have arrived or the time comes; returns how many
    // have.
    std::size_t Wait(Clock::time_point until, std::size_t seen) {
        std::unique_lock lock(mutex_);
        arrived_.wait_until(lock, until, [&] { return heard_.size() > seen; });
        return heard_.size();
    }

  private:
    static constexpr std::size_t kMaxHeard = 256;  // a chatty port must not grow this
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Heard> heard_;
};

class Listener : public midi::CMIDIReceiver {
  public:
    Listener(Collector& collector, unsigned in, LinkTrace* trace)
        : collector_(collector), in_(in), trace_(trace) {}
    void OnLongMessage(const char* data, uint32_t length, uint32_t) override {
        if (trace_ != nullptr)
            trace_->Received(reinterpret_cast<const uint8_t*>(data), length);
        collector_.Add(in_, data, length);
    }
    void OnShortMessage(uint32_t, uint32_t) override {}
    void OnLongMessageError(const char*, uint32_t, uint32_t) override {}
    void OnShortMessageError(uint32_t, uint32_t) override {}

  private:
    Collector& collector_;
    unsigned in_;
    LinkTrace* trace_;
};

// One listening IN port; the port closes before its listener goes.
struct Input {
    Input(Collector& c, unsigned n, std::string name, LinkTrace* trace)
        : number(n), name(std::move(name)), listener(c, n, trace) {}
    unsigned number;
    std::string name;
    Listener listener;
    midi::CMIDIInDevice port;
};

template <typename Caps, typename Port>
std::vector<std::string> NamesOf(const Port& port) {
    std::vector<std::string> names(port.PortCount());
    try {
        midi::ForEachPortName<Caps>(port, [&](UINT i, const char* name) { names[i] = name; });
    } catch (const std::exception&) {
        // A port whose name cannot be had is tried all the same, without a name.
    }
    return names;
}

bool IsIdentifyReply(const uint8_t* request, const std::vector<uint8_t>& reply) {
    // The four versions sit at 6..13: a shorter reply does not carry them.
    return reply.size() >= 16 && IsValidReply(request, reply.data(), reply.size()) &&
           reply[5] == code::kIdentify;
}

FoundUnit Found(const Input& in, unsigned out, const std::string& outName,
                const std::vector<uint8_t>& reply) {
    FoundUnit unit{in.number, out, in.name, outName};
    uint8_t v[4];
    for (int m = 0; m < 4; ++m)
        v[m] = static_cast<uint8_t>(GetNibbles(reply.data() + 6 + 2 * m, 2));
    unit.blMajor = v[0];
    unit.blMinor = v[1];
    unit.fwMajor = v[2];
    unit.fwMinor = v[3];
    return unit;
}

std::vector<std::unique_ptr<Input>> OpenInputs(Collector& collector, LinkTrace* trace,
                                               DetectResult& result) {
    std::vector<std::unique_ptr<Input>> inputs;
    const auto names = NamesOf<MIDIINCAPSA>(midi::CMIDIInDevice());
    result.inPorts = static_cast<unsigned>(names.size());
    for (unsigned i = 0; i < names.size(); ++i) {
        auto in = std::make_unique<Input>(collector, i, names[i], trace);
        in->port.UseOwnDataArea();  // every port listens at once
        in->port.AttachReceiver(&in->listener);
        try {
            in->port.OpenPort(i);
            inputs.push_back(std::move(in));
        } catch (const std::exception& e) {
            result.skipped.push_back({true, i, names[i], e.what()});
        }
    }
    return inputs;
}

// Runs f on every listening port; a port that fails is skipped from then on.
template <typename F>
void ForEachInput(std::vector<std::unique_ptr<Input>>& inputs, DetectResult& result, F f) {
    for (auto it = inputs.begin(); it != inputs.end();) {
        try {
            f((*it)->port);
            ++it;
        } catch (const std::exception& e) {
            result.skipped.push_back({true, (*it)->number, (*it)->name, e.what()});
            it = inputs.erase(it);
        }
    }
}

// One OUT port's turn: the request, the wait, and the replies it brought.
void TryOutput(unsigned out, const std::string& outName,
               std::vector<std::unique_ptr<Input>>& inputs, Collector& collector,
               std::chrono::milliseconds wait, LinkTrace* trace, const std::function<void()>& idle,
               DetectResult& result) {
    uint8_t request[kShortRequest];
    BuildShortRequest(request, code::kIdentify);
    ForEachInput(inputs, result, [](midi::CMIDIInDevice& p) {
        p.QueueBuffer();
        p.Start();
    });
    collector.Take();  // what came before the request answers nothing
    midi::CMIDIOutDevice port;
    try {
        port.OpenPort(out);
        if (trace != nullptr)
            trace->Sent(request, kShortRequest);
        port.SendSysEx(reinterpret_cast<const char*>(request), kShortRequest);
        // A unit answers within milliseconds: once one has, the others on this OUT port (a
        // MIDI OUT drives one cable) get a tenth of the wait more.
        auto deadline = Clock::now() + wait;
        bool answered = false;
        std::size_t seen = 0;
        for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
            seen = collector.Wait(
                idle ? std::min(deadline, now + std::chrono::milliseconds(10)) : deadline, seen);
            if (!answered &&
                collector.Any([&](const Heard& h) { return IsIdentifyReply(request, h.bytes); })) {
                answered = true;
                deadline = std::min(deadline, Clock::now() + wait / 10);
            }
            if (idle)
                idle();
        }
        port.WaitUntilSent();
        port.ThrowIfFailed();
    } catch (const std::exception& e) {
        result.skipped.push_back({false, out, outName, e.what()});
    }
    ForEachInput(inputs, result, [](midi::CMIDIInDevice& p) {
        p.Stop();
        p.ThrowIfFailed();  // a reply that came with the failure is not trusted
    });
    for (const Heard& h : collector.Take()) {
        for (const auto& in : inputs) {
            if (in->number == h.in && IsIdentifyReply(request, h.bytes)) {
                result.units.push_back(Found(*in, out, outName, h.bytes));
            }
        }
    }
}

}  // namespace

std::string FoundUnit::Status() const {
    return VersionStatus(blMajor, blMinor, fwMajor, fwMinor);
}

std::string FoundUnit::Line() const {
    return "IN " + std::to_string(in) + " / OUT " + std::to_string(out) + ": " + Status() +
           " (IN \"" + inName + "\", OUT \"" + outName + "\")";
}

bool DetectResult::NothingToTry() const {
    unsigned inSkipped = 0, outSkipped = 0;
    for (const auto& s : skipped)
        ++(s.input ? inSkipped : outSkipped);
    return (inPorts > 0 && inSkipped >= inPorts) || (outPorts > 0 && outSkipped >= outPorts);
}

DetectResult DetectUnits(std::chrono::milliseconds wait, LinkTrace* trace,
                         const std::function<void()>& idle) {
    DetectResult result;
    Collector collector;
    auto inputs = OpenInputs(collector, trace, result);
    const auto outNames = NamesOf<MIDIOUTCAPSA>(midi::CMIDIOutDevice());
    result.outPorts = static_cast<unsigned>(outNames.size());
    for (unsigned out = 0; out < outNames.size() && !inputs.empty(); ++out) {
        TryOutput(out, outNames[out], inputs, collector, wait, trace, idle, result);
    }
    return result;  // the inputs close here, each before its listener goes
}

}  // namespace vantro
