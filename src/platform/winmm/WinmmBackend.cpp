// Real MIDI ports through winmm itself, on Windows. A port is its winmm device number. Input
// keeps many buffers queued with the driver (some drivers hand back a few bytes per buffer)
// and joins System Exclusive pieces up to F7; output hands each message to midiOutLongMsg and
// waits (bounded) for its completion. The driver's callbacks only copy and hand on; a worker of
// each input does the rest. A device that refuses a buffer or a message fails its port at
// once, with winmm's own text; one that is removed (which winmm tells nobody) within a
// presence watch's look at the device list, both directions alike. VANTRO_MIDI_API=none keeps
// winmm out entirely.

#include "platform/Windows.h"
// windows.h first
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/MidiApi.h"
#include "platform/PresenceWatch.h"
#include "platform/RealBackend.h"
#include "platform/SendBound.h"
#include "platform/winmm/Completions.h"

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

// How long a driver may say it is still busy (MIDIERR_NOTREADY) before that is a failure, and
// how long a closing port waits for buffers the driver still holds.
constexpr auto kNotReadyBound = std::chrono::seconds(1);

// Calls fn(number, caps) for each device whose capabilities can be read.
template <typename Caps, typename Count, typename GetCaps, typename Fn>
void ForEachDevice(Count count, GetCaps getCaps, Fn fn) {
    const UINT n = count();
    for (UINT i = 0; i < n; ++i) {
        Caps caps{};
        if (getCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR)
            fn(i, caps);
    }
}

// The devices' names by number ("" where the capabilities cannot be read).
template <typename Caps, typename Count, typename GetCaps>
std::vector<std::string> NamesByNumber(Count count, GetCaps getCaps) {
    std::vector<std::string> names;
    ForEachDevice<Caps>(count, getCaps, [&names](UINT i, const Caps& caps) {
        names.resize(i + 1);
        names[i] = caps.szPname;
    });
    return names;
}

// A presence watch over the device opened as number `device` on handle, telling sink when it
// has gone. A removed device makes no callback and its handle's own queries need not fail, but
// it leaves winmm's list (and a query that does fail says so too). Another device going before
// it moves its number: it counts as gone once its number shows another name and fewer devices
// of its name are listed than at open.
template <typename Caps, typename Handle, typename Count, typename GetCaps, typename GetId>
std::unique_ptr<PresenceWatch> WatchDevice(UINT device, Handle handle, FailureSink& sink,
                                           Count count, GetCaps getCaps, GetId getId) {
    const auto atOpen = NamesByNumber<Caps>(count, getCaps);
    const std::string name = device < atOpen.size() ? atOpen[device] : "";
    const auto named = std::count(atOpen.begin(), atOpen.end(), name);
    auto check = [=] {
        UINT id = 0;
        if (const MMRESULT r = getId(handle, &id); r != MMSYSERR_NOERROR)
            return PortFailure{r, ""};
        const auto now = NamesByNumber<Caps>(count, getCaps);
        if ((device < now.size() && now[device] == name) ||
            std::count(now.begin(), now.end(), name) >= named)
            return PortFailure{};
        return PortFailure{MMSYSERR_NODRIVER, ""};  // what its handle's calls answer now
    };
    return std::make_unique<PresenceWatch>(check,
                                           [&sink](PortFailure why) { sink.Fail(std::move(why)); });
}

// Buffers winmm may still write into must outlive what they were for: they are let go only
// when the driver has handed them back (their unprepare succeeds) or the handle has closed.
// A handle that does not close keeps them for good, rather than free them under the driver.
class WinInput final : public RealInput {
  public:
    explicit WinInput(InputSink& sink) : sink_(sink) {}

    unsigned Open(UINT device) {
        MMRESULT r = ::midiInOpen(&handle_, device, reinterpret_cast<DWORD_PTR>(&Callback),
                                  reinterpret_cast<DWORD_PTR>(calls_.get()), CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR)
            return r;
        opened_ = true;
        worker_ = std::thread([this] { Run(); });
        for (auto& b : *buffers_) {
            b.header = MIDIHDR{};
            b.header.lpData = b.data.data();
            b.header.dwBufferLength = static_cast<DWORD>(b.data.size());
            if ((r = ::midiInPrepareHeader(handle_, &b.header, sizeof(MIDIHDR))) != 0 ||
                (r = ::midiInAddBuffer(handle_, &b.header, sizeof(MIDIHDR))) != 0)
                return r;  // the destructor undoes what was done
        }
        if ((r = ::midiInStart(handle_)) != MMSYSERR_NOERROR)
            return r;
        presence_ = WatchDevice<MIDIINCAPSA>(device, handle_, sink_, ::midiInGetNumDevs,
                                             ::midiInGetDevCapsA, ::midiInGetID);
        return MMSYSERR_NOERROR;
    }

