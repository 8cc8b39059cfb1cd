// Real MIDI ports through winmm itself, on Windows. A port is its winmm device number. Input
// keeps many buffers queued with the driver (some drivers hand back a few bytes per buffer)
// and joins System Exclusive pieces up to F7; output hands each message to midiOutLongMsg and
// waits (bounded) for its completion. The driver's callbacks only copy and hand on; a worker of
// each input does the rest, and looks after the device while it waits: a device that is
// refused or removed fails the port at once, with winmm's own text. VANTRO_MIDI_API=none keeps
// winmm out entirely.

#include "platform/Windows.h"
// windows.h first
#include <mmsystem.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/MidiApi.h"
#include "platform/RealBackend.h"
#include "platform/SendBound.h"

namespace platform {

namespace detail {

namespace {

bool Disabled() {
    return RequestedMidiApi() == "none";
}

bool ParseId(const std::string& id, UINT& device) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(id.c_str(), &end, 10);
    if (id.empty() || *end != '\0' || v > 0xFFFF)
        return false;
    device = static_cast<UINT>(v);
    return true;
}

// How long a driver may say it is still busy (MIDIERR_NOTREADY) before that is a failure.
constexpr auto kNotReadyBound = std::chrono::seconds(1);

// How often an input's worker asks whether its device is still there while nothing arrives.
constexpr auto kHealthInterval = std::chrono::milliseconds(250);

class WinInput final : public RealInput {
  public:
    explicit WinInput(InputSink& sink) : sink_(sink) {}

    unsigned Open(UINT device) {
        MMRESULT r = ::midiInOpen(&handle_, device, reinterpret_cast<DWORD_PTR>(&Callback),
                                  reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR)
            return r;
        opened_ = true;
        worker_ = std::thread([this] { Run(); });
        for (auto& b : buffers_) {
            b.header = MIDIHDR{};
            b.header.lpData = b.data.data();
            b.header.dwBufferLength = static_cast<DWORD>(b.data.size());
            if ((r = ::midiInPrepareHeader(handle_, &b.header, sizeof(MIDIHDR))) != 0 ||
                (r = ::midiInAddBuffer(handle_, &b.header, sizeof(MIDIHDR))) != 0)
                return r;  // the destructor undoes what was done
        }
        return ::midiInStart(handle_);
    }

    ~WinInput() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
        if (!opened_)
            return;
        closing_ = true;         // what the reset hands back is not passed on
        ::midiInReset(handle_);  // hands back every buffer; the worker is gone, nothing re-adds
        for (auto& b : buffers_) {
            if (b.header.dwFlags & MHDR_PREPARED)
                ::midiInUnprepareHeader(handle_, &b.header, sizeof(MIDIHDR));
        }
        ::midiInClose(handle_);  // no callback comes after it
    }

  private:
    struct Buffer {
        std::array<char, 256> data{};
        MIDIHDR header{};
    };

    // On the driver's thread, one call at a time: copies what came and hands it on at once;
    // the buffer goes to the worker, which gives it back to the driver (a callback may not).
    static void CALLBACK Callback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        auto* self = reinterpret_cast<WinInput*>(instance);
        if (self->closing_)
            return;
        if (msg == MIM_DATA || msg == MIM_ERROR) {
            Incoming m;
            m.kind = msg == MIM_DATA ? Incoming::Kind::Short : Incoming::Kind::InvalidShort;
            m.word = static_cast<uint32_t>(p1);
            self->sink_.Deliver(std::move(m));
        } else if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
            auto* h = reinterpret_cast<MIDIHDR*>(p1);
            self->Join(msg, h);
            {
                std::lock_guard lock(self->mutex_);
                self->returned_.push_back(h);
            }
            self->wake_.notify_one();
        }
    }

    // Joins the pieces of a System Exclusive message up to its F7.
    void Join(UINT msg, const MIDIHDR* h) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(h->lpData);
        sysex_.insert(sysex_.end(), bytes, bytes + h->dwBytesRecorded);
        if (msg == MIM_LONGERROR) {
            sink_.Deliver(Incoming{Incoming::Kind::BrokenSysEx, std::move(sysex_), 0});
            sysex_.clear();
        } else if (!sysex_.empty() && sysex_.back() == 0xF7) {
            // A message whose start found no buffer is passed on as broken, not as a reply.
            const auto kind =
                sysex_.front() == 0xF0 ? Incoming::Kind::SysEx : Incoming::Kind::BrokenSysEx;
            sink_.Deliver(Incoming{kind, std::move(sysex_), 0});
            sysex_.clear();
        } else if (sysex_.size() > kMaxSysEx) {
            sysex_.clear();  // no reply of ours is this long: a stuck line costs no memory
        }
    }

    void Run() {
        for (;;) {
            MIDIHDR* h = nullptr;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_for(lock, kHealthInterval,
                                    [this] { return stop_ || !returned_.empty(); })) {
                    lock.unlock();
                    CheckDevice();
                    continue;
                }
                if (stop_)
                    return;
                h = returned_.front();
                returned_.pop_front();
            }
            if (const MMRESULT r = ::midiInAddBuffer(handle_, h, sizeof(MIDIHDR)); r != 0)
                Fail(r);
        }
    }

    // A removed device answers nothing more: the port fails instead of waiting out its replies.
    void CheckDevice() {
        UINT id = 0;
        if (const MMRESULT r = ::midiInGetID(handle_, &id); r != MMSYSERR_NOERROR)
            Fail(r);
    }

    void Fail(MMRESULT code) {
        if (!failed_) {
            failed_ = true;
            sink_.Fail(PortFailure{code, ""});
        }
    }

    static constexpr std::size_t kMaxSysEx = 64 * 1024;
    InputSink& sink_;
    HMIDIIN handle_ = nullptr;
    bool opened_ = false;
    bool failed_ = false;  // the worker's
    // Enough that a driver handing back a few bytes per buffer cannot use them all up even if
    // the worker is held up for a whole reply: 528 bytes in three-byte pieces take 176.
    std::array<Buffer, 256> buffers_;
    std::vector<uint8_t> sysex_;  // the driver's thread's
    std::atomic<bool> closing_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<MIDIHDR*> returned_;  // for the worker to give back to the driver
    bool stop_ = false;
    std::thread worker_;
};

