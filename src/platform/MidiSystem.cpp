// The winmm-shaped functions (namespace mm), served by our own MIDI system: the device lists
// are the system backend's ports (rtmidi/ or winmm/), then the in-process virtual ports
// (virtual/), all behind the contract of RealBackend.h. Every open handle has a thread of its
// own that makes the callbacks, so they never run on the caller's thread, and closing a
// handle joins that thread: no callback comes after the close has returned.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/DeviceChange.h"
#include "platform/RealBackend.h"
#include "platform/winmm.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace platform {

namespace detail {

PortFailure PortGone(const std::string& portName, const std::string& why) {
    std::string text = "The MIDI port \"" + portName + "\" is gone: ";
    text += why.empty() ? "it was unplugged, or its MIDI system stopped." : why;
    return PortFailure{MIDIERR_NODEVICE, text};
}

}  // namespace detail

namespace {

// Failures in our own words get a code of their own for their text, as the system's codes
// have theirs; the newest few are kept.
class FailureTexts {
  public:
    static FailureTexts& Get() {
        static FailureTexts texts;
        return texts;
    }

    MMRESULT CodeFor(const detail::PortFailure& f) {
        if (f.text.empty()) {
            return f.code;
        }
        std::lock_guard lock(mutex_);
        const MMRESULT code = next_++;
        if (next_ > kLast) {
            next_ = kFirst;
        }
        texts_[code] = f.text;
        return code;
    }

    bool Text(MMRESULT code, std::string& text) {
        std::lock_guard lock(mutex_);
        auto it = texts_.find(code);
        if (it == texts_.end()) {
            return false;
        }
        text = it->second;
        return true;
    }

  private:
    static constexpr MMRESULT kFirst = 0x1000;
    static constexpr MMRESULT kLast = kFirst + 63;
    std::mutex mutex_;
    std::map<MMRESULT, std::string> texts_;
    MMRESULT next_ = kFirst;
};

using detail::Incoming;
using detail::InputSink;
using Clock = std::chrono::steady_clock;

// Longest a close or reset waits for the handle's thread to finish what it was given.
constexpr auto kDrainBound = std::chrono::seconds(5);

void SetFlags(MIDIHDR* h, DWORD set, DWORD clear) {
    std::atomic_ref<DWORD> flags(h->dwFlags);
    DWORD old = flags.load();
    while (!flags.compare_exchange_weak(old, (old | set) & ~clear)) {
    }
}

DWORD Flags(MIDIHDR* h) {
    return std::atomic_ref<DWORD>(h->dwFlags).load();
}

// Counts barriers posted to a handle's thread and the ones it has passed.
class Barriers {
  public:
    uint64_t Post() { return ++posted_; }
    void Pass(uint64_t n, std::mutex& m, std::condition_variable& cv) {
        {
            std::lock_guard lock(m);
            passed_ = n;
        }
        cv.notify_all();
    }
    // Called with lock held on m.
    void Wait(uint64_t n, std::unique_lock<std::mutex>& lock, std::condition_variable& cv) {
        cv.wait_for(lock, kDrainBound, [&] { return passed_ >= n; });
    }

  private:
    uint64_t posted_ = 0;
    uint64_t passed_ = 0;
};

// ---- input handles ------------------------------------------------------------------------

class InHandle final : public InputSink {
  public:
    InHandle(uintptr_t id, MidiInProc callback, DWORD_PTR instance)
        : id_(id), callback_(callback), instance_(instance) {}

    ~InHandle() { StopThread(); }

    void StartThread() {
        thread_ = std::thread([this] { Run(); });
        Post(Event{Event::Kind::Callback, {}, {}, MIM_OPEN, 0, 0});
    }

    void StopThread() {
        if (!thread_.joinable()) {
            return;
        }
        Post(Event{Event::Kind::Close, {}, {}, 0, 0, 0});
        thread_.join();
    }

    // What arrives while input is not started is lost, as on a wire.
    void Deliver(Incoming message) override {
        {
            std::lock_guard lock(mutex_);
            if (!started_ || failure_ != 0) {
                return;
            }
            events_.push_back(Event{Event::Kind::Message, std::move(message), {}, 0, 0, 0});
        }
        wake_.notify_all();
    }