    ~WinInput() override {
        presence_.reset();
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
        if (!opened_)
            return;
        Calls& calls = *calls_;
        calls.closing = true;  // what the reset hands back is not passed on
        // Hands back every buffer (the worker is gone, nothing re-adds them); a removed
        // device's driver, which refuses the reset, hands back nothing more.
        const bool reset = ::midiInReset(handle_) == MMSYSERR_NOERROR;
        const auto until = std::chrono::steady_clock::now() + kNotReadyBound;
        while (reset) {
            uint64_t seen;
            {
                std::lock_guard lock(calls.mutex);
                seen = calls.handedBack;
            }
            if (UnprepareAll())
                break;
            std::unique_lock lock(calls.mutex);
            if (!calls.handed.wait_until(lock, until, [&] { return calls.handedBack != seen; }))
                break;
        }
        UnprepareAll();
        if (::midiInClose(handle_) != MMSYSERR_NOERROR) {  // closed: no callback after it
            // The driver may still write into the buffers and call back: both stay.
            (void)buffers_.release();
            (void)calls_.release();
        }
    }

  private:
    struct Buffer {
        std::array<char, 256> data{};
        MIDIHDR header{};
    };
    // Enough that a driver handing back a few bytes per buffer cannot use them all up even if
    // the worker is held up for a whole reply: 528 bytes in three-byte pieces take 176.
    using Buffers = std::array<Buffer, 256>;

    // True once every buffer is unprepared (the driver holds none).
    bool UnprepareAll() {
        bool all = true;
        for (auto& b : *buffers_) {
            if ((b.header.dwFlags & MHDR_PREPARED) &&
                ::midiInUnprepareHeader(handle_, &b.header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
                all = false;
        }
        return all;
    }

    // On the driver's thread, one call at a time: copies what came and hands it on at once;
    // the buffer goes to the worker, which gives it back to the driver (a callback may not).
    static void CALLBACK Callback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        auto* calls = reinterpret_cast<Calls*>(instance);
        if (calls->closing) {
            if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
                {
                    std::lock_guard lock(calls->mutex);
                    ++calls->handedBack;
                }
                calls->handed.notify_all();
            }
            return;
        }
        WinInput* self = calls->input;
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
                wake_.wait(lock, [this] { return stop_ || !returned_.empty(); });
                if (stop_)
                    return;
                h = returned_.front();
                returned_.pop_front();
            }
            if (const MMRESULT r = ::midiInAddBuffer(handle_, h, sizeof(MIDIHDR)); r != 0)
                sink_.Fail(PortFailure{r, ""});  // the first failure counts
        }
    }

    static constexpr std::size_t kMaxSysEx = 64 * 1024;
    InputSink& sink_;
    HMIDIIN handle_ = nullptr;
    bool opened_ = false;
    std::unique_ptr<Buffers> buffers_ = std::make_unique<Buffers>();
    std::vector<uint8_t> sysex_;  // the driver's thread's
    // What the callback reaches: the input while it is open, then only the count of buffers
    // handed back while it closes. Apart from the input, so that a handle that does not close
    // keeps it for its callbacks.
    struct Calls {
        explicit Calls(WinInput* in) : input(in) {}
        WinInput* input;
        std::atomic<bool> closing{false};
        std::mutex mutex;
        std::condition_variable handed;
        uint64_t handedBack = 0;
    };
    std::unique_ptr<Calls> calls_ = std::make_unique<Calls>(this);
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<MIDIHDR*> returned_;  // for the worker to give back to the driver
    bool stop_ = false;
    std::thread worker_;
    std::unique_ptr<PresenceWatch> presence_;
};

// Windows ends timed waits at its timer's resolution, 15.6 ms unless a program asks for finer:
// while an output is open, the pieces of a paced message are released to the millisecond.
class FineTimer {
  public:
    FineTimer() : begun_(::timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~FineTimer() {
        if (begun_)
            ::timeEndPeriod(1);
    }
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;

  private:
    const bool begun_;
};

class WinOutput final : public RealOutput {
  public:
    explicit WinOutput(FailureSink& sink) : sink_(sink) {}

    unsigned Open(UINT device) {
        const MMRESULT r =
            ::midiOutOpen(&handle_, device, reinterpret_cast<DWORD_PTR>(&Completions::Callback),
                          reinterpret_cast<DWORD_PTR>(completions_.get()), CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR)
            return r;
        opened_ = true;
        timer_ = std::make_unique<FineTimer>();
        presence_ = WatchDevice<MIDIOUTCAPSA>(device, handle_, sink_, ::midiOutGetNumDevs,
                                              ::midiOutGetDevCapsA, ::midiOutGetID);
        return MMSYSERR_NOERROR;
    }

