// vantro-unit-sim as a program of its own on the JACK server the test script starts, and
// vantro-cli reaching it over those real ports. Skipped, with the reason, without JACK.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "CableRuns.h"
#include "FlashCheck.h"
#include "HexFiles.h"
#include "Process.h"
#include "platform/MidiApi.h"
#include "platform/rtmidi/PublishedPortPair.h"

namespace {

struct Result {
    int status = -1;
    std::string out;  // standard output, then standard error
};

Result RunCliProcess(const std::string& args) {
    const auto r = testutil::RunCommand(VANTRO_CLI_PATH, args);
    return {r.status, r.out + r.err};
}

// The number of the first port in the given section of `vantro-cli ports` whose name starts
// with prefix; -1 when there is none.
int PortNumber(const std::string& listing, const std::string& section, const std::string& prefix) {
    std::istringstream lines(listing);
    std::string line;
    bool inSection = false;
    const std::regex entry(R"(  ([0-9]+): (.*))");
    while (std::getline(lines, line)) {
        if (line.rfind("IN ports:", 0) == 0 || line.rfind("OUT ports:", 0) == 0) {
            inSection = line.rfind(section, 0) == 0;
            continue;
        }
        std::smatch m;
        if (inSection && std::regex_match(line, m, entry) && m[2].str().rfind(prefix, 0) == 0) {
            return std::stoi(m[1].str());
        }
    }
    return -1;
}

bool SkipWithoutJack() {
    return std::getenv("JACK_DEFAULT_SERVER") == nullptr || platform::RealMidiApi() != "jack";
}

#define SKIP_WITHOUT_JACK()                                                                  \
    if (SkipWithoutJack())                                                                   \
    GTEST_SKIP() << "no JACK server answers (JACK_DEFAULT_SERVER="                           \
                 << (std::getenv("JACK_DEFAULT_SERVER") ? std::getenv("JACK_DEFAULT_SERVER") \
                                                        : "unset")                           \
                 << ")"

// vantro-unit-sim under name, ready, with the numbers of its IN and OUT ports.
struct UnitProcess {
    UnitProcess(const std::string& name, std::vector<std::string> options)
        : sim(Args(name, options)) {
        EXPECT_TRUE(sim.Started());
        EXPECT_TRUE(sim.WaitForOutput("ready on jack", std::chrono::seconds(10))) << sim.Output();
        Result ports;
        for (int tries = 0; tries < 100 && (in < 0 || out < 0); ++tries) {
            ports = RunCliProcess("ports");
            in = PortNumber(ports.out, "IN", name);
            out = PortNumber(ports.out, "OUT", name);
        }
        EXPECT_GE(in, 0) << ports.out;
        EXPECT_GE(out, 0) << ports.out;
    }
    static std::vector<std::string> Args(const std::string& name, std::vector<std::string> o) {
        o.insert(o.begin(), {VANTRO_SIM_PATH, "--name", name});
        return o;
    }
    std::string Ports() const {
        return "--in " + std::to_string(in) + " --out " + std::to_string(out);
    }

    testutil::ChildProcess sim;
    int in = -1, out = -1;
};

const std::string kExample = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
// Waits of a minute an attempt: only a port failure can end a run in time.
const std::string kMinuteWaits = " --poll-interval-ms 1000 --poll-count 60 ";

TEST(JackSim, VerifyOverRealPortsReachesTheSimulatedUnit) {
    SKIP_WITHOUT_JACK();
    UnitProcess unit("VANTRO sim under test", {});
    const Result verify = RunCliProcess("verify " + unit.Ports());
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, "OK - BL V1.2, FW V3.4\n");
    EXPECT_EQ(unit.sim.Stop(), 0) << "ended by signal " << unit.sim.EndingSignal();
}

