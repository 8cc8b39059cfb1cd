// Real ports: our port classes against a second JACK client on a JACK server that the test
// script starts (jackd -d dummy). Skipped, with the reason, where no server runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MidiTestSupport.h"
#include "midi/MidiInDevice.h"
#include "midi/MidiOutDevice.h"
#include "platform/DeviceChange.h"
#include "platform/MidiApi.h"
#include "platform/rtmidi/PublishedPortPair.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace {

using namespace testutil;

class JackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("JACK_DEFAULT_SERVER") == nullptr) {
            GTEST_SKIP() << "no JACK server was started for the tests (JACK_DEFAULT_SERVER unset)";
        }
        if (platform::RealMidiApi() != "jack") {
            GTEST_SKIP() << "JACK server '" << std::getenv("JACK_DEFAULT_SERVER")
                         << "' does not answer (real MIDI API: '" << platform::RealMidiApi()
                         << "')";
        }
    }
};

TEST_F(JackTest, SysExBothWaysWithASecondClient) {
    // The second client sends back every message it gets.
    std::unique_ptr<platform::PublishedPortPair> echo;
    echo = std::make_unique<platform::PublishedPortPair>(
        "vantro-echo", [&](const uint8_t* b, std::size_t n, auto) { echo->Send(b, n); });

    int inId = -1, outId = -1;
    ASSERT_TRUE(Eventually([&] {
        inId = FindInput("vantro-echo");
        outId = FindOutput("vantro-echo");
        return inId >= 0 && outId >= 0;
    })) << "the echo client's ports did not appear";

    RecordingReceiver receiver;
    midi::CMIDIInDevice in;
    midi::CMIDIOutDevice out;
    in.AttachReceiver(&receiver);
    in.OpenPort(static_cast<UINT>(inId));
    out.OpenPort(static_cast<UINT>(outId));
    in.QueueBuffer();
    in.Start();

    const Bytes frame = SysEx(528, 9);
    out.SendSysEx(reinterpret_cast<const char*>(frame.data()), 528);
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return !r.longs_.empty(); }));
    EXPECT_EQ(receiver.Longs()[0], frame);
    in.Stop();
    in.ClosePort();
    out.ClosePort();
}

// A second client that records every event it gets, and our output port open to it.
struct Listener {
    explicit Listener(const std::string& name)
        : pair(name, [this](const uint8_t* b, std::size_t n, auto) {
              std::lock_guard lock(m);
              heard.emplace_back(b, b + n);
          }) {
        int outId = -1;
        opened = Eventually([&] { return (outId = FindOutput(name)) >= 0; });
        if (opened)
            out.OpenPort(static_cast<UINT>(outId));
    }
    std::vector<Bytes> Heard() {
        std::lock_guard lock(m);
        return heard;
    }
    void Clear() {
        std::lock_guard lock(m);
        heard.clear();
    }

    std::mutex m;
    std::vector<Bytes> heard;
    platform::PublishedPortPair pair;
    midi::CMIDIOutDevice out;
    bool opened = false;
};

TEST_F(JackTest, TheLastMessageLeavesBeforeThePortCloses) {
    Listener unit("vantro-last-message");
    ASSERT_TRUE(unit.opened);
    const Bytes restart = {0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7};
    unit.out.SendSysEx(reinterpret_cast<const char*>(restart.data()), 8);
    unit.out.ClosePort();  // at once, as a run does after its restart frame
    EXPECT_TRUE(Eventually([&] {
        const auto heard = unit.Heard();
        return heard.size() == 1 && heard[0] == restart;
    }));
}

// The pieces of one SysEx message, each handed over as its own buffer, leave as JACK events of
// their own, in order, none lost or doubled, at every piece size.
TEST_F(JackTest, PiecesOfAMessageLeaveAsEventsInOrder) {
    Listener unit("vantro-pieces");
    ASSERT_TRUE(unit.opened);
    Bytes message(528);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<uint8_t>(i * 5 % 128);
    message.front() = 0xF0;
    message.back() = 0xF7;
    for (std::size_t piece = 1; piece <= message.size(); ++piece) {
        unit.Clear();
        for (std::size_t at = 0; at < message.size(); at += piece)
            unit.out.SendSysEx(reinterpret_cast<const char*>(message.data() + at),
                               static_cast<uint32_t>(std::min(piece, message.size() - at)));
        const std::size_t pieces = (message.size() + piece - 1) / piece;
        ASSERT_TRUE(Eventually([&] { return unit.Heard().size() >= pieces; })) << piece;
        const auto heard = unit.Heard();
        EXPECT_EQ(heard.size(), pieces) << piece;
        Bytes joined;
        for (const Bytes& b : heard)
            joined.insert(joined.end(), b.begin(), b.end());
        EXPECT_EQ(joined, message) << piece;
    }
    unit.out.ClosePort();
}

TEST_F(JackTest, DeviceChangeSeesAClientComeAndGo) {
    std::mutex m;
    std::condition_variable cv;
    int changes = 0;
    platform::DeviceChangeWatch watch(
        [&] {
            std::lock_guard lock(m);
            ++changes;
            cv.notify_all();
        },
        std::chrono::milliseconds(50));
    auto waitFor = [&](int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return changes >= n; });
    };
    {
        platform::PublishedPortPair other("vantro-comes-and-goes", nullptr);
        ASSERT_TRUE(waitFor(1));
        EXPECT_GE(FindInput("vantro-comes-and-goes"), 0);
    }
    ASSERT_TRUE(waitFor(2));
    EXPECT_LT(FindInput("vantro-comes-and-goes"), 0);
}

}  // namespace