    // Every Send has waited for its completion, so nothing is left to reset (a reset would only
    // put note-offs on the unit's wire after the restart frame); a message a driver kept past
    // its send's reset is waited for (bounded).
    ~WinOutput() override {
        presence_.reset();
        if (!opened_)
            return;
        if (!resetRefused_)
            AwaitHeld();  // their send's reset has asked for them back already
        if (::midiOutClose(handle_) == MMSYSERR_NOERROR)
            return;  // nothing is held any more: held_ and completions_ go
        for (auto& m : held_)
            (void)m.release();  // the driver may still write into them, and call back
        (void)completions_.release();
    }

    PortFailure Send(const uint8_t* bytes, std::size_t length) override {
        if (length == 0)
            return PortFailure{MMSYSERR_INVALPARAM, ""};
        ReleaseHeld();
        auto m = std::make_unique<Message>();
        m->bytes.assign(bytes, bytes + length);
        MIDIHDR& h = m->header;
        h.lpData = m->bytes.data();
        h.dwBufferLength = static_cast<DWORD>(length);
        if (const MMRESULT r = ::midiOutPrepareHeader(handle_, &h, sizeof h); r != 0)
            return PortFailure{r, ""};
        // A piece that more of its message follows is not waited for: the driver has the next
        // at once, and the last piece's completion (the driver hands them back in order) says
        // that all have gone.
        if (bytes[length - 1] != 0xF7) {
            const MMRESULT r = LongMsg(h);
            if (r == MMSYSERR_NOERROR)
                held_.push_back(std::move(m));
            else
                ::midiOutUnprepareHeader(handle_, &h, sizeof h);
            return PortFailure{r, ""};
        }
        completions_->Sending(&h);
        MMRESULT r = LongMsg(h);
        if (r == MMSYSERR_NOERROR && !completions_->WaitDone(SendBound(HeldBytes() + length))) {
            // A driver that never finishes gives the buffer back; a removed device's refuses.
            resetRefused_ = ::midiOutReset(handle_) != MMSYSERR_NOERROR;
            if (!resetRefused_)
                completions_->WaitDone(kNotReadyBound);
            r = MIDIERR_NOTREADY;
        }
        completions_->Sending(nullptr);
        if (::midiOutUnprepareHeader(handle_, &h, sizeof h) == MIDIERR_STILLPLAYING)
            held_.push_back(std::move(m));  // the driver still has it
        return PortFailure{r, ""};
    }

  private:
    struct Message {
        std::vector<char> bytes;
        MIDIHDR header{};
    };

    // A driver still busy with earlier data is asked again once it hands a buffer back, for a
    // bounded time (and once more at the bound).
    MMRESULT LongMsg(MIDIHDR& h) {
        const auto until = std::chrono::steady_clock::now() + kNotReadyBound;
        for (;;) {
            const uint64_t seen = completions_->Count();
            const MMRESULT r = ::midiOutLongMsg(handle_, &h, sizeof h);
            if (r != MIDIERR_NOTREADY || std::chrono::steady_clock::now() >= until)
                return r;
            completions_->WaitAfter(seen, until);
        }
    }

    std::size_t HeldBytes() const {
        std::size_t n = 0;
        for (const auto& m : held_)
            n += m->bytes.size();
        return n;
    }

    // Lets go of the held messages the driver has handed back.
    void ReleaseHeld() {
        std::erase_if(held_, [this](const std::unique_ptr<Message>& m) {
            return ::midiOutUnprepareHeader(handle_, &m->header, sizeof(MIDIHDR)) ==
                   MMSYSERR_NOERROR;
        });
    }

    // Waits (bounded) for the driver to hand the held messages back.
    void AwaitHeld() {
        const auto until = std::chrono::steady_clock::now() + kNotReadyBound;
        for (;;) {
            const uint64_t seen = completions_->Count();
            ReleaseHeld();
            if (held_.empty() || !completions_->WaitAfter(seen, until))
                return;
        }
    }

    FailureSink& sink_;
    HMIDIOUT handle_ = nullptr;
    bool opened_ = false;
    std::unique_ptr<Completions> completions_ = std::make_unique<Completions>();
    std::vector<std::unique_ptr<Message>> held_;  // unprepare refused: the driver has them
    bool resetRefused_ = false;                   // the driver will hand nothing more back
    std::unique_ptr<FineTimer> timer_;
    std::unique_ptr<PresenceWatch> presence_;
};

// The ports winmm lists; one whose capabilities cannot be read is left out.
template <typename Caps, typename Count, typename GetCaps>
std::vector<RealPort> ListPorts(Count count, GetCaps getCaps) {
    std::vector<RealPort> ports;
    if (Disabled())
        return ports;
    ForEachDevice<Caps>(count, getCaps, [&ports](UINT i, const Caps& caps) {
        ports.push_back(RealPort{std::to_string(i), caps.szPname, 0});
    });
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

unsigned OpenRealOutput(const std::string& id, FailureSink& sink,
                        std::unique_ptr<RealOutput>& out) {
    return OpenPort(id, out, [&sink] { return std::make_unique<WinOutput>(sink); });
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
