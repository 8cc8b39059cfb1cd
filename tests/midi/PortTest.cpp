#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "MidiTestSupport.h"
#include "midi/MidiExceptions.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiMsg.h"
#include "midi/MidiOutDevice.h"
#include "platform/DeviceChange.h"
#include "platform/VirtualMidi.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

using namespace testutil;
using midi::CMIDIInDevice;
using midi::CMIDIOutDevice;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// ---- input port ---------------------------------------------------------------------------

class InputPortTest : public ::testing::Test {
  protected:
    InputPortTest() : source_("test source " + std::to_string(counter_++)) {}

    void OpenWithReceiver() {
        port_.AttachReceiver(&receiver_);
        const int id = FindInput(source_.Name());
        ASSERT_GE(id, 0);
        port_.OpenPort(static_cast<UINT>(id));
    }

    static inline int counter_ = 0;
    platform::VirtualInputPort source_;
    RecordingReceiver receiver_;
    CMIDIInDevice port_;
};

TEST_F(InputPortTest, StateTable) {
    EXPECT_EQ(port_.GetState(), midi::Closed);
    port_.Start();  // closed: nothing
    port_.Stop();
    port_.ClosePort();
    EXPECT_EQ(port_.GetState(), midi::Closed);

    OpenWithReceiver();
    EXPECT_EQ(port_.GetState(), midi::Opened);
    EXPECT_TRUE(source_.IsOpen());
    port_.Stop();  // not started: nothing
    EXPECT_EQ(port_.GetState(), midi::Opened);
    port_.Start();
    port_.Start();
    EXPECT_EQ(port_.GetState(), midi::Started);
    port_.Stop();
    EXPECT_EQ(port_.GetState(), midi::Opened);
    port_.ClosePort();
    EXPECT_EQ(port_.GetState(), midi::Closed);
    EXPECT_FALSE(source_.IsOpen());
    port_.ClosePort();
    EXPECT_EQ(port_.GetState(), midi::Closed);
}

TEST_F(InputPortTest, SysExReachesTheReceiverAndItsBufferIsReleased) {
    OpenWithReceiver();
    port_.QueueBuffer();
    port_.Start();
    const Bytes reply = SysEx(528);
    source_.SendSysEx(reply.data(), reply.size());
    ASSERT_TRUE(receiver_.WaitFor([](auto& r) { return r.longs_.size() == 1; }));
    EXPECT_EQ(receiver_.Longs()[0], reply);
    EXPECT_TRUE(Eventually([&] { return port_.QueuedBufferCount() == 0; }));
    port_.Stop();
}

TEST_F(InputPortTest, SysExLongerThanOneBufferComesInPieces) {
    OpenWithReceiver();
    port_.QueueBuffer();
    port_.QueueBuffer();
    port_.Start();
    const Bytes big = SysEx(5000);
    source_.SendSysEx(big.data(), big.size());
    ASSERT_TRUE(receiver_.WaitFor([](auto& r) { return r.longs_.size() == 2; }));
    const auto pieces = receiver_.Longs();
    EXPECT_EQ(pieces[0].size(), 4096u);
    EXPECT_EQ(pieces[1].size(), 904u);
    Bytes joined = pieces[0];
    joined.insert(joined.end(), pieces[1].begin(), pieces[1].end());
    EXPECT_EQ(joined, big);

    // With one buffer only, the rest of the message is lost.
    port_.QueueBuffer();
    source_.SendSysEx(big.data(), big.size());
    ASSERT_TRUE(receiver_.WaitFor([](auto& r) { return r.longs_.size() == 3; }));
    const Bytes small = SysEx(16);
    source_.SendSysEx(small.data(), small.size());  // no buffer queued: lost
    port_.Stop();
    EXPECT_EQ(receiver_.Longs().size(), 3u);
    EXPECT_EQ(receiver_.Longs()[2].size(), 4096u);
}

TEST_F(InputPortTest, NothingIsCapturedBeforeInputStarts) {
    OpenWithReceiver();
    port_.QueueBuffer();
    const Bytes early = SysEx(8);
    source_.SendSysEx(early.data(), early.size());
    port_.Start();
    const Bytes later = SysEx(8, 5);
    source_.SendSysEx(later.data(), later.size());
    ASSERT_TRUE(receiver_.WaitFor([](auto& r) { return !r.longs_.empty(); }));
    EXPECT_THAT(receiver_.Longs(), ElementsAre(later));
}

