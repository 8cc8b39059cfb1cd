#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bootloader/Frame.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "midi/MidiReceiver.h"
#include "seam/MessageSeam.h"

namespace vantro {

// The last SysEx message received, with the lock that guards it. Filled on the MIDI callback
// thread, emptied and read by the thread that waits for a reply; a waiter is woken as soon as
// a message lands.
class ReplyBufferType {
  public:
    void Clear();
    bool HasBytes();
    void Replace(const char* data, std::size_t length);
    // Waits until the buffer holds a byte, stop() holds or the deadline passes; true when the
    // buffer holds a byte. stop() is looked at whenever Interrupt is called.
    bool WaitUntilFilled(std::chrono::steady_clock::time_point deadline,
                         const std::function<bool()>& stop = {});
    // Sleeps until the time comes or stop() holds, whatever the buffer holds (a poll's tick).
    void Pause(std::chrono::steady_clock::time_point until, const std::function<bool()>& stop);
    // Wakes a waiter to look at its stop condition again (from any thread; never blocks long).
    void Interrupt();
    // Copies the message into area (capacity bytes); returns its length, or 0 when it does not
    // fit (such a message is no reply of this protocol).
    std::size_t CopyOut(uint8_t* area, std::size_t capacity);

  private:
    std::mutex mutex_;
    std::condition_variable filled_;
    std::vector<uint8_t> bytes_;
};

extern ReplyBufferType ReplyBuffer;

// How a long message leaves: in pieces of `piece` bytes, each released no earlier than the wire
// time of the bytes before it plus `gap`, so that an interface without flow control never has
// to hold more than a piece. piece 0: whole, at once.
struct Pace {
    // 5-pin MIDI: 31,250 baud, 10 bits a byte.
    static constexpr std::chrono::microseconds kByteTime{320};

    std::size_t piece = 0;
    std::chrono::milliseconds gap{0};
    std::chrono::microseconds byteTime = kByteTime;  // shorter only in tests

    // The wire's own rate: nothing is slower than the wire itself.
    static constexpr Pace Wire() { return Pace{32, std::chrono::milliseconds(0), kByteTime}; }
    bool On() const { return piece != 0; }
    // Whether a message of `length` bytes leaves in more than one piece.
    bool Splits(std::size_t length) const { return On() && length > piece; }
};

// How long an exchange waits. The defaults are the unit's: 200 polls of 50 ms per attempt,
// three attempts. wakeOnArrival ends a poll as soon as a reply lands instead of at the next
// tick; the total bound stays the same.
struct LinkTimings {
    std::chrono::milliseconds pollInterval{50};
    int pollCount = 200;
    int attempts = 3;
    bool wakeOnArrival = true;
    // Called about every 10 ms while a reply is awaited, so a window can keep painting.
    std::function<void()> idle;
    // How long messages leave from the start.
    Pace pace;
    // With pace off: once a long request gets no valid answer, it and every later long
    // request of the pair leave at the wire's rate.
    bool pacedRetry = true;
};

// Sees every SysEx message sent to or received from the unit (received ones on the MIDI
// callback thread).
class LinkTrace {
  public:
    virtual ~LinkTrace() = default;
    virtual void Sent(const uint8_t* bytes, std::size_t length) = 0;
    virtual void Received(const uint8_t* bytes, std::size_t length) = 0;
};

// Notices raised on the MIDI callback thread, shown later by the thread that may show them.
class PendingNotices {
  public:
    void Add(const std::string& text);
    std::vector<std::string> Take();

  private:
    static constexpr std::size_t kMaxPending = 8;  // a noisy line must not grow this
    std::mutex mutex_;
    std::vector<std::string> notices_;
    std::vector<std::string> raised_;  // every text raised so far, each once
};

// Copies every reply into its pair's capture, ReplyBuffer unless the pair has its own.
class MyReceiver : public midi::CMIDIReceiver {
  public:
    MyReceiver(PendingNotices& notices, LinkTrace* trace, ReplyBufferType& capture = ReplyBuffer)
        : notices_(notices), trace_(trace), capture_(capture) {}

