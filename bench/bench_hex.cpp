// Loads a HEX file of 16-byte records that fills N/5439 of the code region and builds the
// plan; the full region is 0x153F0 bytes. Reports time per load and MB/s of HEX text.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/HexReader.h"
#include "upgrade/ProgrammingPlan.h"

namespace {

std::string MakeHex(int records) {
    std::string text;
    char line[64];
    for (int r = 0; r < records; ++r) {
        const unsigned address = static_cast<unsigned>(r) * 16;
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        int n = std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
        for (int i = 0; i < 16; ++i) {
            const unsigned b = (address + static_cast<unsigned>(i) * 7) & 0xFF;
            sum += b;
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X", b);
        }
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X\r\n",
                      (0x100 - (sum & 0xFF)) & 0xFF);
        // Records past 0x10000 need the upper address.
        if (address == 0x10000)
            text += ":020000040001F9\r\n";
        text += line;
    }
    text += ":00000001FF\r\n";
    return text;
}

class NullSeam : public vantro::MessageSeam {
  public:
    vantro::MessageAnswer Show(const std::string&, vantro::MessageButtons) override {
        return vantro::MessageAnswer::Ok;
    }
};

void BM_LoadAndPlan(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    const std::string text = MakeHex(records);
    const auto path = std::filesystem::temp_directory_path() /
                      ("vantro-bench-" + std::to_string(::getpid()) + ".hex");
    std::ofstream(path, std::ios::binary) << text;

    vantro::DeviceProfile profile;
    profile.DescribePic24FJ64GB002();
    NullSeam seam;
    for (auto _ : state) {
        vantro::FirmwareImage image;
        const bool ok = vantro::LoadHexFile(profile, path.string(), image, seam);
        auto plan = vantro::BuildProgrammingPlan(image);
        if (!ok)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(plan);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
    state.SetComplexityN(records);
}

BENCHMARK(BM_LoadAndPlan)
    ->Arg(544)
    ->Arg(5439)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