TEST_F(InputPortTest, ClosingWithBuffersQueuedIsRefusedUntilStop) {
    OpenWithReceiver();
    port_.QueueBuffer();
    try {
        port_.ClosePort();
        FAIL() << "closed with a buffer queued";
    } catch (const midi::CMIDIInException& e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(MIDIERR_STILLPLAYING));
    }
    EXPECT_EQ(port_.GetState(), midi::Opened);
    port_.Start();
    port_.Stop();
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    port_.ClosePort();
    EXPECT_EQ(port_.GetState(), midi::Closed);
}

TEST_F(InputPortTest, BuffersHandedBackByStopNeverReachTheReceiver) {
    OpenWithReceiver();
    for (int i = 0; i < 3; ++i)
        port_.QueueBuffer();
    port_.Start();
    port_.Stop();
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    EXPECT_THAT(receiver_.Longs(), IsEmpty());
    EXPECT_THAT(receiver_.LongErrors(), IsEmpty());
}

TEST_F(InputPortTest, WithoutAReceiverNothingIsDeliveredAndBuffersStay) {
    const int id = FindInput(source_.Name());
    port_.OpenPort(static_cast<UINT>(id));
    port_.QueueBuffer();
    port_.Start();
    const Bytes msg = SysEx(8);
    source_.SendSysEx(msg.data(), msg.size());
    // The driver returns the filled buffer, but nobody signals: it stays queued until Stop.
    ASSERT_TRUE(Eventually([&] { return !port_.DriverHoldsBuffers(); }));
    EXPECT_EQ(port_.QueuedBufferCount(), 1u);
    port_.Stop();
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
}

TEST_F(InputPortTest, ShortMessagesErrorsAndBrokenSysEx) {
    OpenWithReceiver();
    port_.QueueBuffer();
    port_.Start();
    source_.SendShort(0x7F3C90);
    source_.SendInvalidShort(0x000042);
    const Bytes broken = {0xF0, 0x6F, 0x10};
    source_.SendBrokenSysEx(broken.data(), broken.size());
    ASSERT_TRUE(receiver_.WaitFor([](auto& r) {
        return r.shorts_.size() == 1 && r.shortErrors_.size() == 1 && r.longErrors_.size() == 1;
    }));
    EXPECT_THAT(receiver_.Shorts(), ElementsAre(0x7F3C90u));
    EXPECT_THAT(receiver_.ShortErrors(), ElementsAre(0x42u));
    EXPECT_THAT(receiver_.LongErrors(), ElementsAre(broken));
    EXPECT_THAT(receiver_.Longs(), IsEmpty());
}

TEST_F(InputPortTest, OpenFailuresCarryTheSystemText) {
    try {
        port_.OpenPort(10000);
        FAIL();
    } catch (const midi::CMIDIInException& e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(MMSYSERR_BADDEVICEID));
    }
    EXPECT_EQ(port_.GetState(), midi::Closed);

    OpenWithReceiver();
    CMIDIInDevice second;
    try {
        second.OpenPort(static_cast<UINT>(FindInput(source_.Name())));
        FAIL();
    } catch (const midi::CMIDIInException& e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(MMSYSERR_ALLOCATED));
    }
    EXPECT_EQ(second.GetState(), midi::Closed);
}

TEST_F(InputPortTest, OpenOnAStartedPortReopens) {
    OpenWithReceiver();
    port_.QueueBuffer();
    port_.Start();
    port_.OpenPort(static_cast<UINT>(FindInput(source_.Name())));
    EXPECT_EQ(port_.GetState(), midi::Opened);
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    EXPECT_TRUE(source_.IsOpen());
}

TEST_F(InputPortTest, QueueBufferOnAClosedPortThrowsAndQueuesNothing) {
    EXPECT_THROW(port_.QueueBuffer(), midi::CMIDIInException);
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    OpenWithReceiver();
    port_.ClosePort();
    EXPECT_THROW(port_.QueueBuffer(), midi::CMIDIInException);
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
}

