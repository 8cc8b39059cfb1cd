// Real MIDI ports through RtMidi. On Linux: the ALSA sequencer when it opens, else a running
// JACK server; VANTRO_MIDI_API=alsa|jack forces one. On macOS: CoreMIDI. VANTRO_MIDI_API=none
// leaves only the in-process ports. Neither RtMidi nor the libraries under it may print
// anything: their error output is silenced and their errors become result codes.

#if defined(__linux__)
#include <jack/jack.h>

#include "platform/rtmidi/AlsaOutput.h"
#include "platform/rtmidi/JackInput.h"
#include "platform/rtmidi/JackOutput.h"
#endif
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/JoinedSysEx.h"
#include "platform/MidiApi.h"
#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"
#include "platform/rtmidi/PortWatch.h"
#include "platform/rtmidi/PublishedPortPair.h"
#include "platform/rtmidi/SystemProbe.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform {

namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

// Our own clients' ports are not offered as devices: opening a port must not add entries to
// the lists the user picks from.
constexpr const char* kOwnClientPrefix = "vantro-assistant";

struct ErrorRecord {
    std::mutex mutex;
    std::string text;
    bool failed = false;

    void Clear() {
        std::lock_guard lock(mutex);
        text.clear();
        failed = false;
    }
    bool Failed() {
        std::lock_guard lock(mutex);
        return failed;
    }
    std::string Text() {
        std::lock_guard lock(mutex);
        return text;
    }
};

void OnRtMidiError(RtMidiError::Type, const std::string& text, void* user) {
    auto* record = static_cast<ErrorRecord*>(user);
    std::lock_guard lock(record->mutex);
    record->text = text;
    record->failed = true;
}

class Backend {
  public:
    static Backend& Get() {
        static Backend backend;
        return backend;
    }

    // The chosen API, probing again at most once a second while none is found.
    RtMidi::Api Api() {
        std::lock_guard lock(mutex_);
        return ApiLocked();
    }

    std::vector<std::string> Names(bool inputs) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> names;
        if (ApiLocked() == RtMidi::UNSPECIFIED) {
            return names;
        }
        try {
            RtMidi& list = inputs ? static_cast<RtMidi&>(*listIn_) : *listOut_;
            const unsigned count = list.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = list.getPortName(i);
                if (!name.empty() && name.rfind(kOwnClientPrefix, 0) != 0) {
                    names.push_back(std::move(name));
                }
            }
        } catch (const std::exception&) {
            names.clear();
        }
        return names;
    }

  private:
    RtMidi::Api ApiLocked() {
        if (api_ != RtMidi::UNSPECIFIED) {
            return api_;
        }
        const auto now = Clock::now();
        if (probed_ && now - lastProbe_ < std::chrono::seconds(1)) {
            return api_;
        }
        probed_ = true;
        lastProbe_ = now;

        const std::string want = RequestedMidiApi();
        if (want == "none") {
            return api_;  // only the in-process ports
        }
        const RtMidi::Api chosen = ChooseApi(want);
        if (chosen == RtMidi::UNSPECIFIED) {
            return api_;
        }
        try {
            auto in = std::make_unique<RtMidiIn>(chosen, "vantro-assistant-list");
            in->setErrorCallback(&OnRtMidiError, &listErrors_);
            auto out = std::make_unique<RtMidiOut>(chosen, "vantro-assistant-list");
            out->setErrorCallback(&OnRtMidiError, &listErrors_);
            listIn_ = std::move(in);
            listOut_ = std::move(out);
            api_ = chosen;
        } catch (const std::exception&) {
            listIn_.reset();
            listOut_.reset();
        }
        return api_;
    }

    std::mutex mutex_;
    RtMidi::Api api_ = RtMidi::UNSPECIFIED;
    bool probed_ = false;
    Clock::time_point lastProbe_;
    ErrorRecord listErrors_;
    std::unique_ptr<RtMidiIn> listIn_;
    std::unique_ptr<RtMidiOut> listOut_;
};

}  // namespace

std::vector<std::string> SystemPortNames(bool inputs) {
    return Backend::Get().Names(inputs);
}

