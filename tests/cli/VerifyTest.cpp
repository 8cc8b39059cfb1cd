#include <gmock/gmock.h>
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "CliRun.h"
#include "HexFiles.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

using testutil::Cli;
using testutil::CliRun;

const std::vector<std::string> kFast = {"--poll-interval-ms", "2", "--poll-count", "10"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(VerifyCli, SimulatedUnitAnswersWithItsVersions) {
    const CliRun r = Cli({"verify", "--simulated-unit"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "OK - BL V1.2, FW V3.4\n");
    const CliRun v = Cli({"verify", "--simulated-unit", "--sim-versions", "255.0.10.7"});
    EXPECT_EQ(v.out, "OK - BL V255.0, FW V10.7\n");
}

TEST(VerifyCli, SilentUnitGivesError) {
    const CliRun r = Cli(With({"verify", "--simulated-unit", "--sim-fault", "drop:1"}, kFast));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "ERROR!\n");
}

TEST(PortFailureCli, PortsPulledMidwayExitThreeWithTheirTextAndNoSuccess) {
    // Waits of a minute an attempt: only the failure can end these in time.
    const std::vector<std::string> minute = {"--poll-interval-ms", "1000", "--poll-count", "60"};
    const std::string gone =
        "The MIDI port \"VANTRO simulated unit\" is gone: it was unplugged, or its MIDI system "
        "stopped.\n";
    const CliRun v =
        Cli(With({"verify", "--simulated-unit", "--sim-fault", "unplug-after:0"}, minute));
    EXPECT_EQ(v.status, 3);
    EXPECT_EQ(v.out, "");
    EXPECT_EQ(v.err, gone);
    const CliRun u =
        Cli(With({"upgrade", "--simulated-unit", "--yes", "--sim-fault", "unplug-after:40",
                  std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex"},
                 minute));
    EXPECT_EQ(u.status, 3);
    EXPECT_EQ(u.out, gone);  // the report's place; no success
}

TEST(VerifyCli, TraceHasEveryMessageInItsFormat) {
    testutil::TempFile trace("");
    const CliRun r = Cli({"verify", "--simulated-unit", "--trace", trace.Path()});
    ASSERT_EQ(r.status, 0);
    std::ifstream f(trace.Path());
    std::string sent, received, extra;
    std::getline(f, sent);
    std::getline(f, received);
    EXPECT_FALSE(std::getline(f, extra));
    const std::regex line(R"([0-9]+\.[0-9]{3} [<>]( [0-9A-F]{2})+)");
    EXPECT_TRUE(std::regex_match(sent, line)) << sent;
    EXPECT_TRUE(std::regex_match(received, line)) << received;
    EXPECT_THAT(sent, HasSubstr(" > F0 6F 10 00 11 01 7F F7"));
    EXPECT_THAT(received, HasSubstr(" < F0 6F 10 00 12 01 01 00 02 00 03 00 04 00 "));
}

TEST(VerifyCli, ALateReplyLandsInTheNextAttempt) {
    testutil::TempFile trace("");
    // Attempts of 1 s; every reply comes 1.3 s after its request, well inside the second
    // attempt even on a loaded machine.
    const CliRun r =
        Cli({"verify", "--simulated-unit", "--sim-fault", "late:1", "--sim-late-ms", "1300",
             "--poll-interval-ms", "10", "--poll-count", "100", "--trace", trace.Path()});
    EXPECT_EQ(r.status, 0) << r.out;
    std::ifstream f(trace.Path());
    std::string line;
    int sent = 0;
    while (std::getline(f, line))
        sent += line.find(" > ") != std::string::npos;
    EXPECT_EQ(sent, 2);  // the first attempt's wait ended before its reply came
}

TEST(ResetCli, SendsTheRestartFrameOnly) {
    testutil::TempFile trace("");
    const CliRun r = Cli({"reset", "--simulated-unit", "--trace", trace.Path()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream f(trace.Path());
    std::string line, extra;
    std::getline(f, line);
    EXPECT_THAT(line, HasSubstr(" > F0 6F 10 00 11 00 00 F7"));
    EXPECT_FALSE(std::getline(f, extra));
}

TEST(VerifyCli, BadArgumentsAreUsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"verify", "--in"},
             {"verify", "--in", "x"},
             {"verify", "--bogus"},
             {"verify", "--sim-fault", "fire:1"},
             {"verify", "--attempts", "0"},
             {"verify", "--attempts", "4294967295"},
             {"verify", "--poll-count", "10001"},
             {"verify", "--poll-interval-ms", "60001"},
             {"verify", "--in", "65536"},
             {"verify", "--sim-baud", "1000001"},
             {"verify", "--sim-late-ms", "-1"},
             {"verify", "--sim-fault", "cut-after:x"},
             {"verify", "--sim-flash-out", "/tmp/x"},
             {"verify", "--simulated-unit", "--in", "999"},
             {"reset", "--simulated-unit", "--trace", "/nonexistent/dir/trace"}}) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // A value out of range names the option and its range.
    EXPECT_THAT(Cli({"verify", "--attempts", "4294967295"}).err,
                HasSubstr("--attempts takes a whole number from 1 to 100, not '4294967295'"));
    const CliRun help = Cli({"verify", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--simulated-unit"));
    EXPECT_THAT(help.out, HasSubstr("--trace FILE"));

    // A MIDI system the program does not know is a usage error that names the valid ones.
    const std::string before = std::getenv("VANTRO_MIDI_API") ? std::getenv("VANTRO_MIDI_API") : "";
    const auto set = [](const std::string& v) {
#if defined(_WIN32)
        _putenv_s("VANTRO_MIDI_API", v.c_str());
#else
        setenv("VANTRO_MIDI_API", v.c_str(), 1);
#endif
    };
    set("bogus");
    const CliRun unknown = Cli({"ports"});
    set(before);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("VANTRO_MIDI_API is 'bogus'; it takes none, "));
}

TEST(VerifyCli, FlashDumpInAndOut) {
    testutil::TempFile dump(""), again("");
    auto read = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), {});
    };
    ASSERT_EQ(Cli({"verify", "--simulated-unit", "--sim-flash-start", "erased", "--sim-flash-out",
                   dump.Path()})
                  .status,
              0);
    const std::string bytes = read(dump.Path());
    ASSERT_EQ(bytes.size(), 0x153F0u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0x2800]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0x2803]), 0x00);
    // Without the dump the unit would hold a previous firmware there.
    EXPECT_EQ(Cli({"verify", "--simulated-unit", "--sim-flash-in", dump.Path(), "--sim-flash-out",
                   again.Path()})
                  .status,
              0);
    EXPECT_EQ(read(again.Path()), bytes);
}