    void Fail(detail::PortFailure failure) override {
        const MMRESULT code = FailureTexts::Get().CodeFor(failure);
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0) {
                return;
            }
            failure_ = code;
            events_.push_back(Event{Event::Kind::Callback, {}, {}, MIM_DEVICEFAILED, code, 0});
        }
        wake_.notify_all();
    }

    MMRESULT AddBuffer(MIDIHDR* h) {
        std::lock_guard lock(mutex_);
        if (failure_ != 0)
            return failure_;
        if (!(Flags(h) & MHDR_PREPARED))
            return MIDIERR_UNPREPARED;
        if (Flags(h) & MHDR_INQUEUE)
            return MIDIERR_STILLPLAYING;
        if (h->lpData == nullptr || h->dwBufferLength == 0)
            return MMSYSERR_INVALPARAM;
        h->dwBytesRecorded = 0;
        SetFlags(h, MHDR_INQUEUE, MHDR_DONE);
        buffers_.push_back(h);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() {
        std::lock_guard lock(mutex_);
        if (failure_ != 0)
            return failure_;
        if (!started_) {
            started_ = true;
            startTime_ = Clock::now();
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() {
        std::lock_guard lock(mutex_);
        started_ = false;
        return MMSYSERR_NOERROR;
    }

    // Stops input and hands back every queued buffer, marked done. Returns once the thread
    // has made those callbacks, so the caller may free the headers right away.
    MMRESULT Reset() {
        std::unique_lock lock(mutex_);
        started_ = false;
        std::vector<MIDIHDR*> returned(buffers_.begin(), buffers_.end());
        buffers_.clear();
        if (returned.empty() && events_.empty() && !busy_) {
            return MMSYSERR_NOERROR;  // no callback is made or due: nothing to wait for
        }
        for (auto* h : returned) {
            SetFlags(h, MHDR_DONE, MHDR_INQUEUE);
        }
        events_.push_back(Event{Event::Kind::Returned, {}, std::move(returned), 0, 0, 0});
        const uint64_t n = barriers_.Post();
        events_.push_back(Event{Event::Kind::Barrier, {}, {}, 0, n, 0});
        wake_.notify_all();
        if (std::this_thread::get_id() != thread_.get_id()) {
            barriers_.Wait(n, lock, wake_);
        }
        return MMSYSERR_NOERROR;
    }

    bool HasBuffers() {
        std::lock_guard lock(mutex_);
        return !buffers_.empty();
    }

    uintptr_t Id() const { return id_; }

    // The source that feeds this handle; dropped before the handle goes.
    std::unique_ptr<detail::RealInput> real;
    std::string realId;

  private:
    struct Event {
        enum class Kind { Message, Returned, Callback, Barrier, Close };
        Kind kind;
        Incoming message;
        std::vector<MIDIHDR*> headers;
        UINT msg;
        uint64_t param1;
        DWORD_PTR param2;
    };

    void Post(Event e) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        wake_.notify_all();
    }

    void Call(UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
        if (callback_ != nullptr) {
            callback_(reinterpret_cast<HMIDIIN>(id_), msg, instance_, p1, p2);
        }
    }

    DWORD Stamp() const {
        return static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startTime_)
                .count());
    }

    void Run() {
        for (;;) {
            Event e;
            {
                std::unique_lock lock(mutex_);
                busy_ = false;
                wake_.wait(lock, [this] { return !events_.empty(); });
                e = std::move(events_.front());
                events_.pop_front();
                busy_ = true;
            }
            switch (e.kind) {
                case Event::Kind::Message:
                    Receive(e.message);
                    break;
                case Event::Kind::Returned:
                    for (auto* h : e.headers) {
                        Call(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(h), 0);
                    }
                    break;
                case Event::Kind::Callback:
                    Call(e.msg, static_cast<DWORD_PTR>(e.param1), 0);
                    break;
                case Event::Kind::Barrier:
                    barriers_.Pass(e.param1, mutex_, wake_);
                    break;
                case Event::Kind::Close:
                    Call(MIM_CLOSE, 0, 0);
                    return;
            }
        }
    }

    // Fills queued buffers one at a time, making each callback before the next buffer is
    // filled: every buffer may point at the same data area.
    void Receive(const Incoming& m) {
        const bool sysex = m.kind == Incoming::Kind::SysEx || m.kind == Incoming::Kind::BrokenSysEx;
        if (!sysex) {
            DWORD stamp;
            {
                std::lock_guard lock(mutex_);
                if (!started_)
                    return;
                stamp = Stamp();
            }
            Call(m.kind == Incoming::Kind::Short ? MIM_DATA : MIM_ERROR, m.word, stamp);
            return;
        }
        std::size_t offset = 0;
        while (offset < m.bytes.size()) {
            MIDIHDR* h = nullptr;
            DWORD stamp = 0;
            {
                std::lock_guard lock(mutex_);
                if (!started_ || buffers_.empty())
                    return;  // the rest is lost, as on a wire
                h = buffers_.front();
                buffers_.pop_front();
                const std::size_t take =
                    std::min<std::size_t>(m.bytes.size() - offset, h->dwBufferLength);
                std::memcpy(h->lpData, m.bytes.data() + offset, take);
                h->dwBytesRecorded = static_cast<DWORD>(take);
                offset += take;
                SetFlags(h, MHDR_DONE, MHDR_INQUEUE);
                stamp = Stamp();
            }
            const bool last = offset >= m.bytes.size();
            const bool broken = last && m.kind == Incoming::Kind::BrokenSysEx;
            Call(broken ? MIM_LONGERROR : MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(h), stamp);
        }
    }

    const uintptr_t id_;
    const MidiInProc callback_;
    const DWORD_PTR instance_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    std::deque<MIDIHDR*> buffers_;
    bool started_ = false;
    bool busy_ = false;  // the thread is handling an event: a callback may be under way
    MMRESULT failure_ = MMSYSERR_NOERROR;
    Clock::time_point startTime_ = Clock::now();
    Barriers barriers_;
    std::thread thread_;
};