    void OnLongMessage(const char* data, uint32_t length, uint32_t timeStamp) override;
    void OnShortMessage(uint32_t, uint32_t) override {}
    void OnLongMessageError(const char*, uint32_t, uint32_t) override {}
    void OnShortMessageError(uint32_t message, uint32_t timeStamp) override;

  private:
    PendingNotices& notices_;
    LinkTrace* trace_;
    ReplyBufferType& capture_;
};

// An input and an output port opened together for one conversation with the unit.
class MidiPortPair {
  public:
    explicit MidiPortPair(MessageSeam* messages = nullptr, LinkTimings timings = {},
                          LinkTrace* trace = nullptr);
    ~MidiPortPair();
    MidiPortPair(const MidiPortPair&) = delete;
    MidiPortPair& operator=(const MidiPortPair&) = delete;

    void OpenPorts(mm::UINT inputIndex, mm::UINT outputIndex);

    // Gives the pair a reply capture and an input data area of its own instead of the
    // process's, so that it can talk to one unit while other pairs talk to others. Before
    // OpenPorts.
    void UseOwnCapture();
    ReplyBufferType& Capture() { return ownCapture_ ? *ownCapture_ : ReplyBuffer; }

    // Shows what the callback thread has raised since the last call.
    void ShowPendingNotices();

    // Sends one message, in pieces when the pair paces messages of its length, and records it
    // in the trace. Returns once the last piece has been handed on.
    void Send(const uint8_t* bytes, std::size_t length);

    // A long request of `length` bytes got no valid answer: with the paced retry on, long
    // messages leave at the wire's rate from now on.
    void LongRequestLost(std::size_t length);
    // Whether that has happened since the pair was made.
    bool PacedAfterLoss() const { return pacedAfterLoss_; }

    // Throws the port error of a port whose device has failed since it opened.
    void ThrowIfPortFailed() const;
    bool PortFailed() const { return input_.Failure() != 0 || output_.Failure() != 0; }

    midi::CMIDIInDevice& Input() { return input_; }
    midi::CMIDIOutDevice& Output() { return output_; }
    const LinkTimings& Timings() const { return timings_; }

  private:
    void SendPaced(const uint8_t* bytes, std::size_t length);
    // Returns at due, not before, and as close after it as the system lets it.
    void WaitForPiece(std::chrono::steady_clock::time_point due);

    MessageSeam* messages_;
    LinkTimings timings_;
    LinkTrace* trace_;
    Pace pace_;
    bool pacedAfterLoss_ = false;
    // How much earlier than a piece is due its timed wait ends (see SendPaced).
    std::chrono::nanoseconds lead_{0};
    PendingNotices notices_;
    std::unique_ptr<ReplyBufferType> ownCapture_;
    // Declared before the ports so that it is deleted after the input port has closed.
    std::unique_ptr<MyReceiver> receiver_;
    midi::CMIDIInDevice input_;
    midi::CMIDIOutDevice output_;
};

// How long one attempt waits: the poll interval times the poll count, at most a day.
std::chrono::milliseconds AttemptWait(const LinkTimings& timings);

// Empties the pair's capture, queues an input buffer and starts input: done before the request
// leaves, so that a fast unit's reply cannot arrive before input runs.
void ArmForReply(MidiPortPair& pair);

// Waits for one reply and copies it into the 528-byte reply area; returns its length, 0 when
// none came in time.
uint16_t WaitForReply(MidiPortPair& pair, uint8_t* reply);

// One exchange, up to the pair's number of attempts. Returns whether a valid reply frame was
// captured; length gets its length.
bool Transact(MidiPortPair& pair, const uint8_t* request, std::size_t n, uint8_t* reply,
              std::size_t& length);

// The checks a reply frame must pass (header, mark, checksum), before its code is looked at.
bool IsValidReply(const uint8_t* request, const uint8_t* reply, std::size_t length);

}  // namespace vantro
