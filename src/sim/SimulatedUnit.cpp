#include "sim/SimulatedUnit.h"

#include <algorithm>

namespace vantro::sim {

SimulatedUnit::SimulatedUnit(const SimOptions& options, UnitWire& wire)
    : options_(options), core_(options), wire_(wire), thread_([this] { Run(); }) {}

SimulatedUnit::~SimulatedUnit() {
    Stop();
}

void SimulatedUnit::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::chrono::nanoseconds SimulatedUnit::WireTime(std::size_t bytes) const {
    if (options_.baud == 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 10 * 1'000'000'000LL /
                                    options_.baud);
}

void SimulatedUnit::Schedule(Event e) {
    e.order = order_++;
    events_.push(std::move(e));
}

bool SimulatedUnit::LinkCarries(std::size_t length, bool toUnit) const {
    if (toUnit && options_.maxSysExToUnit && length > *options_.maxSysExToUnit)
        return false;
    return !options_.maxSysEx || length <= *options_.maxSysEx;
}

void SimulatedUnit::OnRequest(const uint8_t* bytes, std::size_t length) {
    OnRequest(bytes, length, Clock::now());
}

void SimulatedUnit::OnRequest(const uint8_t* bytes, std::size_t length, Clock::time_point arrival) {
    {
        std::lock_guard lock(mutex_);
        if (stop_) {
            return;
        }
        const std::size_t kept = CableKeeps(length, arrival);
        // A request is whole once its last byte has crossed the wire (and left the cable's
        // buffer).
        inFree_ = std::max(std::max(arrival, inFree_) + WireTime(kept), cableFree_);
        Join(bytes, kept);
    }
    wake_.notify_all();
}

std::size_t SimulatedUnit::CableKeeps(std::size_t length, Clock::time_point now) {
    if (!options_.fifo) {
        return length;
    }
    // The cable's side of the wire runs at 31,250 baud whatever the unit models.
    constexpr std::chrono::microseconds kByteTime{320};
    cableFree_ = std::max(cableFree_, now);
    const double held =
        std::chrono::duration<double>(cableFree_ - now) / std::chrono::duration<double>(kByteTime);
    const double room = static_cast<double>(*options_.fifo) - held;
    const auto kept = room <= 0 ? 0 : std::min(length, static_cast<std::size_t>(room + 1e-9));
    cableFree_ += kByteTime * static_cast<int64_t>(kept);
    return kept;
}

void SimulatedUnit::Join(const uint8_t* bytes, std::size_t length) {
    // A request is bounded: what runs on without an F7 is no request of ours.
    constexpr std::size_t kLongest = 4096;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0xF0) {
            joining_.assign(1, b);
            inSysEx_ = true;
            continue;
        }
        if (!inSysEx_ || b >= 0xF8) {
            continue;  // outside a request, or a real-time byte within one
        }
        if (b >= 0x80 && b != 0xF7) {
            inSysEx_ = false;  // another status cuts the request off
            joining_.clear();
            continue;
        }
        joining_.push_back(b);
        if (b == 0xF7 || joining_.size() > kLongest) {
            inSysEx_ = false;
            if (b == 0xF7 && LinkCarries(joining_.size(), true)) {
                Schedule(Event{inFree_, 0, Event::Kind::Request, std::move(joining_)});
            }
            joining_.clear();
        }
    }
}

void SimulatedUnit::Process(const Event& e) {
    switch (e.kind) {
        case Event::Kind::Request: {
            const UnitResponse r = core_.Handle(e.bytes.data(), e.bytes.size());
            if (r.unplug) {
                wire_.Unplug();
                return;
            }
            std::lock_guard lock(mutex_);
            const auto ready = e.due + r.busy;
            if (r.shortNoise) {
                Schedule(Event{ready, 0, Event::Kind::Noise, {}});
            }
            if (!r.reply.empty()) {
                outFree_ = std::max(ready, outFree_) + WireTime(r.reply.size());
                const auto due = outFree_ + (r.late ? options_.lateDelay : Clock::duration{});
                Schedule(Event{due, 0, Event::Kind::Reply, r.reply});
            }
            break;
        }
        case Event::Kind::Reply:
            if (LinkCarries(e.bytes.size(), false))
                wire_.SendSysEx(e.bytes.data(), e.bytes.size());
            break;
        case Event::Kind::Noise:
            wire_.SendInvalidShort();
            break;
    }
}

void SimulatedUnit::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop_) {
            return;
        }
        if (events_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto due = events_.top().due;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        Event e = events_.top();
        events_.pop();
        lock.unlock();
        Process(e);
        lock.lock();
    }
}

InProcessUnit::InProcessUnit(const SimOptions& options, const std::string& name)
    : toHost_(name),
      unit_(options, wire_),
      fromHost_(name, [this](const uint8_t* bytes, std::size_t n) { unit_.OnRequest(bytes, n); }) {
    wire_.requests = &fromHost_;
}

ThroughPair::ThroughPair(const std::string& name)
    : toHost_(name), fromHost_(name, [this](const uint8_t* bytes, std::size_t n) {
          toHost_.SendSysEx(bytes, n);
      }) {}

std::string UnitPortName(uint32_t k, const std::string& base) {
    std::string name = base;
    if (k > 0) {
        name += ' ';
        name += std::to_string(k + 1);
    }
    return name;
}

SimOptions UnitOptions(const SimOptions& options, uint32_t k) {
    SimOptions own = options;
    own.versions[3] = static_cast<uint8_t>(own.versions[3] + k);
    return own;
}

SimulatedPorts& SimulatedPorts::operator=(SimulatedPorts&& other) noexcept {
    sharedOuts.clear();
    units.clear();
    sharedIn.reset();
    throughs.clear();
    throughs = std::move(other.throughs);
    sharedIn = std::move(other.sharedIn);
    units = std::move(other.units);
    sharedOuts = std::move(other.sharedOuts);
    return *this;
}

SimulatedPorts StartSimulatedPorts(const SimOptions& options, uint32_t units, uint32_t throughs,
                                   const SimOptions* firstUnit,
                                   const SimCommandLine::Sharing& sharing) {
    SimulatedPorts ports;
    for (uint32_t k = 0; k < throughs; ++k)
        ports.throughs.push_back(std::make_unique<ThroughPair>("Through " + std::to_string(k + 1)));
    for (uint32_t k = 0; k < units; ++k) {
        const SimOptions own =
            UnitOptions(k == 0 && firstUnit != nullptr ? *firstUnit : options, k);
        ports.units.push_back(std::make_unique<InProcessUnit>(own, UnitPortName(k)));
    }
    if (ports.units.empty())
        return ports;
    InProcessUnit& first = *ports.units[0];
    if (sharing.in) {
        ports.sharedIn = std::make_unique<platform::VirtualInputPort>("Unit 1 thru");
        first.AlsoReplyOn(*ports.sharedIn);
    }
    if (sharing.out) {
        ports.sharedOuts.push_back(std::make_unique<platform::VirtualOutputPort>(
            "Unit 1 second OUT",
            [&first](const uint8_t* bytes, std::size_t n) { first.Unit().OnRequest(bytes, n); }));
    }
    if (sharing.thruBox) {
        std::vector<InProcessUnit*> fed;
        for (const auto& u : ports.units)
            fed.push_back(u.get());
        ports.sharedOuts.push_back(std::make_unique<platform::VirtualOutputPort>(
            "Thru box", [fed](const uint8_t* bytes, std::size_t n) {
                for (InProcessUnit* u : fed)
                    u->Unit().OnRequest(bytes, n);
            }));
    }
    return ports;
}

}  // namespace vantro::sim
