// The winmm stand-in against the documented behaviour that the winmm backend relies on, through
// the ordinary winmm calls.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WinmmModelControl.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

constexpr auto kBound = 10s;

struct Event {
    UINT message;
    DWORD_PTR param1;
    DWORD_PTR param2;
    DWORD thread;
};

// What the callbacks bring, for the test thread to wait for.
class Recorder {
  public:
    static void CALLBACK callback(HANDLE, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR param2) {
        auto* self = reinterpret_cast<Recorder*>(instance);
        if (self->onEvent) {
            self->onEvent(message, param1);
        }
        std::lock_guard lock(self->mutex_);
        self->events_.push_back({message, param1, param2, GetCurrentThreadId()});
        self->changed_.notify_all();
    }

    DWORD_PTR instance() { return reinterpret_cast<DWORD_PTR>(this); }

    // The events of this kind once there are `count` of them (fewer after the bound).
    std::vector<Event> waitFor(UINT message, size_t count) {
        std::unique_lock lock(mutex_);
        std::vector<Event> found;
        changed_.wait_for(lock, kBound, [&] {
            found.clear();
            for (const Event& e : events_) {
                if (e.message == message) {
                    found.push_back(e);
                }
            }
            return found.size() >= count;
        });
        return found;
    }

    size_t count(UINT message) {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const Event& e : events_) {
            n += e.message == message;
        }
        return n;
    }

    std::function<void(UINT, DWORD_PTR)> onEvent;  // on the callback's thread, before recording

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// A MIDI buffer and its header.
struct Buffer {
    explicit Buffer(size_t size) : data(size) {
        header.lpData = data.data();
        header.dwBufferLength = DWORD(size);
    }
    explicit Buffer(const Bytes& bytes) : Buffer(bytes.size()) {
        std::memcpy(data.data(), bytes.data(), bytes.size());
    }
    Bytes recorded() const { return Bytes(data.begin(), data.begin() + header.dwBytesRecorded); }
    std::vector<char> data;
    MIDIHDR header{};
};

// Takes what leaves an output; while held, the stand-in's thread waits in it.
class Sink {
  public:
    static void take(void* context, const unsigned char* bytes, unsigned length) {
        auto* self = static_cast<Sink*>(context);
        std::unique_lock lock(self->mutex_);
        self->changed_.wait_for(lock, kBound, [&] { return !self->held_; });
        self->messages_.emplace_back(bytes, bytes + length);
        self->changed_.notify_all();
    }

    void hold(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        changed_.notify_all();
    }

    std::vector<Bytes> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    std::vector<Bytes> messages_;
};

