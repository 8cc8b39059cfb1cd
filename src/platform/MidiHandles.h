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

namespace platform::detail {

using namespace mm;  // the winmm-shaped MIDI seam, whose handles these are

using Clock = std::chrono::steady_clock;

// Longest a close or reset waits for the handle's thread to finish what it was given: a message
// of up to an input buffer's length may still be leaving.
inline const auto kDrainBound = SendBound(4096);

inline void SetFlags(MIDIHDR* h, DWORD set, DWORD clear) {
    std::atomic_ref<DWORD> flags(h->dwFlags);
    DWORD old = flags.load();
    while (!flags.compare_exchange_weak(old, (old | set) & ~clear)) {
    }
}

inline DWORD Flags(MIDIHDR* h) {
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
        const MMRESULT code = FailureCode(failure);
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
            code = FailureCode(failure);
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

}  // namespace platform::detail
