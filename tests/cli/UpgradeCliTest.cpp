#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "CableRuns.h"
#include "CliRun.h"
#include "FlashCheck.h"
#include "HexFiles.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

using CliResult = testutil::CliRun;

CliResult Upgrade(std::vector<std::string> args) {
    args.insert(args.begin(), "upgrade");
    return testutil::Cli(args);
}

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";

TEST(UpgradeCli, SuccessReportAndRestartOnYes) {
    testutil::TempFile trace("");
    const auto r = Upgrade({"--simulated-unit", "--yes", "--trace", trace.Path(), kExample});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "VANTRO Update is completed and OK!\nRestart VANTRO? Yes\n");
    EXPECT_THAT(r.err, HasSubstr("104/104 blocks 100%"));
    std::ifstream f(trace.Path());
    std::string line, last;
    int lines = 0;
    while (std::getline(f, line)) {
        last = line;
        ++lines;
    }
    // The identify and the read before the erase, the erase, blocks, VerifyOK both ways,
    // restart.
    EXPECT_EQ(lines, 2 * (1 + 1 + 1 + 104 + 1) + 1);
    EXPECT_THAT(last, EndsWith(" > F0 6F 10 00 11 00 00 F7"));
}

TEST(UpgradeCli, NoAndNoTerminalAnswerNo) {
    for (const char* flag : {"--no", ""}) {
        std::vector<std::string> args = {"--simulated-unit", kExample};
        if (*flag)
            args.push_back(flag);
        const auto r = Upgrade(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "VANTRO Update is completed and OK!\nRestart VANTRO? No\n");
    }
}

TEST(UpgradeCli, FailureReportExitsOne) {
    testutil::TempFile dump("", "flash.bin");
    const auto r = Upgrade({"--simulated-unit", "--sim-fault", "max-sysex:16", "--poll-interval-ms",
                            "2", "--poll-count", "5", "--sim-flash-out", dump.Path(), kExample});
    EXPECT_EQ(r.status, 1);
    // A failed run still leaves the unit's flash dump.
    EXPECT_EQ(std::filesystem::file_size(dump.Path()), 0x153F0u);
    EXPECT_THAT(r.out, ::testing::StartsWith("VANTRO Update FAILED:\nError: The unit did not send "
                                             "back a block of its flash memory"));
    // What the run waits for before the erase is said while it waits.
    EXPECT_THAT(r.err, HasSubstr("Asking the unit for its versions"));
    EXPECT_THAT(r.err, HasSubstr("Reading one block of its flash back"));

    // A bootloader that cannot read back: refused with the way past, which then upgrades.
    const auto refused =
        Upgrade({"--simulated-unit", "--sim-fault", "no-readback", "--yes", kExample});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("run again with --no-link-check"));
    const auto unchecked = Upgrade(
        {"--simulated-unit", "--sim-fault", "no-readback", "--no-link-check", "--no", kExample});
    EXPECT_EQ(unchecked.status, 0) << unchecked.out;

    testutil::TempFile nothing(testutil::Lines({testutil::kEof}));
    const auto empty = Upgrade({"--simulated-unit", "--yes", nothing.Path()});
    EXPECT_EQ(empty.status, 1);
    EXPECT_THAT(empty.out, HasSubstr("nothing for the application area"));
}

