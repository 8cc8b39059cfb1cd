// Exchanges with a scripted stand-in for the unit over the in-process virtual ports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <thread>

#include "../midi/MidiTestSupport.h"
#include "bootloader/Cipher.h"
#include "bootloader/Commands.h"
#include "bootloader/Link.h"
#include "midi/MidiExceptions.h"
#include "platform/VirtualMidi.h"

using namespace mm;  // the winmm-shaped MIDI seam

namespace vantro {
namespace {

using ::testing::ElementsAre;
using testutil::Bytes;

Bytes ReplyFrame(uint8_t commandCode, const Bytes& payload) {
    Bytes r(8 + payload.size(), 0);
    const uint8_t head[] = {0xF0, 0x6F, 0x10, 0x00, 0x12, commandCode};
    std::copy(std::begin(head), std::end(head), r.begin());
    std::copy(payload.begin(), payload.end(), r.begin() + 6);
    r.back() = 0xF7;
    r[r.size() - 2] = FrameChecksum(r.data(), r.size());
    return r;
}

// Answers every request as the script says; nullopt: no answer.
class ScriptedUnit {
  public:
    using Script = std::function<std::optional<Bytes>(const Bytes& request, int index)>;

    explicit ScriptedUnit(Script script)
        : script_(std::move(script)),
          toHost_("scripted unit"),
          fromHost_("scripted unit", [this](const uint8_t* b, std::size_t n) { OnRequest(b, n); }) {
    }

    int Requests() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(requests_.size());
    }
    std::vector<Bytes> RequestList() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    platform::VirtualInputPort& ToHost() { return toHost_; }
    bool AnyOpen() const { return toHost_.IsOpen() || fromHost_.IsOpen(); }

  private:
    void OnRequest(const uint8_t* b, std::size_t n) {
        Bytes request(b, b + n);
        int index;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(requests_.size());
            requests_.push_back(request);
        }
        if (auto reply = script_(request, index)) {
            toHost_.SendSysEx(reply->data(), reply->size());
        }
    }

    Script script_;
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    platform::VirtualInputPort toHost_;
    platform::VirtualOutputPort fromHost_;
};

// Without the paced retry, which has tests of its own: these runs are about other faults.
// Attempts of 50 ms where silence is waited for; of 5 s where request counts are asserted,
// so that a loaded machine adds no retry.
const LinkTimings kFast{std::chrono::milliseconds(2), 25, 3, true, {}, {}, false};
const LinkTimings kPatient{std::chrono::milliseconds(50), 100, 3, true, {}, {}, false};

TEST(LinkTimings, DefaultsAreTheUnits) {
    const LinkTimings t;
    EXPECT_EQ(t.pollInterval, std::chrono::milliseconds(50));
    EXPECT_EQ(t.pollCount, 200);
    EXPECT_EQ(t.attempts, 3);
}

class LinkTest : public ::testing::Test {
  protected:
    void Open(MidiPortPair& pair) {
        pair.OpenPorts(static_cast<UINT>(testutil::FindInput("scripted unit")),
                       static_cast<UINT>(testutil::FindOutput("scripted unit")));
    }
    RecordingMessageSeam messages_;
};

TEST_F(LinkTest, IdentifyDecodesTheFourVersions) {
    ScriptedUnit unit([](const Bytes&, int) {
        return ReplyFrame(0x01, {0x2, 0x0, 0xF, 0xF, 0x3, 0x0, 0xC, 0x1});
    });
    MidiPortPair pair(&messages_, kPatient);
    Open(pair);
    uint8_t v[4] = {};
    ASSERT_TRUE(QueryVersions(pair, v[0], v[1], v[2], v[3]));
    EXPECT_THAT(v, ElementsAre(2, 255, 3, 0x1C));
    EXPECT_THAT(unit.RequestList(),
                ElementsAre(Bytes{0xF0, 0x6F, 0x10, 0x00, 0x11, 0x01, 0x7F, 0xF7}));
}

