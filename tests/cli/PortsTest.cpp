#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/Cli.h"
#include "platform/VirtualMidi.h"

namespace {

using ::testing::HasSubstr;

TEST(PortsCli, ListsBothDirectionsWithTheirNumbers) {
    platform::VirtualInputPort in("cli test in");
    platform::VirtualOutputPort out("cli test out", nullptr);
    std::ostringstream o, e;
    ASSERT_EQ(vantro::cli::RunCli({"ports"}, o, e), 0);
    const std::string text = o.str();
    const auto inAt = text.find("IN ports:");
    const auto outAt = text.find("OUT ports:");
    ASSERT_NE(inAt, std::string::npos);
    ASSERT_NE(outAt, std::string::npos);
    const std::string inPart = text.substr(inAt, outAt - inAt);
    EXPECT_TRUE(std::regex_search(inPart, std::regex("  [0-9]+: cli test in\n$"))) << inPart;
    EXPECT_TRUE(std::regex_search(text.substr(outAt), std::regex("  [0-9]+: cli test out\n$")))
        << text;
    EXPECT_TRUE(e.str().empty());
}

TEST(PortsCli, SaysSoWhenThereAreNone) {
    // The suite runs with VANTRO_MIDI_API=none: no real ports, and no virtual one here.
    std::ostringstream o, e;
    ASSERT_EQ(vantro::cli::RunCli({"ports"}, o, e), 0);
    EXPECT_EQ(o.str(),
              "IN ports: none (no MIDI input port found)\n"
              "OUT ports: none (no MIDI output port found)\n");
    std::ostringstream o2, e2;
    EXPECT_EQ(vantro::cli::RunCli({"ports", "extra"}, o2, e2), 2);
    EXPECT_THAT(e2.str(), HasSubstr("unexpected argument"));
}

}  // namespace