// ---- output handles -----------------------------------------------------------------------

class OutHandle {
  public:
    OutHandle(uintptr_t id, MidiOutProc callback, DWORD_PTR instance)
        : id_(id), callback_(callback), instance_(instance) {}

    ~OutHandle() { StopThread(); }

    void StartThread() {
        thread_ = std::thread([this] { Run(); });
        Post(Event{Event::Kind::Callback, nullptr, MOM_OPEN, 0});
    }

    void StopThread() {
        if (!thread_.joinable()) {
            return;
        }
        Post(Event{Event::Kind::Close, nullptr, 0, 0});
        thread_.join();
    }

    MMRESULT LongMsg(MIDIHDR* h) {
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0)
                return failure_;
            if (!(Flags(h) & MHDR_PREPARED))
                return MIDIERR_UNPREPARED;
            if (Flags(h) & MHDR_INQUEUE)
                return MIDIERR_STILLPLAYING;
            if (h->lpData == nullptr || h->dwBufferLength == 0)
                return MMSYSERR_INVALPARAM;
            SetFlags(h, MHDR_INQUEUE, MHDR_DONE);
            ++pending_;
            events_.push_back(Event{Event::Kind::Send, h, 0, 0});
        }
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Hands back every message not yet sent, marked done; returns once the thread has made
    // their callbacks and finished the one it was sending.
    MMRESULT Reset() {
        std::unique_lock lock(mutex_);
        ReturnQueued();
        const uint64_t n = barriers_.Post();
        events_.push_back(Event{Event::Kind::Barrier, nullptr, 0, n});
        wake_.notify_all();
        if (std::this_thread::get_id() != thread_.get_id()) {
            barriers_.Wait(n, lock, wake_);
        }
        return MMSYSERR_NOERROR;
    }

    bool Busy() {
        std::lock_guard lock(mutex_);
        return pending_ > 0;
    }

    uintptr_t Id() const { return id_; }

    std::unique_ptr<detail::RealOutput> real;
    std::string realId;

  private:
    struct Event {
        enum class Kind { Send, Returned, Callback, Barrier, Close };
        Kind kind;
        MIDIHDR* header;
        UINT msg;
        uint64_t barrier;
    };

    void Post(Event e) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(e);
        }
        wake_.notify_all();
    }

    void Call(UINT msg, DWORD_PTR p1) {
        if (callback_ != nullptr) {
            callback_(reinterpret_cast<HMIDIOUT>(id_), msg, instance_, p1, 0);
        }
    }

    void Run() {
        for (;;) {
            Event e;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !events_.empty(); });
                e = events_.front();
                events_.pop_front();
            }
            switch (e.kind) {
                case Event::Kind::Send:
                    Send(e.header);
                    break;
                case Event::Kind::Returned:
                    Call(MOM_DONE, reinterpret_cast<DWORD_PTR>(e.header));
                    break;
                case Event::Kind::Callback:
                    Call(e.msg, 0);
                    break;
                case Event::Kind::Barrier:
                    barriers_.Pass(e.barrier, mutex_, wake_);
                    break;
                case Event::Kind::Close:
                    Call(MOM_CLOSE, 0);
                    return;
            }
        }
    }

    // A message the system refuses fails the device: it and everything queued behind it are
    // handed back unsent, and the failure is told right after.
    void Send(MIDIHDR* h) {
        detail::PortFailure failure;
        if (real) {
            failure = real->Send(reinterpret_cast<const uint8_t*>(h->lpData), h->dwBufferLength);
        }
        MMRESULT code = 0;
        if (failure) {
            code = FailureTexts::Get().CodeFor(failure);
        }
        {
            std::lock_guard lock(mutex_);
            SetFlags(h, MHDR_DONE, MHDR_INQUEUE);
            --pending_;
            if (code != 0) {
                failure_ = code;
                ReturnQueued();
            }
        }
        Call(MOM_DONE, reinterpret_cast<DWORD_PTR>(h));
        if (code != 0) {
            Call(MOM_DEVICEFAILED, code);
        }
    }

    // With mutex_ held: every message not yet sent goes back, marked done.
    void ReturnQueued() {
        for (auto& e : events_) {
            if (e.kind == Event::Kind::Send) {
                e.kind = Event::Kind::Returned;
                SetFlags(e.header, MHDR_DONE, MHDR_INQUEUE);
                --pending_;
            }
        }
    }

    const uintptr_t id_;
    const MidiOutProc callback_;
    const DWORD_PTR instance_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    int pending_ = 0;
    MMRESULT failure_ = MMSYSERR_NOERROR;
    Barriers barriers_;
    std::thread thread_;
};

