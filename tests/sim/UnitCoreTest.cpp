// The simulated unit's decoding, against frames built here by hand from the protocol's
// definition (not through the assistant's own frame builders).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "bootloader/Cipher.h"
#include "sim/SimulatedUnit.h"
#include "sim/UnitCore.h"

namespace vantro::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t code, const Bytes& payload, uint8_t mark = 0x11) {
    Bytes f(8 + payload.size(), 0);
    const uint8_t head[] = {0xF0, 0x6F, 0x10, 0x00, mark, code};
    std::copy(std::begin(head), std::end(head), f.begin());
    std::copy(payload.begin(), payload.end(), f.begin() + 6);
    unsigned sum = 0;
    for (std::size_t i = 5; i + 2 < f.size(); ++i)
        sum += f[i];
    f[f.size() - 2] = static_cast<uint8_t>((128 - sum % 128) % 128);
    f[f.size() - 1] = 0xF7;
    return f;
}

Bytes Nibbles(uint32_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i)
        b.push_back((v >> (4 * i)) & 0xF);
    return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes EraseFrame(unsigned pages, uint32_t word) {
    return Frame(0x04, Cat({Nibbles(pages, 2), Nibbles(word, 6)}));
}

Bytes WriteFrame(uint32_t word, const uint8_t plain[256]) {
    uint8_t block[256];
    std::memcpy(block, plain, 256);
    EncipherBlocks(256, block);
    Bytes payload = Cat({Nibbles(1, 2), Nibbles(word, 6)});
    for (int i = 0; i < 256; ++i) {
        payload.push_back(block[i] & 0xF);
        payload.push_back(block[i] >> 4);
    }
    return Frame(0x03, payload);
}

Bytes ReadFrame(uint32_t word) {
    return Frame(0x02, Cat({Nibbles(0x40, 2), Nibbles(word, 6)}));
}

UnitResponse Send(UnitCore& unit, const Bytes& f) {
    return unit.Handle(f.data(), f.size());
}

// The 256 bytes a read reply carries, deciphered.
Bytes Plain(const UnitResponse& r) {
    EXPECT_EQ(r.reply.size(), 528u);
    uint8_t block[256];
    for (int i = 0; i < 256; ++i)
        block[i] = static_cast<uint8_t>(r.reply[14 + 2 * i] | r.reply[15 + 2 * i] << 4);
    DecipherBlocks(256, block);
    return Bytes(block, block + 256);
}

TEST(SimUnit, IdentifyAnswersWithItsVersions) {
    SimOptions o;
    o.versions = {1, 2, 3, 4};
    UnitCore unit(o);
    const auto r = Send(unit, Frame(0x01, {}));
    EXPECT_EQ(r.reply, Frame(0x01, {1, 0, 2, 0, 3, 0, 4, 0}, 0x12));
}

TEST(SimUnit, IgnoresWhatIsNoSoundRequest) {
    UnitCore unit({});
    Bytes badSum = Frame(0x01, {});
    badSum[6] ^= 1;
    Bytes reply = Frame(0x01, {}, 0x12);
    for (const Bytes& f : {badSum, reply, Frame(0x05, {}), Frame(0x01, {0})}) {
        EXPECT_TRUE(Send(unit, f).reply.empty());
    }
}

TEST(SimUnit, StartsHoldingAPreviousFirmwareUnlessAskedErased) {
    SimOptions erased;
    erased.startErased = true;
    const auto old = UnitCore({}).FlashDump(), clean = UnitCore(erased).FlashDump();
    int oldErased = 0;
    for (std::size_t a = 0x2800; a < old.size(); ++a) {
        ASSERT_EQ(clean[a], a % 4 == 3 ? 0x00 : 0xFF) << a;
        oldErased += a % 4 != 3 && old[a] == 0xFF;
    }
    EXPECT_LT(oldErased, 0x1000);  // a few bytes of random firmware happen to be 0xFF
    EXPECT_EQ(std::vector(old.begin(), old.begin() + 0x2800),
              std::vector(clean.begin(), clean.begin() + 0x2800));
}

TEST(SimUnit, EraseWriteReadBack) {
    UnitCore unit({});
    uint8_t data[256];
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Send(unit, EraseFrame(1, 0x1400)).reply, Frame(0x04, {}, 0x12));
    EXPECT_EQ(Send(unit, WriteFrame(0x1400, data)).reply, Frame(0x03, {}, 0x12));

    const auto r = Send(unit, ReadFrame(0x1400));
    EXPECT_EQ(Bytes(r.reply.begin(), r.reply.begin() + 14),
              Cat({{0xF0, 0x6F, 0x10, 0x00, 0x12, 0x02}, Nibbles(0x40, 2), Nibbles(0x1400, 6)}));
    const Bytes got = Plain(r);
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(got[j], j % 4 == 3 ? 0x00 : j) << j;  // the phantom byte reads 0x00
    }
    const auto dump = unit.FlashDump();
    ASSERT_EQ(dump.size(), 0x153F0u);
    EXPECT_EQ(dump[0x2801], 0x01);
    EXPECT_EQ(dump[0x2803], 0x00);
    EXPECT_EQ(dump[0x2900], 0xFF);  // erased, never written
    EXPECT_NE(dump[0x3000], 0xFF);  // the next page keeps the previous firmware
    EXPECT_THAT(unit.Erases(), ::testing::ElementsAre(UnitCore::Erase{0x1400, 1}));
    EXPECT_THAT(unit.WrittenWords(), ::testing::ElementsAre(0x1400u));
}

