#pragma once
// The winmm-shaped handles of the MIDI seam: each open input or output has a thread of its own
// that makes the callbacks, so they never run on the caller's thread, and closing a handle
// joins that thread: no callback comes after the close has returned.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorTexts.h"
#include "platform/MidiSeam.h"
#include "platform/RealBackend.h"
#include "platform/SendBound.h"
#include "platform/SharedField.h"

namespace platform::detail {

using namespace mm;  // the winmm-shaped MIDI seam, whose handles these are

using Clock = std::chrono::steady_clock;

// Longest a close or reset waits for the handle's thread to finish what it was given: a message
// of up to an input buffer's length may still be leaving.
inline const auto kDrainBound = SendBound(4096);

inline void SetFlags(MIDIHDR* h, DWORD set, DWORD clear) {
    ChangeSharedBits(h->dwFlags, set, clear);
}

inline DWORD Flags(MIDIHDR* h) {
    return LoadShared(h->dwFlags);
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

// What a handle's thread is given, in order.
enum class EventKind {
    Data,      // in: a message that arrived; out: a message to send
    Returned,  // headers handed back unused
    Callback,  // a callback with no more to it than its message and first parameter
    Barrier,   // passed once everything before it is done
    Close,     // the last callback: the thread ends
};

// What an input and an output handle share: the identity their callbacks carry, their thread
// and its queue of events, and the header calls. Side (the handle) handles Data and Returned,
// names its open and close messages (kOpen, kClose), and stops the thread in its own
// destructor: the thread uses Side's members.
template <typename Side, typename H, typename Payload>
class MidiHandle {
  public:
    using Proc = void (*)(H, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

    MidiHandle(uintptr_t id, Proc callback, DWORD_PTR instance)
        : id_(id), callback_(callback), instance_(instance) {}

    void StartThread() {
        thread_ = std::thread([this] { Run(); });
        Post(Event{.kind = EventKind::Callback, .msg = Side::kOpen});
    }

    void StopThread() {
        if (!thread_.joinable()) {
            return;
        }
        Post(Event{.kind = EventKind::Close});
        thread_.join();
    }

    MMRESULT Prepare(MIDIHDR* h) {
        SetFlags(h, MHDR_PREPARED, 0);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Unprepare(MIDIHDR* h) {
        if (Flags(h) & MHDR_INQUEUE)
            return MIDIERR_STILLPLAYING;
        SetFlags(h, 0, MHDR_PREPARED);
        return MMSYSERR_NOERROR;
    }

    uintptr_t Id() const { return id_; }

    std::string realId;  // the registry's key for the port it has open

  protected:
    struct Event {
        EventKind kind;
        Payload data{};      // Data, Returned
        UINT msg = 0;        // Callback
        uint64_t param = 0;  // Callback's first parameter, Barrier's number
    };

    ~MidiHandle() = default;

    void Post(Event e) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        wake_.notify_all();
    }

    void Call(UINT msg, DWORD_PTR p1, DWORD_PTR p2 = 0) {
        if (callback_ != nullptr) {
            callback_(reinterpret_cast<H>(id_), msg, instance_, p1, p2);
        }
    }

    // With mutex_ held: why the header may not be queued, 0 when it may.
    MMRESULT Refusal(MIDIHDR* h) const {
        if (failure_ != 0)
            return failure_;
        if (!(Flags(h) & MHDR_PREPARED))
            return MIDIERR_UNPREPARED;
        if (Flags(h) & MHDR_INQUEUE)
            return MIDIERR_STILLPLAYING;
        if (h->lpData == nullptr || h->dwBufferLength == 0)
            return MMSYSERR_INVALPARAM;
        return MMSYSERR_NOERROR;
    }

    // With mutex_ held: notes the device's first failure and queues its callback behind what
    // is queued; false when a failure was noted already.
    bool NoteFailure(MMRESULT code) {
        if (failure_ != 0)
            return false;
        failure_ = code;
        events_.push_back(Event{.kind = EventKind::Callback, .msg = Side::kFailed, .param = code});
        return true;
    }

    // With lock held on mutex_: returns once the thread has handled every event queued so
    // far, so the caller may free the headers they carry; at once on the thread itself.
    void Drain(std::unique_lock<std::mutex>& lock) {
        const uint64_t n = barriers_.Post();
        events_.push_back(Event{.kind = EventKind::Barrier, .param = n});
        wake_.notify_all();
        if (std::this_thread::get_id() != thread_.get_id()) {
            barriers_.Wait(n, lock, wake_);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool busy_ = false;  // the thread is handling an event: a callback may be under way
    MMRESULT failure_ = MMSYSERR_NOERROR;

  private:
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
                case EventKind::Data:
                    static_cast<Side*>(this)->OnData(e);
                    break;
                case EventKind::Returned:
                    static_cast<Side*>(this)->OnReturned(e);
                    break;
                case EventKind::Callback:
                    Call(e.msg, static_cast<DWORD_PTR>(e.param));
                    break;
                case EventKind::Barrier:
                    barriers_.Pass(e.param, mutex_, wake_);
                    break;
                case EventKind::Close:
                    Call(Side::kClose, 0);
                    return;
            }
        }
    }

    const uintptr_t id_;
    const Proc callback_;
    const DWORD_PTR instance_;
    Barriers barriers_;
    std::thread thread_;
};

// ---- input handles ------------------------------------------------------------------------

// An input event's load: a message that arrived, or the buffers handed back.
struct InData {
    Incoming message;
    std::vector<MIDIHDR*> headers;
};

class InHandle final : public InputSink, public MidiHandle<InHandle, HMIDIIN, InData> {
  public:
    using MidiHandle::MidiHandle;

    ~InHandle() { StopThread(); }

    // What arrives while input is not started is lost, as on a wire.
    void Deliver(Incoming message) override {
        {
            std::lock_guard lock(mutex_);
            if (!started_ || failure_ != 0) {
                return;
            }
            events_.push_back(Event{.kind = EventKind::Data, .data = {std::move(message), {}}});
        }
        wake_.notify_all();
    }

    void Fail(detail::PortFailure failure) override {
        {
            std::lock_guard lock(mutex_);
            if (!NoteFailure(FailureCode(failure)))
                return;
        }
        wake_.notify_all();
    }

    MMRESULT AddBuffer(MIDIHDR* h) {
        std::lock_guard lock(mutex_);
        if (const MMRESULT refused = Refusal(h))
            return refused;
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
        events_.push_back(Event{.kind = EventKind::Returned, .data = {{}, std::move(returned)}});
        Drain(lock);
        return MMSYSERR_NOERROR;
    }

    // The caller's buffers it still holds: a close must wait for them.
    bool HoldsHeaders() {
        std::lock_guard lock(mutex_);
        return !buffers_.empty();
    }

    // Once the registry has forgotten it: the source stops first, as nothing may be delivered
    // into a handle that is going.
    void Close() {
        real.reset();
        StopThread();
    }

    // The source that feeds this handle; dropped before the handle goes.
    std::unique_ptr<detail::RealInput> real;

  private:
    friend class MidiHandle<InHandle, HMIDIIN, InData>;
    static constexpr UINT kOpen = MIM_OPEN;
    static constexpr UINT kClose = MIM_CLOSE;
    static constexpr UINT kFailed = MIM_DEVICEFAILED;

    void OnData(Event& e) { Receive(e.data.message); }

    void OnReturned(Event& e) {
        for (auto* h : e.data.headers) {
            Call(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(h), 0);
        }
    }

    DWORD Stamp() const {
        return static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startTime_)
                .count());
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

    std::deque<MIDIHDR*> buffers_;
    bool started_ = false;
    Clock::time_point startTime_ = Clock::now();
};

// ---- output handles -----------------------------------------------------------------------

class OutHandle final : public FailureSink, public MidiHandle<OutHandle, HMIDIOUT, MIDIHDR*> {
  public:
    using MidiHandle::MidiHandle;