// ---- the registry of ports and handles ------------------------------------------------------

// A port of the lists: the system's first, then the in-process ones.
struct Device {
    detail::RealPort port;
    bool isVirtual;
};
using InputDevice = Device;
using OutputDevice = Device;

class Registry {
  public:
    static Registry& Get() {
        static Registry registry;
        return registry;
    }

    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<InHandle>> inputs;
    std::map<uintptr_t, std::shared_ptr<OutHandle>> outputs;
    std::set<std::string> openRealInputs;
    std::set<std::string> openRealOutputs;
    uintptr_t nextId = 1;

    std::vector<InputDevice> InputDevices() {
        std::vector<InputDevice> devices;
        for (auto& p : detail::RealInputPorts())
            devices.push_back(Device{std::move(p), false});
        for (auto& p : detail::virtual_ports::Inputs())
            devices.push_back(Device{std::move(p), true});
        return devices;
    }

    std::vector<OutputDevice> OutputDevices() {
        std::vector<OutputDevice> devices;
        for (auto& p : detail::RealOutputPorts())
            devices.push_back(Device{std::move(p), false});
        for (auto& p : detail::virtual_ports::Outputs())
            devices.push_back(Device{std::move(p), true});
        return devices;
    }

    std::shared_ptr<InHandle> FindInput(HMIDIIN h) {
        std::lock_guard lock(mutex);
        auto it = inputs.find(reinterpret_cast<uintptr_t>(h));
        return it == inputs.end() ? nullptr : it->second;
    }

    std::shared_ptr<OutHandle> FindOutput(HMIDIOUT h) {
        std::lock_guard lock(mutex);
        auto it = outputs.find(reinterpret_cast<uintptr_t>(h));
        return it == outputs.end() ? nullptr : it->second;
    }
};

std::string NameOf(const Device& d) {
    return d.port.name;
}

MMRESULT CapsErrorOf(const Device& d) {
    return d.port.capsError;
}

void FillName(CHAR (&target)[MAXPNAMELEN], const std::string& name) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
}

