// The in-process virtual ports: a backend like the system's, behind the same contract. What
// our own code sends into a VirtualInputPort reaches the handle that has it open, as if it
// came over a cable; what a handle sends to a VirtualOutputPort reaches its handler. Each port
// comes and goes with its object, and tells the device watches at once.

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"
#include "platform/VirtualMidi.h"

namespace platform {

namespace detail {

struct VirtualInputCore {
    std::string id;
    std::string name;
    std::atomic<unsigned> capsError{0};
    mutable std::mutex mutex;
    InputSink* sink = nullptr;  // the handle that has it open
    bool open = false;

    void Deliver(Incoming m) {
        std::lock_guard lock(mutex);
        if (sink != nullptr)
            sink->Deliver(std::move(m));
    }

    // As a removed device's: the handle that has it open is told, and nothing more arrives.
    void Vanish() {
        std::lock_guard lock(mutex);
        if (sink != nullptr)
            sink->Fail(PortGone(name));
        sink = nullptr;
    }
};

struct VirtualOutputCore {
    std::string id;
    std::string name;
    std::atomic<unsigned> capsError{0};
    mutable std::mutex mutex;  // held while the handler runs
    VirtualOutputPort::Handler handler;
    FailureSink* sink = nullptr;  // the handle that has it open
    bool alive = true;
    bool open = false;
    unsigned refuseWith = 0;  // a send fails with this code, as a driver that refuses it

    PortFailure Call(const uint8_t* bytes, std::size_t length) {
        std::lock_guard lock(mutex);
        if (!alive)
            return PortGone(name);
        if (refuseWith != 0)
            return PortFailure{refuseWith, ""};
        if (handler)
            handler(bytes, length);
        return {};
    }
};

namespace {

// Every virtual port that exists, in the order they came.
struct Ports {
    static Ports& Get() {
        static Ports ports;
        return ports;
    }
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualInputCore>> inputs;
    std::vector<std::shared_ptr<VirtualOutputCore>> outputs;
    uint64_t next = 0;
};

template <typename Core>
std::vector<RealPort> List(const std::vector<std::shared_ptr<Core>>& cores) {
    std::vector<RealPort> ports;
    for (const auto& c : cores)
        ports.push_back(RealPort{c->id, c->name, c->capsError.load()});
    return ports;
}

template <typename Core>
std::shared_ptr<Core> Find(const std::vector<std::shared_ptr<Core>>& cores, const std::string& id) {
    for (const auto& c : cores) {
        if (c->id == id)
            return c;
    }
    return nullptr;
}

// Puts a new port's core in its list, under an identifier of its own, and tells the watches.
template <typename Core>
void Add(std::vector<std::shared_ptr<Core>> Ports::*list, const char* prefix,
         const std::shared_ptr<Core>& core) {
    {
        auto& p = Ports::Get();
        std::lock_guard lock(p.mutex);
        core->id = prefix + std::to_string(p.next++);
        (p.*list).push_back(core);
    }
    DeviceChangeWatch::PokeAll();
}

// Takes a port's core out of its list; false when it was gone already.
template <typename Core>
bool Take(std::vector<std::shared_ptr<Core>> Ports::*list, const std::shared_ptr<Core>& core) {
    auto& p = Ports::Get();
    std::lock_guard lock(p.mutex);
    return std::erase(p.*list, core) != 0;
}

class VirtualInput final : public RealInput {
  public:
    explicit VirtualInput(std::shared_ptr<VirtualInputCore> core) : core_(std::move(core)) {}
    ~VirtualInput() override {
        std::lock_guard lock(core_->mutex);  // no delivery after this returns
        core_->sink = nullptr;
        core_->open = false;
    }

  private:
    std::shared_ptr<VirtualInputCore> core_;
};

class VirtualOutput final : public RealOutput {
  public:
    explicit VirtualOutput(std::shared_ptr<VirtualOutputCore> core) : core_(std::move(core)) {}
    ~VirtualOutput() override {
        std::lock_guard lock(core_->mutex);  // no failure is told after this returns
        core_->sink = nullptr;
        core_->open = false;
    }
    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        return core_->Call(bytes, length);
    }