TEST_F(InputPortTest, DestructorClosesEvenWithBuffersQueued) {
    {
        CMIDIInDevice port;
        port.OpenPort(static_cast<UINT>(FindInput(source_.Name())));
        port.QueueBuffer();
        port.QueueBuffer();
    }
    EXPECT_FALSE(source_.IsOpen());
}

// ---- output port --------------------------------------------------------------------------

class OutputPortTest : public ::testing::Test {
  protected:
    OutputPortTest()
        : sink_("test sink " + std::to_string(counter_++),
                [this](const uint8_t* b, std::size_t n) { OnSent(b, n); }) {}

    void Open() {
        const int id = FindOutput(sink_.Name());
        ASSERT_GE(id, 0);
        port_.OpenPort(static_cast<UINT>(id));
    }

    virtual void OnSent(const uint8_t* b, std::size_t n) {
        std::lock_guard lock(mutex_);
        sent_.emplace_back(b, b + n);
    }

    std::vector<Bytes> Sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }

    static inline int counter_ = 0;
    std::mutex mutex_;
    std::vector<Bytes> sent_;
    platform::VirtualOutputPort sink_;
    CMIDIOutDevice port_;
};

TEST_F(OutputPortTest, SendingOnAClosedPortDoesNothing) {
    const Bytes msg = SysEx(8);
    port_.SendSysEx(reinterpret_cast<const char*>(msg.data()), 8);
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    port_.ClosePort();
    port_.ClosePort();
    EXPECT_EQ(port_.GetState(), midi::Closed);
}

TEST_F(OutputPortTest, MessagesLeaveAndTheirHeadersAreReleased) {
    Open();
    EXPECT_EQ(port_.GetState(), midi::Opened);
    const Bytes a = SysEx(528), b = SysEx(8, 3);
    // Each header goes as its completion comes in, while the port stays open.
    port_.SendSysEx(reinterpret_cast<const char*>(a.data()), 528);
    EXPECT_TRUE(Eventually([&] { return port_.QueuedBufferCount() == 0; }));
    port_.SendSysEx(reinterpret_cast<const char*>(b.data()), 8);
    EXPECT_TRUE(Eventually([&] { return port_.QueuedBufferCount() == 0; }));
    EXPECT_THAT(Sent(), ElementsAre(a, b));
    port_.ClosePort();
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    EXPECT_FALSE(sink_.IsOpen());
}

TEST_F(OutputPortTest, CloseLetsAQueuedMessageLeaveFirst) {
    Open();
    const Bytes restart = {0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7};
    port_.SendSysEx(reinterpret_cast<const char*>(restart.data()), 8);
    port_.ClosePort();
    EXPECT_THAT(Sent(), ElementsAre(restart));
}

TEST_F(OutputPortTest, FailedLongMessageLeavesTheQueueUnchanged) {
    Open();
    const Bytes msg = SysEx(8);
    try {
        port_.SendSysEx(reinterpret_cast<const char*>(msg.data()), 0);
        FAIL();
    } catch (const midi::CMIDIOutException& e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(MMSYSERR_INVALPARAM));
    }
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    EXPECT_EQ(port_.GetState(), midi::Opened);
}

TEST_F(OutputPortTest, OpenOnAnOpenPortReopensAndAFailedOpenEndsClosed) {
    Open();
    Open();
    EXPECT_EQ(port_.GetState(), midi::Opened);
    EXPECT_THROW(port_.OpenPort(10000), midi::CMIDIOutException);
    EXPECT_EQ(port_.GetState(), midi::Closed);
    EXPECT_FALSE(sink_.IsOpen());
}

class SlowOutputPortTest : public OutputPortTest {
  protected:
    void OnSent(const uint8_t* b, std::size_t n) override {
        gate_.wait();  // the first message holds the driver until the test lets go
        OutputPortTest::OnSent(b, n);
    }
    std::promise<void> release_;
    std::shared_future<void> gate_ = release_.get_future().share();
};

