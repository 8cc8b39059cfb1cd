// Real MIDI ports in the browser, through Web MIDI. Only the page's main thread may touch
// navigator.requestMIDIAccess and its ports, and the program runs on workers: every call here
// runs its JavaScript on the main thread (webmidi.js, Module.vantroMidi) and waits for it; what
// the main thread hears (a message, a port that has gone, a change of the lists) comes back
// through the functions exported at the end.

#include <emscripten.h>
#include <emscripten/threading.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/ErrorTexts.h"
#include "platform/JoinedSysEx.h"
#include "platform/MidiApi.h"
#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform {

namespace detail {

namespace {

// A text the main thread handed over (made with _malloc), taken over and freed.
std::string Taken(int pointer) {
    if (pointer == 0)
        return "";
    char* text = reinterpret_cast<char*>(pointer);
    std::string taken(text);
    std::free(text);
    return taken;
}

// The open ports, by the handle the main thread knows them by.
struct Opened {
    std::string name;
    InputSink* input = nullptr;
    FailureSink* sink = nullptr;
};

class Registry {
  public:
    static Registry& Get() {
        static Registry registry;
        return registry;
    }
    int Add(Opened o) {
        std::lock_guard lock(mutex_);
        const int handle = next_++;
        opened_[handle] = std::move(o);
        return handle;
    }
    void Remove(int handle) {
        std::lock_guard lock(mutex_);
        opened_.erase(handle);
    }
    void Deliver(int handle, const uint8_t* bytes, std::size_t length) {
        std::lock_guard lock(mutex_);
        const auto it = opened_.find(handle);
        if (it != opened_.end() && it->second.input != nullptr)
            it->second.input->Deliver(Classify(bytes, length));
    }
    // The port has gone, or (why not empty) the browser refused what was sent on it.
    void Gone(int handle, const std::string& why = "") {
        std::lock_guard lock(mutex_);
        const auto it = opened_.find(handle);
        if (it != opened_.end() && it->second.sink != nullptr)
            it->second.sink->Fail(PortGone(it->second.name, why));
    }

  private:
    std::mutex mutex_;
    int next_ = 1;
    std::map<int, Opened> opened_;
};

// The ports of one kind (0: inputs, 1: outputs) as the browser lists them: "id\tname\n" each.
std::vector<RealPort> Ports(int kind) {
    const std::string text =
        Taken(MAIN_THREAD_EM_ASM_INT({ return Module.vantroMidi.portsText($0); }, kind));
    std::vector<RealPort> ports;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            ports.push_back(RealPort{line.substr(0, tab), line.substr(tab + 1), 0});
    }
    return ports;
}

std::string NameOf(int kind, const std::string& id) {
    for (const RealPort& p : Ports(kind)) {
        if (p.id == id)
            return p.name;
    }
    return "";
}

// Opens the port on the main thread; its words when it cannot be opened.
std::string OpenOnMainThread(int kind, int handle, const std::string& id) {
    return Taken(MAIN_THREAD_EM_ASM_INT(
        { return Module.vantroMidi.open($0, $1, UTF8ToString($2)); }, kind, handle, id.c_str()));
}

void CloseOnMainThread(int handle) {
    MAIN_THREAD_EM_ASM({ Module.vantroMidi.close($0); }, handle);
}

class WebInput final : public RealInput {
  public:
    explicit WebInput(int handle) : handle_(handle) {}
    ~WebInput() override {
        CloseOnMainThread(handle_);  // once it returns the main thread delivers no more
        Registry::Get().Remove(handle_);
    }

  private:
    const int handle_;
};

class WebOutput final : public RealOutput {
  public:
    WebOutput(int handle, std::string name) : handle_(handle), name_(std::move(name)) {}
    ~WebOutput() override {
        CloseOnMainThread(handle_);
        Registry::Get().Remove(handle_);
    }

    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        // Web MIDI's send takes whole messages only.
        // Handed over without waiting (the main thread frees the copy): a refusal comes back
        // as the port's failure, before anything sent later, and the reply wait ends on it.
        return pieces_.Send(bytes, length, [this](const uint8_t* b, std::size_t n) {
            auto* copy = static_cast<uint8_t*>(std::malloc(n));
            if (copy == nullptr)
                return PortFailure{MMSYSERR_NOMEM, ""};
            std::memcpy(copy, b, n);
            MAIN_THREAD_ASYNC_EM_ASM({ Module.vantroMidi.send($0, $1, $2); }, handle_, copy, n);
            return PortFailure{};
        });
    }

  private:
    const int handle_;
    const std::string name_;
    JoinedSysEx pieces_;
};

// Opens the port on the main thread, known from then on by handle; name is the port's.
unsigned Open(int kind, const std::string& id, Opened opened, int& handle, std::string& name) {
    name = NameOf(kind, id);
    if (name.empty())
        return MMSYSERR_BADDEVICEID;
    opened.name = name;
    handle = Registry::Get().Add(std::move(opened));
    const std::string refused = OpenOnMainThread(kind, handle, id);
    if (!refused.empty()) {
        Registry::Get().Remove(handle);
        return FailureCode(PortGone(name, refused));
    }
    return MMSYSERR_NOERROR;
}

}  // namespace

std::vector<RealPort> RealInputPorts() {
    return Ports(0);
}

std::vector<RealPort> RealOutputPorts() {
    return Ports(1);
}

unsigned OpenRealInput(const std::string& id, InputSink& sink, std::unique_ptr<RealInput>& out) {
    int handle = 0;
    std::string name;
    const unsigned r = Open(0, id, Opened{"", &sink, &sink}, handle, name);
    if (r == MMSYSERR_NOERROR)
        out = std::make_unique<WebInput>(handle);
    return r;
}

unsigned OpenRealOutput(const std::string& id, FailureSink& sink,
                        std::unique_ptr<RealOutput>& out) {
    int handle = 0;
    std::string name;
    const unsigned r = Open(1, id, Opened{"", nullptr, &sink}, handle, name);
    if (r == MMSYSERR_NOERROR)
        out = std::make_unique<WebOutput>(handle, name);
    return r;
}

bool SystemErrorText(unsigned, std::string&) {
    return false;  // the browser's words come with each failure
}

}  // namespace detail

std::string RealMidiApi() {
    return MAIN_THREAD_EM_ASM_INT({ return Module.vantroMidi.access ? 1 : 0; }) ? "webmidi" : "";
}

std::string MidiSystemReport() {
    if (RequestedMidiApi() == "none")
        return NoneAskedReport();
    if (!RealMidiApi().empty())
        return "Web MIDI";
    return "none (" +
           detail::Taken(MAIN_THREAD_EM_ASM_INT({ return Module.vantroMidi.problemText(); })) + ")";
}

}  // namespace platform

// Called by webmidi.js on the page's main thread.
extern "C" {

EMSCRIPTEN_KEEPALIVE void vantro_webmidi_received(int handle, const uint8_t* bytes, int length) {
    if (length > 0)
        platform::detail::Registry::Get().Deliver(handle, bytes, static_cast<std::size_t>(length));
}

EMSCRIPTEN_KEEPALIVE void vantro_webmidi_gone(int handle) {
    platform::detail::Registry::Get().Gone(handle);
}

EMSCRIPTEN_KEEPALIVE void vantro_webmidi_refused(int handle, const char* why) {
    platform::detail::Registry::Get().Gone(handle, why);
}

EMSCRIPTEN_KEEPALIVE void vantro_webmidi_changed() {
    platform::DeviceChangeWatch::PokeAll();
}
}