TEST(SimUnit, WritingWithoutEraseShows) {
    UnitCore unit({});
    uint8_t ones[256], pattern[256];
    std::memset(ones, 0x0F, 256);
    std::memset(pattern, 0xF0, 256);
    Send(unit, EraseFrame(1, 0x1400));
    Send(unit, WriteFrame(0x1400, ones));
    Send(unit, WriteFrame(0x1400, pattern));  // over bytes that are not erased
    EXPECT_EQ(unit.FlashDump()[0x2800], 0x00);
}

TEST(SimUnit, BootAreaIsNeverWrittenOrErased) {
    UnitCore unit({});
    const auto before = unit.FlashDump();
    uint8_t zeros[256] = {};
    EXPECT_TRUE(Send(unit, WriteFrame(0x13F8, zeros)).reply.empty());
    EXPECT_TRUE(Send(unit, EraseFrame(1, 0x0000)).reply.empty());
    EXPECT_EQ(unit.FlashDump(), before);
}

TEST(SimUnit, VerifyOkAndRestartAreCounted) {
    UnitCore unit({});
    EXPECT_EQ(Send(unit, Frame(0x09, {})).reply, Frame(0x09, {}, 0x12));
    EXPECT_TRUE(Send(unit, Frame(0x00, {})).reply.empty());
    EXPECT_EQ(unit.VerifyOks(), 1);
    EXPECT_EQ(unit.Restarts(), 1);
}

TEST(SimUnitFaults, SameSeedSameFaults) {
    SimOptions o;
    o.faults[FaultKind::Drop] = 0.3;
    o.faults[FaultKind::Corrupt] = 0.3;
    o.seed = 42;
    auto run = [&] {
        UnitCore unit(o);
        std::string pattern;
        for (int i = 0; i < 200; ++i) {
            const auto r = Send(unit, Frame(0x01, {}));
            pattern += r.reply.empty()
                           ? 'd'
                           : (r.reply == Frame(0x01, {1, 0, 2, 0, 3, 0, 4, 0}, 0x12) ? '.' : 'c');
        }
        return pattern;
    };
    const std::string a = run();
    EXPECT_EQ(a, run());
    EXPECT_NE(a.find('d'), std::string::npos);
    EXPECT_NE(a.find('c'), std::string::npos);
    EXPECT_NE(a.find('.'), std::string::npos);
}

TEST(SimUnitFaults, EachKindDoesWhatItSays) {
    auto with = [](FaultKind k) {
        SimOptions o;
        o.faults[k] = 1.0;
        return o;
    };
    {
        UnitCore unit(with(FaultKind::WrongEcho));
        EXPECT_EQ(Send(unit, Frame(0x01, {})).reply[5], 0x02);
    }
    {
        UnitCore unit(with(FaultKind::Late));
        EXPECT_TRUE(Send(unit, Frame(0x01, {})).late);
    }
    {
        UnitCore unit(with(FaultKind::ShortNoise));
        EXPECT_TRUE(Send(unit, Frame(0x01, {})).shortNoise);
    }
    {
        UnitCore unit(with(FaultKind::SilentVerify));
        EXPECT_TRUE(Send(unit, Frame(0x09, {})).reply.empty());
        EXPECT_FALSE(Send(unit, Frame(0x01, {})).reply.empty());
    }
    {
        UnitCore unit(with(FaultKind::FfAs00));
        Send(unit, EraseFrame(1, 0x1400));
        const Bytes got = Plain(Send(unit, ReadFrame(0x1400)));
        int zeros = 0;
        for (int j = 0; j < 256; ++j)
            zeros += (j % 4 != 3 && got[j] == 0x00);
        EXPECT_GE(zeros, 1);
        EXPECT_LE(zeros, 4);
    }
}

TEST(SimOptionsParsing, GoodAndBadValues) {
    SimOptions o;
    std::string error;
    EXPECT_TRUE(ApplySimOption("versions", "255.0.7.12", o, error));
    EXPECT_EQ(o.versions[0], 255);
    EXPECT_EQ(o.versions[3], 12);
    EXPECT_TRUE(ApplySimOption("fault", "drop:0.25", o, error));
    EXPECT_DOUBLE_EQ(o.faults[FaultKind::Drop], 0.25);
    EXPECT_TRUE(ApplySimOption("flash-start", "erased", o, error));
    EXPECT_TRUE(o.startErased);
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"versions", "1.2.3"},
                                                          {"versions", "1.2.3.256"},
                                                          {"fault", "drop"},
                                                          {"fault", "fire:0.1"},
                                                          {"fault", "drop:1.5"},
                                                          {"flash-start", "empty"},
                                                          {"baud", "fast"}}) {
        EXPECT_FALSE(ApplySimOption(name, value, o, error)) << name << " " << value;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace vantro::sim