TEST_F(LinkTest, InvalidRepliesAreRetriedUpToThreeAttempts) {
    ScriptedUnit unit([](const Bytes&, int index) -> std::optional<Bytes> {
        Bytes r = ReplyFrame(0x04, {});
        if (index == 0)
            r[r.size() - 2] ^= 1;  // bad checksum
        if (index == 1)
            r[2] = 0x11;  // bad header
        return r;
    });
    MidiPortPair pair(&messages_, kPatient);
    Open(pair);
    EXPECT_TRUE(ErasePages(pair, 13, 0x1400));
    EXPECT_EQ(unit.Requests(), 3);
}

TEST_F(LinkTest, SilenceFailsAfterThreeFullWaits) {
    ScriptedUnit unit([](const Bytes&, int) { return std::nullopt; });
    MidiPortPair pair(&messages_, kFast);
    Open(pair);
    uint8_t v[4] = {7, 7, 7, 7};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(QueryVersions(pair, v[0], v[1], v[2], v[3]));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 3 * kFast.pollInterval * kFast.pollCount);
    EXPECT_EQ(unit.Requests(), 3);
    EXPECT_THAT(v, ElementsAre(7, 7, 7, 7));  // untouched on failure
}

TEST_F(LinkTest, EveryCommandFailsAtOnceOnAnotherCommandsEcho) {
    // Each command gets a valid frame that names the next command's code.
    ScriptedUnit unit([](const Bytes& request, int) {
        return ReplyFrame(request[5] == 0x09 ? 0x01 : request[5] + 1, {});
    });
    MidiPortPair pair(&messages_, kPatient);
    Open(pair);
    uint8_t v[4] = {7, 7, 7, 7};
    EXPECT_FALSE(QueryVersions(pair, v[0], v[1], v[2], v[3]));
    EXPECT_THAT(v, ElementsAre(7, 7, 7, 7));
    uint8_t block[256] = {};
    EXPECT_FALSE(ReadBlock(pair, 0x1400, block));
    EXPECT_FALSE(WriteBlock(pair, block, 0x1400));
    EXPECT_FALSE(ErasePages(pair, 1, 0x1400));
    EXPECT_FALSE(SendVerifyOK(pair));
    EXPECT_EQ(unit.Requests(), 5);  // one attempt each
}

TEST_F(LinkTest, VerifyOkSilenceCountsAsAcceptedAnotherCodeFails) {
    {
        ScriptedUnit silent([](const Bytes&, int) { return std::nullopt; });
        MidiPortPair pair(&messages_, kFast);
        Open(pair);
        EXPECT_TRUE(SendVerifyOK(pair));
        EXPECT_EQ(silent.Requests(), 3);
    }
    {
        ScriptedUnit wrong([](const Bytes&, int) { return ReplyFrame(0x02, {}); });
        MidiPortPair pair(&messages_, kPatient);
        Open(pair);
        EXPECT_FALSE(SendVerifyOK(pair));
        EXPECT_EQ(wrong.Requests(), 1);
    }
}

Bytes ReadReply(uint32_t wordAddress, const uint8_t plain[256], uint8_t count = 0x40) {
    uint8_t block[256];
    std::memcpy(block, plain, 256);
    EncipherBlocks(256, block);
    Bytes payload = {static_cast<uint8_t>(count & 0xF), static_cast<uint8_t>(count >> 4)};
    for (int i = 0; i < 6; ++i)
        payload.push_back((wordAddress >> (4 * i)) & 0xF);
    for (int i = 0; i < 256; ++i) {
        payload.push_back(block[i] & 0xF);
        payload.push_back(block[i] >> 4);
    }
    return ReplyFrame(0x02, payload);
}