namespace {

template <typename Port>
int FindPort(Port& port, const std::string& name) {
    const unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (port.getPortName(i) == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

class RtInput final : public RealInput {
  public:
    using Rt = RtMidiIn;
    explicit RtInput(InputSink& sink) : sink_(sink) {}
    ~RtInput() override {
        watch.reset();  // no failure is told after this
        if (rt) {
            rt->cancelCallback();
            rt->closePort();
            rt.reset();  // ends RtMidi's thread: nothing is delivered after this
        }
    }

    void Watch(const std::string& name) {
        watch = std::make_unique<PortWatch>(
            name, true, [this](PortFailure why) { sink_.Fail(std::move(why)); });
    }

    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        if (message == nullptr || message->empty()) {
            return;
        }
        auto* self = static_cast<RtInput*>(user);
        self->sink_.Deliver(Classify(message->data(), message->size()));
    }

    std::unique_ptr<RtMidiIn> rt;
    ErrorRecord errors;
    std::unique_ptr<PortWatch> watch;

  private:
    InputSink& sink_;
};

class RtOutput final : public RealOutput {
  public:
    using Rt = RtMidiOut;
    // sink: whom a watched port tells that it has gone (none for a port we publish).
    explicit RtOutput(FailureSink* sink = nullptr) : sink_(sink) {}
    ~RtOutput() override {
        watch.reset();  // no failure is told after this
        if (rt) {
            rt->closePort();
        }
    }

    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        if (watch && watch->Gone()) {
            return PortGone(name);
        }
        // RtMidi sends whole messages only (on CoreMIDI, and on the ALSA ports we publish).
        return pieces_.Send(bytes, length,
                            [this](const uint8_t* b, std::size_t n) { return SendWhole(b, n); });
    }

    PortFailure SendWhole(const uint8_t* bytes, std::size_t length) {
        errors.Clear();
        std::string why;
        try {
            rt->sendMessage(bytes, length);
        } catch (const std::exception& e) {
            why = e.what();
        }
        if (why.empty() && errors.Failed()) {
            why = errors.Text();
        }
        return why.empty() ? PortFailure{} : PortGone(name, why);
    }

    void Watch(const std::string& portName) {
        name = portName;
        watch = std::make_unique<PortWatch>(portName, false, [this](PortFailure why) {
            if (sink_ != nullptr)
                sink_->Fail(std::move(why));
        });
    }

    std::unique_ptr<RtMidiOut> rt;
    ErrorRecord errors;
    std::string name;
    std::unique_ptr<PortWatch> watch;

  private:
    FailureSink* const sink_;
    JoinedSysEx pieces_;
};

// Runs an open and turns what it throws into a winmm code: no memory, or otherwise.
template <typename Open>
MMRESULT Guarded(MMRESULT otherwise, Open open) {
    try {
        return open();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (const std::exception&) {
        return otherwise;
    }
}

// Opens the named port on a client of our own; configure runs before the port opens.
template <typename Port, typename Result, typename Make, typename Configure>
MMRESULT OpenOwnPort(const std::string& name, const char* client, const char* portName, Make make,
                     Configure configure, std::unique_ptr<Result>& out) {
    const RtMidi::Api api = Backend::Get().Api();
    if (api == RtMidi::UNSPECIFIED) {
        return MIDIERR_NODEVICE;
    }
    return Guarded(MMSYSERR_ERROR, [&]() -> MMRESULT {
        std::unique_ptr<Port> port = make();
        port->rt = std::make_unique<typename Port::Rt>(api, client);
        port->rt->setErrorCallback(&OnRtMidiError, &port->errors);
        const int index = FindPort(*port->rt, name);
        if (index < 0) {
            return MMSYSERR_BADDEVICEID;
        }
        configure(*port);
        port->rt->openPort(static_cast<unsigned>(index), portName);
        if (port->errors.Failed() || !port->rt->isPortOpen()) {
            return MIDIERR_NODEVICE;
        }
        port->Watch(name);
        out = std::move(port);
        return MMSYSERR_NOERROR;
    });
}

}  // namespace

namespace {

// RtMidi's port names are unique on ALSA (they carry the client and port numbers) and on
// JACK: the name is the identifier as well.
std::vector<RealPort> PortsNamed(std::vector<std::string> names) {
    std::vector<RealPort> ports;
    for (auto& n : names)
        ports.push_back(RealPort{n, n, 0});
    return ports;
}

}  // namespace

std::vector<RealPort> RealInputPorts() {
    return PortsNamed(Backend::Get().Names(true));
}

std::vector<RealPort> RealOutputPorts() {
    return PortsNamed(Backend::Get().Names(false));
}

unsigned OpenRealInput(const std::string& name, InputSink& sink, std::unique_ptr<RealInput>& out) {
    return OpenOwnPort<RtInput>(
        name, "vantro-assistant-in", "in", [&] { return std::make_unique<RtInput>(sink); },
        [](RtInput& port) {
            port.rt->ignoreTypes(false, true, true);  // SysEx in, timing and active sensing out
            port.rt->setCallback(&RtInput::OnMessage, &port);
        },
        out);
}

bool SystemErrorText(unsigned, std::string&) {
    return false;  // our own table speaks for ALSA and JACK
}

unsigned OpenRealOutput(const std::string& name, FailureSink& sink,
                        std::unique_ptr<RealOutput>& out) {
#if defined(__linux__)
    const RtMidi::Api api = Backend::Get().Api();
    if (api == RtMidi::UNIX_JACK || api == RtMidi::LINUX_ALSA) {
        const auto names = Backend::Get().Names(false);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            return MMSYSERR_BADDEVICEID;
        }
        return Guarded(MIDIERR_NODEVICE, [&]() -> MMRESULT {
            if (api == RtMidi::LINUX_ALSA) {
                auto port = std::make_unique<AlsaOutput>(name);
                port->Watch(std::make_unique<PortWatch>(
                    name, false, [&sink](PortFailure why) { sink.Fail(std::move(why)); }));
                out = std::move(port);
                return MMSYSERR_NOERROR;
            }
            auto port = std::make_unique<ConnectedJackOutput>(name, sink);
            if (!port->Connect()) {
                return MIDIERR_NODEVICE;
            }
            out = std::move(port);
            return MMSYSERR_NOERROR;
        });
    }
#endif
    return OpenOwnPort<RtOutput>(
        name, "vantro-assistant-out", "out", [&sink] { return std::make_unique<RtOutput>(&sink); },
        [](RtOutput&) {}, out);
}

}  // namespace detail

