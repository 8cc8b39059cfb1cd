#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "../midi/MidiTestSupport.h"
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
              "MIDI system: none (VANTRO_MIDI_API=none: only the ports inside this program)\n"
              "IN ports: none (no MIDI input port found)\n"
              "OUT ports: none (no MIDI output port found)\n");
    std::ostringstream o2, e2;
    EXPECT_EQ(vantro::cli::RunCli({"ports", "extra"}, o2, e2), 2);
    EXPECT_THAT(e2.str(), HasSubstr("unexpected argument"));
}

// A stream buffer two threads may use: the command writes, the test reads.
class SharedText : public std::streambuf {
  public:
    std::string Text() {
        std::lock_guard lock(m_);
        return text_;
    }

  protected:
    int overflow(int c) override {
        std::lock_guard lock(m_);
        if (c != EOF)
            text_ += static_cast<char>(c);
        return c;
    }
    std::streamsize xsputn(const char* p, std::streamsize n) override {
        std::lock_guard lock(m_);
        text_.append(p, static_cast<std::size_t>(n));
        return n;
    }

  private:
    std::mutex m_;
    std::string text_;
};

TEST(PortsCli, WatchPrintsEachPortThatComesAndGoesUntilCtrlC) {
    SharedText text;
    std::ostream o(&text);
    std::ostringstream e;
    int status = -1;
    std::thread watching([&] { status = vantro::cli::RunCli({"ports", "--watch"}, o, e); });
    auto shows = [&](const std::string& what) {
        return testutil::Eventually([&] { return text.Text().find(what) != std::string::npos; },
                                    std::chrono::seconds(20));
    };
    EXPECT_TRUE(shows("Watching; Ctrl-C ends.\n"));
    std::optional<platform::VirtualInputPort> plugged;
    plugged.emplace("plugged in");
    EXPECT_TRUE(shows(" + IN \"plugged in\"\n"));
    plugged.reset();
    EXPECT_TRUE(shows(" - IN \"plugged in\"\n"));
    std::raise(SIGINT);  // as Ctrl-C
    watching.join();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::regex_search(text.Text(), std::regex("\n[0-9]{2}:[0-9]{2}:[0-9]{2} \\+ IN")));
    std::ostringstream o2, e2;
    EXPECT_EQ(vantro::cli::RunCli({"ports", "--watch-ms", "5"}, o2, e2), 2);
}

}  // namespace