TEST_F(LinkTest, ReadBlockDeciphersAndChecksCountAndAddress) {
    uint8_t plain[256];
    for (int i = 0; i < 256; ++i)
        plain[i] = static_cast<uint8_t>(255 - i);
    ScriptedUnit unit([&](const Bytes& request, int) -> std::optional<Bytes> {
        const uint32_t asked = GetNibbles(request.data() + 8, 6);
        if (asked == 0x1400)
            return ReadReply(0x1400, plain);
        if (asked == 0x1480)
            return ReadReply(0x1481, plain);   // another address
        return ReadReply(asked, plain, 0x41);  // another count
    });
    MidiPortPair pair(&messages_, kPatient);
    Open(pair);
    uint8_t block[256];
    ASSERT_TRUE(ReadBlock(pair, 0x1400, block));
    EXPECT_EQ(std::memcmp(block, plain, 256), 0);

    uint8_t untouched[256];
    std::memset(untouched, 0xAA, 256);
    EXPECT_FALSE(ReadBlock(pair, 0x1480, untouched));
    EXPECT_FALSE(ReadBlock(pair, 0x1500, untouched));
    EXPECT_EQ(unit.Requests(), 3);  // no retry for either
    // Only 24 address bits travel: the echo can never match.
    EXPECT_FALSE(ReadBlock(pair, 0x1000000 + 0x1400, untouched));
    for (const uint8_t b : untouched)
        ASSERT_EQ(b, 0xAA);
}

TEST_F(LinkTest, OversizedReplyIsNoReply) {
    ScriptedUnit unit([](const Bytes&, int) { return ReplyFrame(0x03, Bytes(600, 0)); });
    MidiPortPair pair(&messages_, kFast);
    Open(pair);
    const uint8_t block[256] = {};
    EXPECT_FALSE(WriteBlock(pair, block, 0x1400));
    EXPECT_EQ(unit.Requests(), 3);
}

TEST_F(LinkTest, InvalidShortMessageIsShownByTheWaitingThread) {
    std::unique_ptr<ScriptedUnit> unit;
    unit = std::make_unique<ScriptedUnit>([&](const Bytes&, int) {
        unit->ToHost().SendInvalidShort(0x42);
        return ReplyFrame(0x09, {});
    });
    struct ThreadSeam : MessageSeam {
        MessageAnswer Show(const std::string& text, MessageButtons) override {
            shown.push_back(text);
            threads.push_back(std::this_thread::get_id());
            return MessageAnswer::Ok;
        }
        std::vector<std::string> shown;
        std::vector<std::thread::id> threads;
    } seam;
    MidiPortPair pair(&seam, kPatient);
    Open(pair);
    EXPECT_TRUE(SendVerifyOK(pair));
    EXPECT_THAT(seam.shown, ElementsAre("Invalid short message received!\n"));
    EXPECT_THAT(seam.threads, ElementsAre(std::this_thread::get_id()));
}

TEST_F(LinkTest, TickPollingFindsTheReplyToo) {
    ScriptedUnit unit([](const Bytes&, int) { return ReplyFrame(0x04, {}); });
    MidiPortPair pair(&messages_,
                      LinkTimings{std::chrono::milliseconds(1), 5000, 3, false, {}, {}, true});
    Open(pair);
    EXPECT_TRUE(ErasePages(pair, 1, 0x1400));
    EXPECT_EQ(unit.Requests(), 1);
}

TEST_F(LinkTest, PairClosesBothPortsOnEveryWayOut) {
    ScriptedUnit unit([](const Bytes&, int) { return std::nullopt; });
    {
        MidiPortPair pair(&messages_, kFast);
        Open(pair);
        EXPECT_TRUE(unit.AnyOpen());
        SendRestart(pair);  // leaves before the pair closes
    }
    EXPECT_FALSE(unit.AnyOpen());
    EXPECT_THAT(unit.RequestList(),
                ElementsAre(Bytes{0xF0, 0x6F, 0x10, 0x00, 0x11, 0x00, 0x00, 0xF7}));
    try {
        MidiPortPair pair(&messages_, kFast);
        pair.OpenPorts(static_cast<UINT>(testutil::FindInput("scripted unit")), 10000);
        FAIL() << "opened an output port that does not exist";
    } catch (const midi::CMIDIOutException&) {
    }
    EXPECT_FALSE(unit.AnyOpen());
}

