#include "platform/rtmidi/JackOutput.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "platform/MidiSeam.h"
#include "platform/rtmidi/JackClient.h"

namespace platform::detail {

namespace {
constexpr std::size_t kRingBytes = 1 << 16;
// Each message: its length, when it was queued (steady clock, microseconds), and whether it
// goes on from the one before (a piece of a SysEx message after its first).
struct Head {
    uint32_t length;
    int64_t queuedUs;
    bool continues;
};

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Placing a message further ahead than this would hold it back for a clock that drifts.
constexpr int64_t kLongestHoldUs = 100'000;
constexpr std::size_t kHeader = sizeof(Head);
}  // namespace

JackOutput::JackOutput(const std::string& clientName, const std::string& portName,
                       bool holdUntilConnected)
    : holdUntilConnected_(holdUntilConnected) {
    client_ = OpenJackClient(clientName, portName, JackPortIsOutput, port_);
    rate_ = jack_get_sample_rate(client_);
    ring_ = jack_ringbuffer_create(kRingBytes);
    jack_on_shutdown(client_, &JackOutput::Shutdown, this);
    if (port_ == nullptr || ring_ == nullptr ||
        jack_set_process_callback(client_, &JackOutput::Process, this) != 0 ||
        jack_activate(client_) != 0) {
        Close();
        throw std::runtime_error("cannot open a JACK MIDI output port");
    }
}

JackOutput::~JackOutput() {
    Drain();
    Close();
}

void JackOutput::Shutdown(void* arg) {
    auto* self = static_cast<JackOutput*>(arg);
    self->serverGone_ = true;
    ++shutdowns_;
    self->WakeDrain();
}

void JackOutput::WakeDrain() {
    if (draining_) {
        std::lock_guard lock(drainMutex_);  // a drain between its look and its wait hears it
    }
    drained_.notify_all();
}

void JackOutput::Drain() {
    if (client_ == nullptr || ring_ == nullptr) {
        return;
    }
    // Empty once the process callback has taken everything; out once one more cycle has run.
    // Woken by each cycle (and by the server going), bounded.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock lock(drainMutex_);
    draining_ = true;
    uint64_t emptiedAt = 0;
    bool empty = false;
    drained_.wait_until(lock, deadline, [&] {
        if (serverGone_) {
            return true;
        }
        if (!empty && jack_ringbuffer_read_space(ring_) == 0) {
            empty = true;
            emptiedAt = cycles_.load();
        }
        return empty && cycles_.load() > emptiedAt + 1;
    });
    draining_ = false;
}

void JackOutput::Close() {
    CloseJackClient(client_);
    if (ring_ != nullptr) {
        jack_ringbuffer_free(ring_);
        ring_ = nullptr;
    }
}

bool JackOutput::Connect(const std::string& destination) {
    const int r = jack_connect(client_, jack_port_name(port_), destination.c_str());
    return r == 0 || r == EEXIST;
}

PortFailure JackOutput::Send(const uint8_t* bytes, std::size_t length) {
    if (serverGone_) {
        return PortGone(jack_port_name(port_), "the JACK server has stopped.");
    }
    return Queue(bytes, length) ? PortFailure{} : PortFailure{mm::MMSYSERR_NOMEM, ""};
}

bool JackOutput::Queue(const uint8_t* bytes, std::size_t length) {
    if (length == 0 || length > kRingBytes / 2) {
        return false;
    }
    std::lock_guard lock(writers_);
    if (jack_ringbuffer_write_space(ring_) < kHeader + length) {
        return false;
    }
    const Head head{static_cast<uint32_t>(length), NowUs(), bytes[0] < 0x80};
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&head), kHeader);
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(bytes), length);
    return true;
}

// The JACK thread: moves whole queued messages into this cycle's buffer while they fit; the
// rest wait for the next cycle.
int JackOutput::Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackOutput*>(arg);
    struct Counted {
        JackOutput* self;
        ~Counted() {
            self->cycles_.fetch_add(1);
            if (self->draining_) {
                self->WakeDrain();  // only while a close waits, which holds its lock briefly
            }
        }
    } counted{self};
    void* buffer = jack_port_get_buffer(self->port_, frames);
    if (buffer == nullptr) {
        return 0;
    }
    jack_midi_clear_buffer(buffer);
    if (self->holdUntilConnected_ && jack_port_connected(self->port_) == 0) {
        return 0;
    }
    // A piece after a message's first goes as long after the piece before it as it was queued
    // after it: the pieces of a paced message keep their spacing, however late the cycles
    // run, and one that belongs to a later cycle waits for it. A message of its own goes at
    // once.
    const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);
    jack_nframes_t at = 0;
    Head head{};
    while (jack_ringbuffer_peek(self->ring_, reinterpret_cast<char*>(&head), kHeader) == kHeader &&
           jack_ringbuffer_read_space(self->ring_) >= kHeader + head.length) {
        if (head.continues && self->placedAny_) {
            const int64_t afterUs = head.queuedUs - self->lastQueuedUs_;
            // Frame times wrap around: the difference is taken modulo 2^32.
            const auto due =
                static_cast<int64_t>(static_cast<int32_t>(self->lastFrame_ - cycleStart)) +
                afterUs * static_cast<int64_t>(self->rate_) / 1'000'000;
            if (due >= static_cast<int64_t>(frames) &&
                due < kLongestHoldUs * static_cast<int64_t>(self->rate_) / 1'000'000)
                break;
            if (due > static_cast<int64_t>(at))
                at = static_cast<jack_nframes_t>(std::min<int64_t>(due, frames - 1));
        }
        jack_midi_data_t* event = jack_midi_event_reserve(buffer, at, head.length);
        if (event == nullptr && jack_midi_get_event_count(buffer) > 0) {
            break;  // full for this cycle
        }
        jack_ringbuffer_read_advance(self->ring_, kHeader);
        if (event == nullptr) {
            jack_ringbuffer_read_advance(self->ring_, head.length);  // larger than any cycle
            continue;
        }
        jack_ringbuffer_read(self->ring_, reinterpret_cast<char*>(event), head.length);
        self->placedAny_ = true;
        self->lastFrame_ = cycleStart + at;
        self->lastQueuedUs_ = head.queuedUs;
    }
    return 0;
}

}  // namespace platform::detail
