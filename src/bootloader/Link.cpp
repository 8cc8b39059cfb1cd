#include "bootloader/Link.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "midi/MidiMsg.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro {

namespace {
// How often a wait lets a window paint.
constexpr auto kIdleSlice = std::chrono::milliseconds(10);

// Sleeps until the time comes or failed() holds, letting a window paint between slices.
void PauseUntil(ReplyBufferType& capture, const LinkTimings& t,
                std::chrono::steady_clock::time_point until, const std::function<bool()>& failed) {
    using Clock = std::chrono::steady_clock;
    while (t.idle && until - Clock::now() > kIdleSlice && !failed()) {
        capture.Pause(Clock::now() + kIdleSlice, failed);
        t.idle();
    }
    capture.Pause(until, failed);
}
}  // namespace

ReplyBufferType ReplyBuffer;

void ReplyBufferType::Clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

bool ReplyBufferType::HasBytes() {
    std::lock_guard lock(mutex_);
    return !bytes_.empty();
}

void ReplyBufferType::Replace(const char* data, std::size_t length) {
    {
        std::lock_guard lock(mutex_);
        bytes_.assign(reinterpret_cast<const uint8_t*>(data),
                      reinterpret_cast<const uint8_t*>(data) + length);
    }
    filled_.notify_all();
}

bool ReplyBufferType::WaitUntilFilled(std::chrono::steady_clock::time_point deadline,
                                      const std::function<bool()>& stop) {
    std::unique_lock lock(mutex_);
    filled_.wait_until(lock, deadline, [&] { return !bytes_.empty() || (stop && stop()); });
    return !bytes_.empty();
}

void ReplyBufferType::Pause(std::chrono::steady_clock::time_point until,
                            const std::function<bool()>& stop) {
    std::unique_lock lock(mutex_);
    filled_.wait_until(lock, until, [&] { return stop && stop(); });
}

void ReplyBufferType::Interrupt() {
    {
        std::lock_guard lock(mutex_);  // a waiter between its check and its sleep sees this
    }
    filled_.notify_all();
}

std::size_t ReplyBufferType::CopyOut(uint8_t* area, std::size_t capacity) {
    std::lock_guard lock(mutex_);
    if (bytes_.size() > capacity) {
        return 0;
    }
    std::copy(bytes_.begin(), bytes_.end(), area);
    return bytes_.size();
}

void PendingNotices::Add(const std::string& text) {
    std::lock_guard lock(mutex_);
    // Each notice once for the pair's life (one action): a noisy line raises one box, not one
    // per exchange.
    if (std::find(raised_.begin(), raised_.end(), text) != raised_.end()) {
        return;
    }
    if (notices_.size() < kMaxPending) {
        raised_.push_back(text);
        notices_.push_back(text);
    }
}

std::vector<std::string> PendingNotices::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(notices_, {});
}

void MyReceiver::OnLongMessage(const char* data, uint32_t length, uint32_t) {
    // data points into the port's shared area: copy before anything else.
    const midi::CLongMsg copy(data, length);
    if (trace_ != nullptr) {
        trace_->Received(reinterpret_cast<const uint8_t*>(copy.GetBytes()), length);
    }
    capture_.Replace(copy.GetBytes(), copy.GetByteCount());
}

void MyReceiver::OnShortMessageError(uint32_t, uint32_t) {
    // No message box on the callback thread: the waiting thread shows it.
    notices_.Add("Invalid short message received!\n");
}

MidiPortPair::MidiPortPair(MessageSeam* messages, LinkTimings timings, LinkTrace* trace)
    : messages_(messages), timings_(timings), trace_(trace), pace_(timings.pace) {
    // A port that fails ends the wait for a reply at once.
    input_.SetFailureListener([this] { Capture().Interrupt(); });
    output_.SetFailureListener([this] { Capture().Interrupt(); });
}

void MidiPortPair::UseOwnCapture() {
    ownCapture_ = std::make_unique<ReplyBufferType>();
    input_.UseOwnDataArea();
}

void MidiPortPair::ThrowIfPortFailed() const {
    output_.ThrowIfFailed();
    input_.ThrowIfFailed();
}

MidiPortPair::~MidiPortPair() {
    try {
        input_.ClosePort();
    } catch (...) {
        // The port's own destructor still closes it.
    }
    output_.ClosePort();
}

void MidiPortPair::OpenPorts(UINT inputIndex, UINT outputIndex) {
    if (receiver_) {
        input_.ClosePort();
        input_.AttachReceiver(nullptr);
        receiver_.reset();
    }
    receiver_ = std::make_unique<MyReceiver>(notices_, trace_, Capture());
    input_.AttachReceiver(receiver_.get());
    input_.OpenPort(inputIndex);
    output_.OpenPort(outputIndex);
}

void MidiPortPair::ShowPendingNotices() {
    for (const auto& text : notices_.Take()) {
        if (messages_ != nullptr) {
            messages_->Show(text, MessageButtons::Ok);
        }
    }
}

void MidiPortPair::Send(const uint8_t* bytes, std::size_t length) {
    if (trace_ != nullptr) {
        trace_->Sent(bytes, length);
    }
    if (pace_.Splits(length)) {
        SendPaced(bytes, length);
        return;
    }
    output_.SendSysEx(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length));
}