namespace {

// Each API RtMidi may carry the ports on: as VANTRO_MIDI_API names it, and for a person.
struct ApiName {
    RtMidi::Api api;
    const char* id;
    const char* shown;
};
constexpr ApiName kApiNames[] = {{RtMidi::LINUX_ALSA, "alsa", "ALSA sequencer"},
                                 {RtMidi::UNIX_JACK, "jack", "JACK"},
                                 {RtMidi::MACOSX_CORE, "coremidi", "CoreMIDI"}};

const ApiName* ChosenApiName() {
    const RtMidi::Api api = detail::Backend::Get().Api();
    for (const ApiName& n : kApiNames) {
        if (n.api == api)
            return &n;
    }
    return nullptr;
}

}  // namespace

std::string RealMidiApi() {
    const ApiName* chosen = ChosenApiName();
    return chosen != nullptr ? chosen->id : "";
}

std::string MidiSystemReport() {
    if (RequestedMidiApi() == "none")
        return NoneAskedReport();
    if (const ApiName* chosen = ChosenApiName())
        return chosen->shown;
#if defined(__linux__)
    const std::string want = RequestedMidiApi();
    std::string why;
    if (want != "jack")
        why = "ALSA sequencer: " + detail::AlsaProblem();
    if (want != "alsa")
        why += (why.empty() ? "" : "; ") + std::string("JACK: ") + detail::JackProblem();
    return "none (" + why + ")";
#else
    return "none (no MIDI system of this kind is known here)";
#endif
}

struct PublishedPortPair::Impl {
    Handler handler;
    detail::ErrorRecord errors;
    std::unique_ptr<RtMidiIn> in;
#if defined(__linux__)
    std::unique_ptr<detail::JackInput> jackIn;
#endif
    std::unique_ptr<detail::RealOutput> out;

    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (message != nullptr && !message->empty() && self->handler) {
            self->handler(message->data(), message->size(), std::chrono::steady_clock::now());
        }
    }
};

PublishedPortPair::PublishedPortPair(const std::string& name, Handler onMessage)
    : impl_(std::make_unique<Impl>()) {
    const RtMidi::Api api = detail::Backend::Get().Api();
    if (api == RtMidi::UNSPECIFIED) {
        throw std::runtime_error(
            "no MIDI system to publish ports on: the ALSA sequencer does not open and no JACK "
            "server runs");
    }
    impl_->handler = std::move(onMessage);
    try {
#if defined(__linux__)
        if (api == RtMidi::UNIX_JACK) {
            impl_->jackIn = std::make_unique<detail::JackInput>(name, "in", impl_->handler);
            impl_->out = std::make_unique<detail::JackOutput>(name, "out", false);
        }
#endif
        if (!impl_->out) {
            impl_->in = std::make_unique<RtMidiIn>(api, name, 1024);
            impl_->in->setErrorCallback(&detail::OnRtMidiError, &impl_->errors);
            impl_->in->ignoreTypes(false, true, true);
            impl_->in->setCallback(&Impl::OnMessage, impl_.get());
            impl_->in->openVirtualPort("in");
            auto out = std::make_unique<detail::RtOutput>();
            out->rt = std::make_unique<RtMidiOut>(api, name);
            out->rt->setErrorCallback(&detail::OnRtMidiError, &impl_->errors);
            out->rt->openVirtualPort("out");
            impl_->out = std::move(out);
        }
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("cannot publish MIDI ports: ") + e.what());
    }
    if (impl_->errors.Failed()) {
        throw std::runtime_error("cannot publish MIDI ports: " + impl_->errors.Text());
    }
}

PublishedPortPair::~PublishedPortPair() {
    Close();
}

void PublishedPortPair::Close() {
    if (impl_->in) {
        impl_->in->cancelCallback();
        impl_->in->closePort();
    }
    impl_->in.reset();
#if defined(__linux__)
    impl_->jackIn.reset();
#endif
    impl_->out.reset();
}

void PublishedPortPair::Send(const uint8_t* bytes, std::size_t length) {
    if (impl_->out) {
        impl_->out->Send(bytes, length);  // as on a cable: nobody hears a unit that is not heard
    }
}

}  // namespace platform
