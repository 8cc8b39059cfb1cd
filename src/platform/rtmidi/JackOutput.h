#pragma once
// A MIDI output port on a JACK client of our own, used instead of RtMidi's on JACK: RtMidi 5.0
// frees its JACK output's ring buffer while the client's process callback may still be reading
// it, which crashes the program when a port closes under load. Here the client is deactivated
// (JACK waits for the callback) before anything is freed.

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/RealBackend.h"

namespace platform::detail {

class JackOutput final : public RealOutput {
  public:
    // Throws std::runtime_error with the reason when the client or its port cannot be made.
    // holdUntilConnected: messages wait in the queue until the port's connection is part of
    // the graph JACK runs (a connection just made takes effect at a later cycle); otherwise
    // what is sent while nothing listens is gone, as on a cable.
    JackOutput(const std::string& clientName, const std::string& portName, bool holdUntilConnected);
    ~JackOutput() override;
    JackOutput(const JackOutput&) = delete;
    JackOutput& operator=(const JackOutput&) = delete;

    // Connects the port to another client's input port, by its full name.
    bool Connect(const std::string& destination);
    // Queues one message for the next process cycles; false when it cannot be queued.
    bool Queue(const uint8_t* bytes, std::size_t length);
    PortFailure Send(const uint8_t* bytes, std::size_t length) override;
    // The server has shut the client down (it stopped, or dropped us).
    bool ServerGone() const { return serverGone_.load(); }
    // How many times a server has shut one of our JACK outputs down, in this process: JACK
    // tells a client, not RtMidi's, so the other ports look here.
    static uint64_t Shutdowns() { return shutdowns_.load(); }

  private:
    static int Process(jack_nframes_t frames, void* self);
    static void Shutdown(void* self);
    // Lets what is queued leave (bounded) before the port goes.
    void Drain();
    // Tells a waiting drain that a cycle has run or the server has gone.
    void WakeDrain();
    void Close();

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;  // [length, time queued][bytes] per message
    jack_nframes_t rate_ = 48000;
    // The last message placed (on the process thread only): its frame and when it was queued.
    bool placedAny_ = false;
    jack_nframes_t lastFrame_ = 0;
    int64_t lastQueuedUs_ = 0;
    const bool holdUntilConnected_;
    std::mutex writers_;  // the ring takes one writer at a time
    std::atomic<bool> serverGone_{false};
    static inline std::atomic<uint64_t> shutdowns_{0};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> draining_{false};
    std::mutex drainMutex_;
    std::condition_variable drained_;  // told by the process callback while draining, and on
                                       // shutdown
};

}  // namespace platform::detail
