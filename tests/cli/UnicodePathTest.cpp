// File names in any script, from the command line to the files the program opens and writes
// and back in what it prints: the real executable, as a script would start it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FlashCheck.h"
#include "HexFiles.h"
#include "Process.h"

namespace {

using ::testing::HasSubstr;

std::string ReadFile(const std::string& name) {
    std::ifstream f(testutil::Utf8Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST(UnicodePathCli, UpgradeFromAndIntoAFolderInAnyScript) {
    const testutil::TempFolder folder("Прошивка ファーム");
    const std::string hex = folder.Path() + "/vantro-demo.hex";
    const std::string dump = folder.Path() + "/флэш ダンプ.bin";
    const std::string trace = folder.Path() + "/trace.txt";
    std::filesystem::copy_file(std::string(VANTRO_SOURCE_DIR) + "/examples/vantro-demo.hex",
                               testutil::Utf8Path(hex));
    const auto r = testutil::RunCommand(VANTRO_CLI_PATH,
                                        "upgrade --simulated-unit --yes --trace \"" + trace +
                                            "\" --sim-flash-out \"" + dump + "\" \"" + hex + "\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "VANTRO Update is completed and OK!\nRestart VANTRO? Yes\n");
    const std::string flash = ReadFile(dump);
    EXPECT_TRUE(testutil::FlashHoldsTheFile(std::vector<uint8_t>(flash.begin(), flash.end()), hex));
    EXPECT_THAT(ReadFile(trace), HasSubstr(" > F0 6F 10 00 11 00 00 F7"));
    // A file it cannot write is named as given: UTF-8 where standard error is a file.
    const std::string blocks = folder.Path() + "/нет/blocks.bin";
    const auto no = testutil::RunCommand(VANTRO_CLI_PATH,
                                         "inspect --blocks-out \"" + blocks + "\" \"" + hex + "\"");
    EXPECT_THAT(no.err, HasSubstr("cannot write '" + blocks + "'"));
}

}  // namespace