TEST(JackSim, PortsPulledMidwayAreAPortFailureAtOnce) {
    SKIP_WITHOUT_JACK();
    UnitProcess unit("VANTRO sim pulled", {"--fault", "unplug-after:30"});
    const auto start = std::chrono::steady_clock::now();
    const Result r = RunCliProcess("upgrade --yes " + unit.Ports() + kMinuteWaits + kExample);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_THAT(r.out, ::testing::ContainsRegex("\"VANTRO sim pulled[^\"]*\" is gone"));
    EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("completed")));
    EXPECT_EQ(unit.sim.Stop(), 0) << "ended by signal " << unit.sim.EndingSignal();
}

TEST(JackSim, DetectFindsEveryPublishedUnitAndUpgradeAllProgramsThem) {
    SKIP_WITHOUT_JACK();
    testutil::TempFile dump("");
    UnitProcess units("VANTRO sim pair", {"--units", "2", "--flash-out", dump.Path()});
    ASSERT_TRUE(
        units.sim.WaitForOutput("'VANTRO sim pair 2' ready on jack", std::chrono::seconds(10)));
    const Result found = RunCliProcess("detect --wait-ms 3000");
    EXPECT_EQ(found.status, 0) << found.out;
    // JACK names a port by its client and its own name.
    for (const char* unit :
         {"FW V3.4 \\(IN \"VANTRO sim pair[-:][^\"]*\", OUT \"VANTRO sim pair:",
          "FW V3.5 \\(IN \"VANTRO sim pair 2[-:][^\"]*\", OUT \"VANTRO sim pair 2:"})
        EXPECT_THAT(found.out, ::testing::ContainsRegex(
                                   std::string("IN [0-9]+ / OUT [0-9]+: OK - BL V1.2, ") + unit));
    const Result all = RunCliProcess("upgrade --all --no --wait-ms 3000 " + kExample);
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_THAT(all.out, ::testing::ContainsRegex("OK - BL V1.2, FW V3.4 +completed"));
    EXPECT_THAT(all.out, ::testing::ContainsRegex("OK - BL V1.2, FW V3.5 +completed"));
    EXPECT_EQ(units.sim.Stop(), 0) << "ended by signal " << units.sim.EndingSignal();
    const std::string flash = testutil::ReadAll(dump.Path());
    EXPECT_TRUE(
        testutil::FlashHoldsTheFile(std::vector<uint8_t>(flash.begin(), flash.end()), kExample));
}

// Over real ports too, a cable that loses long messages (fifo:64) is got through paced: each
// piece is its own JACK event at its own frame, and the unit's cable sees when each arrived.
TEST(JackSim, ACableThatLosesLongMessagesIsGotThroughPaced) {
    SKIP_WITHOUT_JACK();
    testutil::TempFile dump("");
    testutil::TempFile hex(testutil::ApplicationBlocks(3), "fw.hex");
    UnitProcess unit("VANTRO sim cable",
                     {"--fault", "fifo:64", "--baud", "31250", "--flash-out", dump.Path()});
    for (const auto& [pace, status, noted] : testutil::kCableRuns) {
        std::string args = "upgrade --no --poll-interval-ms 10 --poll-count 50 " + unit.Ports();
        for (const auto& p : pace)
            args += " " + p;
        const Result r = RunCliProcess(args + " " + hex.Path());
        EXPECT_EQ(r.status, status) << r.out;
        EXPECT_EQ(testutil::PacedFromTheFirstBlock(r.out), noted) << r.out;
    }
    EXPECT_EQ(unit.sim.Stop(), 0) << "ended by signal " << unit.sim.EndingSignal();
    const std::string flash = testutil::ReadAll(dump.Path());
    EXPECT_TRUE(
        testutil::FlashHoldsTheFile(std::vector<uint8_t>(flash.begin(), flash.end()), hex.Path()));
}

