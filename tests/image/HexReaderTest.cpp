#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <sstream>

#include "HexFiles.h"
#include "image/HexReader.h"

namespace vantro {
namespace {

using namespace testutil;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::vector<int32_t> kTargetMasks = {0xFF, 0x00, 0x1F, 0xEF, 0xF7, 0xFF, 0xDF, 0x7B};

struct Load {
    bool ok = false;
    FirmwareImage image;
    RecordingMessageSeam messages;
    std::ostringstream console;

    explicit Load(const std::string& path, const DeviceProfile* profile = nullptr) {
        DeviceProfile target;
        target.DescribePic24FJ64GB002();
        ok = LoadHexFile(profile ? *profile : target, path, image, messages, console);
    }
    std::vector<std::string> Texts() const { return messages.Texts(); }
};

struct LoadText : TempFile, Load {
    explicit LoadText(const std::string& contents, const DeviceProfile* profile = nullptr)
        : TempFile(contents), Load(Path(), profile) {}
};

// --- line form --------------------------------------------------------------------------

TEST(HexLineForm, EofRecordAloneGivesEmptyCodeAndZeroConfig) {
    LoadText l(Lines({kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.Texts(), IsEmpty());
    EXPECT_THAT(l.image.codeBytes, IsEmpty());
    EXPECT_THAT(l.image.usedAddresses, IsEmpty());
    EXPECT_THAT(l.image.configBytes, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(l.image.configMasks, ElementsAreArray(kTargetMasks));
}

TEST(HexLineForm, LineEndingsAndLowerCaseLoadAlike) {
    const std::string rec = Data(0x10, {0xAB, 0xCD});
    std::string lower = rec;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& text : {Lines({rec, kEof}, "\r\n"), Lines({rec, kEof}, "\n"),
                             Lines({lower, kEof}, "\n"), rec + "\n" + kEof}) {
        LoadText l(text);
        ASSERT_TRUE(l.ok) << text;
        ASSERT_EQ(l.image.codeBytes.size(), 0x12u);
        EXPECT_EQ(l.image.codeBytes[0x10], 0xAB);
        EXPECT_EQ(l.image.codeBytes[0x11], 0xCD);
        EXPECT_EQ(l.image.sourcePath, l.Path());
    }
}

TEST(HexLineForm, MalformedLinesFail) {
    const std::string rec = Data(0, {1, 2, 3, 4});
    const std::vector<std::string> files = {
        rec + "\n",                                    // no end record, last line ends with LF
        rec,                                           // no end record, no LF
        Lines({rec, "", kEof}),                        // empty line
        Lines({rec + " ", kEof}),                      // trailing blank
        Lines({rec.substr(1), kEof}),                  // no colon
        Lines({":0G000000", kEof}),                    // count not hexadecimal
        Lines({rec.substr(0, rec.size() - 1), kEof}),  // one character short
        Lines({":0400000001020X0400", kEof}),          // right length, non-digit in data
        Lines({rec}) + kEof + "\r",                    // a CR is part of a line not ended by LF
        "",
    };
    for (const auto& text : files) {
        LoadText l(text);
        EXPECT_FALSE(l.ok) << text;
        EXPECT_THAT(l.Texts(), ElementsAre("Failure in hex file...")) << text;
        EXPECT_TRUE(l.console.str().empty());
    }
}

TEST(HexLineForm, NothingAfterTheEndRecordIsRead) {
    LoadText l(Lines({Data(0, {7}), kEof}) + "garbage that is no record\n\x01\x02");
    EXPECT_TRUE(l.ok);
    EXPECT_THAT(l.Texts(), IsEmpty());
}

TEST(HexLineForm, OverlongLineFailsWithoutReadingTheRest) {
    // 64 MiB without a line feed: must fail fast and never hold the line.
    std::string big(64u << 20, '0');
    big[0] = ':';
    TempFile f(big);
    big.clear();
    big.shrink_to_fit();
    const auto t0 = std::chrono::steady_clock::now();
    Load l(f.Path());
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Failure in hex file..."));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));

    // The longest possible record is still a line.
    LoadText longest(Lines({Data(0, Counting(255)), kEof}));
    EXPECT_TRUE(longest.ok);
    EXPECT_EQ(longest.image.codeBytes.size(), 255u);
}

TEST(HexFileOpen, PathsThatAreNoFileAreRefused) {
    for (const std::string& path : {std::string("/nonexistent/vantro.hex"), std::string(""),
                                    std::filesystem::temp_directory_path().string(),
                                    std::string("/dev/zero"), std::string("/dev/null")}) {
        Load l(path);
        EXPECT_FALSE(l.ok) << path;
        EXPECT_THAT(l.Texts(), ElementsAre("Could not open Hex file...")) << path;
        EXPECT_TRUE(l.image.sourcePath.empty());
    }
}

TEST(HexFileOpen, FifoDoesNotHang) {
#if defined(_WIN32)
    GTEST_SKIP() << "no FIFOs on Windows";
#else
    const auto path =
        std::filesystem::temp_directory_path() / ("vantro-fifo-" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    Load l(path.string());
    std::filesystem::remove(path);
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Could not open Hex file..."));
#endif
}

TEST(HexFileOpen, ARegularFileThatWouldBlockEndsTheLoad) {
    // The kernel's log calls itself a regular file, yet a read waits for the next message.
#if defined(_WIN32)
    GTEST_SKIP() << "no such file on Windows";
#endif
    if (::access("/proc/kmsg", R_OK) != 0)
        GTEST_SKIP() << "/proc/kmsg cannot be read here";
    const auto t0 = std::chrono::steady_clock::now();
    Load l("/proc/kmsg");
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Failure in hex file..."));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(HexFileOpen, LoadEmptiesTheImageFirst) {
    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    FirmwareImage image;
    image.codeBytes = {1, 2, 3};
    image.usedAddresses = {true, true, true};
    image.configBytes = {9};
    image.dataBytes = {9};
    image.configMasks = {7, 7, 7};
    RecordingMessageSeam m;
    std::ostringstream console;
    EXPECT_FALSE(LoadHexFile(p, "/nonexistent.hex", image, m, console));
    EXPECT_THAT(image.codeBytes, IsEmpty());
    EXPECT_THAT(image.usedAddresses, IsEmpty());
    EXPECT_THAT(image.configBytes, IsEmpty());
    EXPECT_THAT(image.dataBytes, IsEmpty());
    // The masks are sized only at the end of a load: emptying leaves them, and so does a load
    // that fails on its way.
    EXPECT_THAT(image.configMasks, ElementsAre(7, 7, 7));
    TempFile bad(Lines({Data(0x2800, {1, 2, 3, 4}), Record(2, 0, {0, 0})}));
    EXPECT_FALSE(LoadHexFile(p, bad.Path(), image, m, console));
    EXPECT_THAT(image.codeBytes, ::testing::SizeIs(0x2804));
    EXPECT_THAT(image.configMasks, ElementsAre(7, 7, 7));
}

// --- checksum -----------------------------------------------------------------------------

TEST(HexChecksum, MismatchPrintsBothValuesAndKeepsEarlierRecords) {
    std::string bad = Data(0x40, {0x11, 0x22});  // checksum 0x8B
    bad.replace(bad.size() - 2, 2, "05");
    LoadText l(Lines({Data(0x00, {1}), Data(0x10, {2}), Data(0x20, {3}), Data(0x30, {4}), bad,
                      Data(0x50, {5}), kEof}));
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Error in checksum..."));
    EXPECT_EQ(l.console.str(), "8B  5\n");
    EXPECT_EQ(l.image.codeBytes.size(), 0x31u);
    EXPECT_EQ(l.image.codeBytes[0x30], 4);
    EXPECT_THAT(l.image.configMasks, IsEmpty());
}

TEST(HexChecksum, NonDigitFieldIsRefusedBeforeTheChecksum) {
    // ":01000000zz.." has the right length; a letter outside 0-9A-F is no number.
    LoadText l(Lines({":01000000ZZ00", kEof}));
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Failure in hex file..."));
}

// --- record types ------------------------------------------------------------------------

TEST(HexRecordTypes, UnknownTypesFailWithTheirNumber) {
    for (int type : {2, 3, 5, 0x10}) {
        LoadText l(Lines({Record(type, 0, {0, 0}), kEof}));
        EXPECT_FALSE(l.ok);
        EXPECT_THAT(l.Texts(), ElementsAre("unknown record type: " + std::to_string(type)));
    }
}

TEST(HexRecordTypes, ExtendedAddressMovesLaterRecords) {
    // 0x157F0 is reached through E = 0x10000; E = 0 again puts data back low.
    LoadText l(Lines({":020000040001F9", Data(0x57F0, {0x11, 0x22, 0x00, 0x00}), ":020000040000FA",
                      Data(0x0004, {0x33}), kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.image.configBytes[0], 0x11);
    EXPECT_EQ(l.image.configBytes[1], 0x22);
    ASSERT_EQ(l.image.codeBytes.size(), 5u);
    EXPECT_EQ(l.image.codeBytes[4], 0x33);
}

TEST(HexRecordTypes, ShortExtendedAddressRecordFails) {
    LoadText l(Lines({Record(4, 0, {0x01}), kEof}));
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("Failure in hex file..."));
}

// --- regions --------------------------------------------------------------------------

TEST(HexRegions, GapsHoldFFWithClearFlags) {
    LoadText l(Lines({Data(0x00, Counting(16, 0x10)), Data(0x20, Counting(16, 0x40)), kEof}));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.image.codeBytes.size(), 0x30u);
    ASSERT_EQ(l.image.usedAddresses.size(), 0x30u);
    for (int a = 0; a < 0x30; ++a) {
        const bool inGap = a >= 0x10 && a < 0x20;
        EXPECT_EQ(l.image.usedAddresses[a], !inGap) << a;
        if (inGap) {
            EXPECT_EQ(l.image.codeBytes[a], 0xFF) << a;
        }
    }
    EXPECT_EQ(l.image.codeBytes[0x2F], 0x4F);
}

TEST(HexRegions, ARecordMustEndInsideItsRegion) {
    // Ending exactly at a region's end is fine; one byte more is refused there, with the
    // region's message, and the load goes on.
    LoadText fits(
        Lines({Extended(1), Data(0x53F0 - 4, {1, 2, 3, 4}), Data(0x57FC, {5, 6, 7, 8}), kEof}));
    ASSERT_TRUE(fits.ok);
    EXPECT_THAT(fits.Texts(), IsEmpty());
    EXPECT_EQ(fits.image.codeBytes.size(), 0x153F0u);
    EXPECT_EQ(fits.image.codeBytes[0x153EF], 4);
    EXPECT_THAT(fits.image.configBytes, ElementsAre(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6));

    LoadText over(Lines({Extended(1), Data(0x53F0 - 4, {1, 2, 3, 4, 9}),
                         Data(0x57FC, {5, 6, 7, 8, 9}), Data(0x2800, {0xAA}), kEof}));
    ASSERT_TRUE(over.ok);
    EXPECT_THAT(over.Texts(), ElementsAre("Data in hex file outside code memory of PIC",
                                          "Data in hex file outside config memory of PIC"));
    EXPECT_EQ(over.image.codeBytes.size(), 0x12801u);  // only the record that fits
    EXPECT_THAT(over.image.configBytes, Each(0));      // no word given: padded as a load pads
}

TEST(HexRegions, RecordOrderDoesNotMatter) {
    // A whole application (0x2800 up to the code region's end) and the configuration words,
    // each record behind its own extended address record so that any order is a valid file.
    std::vector<std::string> records;
    for (unsigned a = 0x2800; a < 0x153F0; a += 16) {
        const unsigned n = std::min(16u, 0x153F0 - a);
        records.push_back(Extended(a >> 16) + "\n" +
                          Data(a & 0xFFFF, Counting(n, static_cast<uint8_t>(a >> 4))));
    }
    for (unsigned a = 0x157F0; a < 0x15800; a += 4)
        records.push_back(Extended(1) + "\n" + Data(a & 0xFFFF, Counting(4, a & 0xFF)));
    auto load = [&](const std::vector<std::string>& order) {
        std::string text;
        for (const auto& r : order)
            text += r + "\n";
        auto l = std::make_unique<LoadText>(text + kEof + "\n");
        EXPECT_TRUE(l->ok);
        EXPECT_THAT(l->Texts(), IsEmpty());
        return l;
    };
    const auto ascending = load(records);
    std::vector<std::string> reversed(records.rbegin(), records.rend());
    std::vector<std::string> shuffled = records;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
    ASSERT_EQ(ascending->image.codeBytes.size(), 0x153F0u);
    for (const auto& order : {reversed, shuffled}) {
        const auto other = load(order);
        EXPECT_EQ(other->image.codeBytes, ascending->image.codeBytes);
        EXPECT_EQ(other->image.usedAddresses, ascending->image.usedAddresses);
        EXPECT_EQ(other->image.configBytes, ascending->image.configBytes);
    }
}

TEST(HexRegions, AFloodOfRefusedRecordsGivesOneMessage) {
    std::string text;
    const std::string past = Data(0x53EE, {1, 2, 3, 4});  // runs two bytes past the end
    for (int i = 0; i < 100000; ++i)
        text += past + "\n";
    TempFile file(Extended(1) + "\n" + text + kEof + "\n");
    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    FirmwareImage image;
    RecordingMessageSeam m;
    std::ostringstream console;
    HexLoadNotes notes;
    ASSERT_TRUE(LoadHexFile(p, file.Path(), image, m, console, &notes));
    EXPECT_THAT(m.Texts(), ElementsAre("Data in hex file outside code memory of PIC"));
    EXPECT_EQ(notes.refusedRecords, 100000u);
    EXPECT_THAT(image.codeBytes, IsEmpty());
}

TEST(HexRegions, RecordsBetweenCodeAndConfigAreDroppedSilently) {
    LoadText l(
        Lines({":020000040001F9", Data(0x53F0, Counting(16)), Data(0x5700, Counting(16)), kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.Texts(), IsEmpty());
    EXPECT_THAT(l.image.codeBytes, IsEmpty());
    EXPECT_THAT(l.image.configBytes, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
}

TEST(HexRegions, EmptyDataRecordLengthensToItsStart) {
    LoadText l(Lines({Data(0x08, {}), kEof}));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.image.codeBytes.size(), 8u);
    EXPECT_THAT(l.image.codeBytes, ::testing::Each(0xFF));
    EXPECT_THAT(l.image.usedAddresses, ::testing::Each(false));
}

// --- configuration compaction and masks -------------------------------------------------

TEST(HexConfig, FourWordsKeepTheirLowTwoBytes) {
    std::vector<uint8_t> words = {0x41, 0x42, 0x43, 0x44, 0x51, 0x52, 0x53, 0x54,
                                  0x61, 0x62, 0x63, 0x64, 0x71, 0x72, 0x73, 0x74};
    LoadText l(Lines({":020000040001F9", Data(0x57F0, words), kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.image.configBytes, ElementsAre(0x41, 0x42, 0x51, 0x52, 0x61, 0x62, 0x71, 0x72));
    EXPECT_THAT(l.image.configMasks, ElementsAreArray(kTargetMasks));
}

TEST(HexConfig, OnlyLastWordLeavesTheOthersErased) {
    LoadText l(Lines({":020000040001F9", Data(0x57FC, {0x71, 0x72, 0x73, 0x74}), kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.image.configBytes, ElementsAre(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x71, 0x72));
}

TEST(HexConfig, PartOfTheWordsLeavesNoStaleBytes) {
    // Two words only: the missing two are zero, not copies of bytes of the ones given.
    LoadText l(Lines({":020000040001F9", Data(0x57F0, {1, 2, 3, 4, 5, 6, 7, 8}), kEof}));
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.image.configBytes, ElementsAre(1, 2, 5, 6, 0, 0, 0, 0));
}

TEST(HexConfig, FourteenBitFamilyMasksHighBytesAndChecksWordCount) {
    DeviceProfile p;
    p.name = "16F84";
    p.codeSize = 0x100;
    p.configAddress = 0x2007;
    p.configSize = 2;
    p.configWords.push_back({0, "CONFIG", {ConfigField{"FOSC", {{"a", 0x3FFF}}}}});
    p.configWords.push_back({1, "EXTRA", {}});
    LoadText l(Lines({Data(0x0000, {0xFF, 0xFF, 0x12, 0x34}), Data(0x400E, {0xFF, 0xFF}), kEof}),
               &p);
    ASSERT_TRUE(l.ok);
    EXPECT_THAT(l.Texts(), ElementsAre("invalid number of config words for 16F84"));
    EXPECT_THAT(l.image.codeBytes, ElementsAre(0xFF, 0x3F, 0x12, 0x34));
    EXPECT_THAT(l.image.configBytes, ElementsAre(0xFF, 0x3F));
    EXPECT_THAT(l.image.configMasks, ElementsAre(0xFF, 0x3F));
}

TEST(HexConfig, FailedLoadLeavesConfigUncompacted) {
    LoadText l(Lines({":020000040001F9", Data(0x57F0, {1, 2, 3, 4}), Record(2, 0, {0, 0})}));
    EXPECT_FALSE(l.ok);
    EXPECT_THAT(l.image.configBytes, ElementsAre(1, 2, 3, 4));
    EXPECT_THAT(l.image.configMasks, IsEmpty());
}

}  // namespace
}  // namespace vantro