// Pieces of every size leave as their own buffers, in order, and join back to the message; at
// the wire's rate none leaves before the wire time of the bytes ahead of it.
TEST_F(LinkTest, PacedMessageLeavesInOrderedPiecesThatJoinBack) {
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    ScriptedUnit unit([&](const Bytes&, int) -> std::optional<Bytes> {
        std::lock_guard lock(mutex);
        arrivals.push_back(Clock::now());
        return std::nullopt;
    });
    Bytes message(kWriteRequest);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<uint8_t>(i * 7 % 128);
    message.front() = 0xF0;
    message.back() = 0xF7;
    std::size_t seen = 0;
    for (std::size_t piece = 1; piece <= kWriteRequest; ++piece) {
        LinkTimings t = kFast;
        t.pace = Pace{piece, std::chrono::milliseconds(0), std::chrono::microseconds(0)};
        MidiPortPair pair(&messages_, t);
        Open(pair);
        pair.Send(message.data(), message.size());
        pair.Output().WaitUntilSent();
        const auto got = unit.RequestList();
        ASSERT_EQ(got.size() - seen, (kWriteRequest + piece - 1) / piece) << piece;
        Bytes joined;
        for (std::size_t k = seen; k < got.size(); ++k) {
            ASSERT_EQ(got[k].size(), std::min(piece, kWriteRequest - (k - seen) * piece)) << piece;
            joined.insert(joined.end(), got[k].begin(), got[k].end());
        }
        ASSERT_EQ(joined, message) << piece;
        seen = got.size();
    }
    LinkTimings t = kFast;
    t.pace = Pace::Wire();
    MidiPortPair pair(&messages_, t);
    Open(pair);
    {
        std::lock_guard lock(mutex);
        arrivals.clear();
    }
    const auto start = Clock::now();
    pair.Send(message.data(), message.size());
    pair.Output().WaitUntilSent();
    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals.size(), 17u);
    for (std::size_t k = 0; k < arrivals.size(); ++k)
        EXPECT_GE(arrivals[k] - start, Pace::kByteTime * 32 * static_cast<int64_t>(k)) << k;
}

// A link that loses whole long messages but carries them in pieces: the lost write is sent
// again at the wire's rate, and so is every later one; with the retry off it stays lost.
TEST_F(LinkTest, LostLongRequestIsRetriedPaced) {
    ScriptedUnit unit([](const Bytes& piece, int) -> std::optional<Bytes> {
        if (piece.back() != 0xF7 || piece.size() > Pace::Wire().piece)
            return std::nullopt;  // the whole message is lost; a last piece completes it
        return ReplyFrame(code::kWriteBlock, {});
    });
    const uint8_t block[256] = {};
    for (const bool retry : {true, false}) {
        LinkTimings t = kFast;
        t.pacedRetry = retry;
        MidiPortPair pair(&messages_, t);
        Open(pair);
        const int before = unit.Requests();
        EXPECT_EQ(WriteBlock(pair, block, 0x1400) != 0, retry);
        EXPECT_EQ(pair.PacedAfterLoss(), retry);
        if (!retry) {
            EXPECT_EQ(unit.Requests() - before, 3);
            continue;
        }
        EXPECT_EQ(unit.Requests() - before, 1 + 17);
        EXPECT_TRUE(WriteBlock(pair, block, 0x1480));
        EXPECT_EQ(unit.Requests() - before, 1 + 17 + 17);  // paced from its first attempt
    }
}

TEST_F(LinkTest, SendFailureLeavesTheCommandAsAPortException) {
    MidiPortPair pair(&messages_, kFast);
    uint8_t v[4];
    // Never opened: queueing the input buffer fails with the system's text.
    EXPECT_THROW(QueryVersions(pair, v[0], v[1], v[2], v[3]), midi::CMIDIInException);
}

}  // namespace
}  // namespace vantro