struct ErrorText {
    MMRESULT code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {MMSYSERR_NOERROR, "The specified command was carried out."},
    {MMSYSERR_ERROR, "Undefined external error."},
    {MMSYSERR_BADDEVICEID, "A device ID has been used that is out of range for your system."},
    {MMSYSERR_NOTENABLED, "The driver was not enabled."},
    {MMSYSERR_ALLOCATED,
     "The specified device is already in use. Wait until it is free, and then try again."},
    {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
    {MMSYSERR_NODRIVER, "There is no driver installed on your system."},
    {MMSYSERR_NOMEM,
     "There is not enough memory available for this task. Quit one or more applications to "
     "increase available memory, and then try again."},
    {MMSYSERR_NOTSUPPORTED, "This function is not supported by the MIDI system."},
    {MMSYSERR_BADERRNUM, "An error number was specified that is not defined in the system."},
    {MMSYSERR_INVALFLAG, "An invalid flag was passed to a system function."},
    {MMSYSERR_INVALPARAM, "An invalid parameter was passed to a system function."},
    {MIDIERR_UNPREPARED, "The header was not prepared before it was handed to the MIDI system."},
    {MIDIERR_STILLPLAYING,
     "The buffers are still in the queue. Wait until the MIDI system has returned them, or "
     "reset the port first."},
    {MIDIERR_NOMAP, "A MIDI map was not found."},
    {MIDIERR_NOTREADY,
     "The port is transmitting data to the device. Wait until the data has been transmitted, "
     "and then try again."},
    {MIDIERR_NODEVICE,
     "The MIDI device is no longer present. It may have been unplugged, or its MIDI system may "
     "have stopped."},
    {MIDIERR_INVALIDSETUP,
     "The MIDI setup refers to a device that is not present on this machine. Check the "
     "configuration of the MIDI system (ALSA sequencer or JACK) and the cables, and then try "
     "again."},
    {MIDIERR_BADOPENMODE, "The operation is not possible in the mode the port was opened in."},
    {MIDIERR_DONT_CONTINUE, "The driver was told not to go on with this buffer."},
};

MMRESULT GetErrorText(MMRESULT code, LPSTR text, UINT size) {
    if (text == nullptr || size == 0) {
        return MMSYSERR_INVALPARAM;
    }
    if (std::string own;
        FailureTexts::Get().Text(code, own) || detail::SystemErrorText(code, own)) {
        const std::size_t n = std::min<std::size_t>(own.size(), size - 1);
        std::memcpy(text, own.data(), n);
        text[n] = '\0';
        return MMSYSERR_NOERROR;
    }
    for (const auto& e : kErrorTexts) {
        if (e.code == code) {
            const std::size_t n = std::min<std::size_t>(std::strlen(e.text), size - 1);
            std::memcpy(text, e.text, n);
            text[n] = '\0';
            return MMSYSERR_NOERROR;
        }
    }
    text[0] = '\0';
    return MMSYSERR_BADERRNUM;
}

bool ValidOpenFlags(DWORD flags) {
    return flags == CALLBACK_FUNCTION || flags == CALLBACK_NULL;
}

}  // namespace

}  // namespace platform