class WinOutput final : public RealOutput {
  public:
    unsigned Open(UINT device) {
        const MMRESULT r = ::midiOutOpen(&handle_, device, reinterpret_cast<DWORD_PTR>(&Callback),
                                         reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        opened_ = r == MMSYSERR_NOERROR;
        return r;
    }

    // Every Send has waited for its completion, so nothing is left to reset: a reset would
    // only put note-offs on the unit's wire after the restart frame.
    ~WinOutput() override {
        if (opened_)
            ::midiOutClose(handle_);
    }

    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        if (length == 0)
            return PortFailure{MMSYSERR_INVALPARAM, ""};
        std::vector<char> copy(bytes, bytes + length);
        MIDIHDR h{};
        h.lpData = copy.data();
        h.dwBufferLength = static_cast<DWORD>(length);
        if (const MMRESULT r = ::midiOutPrepareHeader(handle_, &h, sizeof h); r != 0)
            return PortFailure{r, ""};
        {
            std::lock_guard lock(mutex_);
            done_ = false;
        }
        MMRESULT r = LongMsg(h);
        if (r == MMSYSERR_NOERROR && !WaitDone(SendBound(length))) {
            ::midiOutReset(handle_);  // a driver that never finishes gives the buffer back
            WaitDone(std::chrono::seconds(1));
            r = MIDIERR_NOTREADY;
        }
        ::midiOutUnprepareHeader(handle_, &h, sizeof h);
        return PortFailure{r, ""};
    }

  private:
    // A driver still busy with earlier data is asked again, for a bounded time.
    MMRESULT LongMsg(MIDIHDR& h) {
        const auto until = std::chrono::steady_clock::now() + kNotReadyBound;
        MMRESULT r;
        while ((r = ::midiOutLongMsg(handle_, &h, sizeof h)) == MIDIERR_NOTREADY &&
               std::chrono::steady_clock::now() < until) {
            WaitDone(std::chrono::milliseconds(5));  // a completion may free the driver sooner
        }
        return r;
    }

    bool WaitDone(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return done_changed_.wait_for(lock, bound, [this] { return done_; });
    }

    static void CALLBACK Callback(HMIDIOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
        if (msg != MOM_DONE)
            return;
        auto* self = reinterpret_cast<WinOutput*>(instance);
        {
            std::lock_guard lock(self->mutex_);
            self->done_ = true;
        }
        self->done_changed_.notify_all();
    }

    HMIDIOUT handle_ = nullptr;
    bool opened_ = false;
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
};

// The ports winmm lists; one whose capabilities cannot be read is left out.
template <typename Caps, typename Count, typename GetCaps>
std::vector<RealPort> ListPorts(Count count, GetCaps getCaps) {
    std::vector<RealPort> ports;
    if (Disabled())
        return ports;
    const UINT n = count();
    for (UINT i = 0; i < n; ++i) {
        Caps caps{};
        if (getCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR)
            ports.push_back(RealPort{std::to_string(i), caps.szPname, 0});
    }
    return ports;
}

// Opens the port make() makes for the device numbered id.
template <typename Real, typename Make>
unsigned OpenPort(const std::string& id, std::unique_ptr<Real>& out, Make make) {
    UINT device = 0;
    if (Disabled() || !ParseId(id, device))
        return MMSYSERR_BADDEVICEID;
    auto port = make();
    if (const unsigned r = port->Open(device); r != MMSYSERR_NOERROR)
        return r;
    out = std::move(port);
    return MMSYSERR_NOERROR;
}

}  // namespace

std::vector<RealPort> RealInputPorts() {
    return ListPorts<MIDIINCAPSA>(::midiInGetNumDevs, ::midiInGetDevCapsA);
}

std::vector<RealPort> RealOutputPorts() {
    return ListPorts<MIDIOUTCAPSA>(::midiOutGetNumDevs, ::midiOutGetDevCapsA);
}

unsigned OpenRealInput(const std::string& id, InputSink& sink, std::unique_ptr<RealInput>& out) {
    return OpenPort(id, out, [&sink] { return std::make_unique<WinInput>(sink); });
}

unsigned OpenRealOutput(const std::string& id, std::unique_ptr<RealOutput>& out) {
    return OpenPort(id, out, [] { return std::make_unique<WinOutput>(); });
}

bool SystemErrorText(unsigned code, std::string& text) {
    if (Disabled())
        return false;
    char buffer[MAXERRORLENGTH] = {};
    if (::midiInGetErrorTextA(code, buffer, sizeof buffer) != MMSYSERR_NOERROR)
        return false;
    text = buffer;
    return !text.empty();
}

}  // namespace detail

std::string RealMidiApi() {
    return detail::Disabled() ? "" : "winmm";
}

std::string MidiSystemReport() {
    return detail::Disabled() ? NoneAskedReport() : "winmm";
}

}  // namespace platform