void MidiPortPair::SendPaced(const uint8_t* bytes, std::size_t length) {
    using Clock = std::chrono::steady_clock;
    // Each piece its own buffer to the driver: they leave in order as one message.
    auto due = Clock::now();
    const auto slack = pace_.byteTime * static_cast<int64_t>(pace_.piece) / 2;
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t n = std::min(pace_.piece, length - offset);
        if (offset != 0) {
            WaitForPiece(due);
            ThrowIfPortFailed();
            // Woken late, the pieces catch up, but never bunch: more than half a piece behind,
            // the schedule starts again from now.
            const auto now = Clock::now();
            if (now - due > slack)
                due = now;
        }
        output_.SendSysEx(reinterpret_cast<const char*>(bytes + offset), static_cast<uint32_t>(n));
        due += pace_.byteTime * static_cast<int64_t>(n) + pace_.gap;
        offset += n;
    }
}

void MidiPortPair::WaitForPiece(std::chrono::steady_clock::time_point due) {
    using Clock = std::chrono::steady_clock;
    // Timed waits end late, by a millisecond or two on Windows, and a piece released late
    // leaves the wire idle: there the wait ends early by what the waits before it overran, and
    // the rest is spent yielding. Overruns too small to matter (Linux) spend nothing.
    constexpr std::chrono::nanoseconds kNoticed = std::chrono::microseconds(250);
    constexpr std::chrono::nanoseconds kMostLead = std::chrono::milliseconds(3);
    const auto wakeAt = due - lead_;
    PauseUntil(Capture(), timings_, wakeAt, [this] { return PortFailed(); });
    const auto overran =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - wakeAt);
    lead_ = overran > kNoticed ? std::min(std::max(overran + overran / 2, lead_), kMostLead)
                               : lead_ - lead_ / 8;
    while (Clock::now() < due && !PortFailed())
        std::this_thread::yield();
}

void MidiPortPair::LongRequestLost(std::size_t length) {
    if (timings_.pacedRetry && !pace_.On() && Pace::Wire().Splits(length)) {
        pace_ = Pace::Wire();
        pacedAfterLoss_ = true;
    }
}

void ArmForReply(MidiPortPair& pair) {
    pair.Capture().Clear();
    pair.Input().QueueBuffer();
    pair.Input().Start();
}

std::chrono::milliseconds AttemptWait(const LinkTimings& t) {
    // Kept within a day, so no timing that is passed in can overflow a deadline.
    constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
    const int64_t interval = std::clamp<int64_t>(t.pollInterval.count(), 0, kDayMs);
    const int64_t count = std::clamp<int64_t>(t.pollCount, 0, kDayMs);
    return std::chrono::milliseconds(std::min(interval * count, kDayMs));
}

uint16_t WaitForReply(MidiPortPair& pair, uint8_t* reply) {
    using Clock = std::chrono::steady_clock;
    const LinkTimings& t = pair.Timings();
    ReplyBufferType& capture = pair.Capture();
    bool filled = false;
    const std::function<bool()> failed = [&pair] { return pair.PortFailed(); };
    if (t.wakeOnArrival) {
        const auto deadline = Clock::now() + AttemptWait(t);
        for (;;) {
            const auto sliceEnd = t.idle ? std::min(deadline, Clock::now() + kIdleSlice) : deadline;
            filled = capture.WaitUntilFilled(sliceEnd, failed);
            if (filled || failed() || Clock::now() >= deadline)
                break;
            t.idle();
        }
    } else {
        const int polls = std::max(1, t.pollCount);
        for (int poll = 0; poll < polls && !failed(); ++poll) {
            if (capture.HasBytes()) {
                filled = true;
                break;
            }
            if (poll + 1 < polls)
                PauseUntil(capture, t, Clock::now() + t.pollInterval, failed);
        }
    }
    pair.ThrowIfPortFailed();  // a reply that came with the failure is not trusted
    if (!filled) {
        return 0;  // input stays started with its buffer queued
    }
    pair.Input().Stop();
    pair.Input().ReleaseBuffers();
    return static_cast<uint16_t>(capture.CopyOut(reply, kFrameArea));
}

bool IsValidReply(const uint8_t* request, const uint8_t* reply, std::size_t length) {
    if (length < kMinFrame) {
        return false;
    }
    if (std::memcmp(reply, request, 4) != 0 || reply[4] != kReplyMark) {
        return false;
    }
    return (FrameChecksum(reply, length) & 0x7F) == reply[length - 2];
}

bool Transact(MidiPortPair& pair, const uint8_t* request, std::size_t n, uint8_t* reply,
              std::size_t& length) {
    // The port reads the request after Send returns; the caller may reuse it only once the
    // driver is done with it, on every way out.
    struct SentGuard {
        midi::CMIDIOutDevice& out;
        ~SentGuard() { out.WaitUntilSent(); }
    } guard{pair.Output()};
    length = 0;
    // At least one attempt: a request that is never sent can have no answer to judge.
    const int attempts = std::max(1, pair.Timings().attempts);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        pair.ThrowIfPortFailed();
        ArmForReply(pair);
        pair.Send(request, n);
        const std::size_t got = WaitForReply(pair, reply);
        pair.ShowPendingNotices();
        if (IsValidReply(request, reply, got)) {
            length = got;
            return true;
        }
        pair.LongRequestLost(n);
    }
    return false;
}

}  // namespace vantro