TEST_F(SlowOutputPortTest, CompletionsArrivingTogetherReleaseNothingTwice) {
    Open();
    const Bytes a = SysEx(16), b = SysEx(16, 1), c = SysEx(16, 2);
    port_.SendSysEx(reinterpret_cast<const char*>(a.data()), 16);
    port_.SendSysEx(reinterpret_cast<const char*>(b.data()), 16);
    port_.SendSysEx(reinterpret_cast<const char*>(c.data()), 16);
    EXPECT_EQ(port_.QueuedBufferCount(), 3u);
    release_.set_value();
    ASSERT_TRUE(Eventually([&] { return Sent().size() == 3; }));
    // Completions that came together may count once: what is left waits for ClosePort, which
    // releases it once (a second release would be a double free under the sanitizers).
    port_.ClosePort();
    EXPECT_EQ(port_.QueuedBufferCount(), 0u);
    EXPECT_THAT(Sent(), ElementsAre(a, b, c));
}

// ---- a device that fails while open ------------------------------------------------------

TEST(PortFailure, ARefusedSendOrAPortThatGoesFailsThePortAndTellsAtOnce) {
    std::atomic<int> told{0};
    {
        // The system refuses a message on its way out: the port fails with its text, and
        // nothing more is taken.
        platform::VirtualOutputPort sink("refusing sink", [](const uint8_t*, std::size_t) {});
        sink.RefuseSends(MMSYSERR_NODRIVER);
        CMIDIOutDevice port;
        port.SetFailureListener([&] { ++told; });
        port.OpenPort(static_cast<UINT>(FindOutput("refusing sink")));
        const Bytes msg = SysEx(8);
        port.SendSysEx(reinterpret_cast<const char*>(msg.data()), 8);
        ASSERT_TRUE(Eventually([&] { return told == 1; }));
        try {
            port.SendSysEx(reinterpret_cast<const char*>(msg.data()), 8);
            FAIL() << "a failed port took a message";
        } catch (const midi::CMIDIOutException& e) {
            EXPECT_EQ(std::string(e.what()), ErrorText(MMSYSERR_NODRIVER));
        }
        port.ClosePort();
        EXPECT_EQ(port.QueuedBufferCount(), 0u);
        EXPECT_FALSE(sink.IsOpen());
    }
    {
        // The input's port goes while input runs: told, the text names the port, and the
        // port still closes.
        platform::VirtualInputPort source("vanishing source");
        RecordingReceiver receiver;
        CMIDIInDevice port;
        port.SetFailureListener([&] { ++told; });
        port.AttachReceiver(&receiver);
        port.OpenPort(static_cast<UINT>(FindInput("vanishing source")));
        port.QueueBuffer();
        port.Start();
        source.Remove();
        ASSERT_TRUE(Eventually([&] { return told == 2; }));
        EXPECT_EQ(FindInput("vanishing source"), -1);
        try {
            port.ThrowIfFailed();
            FAIL() << "no failure";
        } catch (const midi::CMIDIInException& e) {
            EXPECT_STREQ(e.what(),
                         "The MIDI port \"vanishing source\" is gone: it was unplugged, "
                         "or its MIDI system stopped.");
        }
        EXPECT_THROW(port.QueueBuffer(), midi::CMIDIInException);
        port.ClosePort();
        EXPECT_EQ(port.GetState(), midi::Closed);
    }
    {
        // The output's port goes while nothing is sent (a reply wait): told, not only at the
        // next send, which is refused with the port's name.
        platform::VirtualOutputPort sink("vanishing sink", [](const uint8_t*, std::size_t) {});
        CMIDIOutDevice port;
        port.SetFailureListener([&] { ++told; });
        port.OpenPort(static_cast<UINT>(FindOutput("vanishing sink")));
        sink.Remove();
        ASSERT_TRUE(Eventually([&] { return told == 3; }));
        const Bytes msg = SysEx(8);
        try {
            port.SendSysEx(reinterpret_cast<const char*>(msg.data()), 8);
            FAIL() << "a port that has gone took a message";
        } catch (const midi::CMIDIOutException& e) {
            EXPECT_THAT(e.what(), HasSubstr("\"vanishing sink\" is gone"));
        }
        port.ClosePort();
        EXPECT_EQ(port.QueuedBufferCount(), 0u);
    }
}

// ---- messages and exceptions --------------------------------------------------------------

