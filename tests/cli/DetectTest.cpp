// vantro-cli detect and --unit auto against simulated units, Through pairs and ports in use.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../midi/MidiTestSupport.h"
#include "CliRun.h"
#include "FlashCheck.h"
#include "midi/MidiInDevice.h"
#include "platform/VirtualMidi.h"
#include "sim/SimulatedUnit.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using testutil::Cli;
using testutil::CliRun;

// Waits of 3 s where a unit must answer: a port with a unit ends its wait soon after the
// answer, so only the silent ones take the whole of it.
TEST(DetectCli, FindsEachUnitNeverAnEchoAndSkipsAPortInUse) {
    platform::VirtualInputPort busy("busy in");  // another program holds it
    midi::CMIDIInDevice holder;
    holder.OpenPort(static_cast<mm::UINT>(testutil::FindInput("busy in")));
    // Ports: IN 0 busy, then Through 1, unit, unit 2 on IN 1..3 and OUT 0..2.
    const CliRun r = Cli({"detect", "--sim-units", "2", "--sim-through", "1", "--wait-ms", "3000"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "IN 2 / OUT 1: OK - BL V1.2, FW V3.4 (IN \"VANTRO simulated unit\", OUT \"VANTRO "
              "simulated unit\")\n"
              "IN 3 / OUT 2: OK - BL V1.2, FW V3.5 (IN \"VANTRO simulated unit 2\", OUT "
              "\"VANTRO simulated unit 2\")\n"
              "skipped IN 0 \"busy in\": " +
                  testutil::ErrorText(mm::MMSYSERR_ALLOCATED) + "\n");
    const CliRun j =
        Cli({"detect", "--json", "--sim-through", "1", "--simulated-unit", "--wait-ms", "3000"});
    EXPECT_THAT(j.out, HasSubstr("\"units\": [{\"in\": 2, \"out\": 1, \"in_name\": \"VANTRO "
                                 "simulated unit\", \"out_name\": \"VANTRO simulated unit\", "
                                 "\"bootloader\": \"1.2\", \"firmware\": \"3.4\""));
    EXPECT_THAT(j.out, HasSubstr("\"skipped\": [{\"port\": \"in\", \"number\": 0, \"name\": "
                                 "\"busy in\""));

    // Only the Through pair answers, with the request itself: no unit.
    const CliRun echo = Cli({"detect", "--sim-through", "2", "--wait-ms", "10"});
    EXPECT_EQ(echo.status, 1);
    EXPECT_THAT(echo.out, HasSubstr("No VANTRO unit answered on any MIDI port pair (3 IN, 2 OUT"));
    // Every IN port in use: nothing could be tried.
    EXPECT_EQ(Cli({"detect", "--wait-ms", "10"}).status, 3);
    for (const auto& bad : {std::vector<std::string>{"detect", "--wait-ms", "5"},
                            {"detect", "--in", "0"},
                            {"detect", "--bogus"}})
        EXPECT_EQ(Cli(bad).status, 2) << bad[1];
}

TEST(DetectCli, UnitAutoUsesTheOnePairOrSaysWhyNot) {
    const CliRun one = Cli({"verify", "--unit", "auto", "--sim-through", "1", "--simulated-unit",
                            "--wait-ms", "3000"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "OK - BL V1.2, FW V3.4\n");
    const CliRun several =
        Cli({"reset", "--unit", "auto", "--sim-units", "2", "--wait-ms", "3000"});
    EXPECT_EQ(several.status, 2);
    EXPECT_THAT(several.err, HasSubstr("several VANTRO units answered:\n  IN 0 / OUT 0: OK"));
    EXPECT_THAT(several.out, Not(HasSubstr("Restart sent")));
    const CliRun none = Cli({"upgrade", "--unit", "auto", "--sim-through", "1", "x.hex"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "vantro-cli upgrade: No VANTRO unit answered on any MIDI port pair\n");
    EXPECT_EQ(Cli({"verify", "--unit", "auto", "--in", "0"}).status, 2);
    EXPECT_EQ(Cli({"verify", "--unit", "first"}).status, 2);
}

// A reply slower than the wait (16 bytes back at 10,000 baud take longer than 15 ms) is
// heard in the next OUT port's wait: no command may credit it to that port.
TEST(DetectCli, ALateReplyIsNeverCreditedToTheNextOutPort) {
    const std::vector<std::string> late = {
        "--simulated-unit", "--sim-units", "3", "--sim-baud", "10000", "--wait-ms", "15"};
    const auto with = [&](std::vector<std::string> command) {
        command.insert(command.end(), late.begin(), late.end());
        return command;
    };
    const CliRun d = Cli(with({"detect"}));
    for (const char* wrong : {"IN 0 / OUT 1", "IN 1 / OUT 2", "IN 2 / OUT 0", "IN 0 / OUT 2",
                              "IN 1 / OUT 0", "IN 2 / OUT 1"})
        EXPECT_THAT(d.out, Not(HasSubstr(wrong))) << d.out;
    const CliRun v = Cli(with({"verify", "--unit", "auto"}));
    EXPECT_EQ(v.status, 1) << v.out << v.err;
    EXPECT_THAT(v.out, Not(HasSubstr("ERROR!")));
    auto ports = vantro::sim::StartSimulatedPorts({}, 0, 0);  // none: the command brings its own
    const std::string hex = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
    const CliRun all = Cli(with({"upgrade", "--all", "--no", hex}));
    EXPECT_EQ(all.status, 1) << all.out << all.err;
    EXPECT_THAT(all.out, Not(HasSubstr("completed")));
}

// Pairs that share a port, as a thru routed from a unit's OUT or a second OUT port to it make.
TEST(DetectCli, PairsThatSharePortsAreAmbiguousWithWhy) {
    const CliRun r = Cli({"detect", "--sim-units", "2", "--sim-share", "in", "--wait-ms", "3000"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("IN 1 / OUT 1: OK - BL V1.2, FW V3.5"));
    EXPECT_THAT(r.out, HasSubstr("ambiguous IN 0 / OUT 0: OK - BL V1.2, FW V3.4 (IN \"VANTRO "
                                 "simulated unit\", OUT \"VANTRO simulated unit\"): OUT 0 is "
                                 "also answered on IN 2\n"
                                 "ambiguous IN 2 / OUT 0: OK - BL V1.2, FW V3.4 (IN \"Unit 1 "
                                 "thru\", OUT \"VANTRO simulated unit\"): OUT 0 is also "
                                 "answered on IN 0\n"));
    const CliRun j = Cli({"detect", "--json", "--sim-share", "out", "--wait-ms", "3000"});
    EXPECT_THAT(j.out, HasSubstr("\"units\": [], \"ambiguous\": [{\"in\": 0, \"out\": 0, "));
    EXPECT_THAT(j.out, HasSubstr("\"out_name\": \"Unit 1 second OUT\", \"bootloader\": \"1.2\", "
                                 "\"firmware\": \"3.4\", \"status\": \"OK - BL V1.2, FW V3.4\", "
                                 "\"why\": \"IN 0 also hears OUT 0\"}]"));
    const CliRun a = Cli({"reset", "--unit", "auto", "--sim-share", "thru-box", "--sim-units", "2",
                          "--wait-ms", "3000"});
    EXPECT_EQ(a.status, 2);
    EXPECT_THAT(a.err, HasSubstr("pairs that share a port:\n  IN 0 / OUT 0: OK - BL V1.2, FW "
                                 "V3.4 (IN \"VANTRO simulated unit\", OUT \"VANTRO simulated "
                                 "unit\"): IN 0 also hears OUT 2\n"));
    EXPECT_THAT(a.out, Not(HasSubstr("Restart sent")));
    const CliRun bad = Cli({"detect", "--sim-share", "both"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("--sim-share takes in, out or thru-box, not 'both'"));
}

using testutil::FlashHoldsTheFile;

// Each page a run erases, it erases once: two runs on one unit erase them twice.
bool ErasedByOneRun(vantro::sim::InProcessUnit& unit) {
    auto erases = unit.Core().Erases();
    const auto byAddress = [](const auto& a, const auto& b) {
        return a.wordAddress < b.wordAddress;
    };
    std::sort(erases.begin(), erases.end(), byAddress);
    return !erases.empty() && std::adjacent_find(erases.begin(), erases.end()) == erases.end();
}

TEST(UpgradeAllCli, NeverTwoRunsOnOneUnitAndNamesWhatItLeftAlone) {
    const std::string hex = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
    const std::vector<std::string> all = {"upgrade", "--all", "--no", "--wait-ms", "3000", hex};
    {
        // The first unit on IN 0 and IN 3, fed by OUT 0 and OUT 3.
        auto ports = vantro::sim::StartSimulatedPorts({}, 3, 0, nullptr, {true, true, false});
        const CliRun r = Cli(all);
        EXPECT_EQ(r.status, 5) << r.out << r.err;
        EXPECT_EQ(ports.units[0]->Core().Erases().size(), 0u);
        for (int k : {1, 2}) {
            EXPECT_TRUE(ErasedByOneRun(*ports.units[k])) << k;
            EXPECT_TRUE(FlashHoldsTheFile(ports.units[k]->Core().FlashDump(), hex));
        }
        EXPECT_THAT(r.out, HasSubstr("  IN 3 / OUT 0     OK - BL V1.2, FW V3.4    not upgraded: "
                                     "OUT 0 is also answered on IN 0; IN 3 also hears OUT 3\n"));
        EXPECT_THAT(r.out, HasSubstr("  IN 2 / OUT 2     OK - BL V1.2, FW V3.6    completed\n"));
    }
    {
        // Two units behind one OUT port: neither is driven through it, nor alone.
        auto ports = vantro::sim::StartSimulatedPorts({}, 2, 0, nullptr, {false, false, true});
        const CliRun r = Cli(all);
        EXPECT_EQ(r.status, 5) << r.out << r.err;
        for (const auto& unit : ports.units)
            EXPECT_EQ(unit->Core().Erases().size(), 0u);
        EXPECT_THAT(r.out, HasSubstr("  IN 1 / OUT 2     OK - BL V1.2, FW V3.5    not upgraded: "
                                     "IN 1 also hears OUT 1; OUT 2 is also answered on IN 0\n"));
    }
    // A port another program holds: the unit found is upgraded, and the command says what it
    // could not look at.
    platform::VirtualInputPort busy("busy in");
    midi::CMIDIInDevice holder;
    holder.OpenPort(static_cast<mm::UINT>(testutil::FindInput("busy in")));
    vantro::sim::InProcessUnit unit;
    const CliRun r = Cli(all);
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_TRUE(ErasedByOneRun(unit));
    EXPECT_THAT(r.out, HasSubstr("  IN 1 / OUT 0     OK - BL V1.2, FW V3.4    completed\n"
                                 "Ports not looked at (a unit behind them was not upgraded):\n"
                                 "  skipped IN 0 \"busy in\": " +
                                 testutil::ErrorText(mm::MMSYSERR_ALLOCATED) + "\n"));
}

TEST(UpgradeAllCli, EveryUnitAtOnceEachWithTheFileThenASummary) {
    const std::string hex = std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
    auto ports = vantro::sim::StartSimulatedPorts({}, 3, 1);  // seen by the command's lists
    const CliRun r = Cli({"upgrade", "--all", "--yes", "--wait-ms", "3000", hex});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const auto& unit : ports.units) {
        EXPECT_TRUE(FlashHoldsTheFile(unit->Core().FlashDump(), hex));
        EXPECT_TRUE(testutil::Eventually([&] { return unit->Core().Restarts() == 1; }));
    }
    EXPECT_THAT(r.out, HasSubstr("== IN 3 / OUT 3 (IN \"VANTRO simulated unit 3\", OUT \"VANTRO "
                                 "simulated unit 3\") ==\nVANTRO Update is completed and OK!"));
    EXPECT_THAT(r.out, HasSubstr("  IN 2 / OUT 2     OK - BL V1.2, FW V3.5    completed\n"));
    EXPECT_THAT(r.err, HasSubstr("IN 1 / OUT 1: [##############################] 104/104"));
    // A unit that fails fails the whole command; the others are still upgraded.
    vantro::sim::SimOptions cut;
    cut.cutAfter = 3;  // silent from its first write on
    vantro::sim::InProcessUnit failing(cut, "failing unit");
    const CliRun f =
        Cli({"upgrade", "--all", "--no", "--poll-count", "4", "--wait-ms", "3000", hex});
    EXPECT_EQ(f.status, 1);
    EXPECT_THAT(f.out, HasSubstr("  IN 4 / OUT 4     OK - BL V1.2, FW V3.4    FAILED\n"));
    EXPECT_THAT(f.out, HasSubstr("  IN 3 / OUT 3     OK - BL V1.2, FW V3.6    completed\n"));
    EXPECT_EQ(Cli({"upgrade", "--all", hex}).status, 2);  // no one question to ask
    EXPECT_EQ(Cli({"upgrade", "--all", "--yes", "--in", "0", hex}).status, 2);
}

}  // namespace