namespace platform {
namespace {

MMRESULT Prepare(bool validHandle, LPMIDIHDR header, UINT size) {
    if (!validHandle)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    SetFlags(header, MHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT Unprepare(bool validHandle, LPMIDIHDR header, UINT size) {
    if (!validHandle)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (Flags(header) & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    SetFlags(header, 0, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// What opening differs in between the two directions.
struct InputSide {
    using Handle = InHandle;
    using Proc = MidiInProc;
    static std::vector<InputDevice> Devices(Registry& r) { return r.InputDevices(); }
    static std::set<std::string>& OpenReal(Registry& r) { return r.openRealInputs; }
    static std::map<uintptr_t, std::shared_ptr<InHandle>>& Handles(Registry& r) { return r.inputs; }
    static MMRESULT OpenPort(const Device& d, InHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenInput(d.port.id, h, h.real)
                           : detail::OpenRealInput(d.port.id, h, h.real);
    }
};

struct OutputSide {
    using Handle = OutHandle;
    using Proc = MidiOutProc;
    static std::vector<OutputDevice> Devices(Registry& r) { return r.OutputDevices(); }
    static std::set<std::string>& OpenReal(Registry& r) { return r.openRealOutputs; }
    static std::map<uintptr_t, std::shared_ptr<OutHandle>>& Handles(Registry& r) {
        return r.outputs;
    }
    static MMRESULT OpenPort(const Device& d, OutHandle& h) {
        return d.isVirtual ? detail::virtual_ports::OpenOutput(d.port.id, h.real)
                           : detail::OpenRealOutput(d.port.id, h.real);
    }
};

template <typename Side, typename HandleOut>
MMRESULT Open(HandleOut* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
              DWORD flags) {
    if (handle == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!ValidOpenFlags(flags))
        return MMSYSERR_INVALFLAG;
    auto& r = Registry::Get();
    const auto devices = Side::Devices(r);
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;

    std::shared_ptr<typename Side::Handle> h;
    {
        std::lock_guard lock(r.mutex);
        const auto proc =
            flags == CALLBACK_FUNCTION ? reinterpret_cast<typename Side::Proc>(callback) : nullptr;
        h = std::make_shared<typename Side::Handle>(r.nextId++, proc, instance);
    }
    const auto& device = devices[deviceId];
    const std::string key = (device.isVirtual ? "virtual:" : "system:") + device.port.id;
    {
        std::lock_guard lock(r.mutex);
        if (!Side::OpenReal(r).insert(key).second)
            return MMSYSERR_ALLOCATED;
    }
    const MMRESULT result = Side::OpenPort(device, *h);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard lock(r.mutex);
        Side::OpenReal(r).erase(key);
        return result;
    }
    h->realId = key;
    h->StartThread();
    {
        std::lock_guard lock(r.mutex);
        Side::Handles(r)[h->Id()] = h;
    }
    *handle = reinterpret_cast<HandleOut>(h->Id());
    return MMSYSERR_NOERROR;
}

// Forgets the handle; its source and thread are stopped by the caller.
template <typename Side>
void Unregister(typename Side::Handle& h) {
    auto& r = Registry::Get();
    std::lock_guard lock(r.mutex);
    Side::Handles(r).erase(h.Id());
    if (!h.realId.empty())
        Side::OpenReal(r).erase(h.realId);
}

}  // namespace
}  // namespace platform

// ---- the winmm-shaped functions ---------------------------------------------------------------

namespace mm {

using platform::Registry;

UINT midiInGetNumDevs() {
    return static_cast<UINT>(Registry::Get().InputDevices().size());
}

UINT midiOutGetNumDevs() {
    return static_cast<UINT>(Registry::Get().OutputDevices().size());
}

MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(MIDIINCAPSA))
        return MMSYSERR_INVALPARAM;
    const auto devices = Registry::Get().InputDevices();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    if (const MMRESULT error = platform::CapsErrorOf(devices[deviceId]))
        return error;
    std::memset(caps, 0, sizeof *caps);
    platform::FillName(caps->szPname, platform::NameOf(devices[deviceId]));
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(MIDIOUTCAPSA))
        return MMSYSERR_INVALPARAM;
    const auto devices = Registry::Get().OutputDevices();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    if (const MMRESULT error = platform::CapsErrorOf(devices[deviceId]))
        return error;
    std::memset(caps, 0, sizeof *caps);
    platform::FillName(caps->szPname, platform::NameOf(devices[deviceId]));
    caps->wTechnology = 1;  // a hardware port
    caps->wChannelMask = 0xFFFF;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::GetErrorText(error, text, size);
}

MMRESULT midiOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    return platform::GetErrorText(error, text, size);
}

MMRESULT midiInOpen(LPHMIDIIN handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
    return platform::Open<platform::InputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiInClose(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (h->HasBuffers())
        return MIDIERR_STILLPLAYING;
    platform::Unregister<platform::InputSide>(*h);
    // Stop the source first: nothing may be delivered into a handle that is going.
    h->real.reset();
    h->StopThread();
    return MMSYSERR_NOERROR;
}

MMRESULT midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::Prepare(Registry::Get().FindInput(handle) != nullptr, header, size);
}

MMRESULT midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return platform::Unprepare(Registry::Get().FindInput(handle) != nullptr, header, size);
}

MMRESULT midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    auto h = Registry::Get().FindInput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    return h->AddBuffer(header);
}

MMRESULT midiInStart(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInStop(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInReset(HMIDIIN handle) {
    auto h = Registry::Get().FindInput(handle);
    return h ? h->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    return platform::Open<platform::OutputSide>(handle, deviceId, callback, instance, flags);
}

MMRESULT midiOutClose(HMIDIOUT handle) {
    auto h = Registry::Get().FindOutput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (h->Busy())
        return MIDIERR_STILLPLAYING;
    platform::Unregister<platform::OutputSide>(*h);
    h->StopThread();
    h->real.reset();
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::Prepare(Registry::Get().FindOutput(handle) != nullptr, header, size);
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return platform::Unprepare(Registry::Get().FindOutput(handle) != nullptr, header, size);
}

MMRESULT midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    auto h = Registry::Get().FindOutput(handle);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    return h->LongMsg(header);
}

MMRESULT midiOutReset(HMIDIOUT handle) {
    auto h = Registry::Get().FindOutput(handle);
    return h ? h->Reset() : MMSYSERR_INVALHANDLE;
}

}  // namespace mm