// The client our OUT port sends to goes while the run waits for the reply to its first request;
// our IN port is another client's and stays. Nothing more is sent, so only the OUT port's
// watch can end the wait in time.
TEST(JackSim, AnOutPortThatGoesAloneDuringAReplyWaitIsAPortFailureWithinTwoSeconds) {
    SKIP_WITHOUT_JACK();
    platform::PublishedPortPair stays("vantro-stays", nullptr);
    std::mutex m;
    std::condition_variable cv;
    bool heard = false;
    auto goes = std::make_unique<platform::PublishedPortPair>(
        "vantro-goes", [&](const uint8_t*, std::size_t, auto) {
            {
                std::lock_guard lock(m);
                heard = true;
            }
            cv.notify_all();
        });
    Result ports;
    int in = -1, out = -1;
    for (int tries = 0; tries < 100 && (in < 0 || out < 0); ++tries) {
        ports = RunCliProcess("ports");
        in = PortNumber(ports.out, "IN", "vantro-stays");
        out = PortNumber(ports.out, "OUT", "vantro-goes");
    }
    ASSERT_TRUE(in >= 0 && out >= 0) << ports.out;
    testutil::ChildProcess cli({VANTRO_CLI_PATH, "upgrade", "--yes", "--in", std::to_string(in),
                                "--out", std::to_string(out), "--poll-interval-ms", "1000",
                                "--poll-count", "60", kExample});
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return heard; }));
    }
    const auto removed = std::chrono::steady_clock::now();
    goes.reset();
    EXPECT_TRUE(cli.WaitForOutput("is gone", std::chrono::seconds(20))) << cli.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - removed, std::chrono::milliseconds(2500));
    EXPECT_EQ(cli.Wait(), 3) << cli.Output();
    EXPECT_THAT(cli.Output(), ::testing::ContainsRegex("\"vantro-goes[^\"]*\" is gone"));
}

// A JACK server of the test's own, stopped in the middle of an upgrade.
TEST(JackSim, AServerThatStopsMidwayIsAPortFailureAtOnce) {
    SKIP_WITHOUT_JACK();
    const std::string server = "vantro-stopped-" + std::to_string(getpid());
    testutil::ChildProcess jackd({"/usr/bin/jackd", "-n", server, "-S", "-t", "5000", "-r", "-d",
                                  "dummy", "-r", "48000", "-p", "512"});
    ASSERT_TRUE(jackd.Started());
    const std::string outer = std::getenv("JACK_DEFAULT_SERVER");
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    struct Restore {
        std::string name;
        ~Restore() { setenv("JACK_DEFAULT_SERVER", name.c_str(), 1); }
    } restore{outer};
    bool up = false;
    for (int tries = 0; tries < 100 && !up; ++tries) {
        up = testutil::RunCommand("jack_lsp", "").status == 0;
    }
    ASSERT_TRUE(up) << "the test's own JACK server did not start";

    UnitProcess unit("VANTRO sim stopped", {"--baud", "31250"});
    testutil::TempFile trace("");
    testutil::ChildProcess cli({VANTRO_CLI_PATH, "upgrade", "--yes", "--in",
                                std::to_string(unit.in), "--out", std::to_string(unit.out),
                                "--poll-interval-ms", "1000", "--poll-count", "60", "--trace",
                                trace.Path(), kExample});
    ASSERT_TRUE(cli.Started());
    // Under way once a few blocks have gone both ways.
    bool underWay = false;
    for (int tries = 0; tries < 600 && !underWay; ++tries) {
        const std::string t = testutil::ReadAll(trace.Path());
        underWay = std::count(t.begin(), t.end(), '\n') >= 20;
        if (!underWay)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(underWay) << testutil::ReadAll(trace.Path());
    const auto stopped = std::chrono::steady_clock::now();
    jackd.Stop();
    EXPECT_TRUE(cli.WaitForOutput("is gone", std::chrono::seconds(20))) << cli.Output();
    EXPECT_EQ(cli.Wait(), 3) << cli.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(20));
    EXPECT_THAT(cli.Output(), ::testing::Not(::testing::HasSubstr("completed")));
}

}  // namespace