TEST(MidiMessages, LongMessageOwnsACopy) {
    const char bytes[] = {'\xF0', 1, 2, '\xF7'};
    midi::CLongMsg msg(bytes, 4);
    EXPECT_EQ(msg.GetByteCount(), 4u);
    EXPECT_NE(msg.GetBytes(), bytes);
    EXPECT_EQ(std::memcmp(msg.GetBytes(), bytes, 4), 0);
    midi::CLongMsg empty(nullptr, 0);
    EXPECT_EQ(empty.GetByteCount(), 0u);
    EXPECT_EQ(empty.GetBytes(), nullptr);
}

TEST(MidiMessages, LongMessageSendsItself) {
    std::mutex m;
    std::vector<Bytes> sent;
    platform::VirtualOutputPort sink("message sink", [&](const uint8_t* b, std::size_t n) {
        std::lock_guard lock(m);
        sent.emplace_back(b, b + n);
    });
    CMIDIOutDevice port;
    port.OpenPort(static_cast<UINT>(FindOutput("message sink")));
    const Bytes bytes = SysEx(10);
    midi::CLongMsg msg(reinterpret_cast<const char*>(bytes.data()), 10);
    msg.SendTo(port);
    port.ClosePort();
    EXPECT_THAT(sent, ElementsAre(bytes));
}

TEST(MidiExceptions, TextsAreCutAt127AndCaughtAsStdException) {
    const std::string full = ErrorText(MIDIERR_INVALIDSETUP);
    ASSERT_GT(full.size(), 127u);
    const midi::CMIDIInException in(MIDIERR_INVALIDSETUP);
    EXPECT_EQ(std::string(in.what()), full.substr(0, 127));
    const midi::CMIDIOutException out(MIDIERR_INVALIDSETUP);
    EXPECT_EQ(std::strlen(out.what()), 127u);
    const midi::CMIDIOutException copy = out;
    EXPECT_STREQ(copy.what(), out.what());

    const midi::CMIDIInException unknown(12345);
    EXPECT_STREQ(unknown.what(), "Unknown MIDI input error (code 12345).");

    EXPECT_STREQ(midi::CMIDIInMemFailure().what(),
                 "Memory allocation within a CMIDIInDevice object failed.");
    EXPECT_STREQ(midi::CMIDIOutMemFailure().what(),
                 "Memory allocation within a CMIDIOutDevice object failed.");
    EXPECT_STREQ(midi::CMIDIInEventFailure().what(),
                 "Unable to create a signalling event for CMIDIInDevice object.");
    EXPECT_STREQ(midi::CMIDIOutEventFailure().what(),
                 "Unable to create a signalling event for CMIDIOutDevice object.");
    EXPECT_THROW(throw midi::CMIDIOutMemFailure(), std::bad_alloc);
    EXPECT_THROW(throw midi::CMIDIInEventFailure(), std::exception);
}

// ---- the device list and its changes --------------------------------------------------------

TEST(DeviceList, VirtualPortsFollowTheRealOnesAndNamesAreCut) {
    const UINT before = midiInGetNumDevs();
    platform::VirtualInputPort a("first virtual");
    platform::VirtualInputPort b("a virtual port whose name is much longer than thirty-one");
    ASSERT_EQ(midiInGetNumDevs(), before + 2);
    MIDIINCAPSA caps{};
    ASSERT_EQ(midiInGetDevCapsA(before, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "first virtual");
    ASSERT_EQ(midiInGetDevCapsA(before + 1, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), std::string("a virtual port whose name is mu"));
    EXPECT_EQ(midiInGetDevCapsA(before + 2, &caps, sizeof caps), MMSYSERR_BADDEVICEID);

    CMIDIInDevice port;
    EXPECT_THROW(port.GetPortCaps(before + 2, caps), midi::CMIDIInException);
}

TEST(DeviceList, ChangesAreNotifiedOnceEachAndOnlyOnChange) {
    std::mutex m;
    std::condition_variable cv;
    int notifications = 0;
    platform::DeviceChangeWatch watch(
        [&] {
            std::lock_guard lock(m);
            ++notifications;
            cv.notify_all();
        },
        std::chrono::milliseconds(10));
    auto waitFor = [&](int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return notifications >= n; });
    };
    {
        platform::VirtualOutputPort port("comes and goes", nullptr);
        ASSERT_TRUE(waitFor(1));
    }
    ASSERT_TRUE(waitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // several quiet polls
    std::lock_guard lock(m);
    EXPECT_EQ(notifications, 2);
}

}  // namespace
