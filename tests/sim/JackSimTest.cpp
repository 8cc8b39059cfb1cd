// vantro-unit-sim as a program of its own on the JACK server the test script starts, and
// vantro-cli reaching it over those real ports. Skipped, with the reason, without JACK.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "HexFiles.h"
#include "Process.h"
#include "platform/RealPorts.h"

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

TEST(JackSim, VerifyOverRealPortsReachesTheSimulatedUnit) {
    if (std::getenv("JACK_DEFAULT_SERVER") == nullptr || platform::RealMidiApi() != "jack") {
        GTEST_SKIP() << "no JACK server answers (JACK_DEFAULT_SERVER="
                     << (std::getenv("JACK_DEFAULT_SERVER") ? std::getenv("JACK_DEFAULT_SERVER")
                                                            : "unset")
                     << ")";
    }
    testutil::ChildProcess sim({VANTRO_SIM_PATH, "--name", "VANTRO sim under test"});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(sim.WaitForOutput("ready on jack", std::chrono::seconds(10))) << sim.Output();

    int in = -1, out = -1;
    Result ports;
    for (int tries = 0; tries < 100 && (in < 0 || out < 0); ++tries) {
        ports = RunCliProcess("ports");
        in = PortNumber(ports.out, "IN", "VANTRO sim under test");
        out = PortNumber(ports.out, "OUT", "VANTRO sim under test");
    }
    ASSERT_GE(in, 0) << ports.out;
    ASSERT_GE(out, 0) << ports.out;

    const Result verify =
        RunCliProcess("verify --in " + std::to_string(in) + " --out " + std::to_string(out));
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, "OK - BL V1.2, FW V3.4\n");
    EXPECT_EQ(sim.Stop(), 0) << "ended by signal " << sim.EndingSignal();
}

}  // namespace