TEST(VerifyCli, FlashDumpsThatAreNoDumpAreUsageErrors) {
#if defined(_WIN32)
    GTEST_SKIP() << "FIFOs and devices of their own on Linux";
#else
    testutil::TempFile shortDump("abc");
    const auto fifo =
        std::filesystem::temp_directory_path() / ("vantro-dump-fifo-" + std::to_string(getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {shortDump.Path(), "a flash dump holds 87024 bytes, this one 3"},
        {std::filesystem::temp_directory_path().string(), "it is not a regular file"},
        {fifo.string(), "it is not a regular file"},
        {"/dev/zero", "it is not a regular file"},
        {"/nonexistent/dump", "it cannot be opened"},
    };
    for (const auto& [path, reason] : cases) {
        const auto t0 = std::chrono::steady_clock::now();
        const CliRun r = Cli({"verify", "--simulated-unit", "--sim-flash-in", path});
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << path;
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_THAT(r.err, HasSubstr("'" + path + "' as flash dump: " + reason)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    std::filesystem::remove(fifo);
#endif
}

TEST(VerifyCli, OutputsThatCannotBeWrittenAreSaidOnceAndExitFour) {
#if defined(_WIN32)
    GTEST_SKIP() << "/dev/full is Linux's";
#endif
    for (const auto& option : {"--trace", "--sim-flash-out"}) {
        const CliRun r = Cli({"verify", "--simulated-unit", option, "/dev/full"});
        EXPECT_EQ(r.status, 4) << option;
        EXPECT_EQ(r.out, "OK - BL V1.2, FW V3.4\n");
        EXPECT_THAT(r.err, HasSubstr("could not write")) << option;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

}  // namespace
