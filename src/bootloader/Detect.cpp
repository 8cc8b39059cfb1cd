#include "bootloader/Detect.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "bootloader/Commands.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "platform/DeviceChange.h"

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
    // How many messages heard so far pass the test.
    template <typename Test>
    std::size_t Count(Test test) {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(heard_.begin(), heard_.end(), test));
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

std::vector<std::unique_ptr<Input>> OpenInputs(Collector& collector, LinkTrace* trace,
                                               const std::vector<std::string>& names,
                                               DetectResult& result) {
    std::vector<std::unique_ptr<Input>> inputs;
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

// An identify reply heard on an IN port during one OUT port's turn.
struct Reply {
    unsigned in;
    Versions versions;
};

// The search: a first request on every OUT port in turn, then a second on each that brought a
// reply, on its own, with a quiet tenth of the wait before and after it. When every reply
// comes within the wait, nothing is still being answered when a request goes. A reply slower
// than that is heard in a later OUT port's wait and credited to it; the second requests show
// it (a reply in a quiet time, or replies that differ from the first request's), and then no
// pair is credited at all.
class Search {
  public:
    Search(std::chrono::milliseconds wait, LinkTrace* trace, const std::function<void()>& idle,
           DetectResult& result)
        : wait_(wait), trace_(trace), idle_(idle), result_(result) {
        BuildShortRequest(request_, code::kIdentify);
    }

    void Run() {
        // A port whose name cannot be had is tried all the same, without a name.
        platform::PortNames ports = platform::CurrentPortNames();
        ports.inputs.resize(ports.inputCount);
        ports.outputs.resize(ports.outputCount);
        inputs_ = OpenInputs(collector_, trace_, ports.inputs, result_);
        outNames_ = std::move(ports.outputs);
        result_.outPorts = static_cast<unsigned>(outNames_.size());
        std::vector<std::pair<unsigned, std::vector<Reply>>> answered;  // by OUT port
        for (unsigned out = 0; out < outNames_.size() && !inputs_.empty(); ++out) {
            if (auto replies = Turn(out, false); !replies.empty())
                answered.push_back({out, std::move(replies)});
        }
        std::vector<FoundUnit> pairs;
        for (std::size_t k = 0; k < answered.size() && !late_; ++k) {
            const auto& [out, first] = answered[k];
            const std::vector<Reply> second = Turn(out, true);
            late_ = late_ || !SameInputs(first, second);
            for (const Reply& r : second) {
                FoundUnit unit{r.in, out, NameOf(r.in), outNames_[out]};
                unit.blMajor = r.versions.blMajor;
                unit.blMinor = r.versions.blMinor;
                unit.fwMajor = r.versions.fwMajor;
                unit.fwMinor = r.versions.fwMinor;
                pairs.push_back(unit);
            }
        }
        if (!answered.empty() && !late_) {
            StartInputs();
            Settle();
            StopInputs();
        }
        if (late_) {
            for (const auto& [out, first] : answered)
                result_.unconfirmed.push_back(out);
            return;
        }
        Classify(pairs);
    }  // the inputs close with the search, each before its listener goes

  private:
    // Whether bytes are a valid identify reply to our request; v gets its versions.
    bool IsReply(const std::vector<uint8_t>& bytes, Versions& v) const {
        return IsValidReply(request_, bytes.data(), bytes.size()) &&
               DecodeIdentifyReply(bytes.data(), bytes.size(), v);
    }
    bool IsReply(const std::vector<uint8_t>& bytes) const {
        Versions v;
        return IsReply(bytes, v);
    }
    std::size_t RepliesHeard() {
        return collector_.Count([&](const Heard& h) { return IsReply(h.bytes); });
    }

    // Whether both requests were answered on the same IN ports, as often.
    static bool SameInputs(const std::vector<Reply>& a, const std::vector<Reply>& b) {
        std::vector<unsigned> x, y;
        for (const Reply& r : a)
            x.push_back(r.in);
        for (const Reply& r : b)
            y.push_back(r.in);
        std::sort(x.begin(), x.end());
        std::sort(y.begin(), y.end());
        return x == y;
    }

    std::string NameOf(unsigned in) const {
        for (const auto& i : inputs_)
            if (i->number == in)
                return i->name;
        return {};
    }

    // Waits until deadline, calling idle about every 10 ms and replied on the arrival of each
    // identify reply; it may move the deadline.
    template <typename Replied>
    void Listen(Clock::time_point& deadline, Replied replied) {
        std::size_t seen = 0, replies = 0;
        for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
            const std::size_t n = collector_.Wait(
                idle_ ? std::min(deadline, now + std::chrono::milliseconds(10)) : deadline, seen);
            if (n != seen) {
                seen = n;
                if (const std::size_t r = RepliesHeard(); r != replies) {
                    replies = r;
                    lastReply_ = Clock::now();
                    replied();
                }
            }
            if (idle_)
                idle_();
        }
    }

    // Before and after each second request: a tenth of the wait without a reply, in which a
    // reply would have come later than the wait allows (or later than a tenth of it after
    // another unit's on one OUT port): the search is then late.
    void Settle() {
        if (RepliesHeard() > 0)  // it came as the last turn ended
            late_ = true;
        collector_.Take();
        auto deadline = std::max(Clock::now(), lastReply_) + wait_ / 10;
        Listen(deadline, [&] {
            late_ = true;
            deadline = Clock::now();
        });
    }

    void StartInputs() {
        ForEachInput(inputs_, result_, [](midi::CMIDIInDevice& p) {
            p.QueueBuffer();
            p.Start();
        });
    }
    void StopInputs() {
        ForEachInput(inputs_, result_, [](midi::CMIDIInDevice& p) {
            p.Stop();
            p.ThrowIfFailed();  // a reply that came with the failure is not trusted
        });
    }

    // One OUT port's turn: the request, the wait, and the replies it brought. A second
    // request first lets everything sent before settle; none goes once the search is late.
    std::vector<Reply> Turn(unsigned out, bool second) {
        StartInputs();
        if (second)
            Settle();
        bool sent = false;
        if (!late_) {
            collector_.Take();  // what came before the request answers nothing
            midi::CMIDIOutDevice port;
            try {
                port.OpenPort(out);
                if (trace_ != nullptr)
                    trace_->Sent(request_, kShortRequest);
                port.SendSysEx(reinterpret_cast<const char*>(request_), kShortRequest);
                // A unit answers within milliseconds: once one has, the others on this OUT
                // port (a MIDI OUT drives one cable) get a tenth of the wait more.
                auto deadline = Clock::now() + wait_;
                bool answered = false;
                Listen(deadline, [&] {
                    if (!answered) {
                        answered = true;
                        deadline = std::min(deadline, Clock::now() + wait_ / 10);
                    }
                });
                port.WaitUntilSent();
                port.ThrowIfFailed();
                sent = true;
            } catch (const std::exception& e) {
                const bool named =
                    std::any_of(result_.skipped.begin(), result_.skipped.end(),
                                [&](const SkippedPort& p) { return !p.input && p.number == out; });
                if (!named)  // a port that failed is named once
                    result_.skipped.push_back({false, out, outNames_[out], e.what()});
            }
        }
        StopInputs();
        std::vector<Reply> replies;
        for (const Heard& h : collector_.Take()) {
            Reply r{h.in, {}};
            const bool listening = std::any_of(inputs_.begin(), inputs_.end(),
                                               [&](const auto& in) { return in->number == h.in; });
            if (sent && listening && IsReply(h.bytes, r.versions)) {
                replies.push_back(r);
                lastReply_ = std::max(lastReply_, Clock::now());  // it may have come just now
            }
        }
        return replies;
    }

    // A pair is a unit when one unit alone answered on it and no other pair that answered
    // shares its IN or OUT port; otherwise it is ambiguous.
    void Classify(std::vector<FoundUnit>& pairs) {
        const auto byPorts = [](const FoundUnit& a, const FoundUnit& b) {
            return a.out != b.out ? a.out < b.out : a.in < b.in;
        };
        std::sort(pairs.begin(), pairs.end(), byPorts);
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const FoundUnit& unit = pairs[i];
            if (i > 0 && pairs[i - 1].in == unit.in && pairs[i - 1].out == unit.out)
                continue;  // told with the first
            std::string why;
            const auto add = [&why](const std::string& text) {
                why += (why.empty() ? "" : "; ") + text;
            };
            const auto same = std::count_if(pairs.begin(), pairs.end(), [&](const FoundUnit& p) {
                return p.in == unit.in && p.out == unit.out;
            });
            if (same > 1)
                add(std::to_string(same) + " units answered on this pair");
            for (const FoundUnit& other : pairs) {
                if (other.out == unit.out && other.in != unit.in)
                    add("OUT " + std::to_string(unit.out) + " is also answered on IN " +
                        std::to_string(other.in));
                if (other.in == unit.in && other.out != unit.out)
                    add("IN " + std::to_string(unit.in) + " also hears OUT " +
                        std::to_string(other.out));
            }
            if (why.empty())
                result_.units.push_back(unit);
            else
                result_.ambiguous.push_back({unit, why});
        }
    }

    const std::chrono::milliseconds wait_;
    LinkTrace* const trace_;
    const std::function<void()>& idle_;
    DetectResult& result_;
    uint8_t request_[kShortRequest];
    Collector collector_;
    std::vector<std::unique_ptr<Input>> inputs_;
    std::vector<std::string> outNames_;
    Clock::time_point lastReply_{};
    bool late_ = false;  // a reply came later than the wait: no pair can be credited for sure
};

}  // namespace

std::string FoundUnit::Status() const {
    return VersionStatus(blMajor, blMinor, fwMajor, fwMinor);
}

std::string FoundUnit::Pair() const {
    return "IN " + std::to_string(in) + " / OUT " + std::to_string(out);
}

std::string FoundUnit::Line() const {
    return Pair() + ": " + Status() + " (IN \"" + inName + "\", OUT \"" + outName + "\")";
}

std::string AmbiguousPair::Line() const {
    return pair.Line() + ": " + why;
}

std::string SkippedLine(const SkippedPort& port) {
    return std::string(port.input ? "IN " : "OUT ") + std::to_string(port.number) + " \"" +
           port.name + "\": " + port.why;
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
    Search(wait, trace, idle, result).Run();
    return result;
}

}  // namespace vantro
