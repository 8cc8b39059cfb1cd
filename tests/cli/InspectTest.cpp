#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "HexFiles.h"
#include "Process.h"
#include "cli/Cli.h"
#include "image/HexReader.h"
#include "upgrade/ProgrammingPlan.h"

namespace vantro {
namespace {

using namespace testutil;
using ::testing::HasSubstr;

using Result = CommandResult;

// Runs the real executable, as a script would.
Result RunTool(const std::string& args) {
    return RunCommand(VANTRO_CLI_PATH, args);
}

std::string LastLine(const std::string& text) {
    std::string s = text;
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

std::string Example() {
    return std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex";
}

TEST(InspectCli, ExampleJsonDescribesThePlan) {
    const Result r = RunTool("inspect --json " + Example());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LastLine(r.out),
              "{\"ok\":true,\"messages\":[],\"codeBytes\":36864,\"usedBytes\":26624,"
              "\"dataBytes\":0,\"configBytes\":[127,255,223,255,223,249,127,63],"
              "\"configMasks\":[255,0,31,239,247,255,223,123],\"plan\":[{\"start\":10240,"
              "\"length\":26624,\"blocks\":104,\"erasePages\":13,\"eraseWordAddress\":5120}],"
              "\"totalBlocks\":104,\"refusedRecords\":0}");
    EXPECT_TRUE(r.err.empty());
}

TEST(InspectCli, FailedLoadReportsMessagesAndState) {
    std::string bad = Data(0x2800, {1, 2});
    bad.replace(bad.size() - 2, 2, "00");
    TempFile f(Lines({Data(0x2800 - 2, {9, 9}), bad, kEof}));
    const Result r = RunTool("inspect --json " + f.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in checksum...\n");
    EXPECT_THAT(r.out, ::testing::StartsWith("D3  0\n"));
    EXPECT_EQ(LastLine(r.out),
              "{\"ok\":false,\"messages\":[\"Error in checksum...\"],\"codeBytes\":10240,"
              "\"usedBytes\":2,\"dataBytes\":0,\"configBytes\":[],\"configMasks\":[],"
              "\"plan\":[],\"totalBlocks\":0,\"refusedRecords\":0}");
}

TEST(InspectCli, HumanSummaryNamesThePlan) {
    const Result r = RunTool("inspect " + Example());
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Load:          OK"));
    EXPECT_THAT(r.out, HasSubstr("0x02800..0x08FFF (26624 bytes): 104 blocks"));
    EXPECT_THAT(r.out, HasSubstr("FF 00 1F EF F7 FF DF 7B"));
}

TEST(InspectCli, BlocksOutHoldsEveryBlockAsFilled) {
    TempFile blocks("");
    const Result r = RunTool("inspect --blocks-out " + blocks.Path() + " " + Example());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string written = ReadAll(blocks.Path());
    ASSERT_EQ(written.size(), 104u * 256u);

    DeviceProfile p;
    p.DescribePic24FJ64GB002();
    FirmwareImage image;
    RecordingMessageSeam m;
    ASSERT_TRUE(LoadHexFile(p, Example(), image, m));
    const auto plan = BuildProgrammingPlan(image);
    uint8_t block[kBlockSize];
    for (int k = 0; k < 104; ++k) {
        FillBlock(image, plan[0], k, block);
        ASSERT_EQ(std::memcmp(block, written.data() + 256 * k, 256), 0) << k;
    }
}

TEST(InspectCli, UsageErrorsExitTwoWithOneLine) {
    for (const char* args : {"", "inspect", "inspect --bogus x.hex", "inspect a.hex b.hex",
                             "inspect --blocks-out", "frobnicate"}) {
        const Result r = RunTool(args);  // NOLINT
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    }
    const Result version = RunTool("--version");  // the project's version, from CMake
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vantro-cli " VANTRO_PROJECT_VERSION "\n");
    const Result help = RunTool("inspect --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--blocks-out FILE"));
    EXPECT_THAT(help.out, HasSubstr("--json"));
}

TEST(InspectCli, MissingFileIsALoadFailure) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli({"inspect", "/nonexistent/x.hex"}, out, err), 1);
    EXPECT_EQ(err.str(), "Could not open Hex file...\n");
}

}  // namespace
}  // namespace vantro