  private:
    std::shared_ptr<VirtualOutputCore> core_;
};

}  // namespace

namespace virtual_ports {

std::vector<RealPort> Inputs() {
    auto& p = Ports::Get();
    std::lock_guard lock(p.mutex);
    return List(p.inputs);
}

std::vector<RealPort> Outputs() {
    auto& p = Ports::Get();
    std::lock_guard lock(p.mutex);
    return List(p.outputs);
}

unsigned OpenInput(const std::string& id, InputSink& sink, std::unique_ptr<RealInput>& out) {
    std::shared_ptr<VirtualInputCore> core;
    {
        auto& p = Ports::Get();
        std::lock_guard lock(p.mutex);
        core = Find(p.inputs, id);
    }
    if (!core)
        return mm::MMSYSERR_BADDEVICEID;  // it went meanwhile
    std::lock_guard lock(core->mutex);
    if (core->open)
        return mm::MMSYSERR_ALLOCATED;
    core->open = true;
    core->sink = &sink;
    out = std::make_unique<VirtualInput>(core);
    return mm::MMSYSERR_NOERROR;
}

unsigned OpenOutput(const std::string& id, FailureSink& sink, std::unique_ptr<RealOutput>& out) {
    std::shared_ptr<VirtualOutputCore> core;
    {
        auto& p = Ports::Get();
        std::lock_guard lock(p.mutex);
        core = Find(p.outputs, id);
    }
    if (!core)
        return mm::MMSYSERR_BADDEVICEID;
    std::lock_guard lock(core->mutex);
    if (core->open)
        return mm::MMSYSERR_ALLOCATED;
    core->open = true;
    core->sink = &sink;
    out = std::make_unique<VirtualOutput>(core);
    return mm::MMSYSERR_NOERROR;
}

}  // namespace virtual_ports

}  // namespace detail

using detail::Incoming;

VirtualInputPort::VirtualInputPort(std::string name)
    : core_(std::make_shared<detail::VirtualInputCore>()) {
    core_->name = std::move(name);
    detail::Add(&detail::Ports::inputs, "in", core_);
}

VirtualInputPort::~VirtualInputPort() {
    Remove();
}

void VirtualInputPort::Remove() {
    if (!detail::Take(&detail::Ports::inputs, core_))
        return;  // already gone
    core_->Vanish();
    DeviceChangeWatch::PokeAll();
}

void VirtualInputPort::SendSysEx(const uint8_t* bytes, std::size_t length) {
    core_->Deliver(Incoming{Incoming::Kind::SysEx, std::vector<uint8_t>(bytes, bytes + length), 0});
}

void VirtualInputPort::SendBrokenSysEx(const uint8_t* bytes, std::size_t length) {
    core_->Deliver(
        Incoming{Incoming::Kind::BrokenSysEx, std::vector<uint8_t>(bytes, bytes + length), 0});
}

void VirtualInputPort::SendShort(uint32_t message) {
    core_->Deliver(Incoming{Incoming::Kind::Short, {}, message});
}

void VirtualInputPort::SendInvalidShort(uint32_t message) {
    core_->Deliver(Incoming{Incoming::Kind::InvalidShort, {}, message});
}

bool VirtualInputPort::IsOpen() const {
    std::lock_guard lock(core_->mutex);
    return core_->open;
}

const std::string& VirtualInputPort::Name() const {
    return core_->name;
}

void VirtualInputPort::FailCapabilityQueries(unsigned code) {
    core_->capsError = code;
}

VirtualOutputPort::VirtualOutputPort(std::string name, Handler handler)
    : core_(std::make_shared<detail::VirtualOutputCore>()) {
    core_->name = std::move(name);
    core_->handler = std::move(handler);
    detail::Add(&detail::Ports::outputs, "out", core_);
}

VirtualOutputPort::~VirtualOutputPort() {
    Remove();
}

void VirtualOutputPort::Remove() {
    if (!detail::Take(&detail::Ports::outputs, core_))
        return;
    {
        std::lock_guard lock(core_->mutex);  // waits for a handler call in progress
        core_->alive = false;
        core_->handler = nullptr;
        if (core_->sink != nullptr)
            core_->sink->Fail(detail::PortGone(core_->name));  // as the input's, at once
        core_->sink = nullptr;
    }
    DeviceChangeWatch::PokeAll();
}

void VirtualOutputPort::RefuseSends(unsigned code) {
    std::lock_guard lock(core_->mutex);
    core_->refuseWith = code;
}

bool VirtualOutputPort::IsOpen() const {
    std::lock_guard lock(core_->mutex);
    return core_->open;
}

const std::string& VirtualOutputPort::Name() const {
    return core_->name;
}

void VirtualOutputPort::FailCapabilityQueries(unsigned code) {
    core_->capsError = code;
}

}  // namespace platform