// A cable that loses what it cannot hold (fifo:64) loses whole writes but carries them at the
// wire's rate; without --pace the run finds that out by itself and says so. Each attempt waits
// half a second: a loaded machine must not make a slow reply look like a lost one.
TEST(UpgradeCli, PacedOverACableThatLosesLongMessages) {
    testutil::TempFile fw(testutil::ApplicationBlocks(3), "fw.hex");
    for (const auto& [pace, status, noted] : testutil::kCableRuns) {
        testutil::TempFile dump("", "flash.bin");
        std::vector<std::string> args = {
            "--simulated-unit", "--sim-fault", "fifo:64", "--poll-interval-ms", "10",
            "--poll-count",     "50",          "--no",    "--sim-flash-out",    dump.Path(),
            fw.Path()};
        args.insert(args.begin(), pace.begin(), pace.end());
        const auto r = Upgrade(args);
        ASSERT_EQ(r.status, status) << r.out << r.err;
        if (status == 0) {
            std::ifstream f(dump.Path(), std::ios::binary);
            const std::vector<uint8_t> flash((std::istreambuf_iterator<char>(f)), {});
            EXPECT_TRUE(testutil::FlashHoldsTheFile(flash, fw.Path()));
        } else {
            EXPECT_THAT(r.out, HasSubstr("Failed writing to flash memory at adress [2800]"));
        }
        EXPECT_EQ(testutil::PacedFromTheFirstBlock(r.out), noted) << r.out;
        EXPECT_EQ(r.out.find("run with --pace wire") != std::string::npos, noted) << r.out;
    }
    for (const char* bad : {"0:0", "529:0", "32:1001", "fast", "32"}) {
        const auto r = Upgrade({"--simulated-unit", "--pace", bad, kExample});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_THAT(r.err, HasSubstr("--pace takes wire, off, or C:G")) << bad;
    }
}

TEST(UpgradeCli, RefusalsAndUsage) {
    const auto missing = Upgrade({"--simulated-unit", "/nonexistent/fw.hex"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "The file does not exist\n");

    testutil::TempFile bad("not a hex file\n");
    const auto load = Upgrade({"--simulated-unit", bad.Path()});
    EXPECT_EQ(load.status, 1);
    EXPECT_EQ(load.out, "Failure in hex file...\n");

    const auto empty = Upgrade({"--simulated-unit", ""});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, "Please load a file!\n");

    for (const auto& args : std::vector<std::vector<std::string>>{{"--simulated-unit"},
                                                                  {"--yes", "--no", kExample},
                                                                  {"--bogus", kExample},
                                                                  {kExample, kExample}}) {
        const auto r = Upgrade(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // An output naming the input, by its own path, another one or a hard link, is refused
    // before anything is written.
    std::ifstream example(kExample);
    const std::string hex((std::istreambuf_iterator<char>(example)), {});
    testutil::TempFile fw(hex, "fw.hex");
    const std::filesystem::path link = fw.Path() + ".link";
    std::filesystem::create_hard_link(fw.Path(), link);
    const std::filesystem::path at(fw.Path());
    const std::string other = (at.parent_path() / "." / at.filename()).string();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"upgrade", "--simulated-unit", "--trace", fw.Path(), fw.Path()},
             {"upgrade", "--simulated-unit", "--sim-flash-out", link.string(), fw.Path()},
             {"inspect", "--blocks-out", other, fw.Path()},
             {"inspect", "--blocks-out", link.string(), fw.Path()}}) {
        const auto r = testutil::Cli(args);
        EXPECT_EQ(r.status, 2) << args[2];
        EXPECT_THAT(r.err, HasSubstr("names the HEX file")) << args[2];
        std::ifstream after(fw.Path());
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), hex) << args[2];
    }
    std::filesystem::remove(link);

    const auto help = Upgrade({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--readback"));
    // Every command's help names the statuses it can end with, 4 too.
    for (const char* command : {"verify", "reset", "upgrade"}) {
        std::ostringstream o, e;
        vantro::cli::RunCli({command, "--help"}, o, e);
        EXPECT_THAT(o.str(), HasSubstr("2 usage error")) << command;
        EXPECT_THAT(o.str(), HasSubstr("3 a port failure")) << command;
        EXPECT_THAT(o.str(), HasSubstr("4 ")) << command;
    }
}

TEST(UpgradeCli, NoPortsIsInvalidDeviceSelected) {
    // This suite sees no real ports and no simulated unit is asked for.
    const auto r = Upgrade({kExample});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Invalid device selected\n");
}

}  // namespace