// Waits (within the bound) until `done` holds.
bool eventually(const std::function<bool()>& done) {
    for (auto end = Clock::now() + kBound; !done();) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string errorText(MMRESULT code, UINT size = MAXERRORLENGTH) {
    char text[MAXERRORLENGTH] = "unchanged";
    MMRESULT result = midiOutGetErrorTextA(code, text, size);
    return result == MMSYSERR_NOERROR ? text : "error " + std::to_string(result);
}

class WinmmModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model_ = winmm_model::loadControl();
        ASSERT_EQ(model_.reset(), 1);
    }

    void TearDown() override {
        if (!model_.violationCount) {
            return;  // not loaded: SetUp said why
        }
        EXPECT_EQ(model_.violationCount(), 0u) << model_.violations();
        EXPECT_EQ(model_.callbacksAfterClose(), 0u);
    }

    HMIDIIN openIn(UINT id, Recorder& recorder) {
        HMIDIIN h = nullptr;
        EXPECT_EQ(midiInOpen(&h, id, reinterpret_cast<DWORD_PTR>(&Recorder::callback),
                             recorder.instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }

    HMIDIOUT openOut(UINT id, Recorder& recorder) {
        HMIDIOUT h = nullptr;
        EXPECT_EQ(midiOutOpen(&h, id, reinterpret_cast<DWORD_PTR>(&Recorder::callback),
                              recorder.instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }

    winmm_model::Control model_{};
};

TEST_F(WinmmModelTest, ListsDevicesAndCallsBackOnItsOwnThread) {
    ASSERT_EQ(midiOutGetNumDevs(), 1u);
    ASSERT_EQ(midiInGetNumDevs(), 0u);
    MIDIOUTCAPSA outCaps{};
    ASSERT_EQ(midiOutGetDevCapsA(0, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
    EXPECT_STREQ(outCaps.szPname, "Microsoft GS Wavetable Synth");
    EXPECT_EQ(outCaps.wTechnology, MOD_SWSYNTH);

    EXPECT_EQ(model_.addInput("Unit In"), 0u);
    EXPECT_EQ(model_.addOutput("An output whose name is longer than a caps holds"), 1u);
    ASSERT_EQ(midiOutGetDevCapsA(1, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
    EXPECT_STREQ(outCaps.szPname, "An output whose name is longer ");  // 31 characters
    MIDIINCAPSA inCaps{};
    ASSERT_EQ(midiInGetDevCapsA(0, &inCaps, sizeof inCaps), MMSYSERR_NOERROR);
    EXPECT_STREQ(inCaps.szPname, "Unit In");
    EXPECT_EQ(midiInGetDevCapsA(1, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);

    Recorder recorder;
    HMIDIIN in = openIn(0, recorder);
    auto opened = recorder.waitFor(MIM_OPEN, 1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].thread, GetCurrentThreadId());
    EXPECT_TRUE(model_.isOpen(WINMM_MODEL_INPUT, 0));
    HMIDIIN again = nullptr;
    EXPECT_EQ(midiInOpen(&again, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(midiInOpen(&again, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    auto closed = recorder.waitFor(MIM_CLOSE, 1);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_NE(closed[0].thread, GetCurrentThreadId());
    EXPECT_EQ(midiInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_FALSE(model_.isOpen(WINMM_MODEL_INPUT, 0));

    // An open fails as when another program holds the device, once.
    model_.failNextOpen(WINMM_MODEL_OUTPUT, 1, MMSYSERR_ALLOCATED);
    HMIDIOUT out = nullptr;
    EXPECT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);

    // The texts, cut to the buffer with a NUL; the same for input and output.
    EXPECT_EQ(errorText(MMSYSERR_BADDEVICEID),
              "A device ID has been used that is out of range for your system.");
    EXPECT_EQ(errorText(MMSYSERR_BADDEVICEID, 8), "A devic");
    char inText[MAXERRORLENGTH] = {};
    ASSERT_EQ(midiInGetErrorTextA(MIDIERR_STILLPLAYING, inText, sizeof inText), MMSYSERR_NOERROR);
    EXPECT_EQ(errorText(MIDIERR_STILLPLAYING), inText);
    EXPECT_EQ(errorText(1234), "error " + std::to_string(MMSYSERR_BADERRNUM));
}

TEST_F(WinmmModelTest, SysexArrivesIntoQueuedBuffersInPieces) {
    ASSERT_EQ(model_.addInput("Unit In"), 0u);
    Recorder recorder;
    HMIDIIN in = openIn(0, recorder);
    Buffer a(4), b(4);
    for (Buffer* buffer : {&a, &b}) {
        ASSERT_EQ(midiInPrepareHeader(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(midiInAddBuffer(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);

    // One message across two buffers: the first when full, the second at F7.
    Bytes message = {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7};
    model_.inject(0, message.data(), unsigned(message.size()));
    auto back = recorder.waitFor(MIM_LONGDATA, 2);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].param1, reinterpret_cast<DWORD_PTR>(&a.header));
    EXPECT_EQ(back[1].param1, reinterpret_cast<DWORD_PTR>(&b.header));
    EXPECT_LE(back[0].param2, back[1].param2);
    EXPECT_EQ(a.recorded(), (Bytes{0xF0, 0x01, 0x02, 0x03}));
    EXPECT_EQ(b.recorded(), (Bytes{0x04, 0xF7}));
    EXPECT_EQ(a.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));

    // Handed back after every three bytes, as a driver passing on USB packets does.
    model_.setPiece(0, 3);
    for (Buffer* buffer : {&a, &b}) {
        ASSERT_EQ(midiInAddBuffer(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    message = {0xF0, 0x10, 0x11, 0x12, 0xF7};
    model_.inject(0, message.data(), unsigned(message.size()));
    ASSERT_EQ(recorder.waitFor(MIM_LONGDATA, 4).size(), 4u);
    EXPECT_EQ(a.recorded(), (Bytes{0xF0, 0x10, 0x11}));
    EXPECT_EQ(b.recorded(), (Bytes{0x12, 0xF7}));

    // With no buffer queued SysEx is lost (and counted); short messages still come.
    message = {0xF0, 0x20, 0xF7, 0x90, 0x40, 0x7F};
    model_.inject(0, message.data(), unsigned(message.size()));
    auto data = recorder.waitFor(MIM_DATA, 1);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].param1, 0x7F4090u);
    EXPECT_EQ(model_.lostBytes(0), 3u);

    // A status byte cuts a SysEx short: its buffer comes back marked invalid.
    ASSERT_EQ(midiInAddBuffer(in, &a.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    message = {0xF0, 0x01, 0x90, 0x40, 0x7F};
    model_.inject(0, message.data(), unsigned(message.size()));
    ASSERT_EQ(recorder.waitFor(MIM_LONGERROR, 1).size(), 1u);
    EXPECT_EQ(a.recorded(), (Bytes{0xF0, 0x01}));
    EXPECT_EQ(recorder.waitFor(MIM_DATA, 2).size(), 2u);

    // midiInReset hands every queued buffer back, done, before it returns.
    for (Buffer* buffer : {&a, &b}) {
        ASSERT_EQ(midiInAddBuffer(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    message = {0xF0, 0x30};
    model_.inject(0, message.data(), unsigned(message.size()));
    ASSERT_TRUE(eventually([&] { return model_.wireBytes(WINMM_MODEL_INPUT, 0) == 0; }));
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.count(MIM_LONGDATA), 6u);
    EXPECT_EQ(a.recorded(), (Bytes{0xF0, 0x30}));
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);
    EXPECT_EQ(b.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));
    for (Buffer* buffer : {&a, &b}) {
        EXPECT_EQ(midiInUnprepareHeader(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WinmmModelTest, LongMessagesLeaveInOrderAtTheWireRate) {
    ASSERT_EQ(model_.addOutput("Unit Out"), 1u);
    Sink sink;
    model_.setSink(1, &Sink::take, &sink);
    Recorder recorder;
    HMIDIOUT out = openOut(1, recorder);
    Bytes first(100, 0x55);  // 32 ms on the wire at 31250 baud
    first.front() = 0xF0;
    first.back() = 0xF7;
    Buffer m1(first), m2(Bytes{0xF0, 0x01, 0xF7});
    for (Buffer* buffer : {&m1, &m2}) {
        ASSERT_EQ(midiOutPrepareHeader(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }

    // Held in the sink, the first cannot be done: the calls return while it is under way.
    sink.hold(true);
    Clock::time_point sent = Clock::now();
    ASSERT_EQ(midiOutLongMsg(out, &m1.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &m2.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(m1.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_INQUEUE));
    EXPECT_EQ(midiOutUnprepareHeader(out, &m1.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiOutClose(out), MIDIERR_STILLPLAYING);
    sink.hold(false);

    auto done = recorder.waitFor(MOM_DONE, 2);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_GE(Clock::now() - sent, 30ms);
    EXPECT_EQ(done[0].param1, reinterpret_cast<DWORD_PTR>(&m1.header));
    EXPECT_EQ(done[1].param1, reinterpret_cast<DWORD_PTR>(&m2.header));
    EXPECT_EQ(sink.messages(), (std::vector<Bytes>{first, {0xF0, 0x01, 0xF7}}));
    EXPECT_EQ(m1.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));

    // midiOutReset hands back what is under way before it returns, and ends with the sustain
    // pedal off on every channel.
    model_.setBaud(WINMM_MODEL_OUTPUT, 1, 300);  // 33 ms a byte
    ASSERT_EQ(midiOutLongMsg(out, &m1.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.count(MOM_DONE), 3u);
    EXPECT_TRUE(m1.header.dwFlags & MHDR_DONE);
    EXPECT_TRUE(eventually([&] {
        std::vector<Bytes> taken = sink.messages();
        const Bytes& last = taken.back();  // the two messages came before
        return last.size() > 3 && Bytes(last.end() - 3, last.end()) == Bytes{0xBF, 0x40, 0x00};
    }));

    for (Buffer* buffer : {&m1, &m2}) {
        EXPECT_EQ(midiOutUnprepareHeader(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);

    // The synth completes without a wire.
    Recorder synthRecorder;
    HMIDIOUT synth = openOut(0, synthRecorder);
    Buffer m3(Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    ASSERT_EQ(midiOutPrepareHeader(synth, &m3.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(synth, &m3.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(synthRecorder.waitFor(MOM_DONE, 1).size(), 1u);
    EXPECT_EQ(midiOutUnprepareHeader(synth, &m3.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(synth), MMSYSERR_NOERROR);
}

TEST_F(WinmmModelTest, FaultsAndMisuseGiveTheDocumentedCodes) {
    ASSERT_EQ(model_.addInput("Other In"), 0u);
    ASSERT_EQ(model_.addInput("Unit In"), 1u);
    ASSERT_EQ(model_.addOutput("Unit Out"), 1u);
    Recorder inRecorder, outRecorder;
    HMIDIIN in = openIn(0, inRecorder);
    HMIDIOUT out = openOut(1, outRecorder);
    Buffer input(16), output(Bytes{0xF0, 0x01, 0xF7});

    EXPECT_EQ(midiInAddBuffer(in, &input.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    EXPECT_EQ(midiOutLongMsg(out, &output.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    EXPECT_EQ(midiOutShortMsg(reinterpret_cast<HMIDIOUT>(in), 0x90), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(midiInPrepareHeader(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutPrepareHeader(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

    ASSERT_EQ(midiInAddBuffer(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(in, &input.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);

    // "Busy, try again": twice, queueing nothing, then through.
    model_.failLongMsg(1, 2, MIDIERR_NOTREADY);
    EXPECT_EQ(midiOutLongMsg(out, &output.header, sizeof(MIDIHDR)), MIDIERR_NOTREADY);
    EXPECT_EQ(midiOutLongMsg(out, &output.header, sizeof(MIDIHDR)), MIDIERR_NOTREADY);
    EXPECT_FALSE(output.header.dwFlags & MHDR_INQUEUE);
    ASSERT_EQ(midiOutLongMsg(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(outRecorder.waitFor(MOM_DONE, 1).size(), 1u);

    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);

    // Queueing a buffer again from inside the callback is misuse, and is recorded.
    HMIDIIN unit = openIn(1, inRecorder);
    ASSERT_EQ(midiInPrepareHeader(unit, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    inRecorder.onEvent = [&](UINT message, DWORD_PTR param1) {
        if (message == MIM_LONGDATA && input.header.dwBytesRecorded) {
            midiInAddBuffer(unit, reinterpret_cast<MIDIHDR*>(param1), sizeof(MIDIHDR));
        }
    };
    ASSERT_EQ(midiInAddBuffer(unit, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(unit), MMSYSERR_NOERROR);
    Bytes message = {0xF0, 0x01, 0xF7};
    model_.inject(1, message.data(), unsigned(message.size()));
    ASSERT_TRUE(eventually([&] { return model_.violationCount() == 1; }));
    EXPECT_NE(model_.violations().find("midiInAddBuffer"), std::string::npos);
    ASSERT_EQ(midiInReset(unit), MMSYSERR_NOERROR);
    inRecorder.onEvent = nullptr;
    EXPECT_EQ(midiInUnprepareHeader(unit, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(unit), MMSYSERR_NOERROR);
    EXPECT_EQ(model_.reset(), 1);  // clears the violation
}

TEST_F(WinmmModelTest, ADriverCanKeepBuffersPastAReset) {
    ASSERT_EQ(model_.addInput("Unit In"), 0u);
    ASSERT_EQ(model_.addOutput("Unit Out"), 1u);
    model_.holdAfterReset(WINMM_MODEL_INPUT, 0, WINMM_MODEL_HOLD_UNTIL_RELEASED);
    model_.holdAfterReset(WINMM_MODEL_OUTPUT, 1, WINMM_MODEL_HOLD_UNTIL_RELEASED);
    model_.setBaud(WINMM_MODEL_OUTPUT, 1, 300);  // 33 ms a byte: under way at the reset
    Recorder inRecorder, outRecorder;
    HMIDIIN in = openIn(0, inRecorder);
    HMIDIOUT out = openOut(1, outRecorder);
    Buffer input(16), output(Bytes{0xF0, 0x01, 0x02, 0xF7});
    ASSERT_EQ(midiInPrepareHeader(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutPrepareHeader(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    Bytes begun = {0xF0, 0x01};
    model_.inject(0, begun.data(), unsigned(begun.size()));
    ASSERT_TRUE(eventually([&] { return model_.wireBytes(WINMM_MODEL_INPUT, 0) == 0; }));
    ASSERT_EQ(midiOutLongMsg(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

    // Both resets succeed, yet the buffers stay queued: no callback, and what needs them back
    // says so.
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(model_.heldHeaders(), 2u);
    EXPECT_EQ(outRecorder.count(MOM_DONE), 0u);
    EXPECT_EQ(inRecorder.count(MIM_LONGDATA), 0u);
    for (Buffer* buffer : {&input, &output}) {
        EXPECT_EQ(buffer->header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_INQUEUE));
    }
    EXPECT_EQ(midiOutUnprepareHeader(out, &output.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInUnprepareHeader(in, &input.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiOutClose(out), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);

    // Handed back later, done, each with its callback, the input with what it had got.
    EXPECT_EQ(model_.releaseHeld(), 2u);
    EXPECT_EQ(model_.heldHeaders(), 0u);
    auto done = outRecorder.waitFor(MOM_DONE, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].param1, reinterpret_cast<DWORD_PTR>(&output.header));
    ASSERT_EQ(inRecorder.waitFor(MIM_LONGDATA, 1).size(), 1u);
    EXPECT_EQ(input.recorded(), begun);
    for (Buffer* buffer : {&input, &output}) {
        EXPECT_EQ(buffer->header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));
    }
    EXPECT_EQ(midiOutUnprepareHeader(out, &output.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(in, &input.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WinmmModelTest, NoticesABufferFreedWhileTheDriverHeldIt) {
    ASSERT_EQ(model_.addInput("Unit In"), 0u);
    ASSERT_EQ(model_.addOutput("Unit Out"), 1u);
    model_.setBaud(WINMM_MODEL_OUTPUT, 1, 300);
    Recorder inRecorder, outRecorder;
    HMIDIIN in = openIn(0, inRecorder);
    HMIDIOUT out = openOut(1, outRecorder);
    Bytes message = {0xF0, 0x01, 0x02, 0xF7};

    // Right: the driver hands the header back on its own 50 ms after the reset; the
    // application waits for MOM_DONE before it unprepares and frees.
    model_.holdAfterReset(WINMM_MODEL_OUTPUT, 1, 50);
    auto kept = std::make_unique<Buffer>(message);
    ASSERT_EQ(midiOutPrepareHeader(out, &kept->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &kept->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    Clock::time_point reset = Clock::now();
    EXPECT_EQ(midiOutUnprepareHeader(out, &kept->header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    ASSERT_EQ(outRecorder.waitFor(MOM_DONE, 1).size(), 1u);
    EXPECT_GE(Clock::now() - reset, 50ms);
    ASSERT_EQ(midiOutUnprepareHeader(out, &kept->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    kept.reset();
    EXPECT_EQ(model_.headerViolations(), 0u);

    // Wrong: the application takes MIDIERR_STILLPLAYING for done and frees the buffer.
    model_.holdAfterReset(WINMM_MODEL_OUTPUT, 1, WINMM_MODEL_HOLD_UNTIL_RELEASED);
    auto freed = std::make_unique<Buffer>(message);
    ASSERT_EQ(midiOutPrepareHeader(out, &freed->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &freed->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(out, &freed->header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    freed.reset();
    EXPECT_EQ(model_.releaseHeld(), 1u);
    EXPECT_EQ(model_.headerViolations(), 1u);
    EXPECT_EQ(outRecorder.count(MOM_DONE), 1u);  // none for the freed one
    EXPECT_NE(model_.violations().find("freed"), std::string::npos) << model_.violations();
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);

    // Wrong: an input buffer freed while queued. The driver writes nothing into it.
    auto queued = std::make_unique<Buffer>(16);
    ASSERT_EQ(midiInPrepareHeader(in, &queued->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &queued->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    queued.reset();
    model_.inject(0, message.data(), unsigned(message.size()));
    ASSERT_TRUE(eventually([&] { return model_.headerViolations() == 2; }));
    ASSERT_TRUE(eventually([&] { return model_.lostBytes(0) == message.size(); }));
    EXPECT_EQ(inRecorder.count(MIM_LONGDATA), 0u);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(model_.reset(), 1);  // clears the violations
}

TEST_F(WinmmModelTest, AnUnpluggedDeviceLeavesItsListAndItsDriverFailsOrFallsSilent) {
    // Two interfaces, each with an IN and an OUT: A's driver falls silent when removed, its
    // handles still answer the ID query; B's driver fails what it held back.
    ASSERT_EQ(model_.addInput("A In"), 0u);
    ASSERT_EQ(model_.addOutput("A Out"), 1u);
    ASSERT_EQ(model_.addInput("B In"), 1u);
    ASSERT_EQ(model_.addOutput("B Out"), 2u);
    model_.idAfterRemoval(WINMM_MODEL_INPUT, 0, 1);
    model_.idAfterRemoval(WINMM_MODEL_OUTPUT, 1, 1);
    model_.silentRemoval(WINMM_MODEL_INPUT, 1, 0);
    model_.silentRemoval(WINMM_MODEL_OUTPUT, 2, 0);
    Recorder aIn, aOut, bIn, bOut;
    HMIDIIN inA = openIn(0, aIn), inB = openIn(1, bIn);
    HMIDIOUT outA = openOut(1, aOut), outB = openOut(2, bOut);
    Buffer inputA(16), inputB(16), outputA(Bytes{0xF0, 0x01, 0xF7}),
        outputB(Bytes{0xF0, 0x02, 0xF7});
    for (auto [in, buffer] : {std::pair{inA, &inputA}, std::pair{inB, &inputB}}) {
        ASSERT_EQ(midiInPrepareHeader(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(midiInAddBuffer(in, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    }
    for (auto [out, buffer] : {std::pair{outA, &outputA}, std::pair{outB, &outputB}}) {
        ASSERT_EQ(midiOutPrepareHeader(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    for (unsigned id : {1u, 2u}) {
        model_.setBaud(WINMM_MODEL_OUTPUT, id, 300);  // under way when the device goes
    }
    ASSERT_EQ(midiOutLongMsg(outA, &outputA.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(outB, &outputB.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

    // A's OUT vanishes alone: B Out moves down; the handle's own ID query still answers, with
    // the ID that is now B Out's; what needs the driver fails, and the buffer never comes back.
    // A's IN goes on.
    ASSERT_TRUE(model_.remove(WINMM_MODEL_OUTPUT, 1));
    EXPECT_EQ(midiOutGetNumDevs(), 2u);
    MIDIOUTCAPSA caps{};
    ASSERT_EQ(midiOutGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "B Out");
    UINT id = 99;
    EXPECT_EQ(midiOutGetID(outA, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(midiOutShortMsg(outA, 0x7F4090), MMSYSERR_NODRIVER);
    Buffer another(4);
    EXPECT_EQ(midiOutPrepareHeader(outA, &another.header, sizeof(MIDIHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiOutReset(outA), MMSYSERR_NODRIVER);
    EXPECT_EQ(outputA.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_INQUEUE));
    EXPECT_EQ(midiOutUnprepareHeader(outA, &outputA.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    Bytes message = {0xF0, 0x01, 0xF7};
    model_.inject(0, message.data(), unsigned(message.size()));
    ASSERT_EQ(aIn.waitFor(MIM_LONGDATA, 1).size(), 1u);
    EXPECT_EQ(midiOutClose(outA), MMSYSERR_NOERROR);
    EXPECT_EQ(aOut.count(MOM_DONE) + aOut.count(MOM_CLOSE), 0u);
    ASSERT_EQ(midiInAddBuffer(inA, &inputA.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

    // A's IN goes too, silently: its buffer stays queued.
    ASSERT_TRUE(model_.remove(WINMM_MODEL_INPUT, 0));
    EXPECT_EQ(midiInGetID(inA, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(midiInStart(inA), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiInStop(inA), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiInReset(inA), MMSYSERR_NODRIVER);
    EXPECT_EQ(inputA.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_INQUEUE));
    EXPECT_EQ(midiInUnprepareHeader(inA, &inputA.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInClose(inA), MMSYSERR_NOERROR);
    EXPECT_EQ(aIn.count(MIM_LONGDATA), 1u);
    EXPECT_EQ(aIn.count(MIM_CLOSE), 0u);

    // B goes as a whole, from both lists at once; its output under way comes back unsent, its
    // input at midiInReset.
    ASSERT_TRUE(model_.removePair(0, 1));
    EXPECT_EQ(midiInGetNumDevs(), 0u);
    EXPECT_EQ(midiOutGetNumDevs(), 1u);
    ASSERT_EQ(bOut.waitFor(MOM_DONE, 1).size(), 1u);
    EXPECT_EQ(midiOutGetID(outB, &id), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiOutShortMsg(outB, 0x7F4090), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiInStart(inB), MMSYSERR_NODRIVER);
    ASSERT_EQ(midiInReset(inB), MMSYSERR_NOERROR);
    EXPECT_EQ(bIn.count(MIM_LONGDATA), 1u);
    EXPECT_EQ(midiInUnprepareHeader(inB, &inputB.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(outB, &outputB.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(inB), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(outB), MMSYSERR_NOERROR);
}
TEST_F(WinmmModelTest, ACableWithoutFlowControlLosesWhatItsBufferCannotHold) {
    ASSERT_EQ(model_.addOutput("Cable Out"), 1u);
    ASSERT_EQ(model_.setCable(1, 64), 1);  // at 31250 baud: 320 us a byte
    Sink sink;
    model_.setSink(1, &Sink::take, &sink);
    auto taken = [](Sink& from) {  // the bytes of every message so far, one after another
        Bytes all;
        for (const Bytes& m : from.messages()) {
            all.insert(all.end(), m.begin(), m.end());
        }
        return all;
    };
    Recorder recorder;
    size_t takenAtDone = ~size_t(0);
    recorder.onEvent = [&](UINT message, DWORD_PTR) {
        if (message == MOM_DONE) {
            takenAtDone = sink.messages().size();  // on the stand-in's thread, as the sink
        }
    };
    HMIDIOUT out = openOut(1, recorder);
    Bytes sysex(528);  // 169 ms on the wire
    for (size_t i = 0; i < sysex.size(); ++i) {
        sysex[i] = static_cast<unsigned char>(i % 0x80);
    }
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;

    // All at once: the buffer comes back before even the bytes kept have left the wire; only
    // the first 64 bytes fit.
    Buffer whole(sysex);
    ASSERT_EQ(midiOutPrepareHeader(out, &whole.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &whole.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(recorder.waitFor(MOM_DONE, 1).size(), 1u);
    recorder.onEvent = nullptr;
    EXPECT_EQ(takenAtDone, 0u);
    EXPECT_EQ(whole.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));
    EXPECT_EQ(model_.cableLostBytes(1), 464u);
    std::fill(whole.data.begin(), whole.data.end(), 0);  // the driver has its own copy
    ASSERT_TRUE(eventually([&] { return taken(sink).size() >= 64; }));
    EXPECT_EQ(model_.wireBytes(WINMM_MODEL_OUTPUT, 1), 0u);
    EXPECT_EQ(taken(sink), Bytes(sysex.begin(), sysex.begin() + 64));
    EXPECT_EQ(midiOutUnprepareHeader(out, &whole.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

    // In pieces of 32 bytes, each handed over no sooner than the previous one's wire time after
    // that call returned, so that it finds the cable empty however late the previous came:
    // nothing is lost.
    ASSERT_EQ(model_.setCable(1, 64), 1);
    EXPECT_EQ(model_.cableLostBytes(1), 0u);
    Sink paced;
    model_.setSink(1, &Sink::take, &paced);
    constexpr size_t kPiece = 32;
    constexpr auto kPieceTime = 10240us;
    Clock::time_point returned{};
    size_t done = 1;
    for (size_t at = 0; at < sysex.size(); at += kPiece) {
        Buffer piece(
            Bytes(sysex.begin() + at, sysex.begin() + std::min(at + kPiece, sysex.size())));
        ASSERT_EQ(midiOutPrepareHeader(out, &piece.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        for (Clock::time_point next = returned + kPieceTime; Clock::now() < next;) {
            std::this_thread::sleep_until(next);  // which can wake early under Wine
        }
        ASSERT_EQ(midiOutLongMsg(out, &piece.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        returned = Clock::now();
        ASSERT_EQ(recorder.waitFor(MOM_DONE, ++done).size(), done);
        ASSERT_EQ(midiOutUnprepareHeader(out, &piece.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(eventually([&] { return taken(paced).size() >= sysex.size(); }));
    EXPECT_EQ(taken(paced), sysex);
    EXPECT_EQ(model_.cableLostBytes(1), 0u);

    // Back to back on a wire of a second a byte, so that nothing drains between the two: the
    // second finds 60 of the cable's 64 bytes taken and keeps 4 of its 8.
    model_.setBaud(WINMM_MODEL_OUTPUT, 1, 10);
    Buffer first(Bytes(sysex.begin(), sysex.begin() + 60)), second(Bytes(8, 0x55));
    for (Buffer* buffer : {&first, &second}) {
        ASSERT_EQ(midiOutPrepareHeader(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutLongMsg(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(model_.cableLostBytes(1), 4u);
    EXPECT_EQ(model_.wireBytes(WINMM_MODEL_OUTPUT, 1), 64u);
    ASSERT_EQ(recorder.waitFor(MOM_DONE, done + 2).size(), done + 2);
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);  // rather than wait a minute for the wire
    EXPECT_EQ(model_.wireBytes(WINMM_MODEL_OUTPUT, 1), 0u);
    for (Buffer* buffer : {&first, &second}) {
        EXPECT_EQ(midiOutUnprepareHeader(out, &buffer->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
}
}  // namespace