    ~OutHandle() { StopThread(); }

    // The port has gone while open (told by its backend, sending or not): what is queued goes
    // back unsent, then the failure is told.
    void Fail(detail::PortFailure failure) override {
        {
            std::lock_guard lock(mutex_);
            if (failure_ != 0)
                return;
            ReturnQueued();
            NoteFailure(FailureCode(failure));
        }
        wake_.notify_all();
    }

    MMRESULT LongMsg(MIDIHDR* h) {
        {
            std::lock_guard lock(mutex_);
            if (const MMRESULT refused = Refusal(h))
                return refused;
            SetFlags(h, MHDR_INQUEUE, MHDR_DONE);
            ++pending_;
            events_.push_back(Event{.kind = EventKind::Data, .data = h});
        }
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Hands back every message not yet sent, marked done; returns once the thread has made
    // their callbacks and finished the one it was sending.
    MMRESULT Reset() {
        std::unique_lock lock(mutex_);
        ReturnQueued();
        Drain(lock);
        return MMSYSERR_NOERROR;
    }

    // The caller's messages it still holds: a close must wait for them.
    bool HoldsHeaders() {
        std::lock_guard lock(mutex_);
        return pending_ > 0;
    }

    // Once the registry has forgotten it: the thread finishes its callbacks, then the port
    // goes.
    void Close() {
        StopThread();
        real.reset();
    }

    std::unique_ptr<detail::RealOutput> real;

  private:
    friend class MidiHandle<OutHandle, HMIDIOUT, MIDIHDR*>;
    static constexpr UINT kOpen = MOM_OPEN;
    static constexpr UINT kClose = MOM_CLOSE;
    static constexpr UINT kFailed = MOM_DEVICEFAILED;

    void OnData(Event& e) { Send(e.data); }
    void OnReturned(Event& e) { Call(MOM_DONE, reinterpret_cast<DWORD_PTR>(e.data)); }

    // A message the system refuses fails the device: it and everything queued behind it are
    // handed back unsent, and the failure is told after their callbacks.
    void Send(MIDIHDR* h) {
        detail::PortFailure failure;
        if (real) {
            failure = real->Send(reinterpret_cast<const uint8_t*>(h->lpData), h->dwBufferLength);
        }
        {
            std::lock_guard lock(mutex_);
            SetFlags(h, MHDR_DONE, MHDR_INQUEUE);
            --pending_;
            if (failure && failure_ == 0) {
                ReturnQueued();
                NoteFailure(FailureCode(failure));
            }
        }
        Call(MOM_DONE, reinterpret_cast<DWORD_PTR>(h));
    }

    // With mutex_ held: every message not yet sent goes back, marked done.
    void ReturnQueued() {
        for (auto& e : events_) {
            if (e.kind == EventKind::Data) {
                e.kind = EventKind::Returned;
                SetFlags(e.data, MHDR_DONE, MHDR_INQUEUE);
                --pending_;
            }
        }
    }

    int pending_ = 0;
};

}  // namespace platform::detail
