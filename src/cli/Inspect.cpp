#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <vector>

#include "cli/Cli.h"
#include "cli/ConsoleMessages.h"
#include "cli/Json.h"
#include "image/DeviceProfile.h"
#include "image/FirmwareImage.h"
#include "image/HexReader.h"
#include "platform/Unicode.h"
#include "upgrade/ProgrammingPlan.h"

namespace vantro::cli {

namespace {

constexpr const char* kInspectUsage =
    "usage: vantro-cli inspect [--json] [--blocks-out FILE] FILE.hex\n"
    "\n"
    "Loads FILE.hex as the upgrade would (PIC24FJ64GB002) and describes the result.\n"
    "The reader's messages go to standard error.\n"
    "\n"
    "  --json             end standard output with one JSON object: ok, messages,\n"
    "                     codeBytes, usedBytes, dataBytes, configBytes, configMasks,\n"
    "                     plan (start, length, blocks, erasePages, eraseWordAddress),\n"
    "                     totalBlocks\n"
    "  --blocks-out FILE  when the load succeeds, write every block of the plan to FILE\n"
    "                     as it would be written to the unit, 256 bytes each\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 loaded, 1 the load failed, 2 usage error.\n";

struct InspectOptions {
    bool json = false;
    std::string blocksOut;
    std::string hexPath;
};

// Returns kExitOk when parsed, kExitUsage after a message, or -1 after --help.
int ParseInspect(const std::vector<std::string>& args, InspectOptions& opts, std::ostream& out,
                 std::ostream& err) {
    bool havePath = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << kInspectUsage;
            return -1;
        }
        if (a == "--json") {
            opts.json = true;
        } else if (a == "--blocks-out") {
            if (i + 1 >= args.size()) {
                err << "vantro-cli inspect: --blocks-out needs a file name\n";
                return kExitUsage;
            }
            opts.blocksOut = args[++i];
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            err << "vantro-cli inspect: unknown option '" << a << "'\n";
            return kExitUsage;
        } else if (havePath) {
            err << "vantro-cli inspect: more than one HEX file given\n";
            return kExitUsage;
        } else {
            opts.hexPath = a;
            havePath = true;
        }
    }
    if (!havePath) {
        err << "vantro-cli inspect: no HEX file given\n";
        return kExitUsage;
    }
    if (const auto why = OutputOverwritingInput(opts.hexPath, {{"--blocks-out", opts.blocksOut}});
        !why.empty()) {
        err << "vantro-cli inspect: " << why << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

std::string HexList(const std::vector<int32_t>& values) {
    std::string s;
    for (const auto v : values) {
        char b[8];
        std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", static_cast<unsigned>(v));
        s += b;
    }
    return s.empty() ? "(none)" : s;
}

std::string IntList(const std::vector<int32_t>& values) {
    std::string s = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) {
            s += ',';
        }
        s += std::to_string(values[i]);
    }
    return s + "]";
}

std::size_t CountUsed(const FirmwareImage& image) {
    std::size_t used = 0;
    for (const bool bit : image.usedAddresses) {
        used += bit ? 1 : 0;
    }
    return used;
}

bool WriteBlocks(const std::string& path, const FirmwareImage& image, const ProgrammingPlan& plan,
                 std::ostream& err) {
    std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    uint8_t block[kBlockSize];
    for (const auto& segment : plan) {
        for (int32_t k = 0; k < BlockCount(segment) && file; ++k) {
            FillBlock(image, segment, k, block);
            file.write(reinterpret_cast<const char*>(block), kBlockSize);
        }
    }
    file.close();
    if (!file) {
        err << "vantro-cli inspect: cannot write '" << path << "'\n";
        return false;
    }
    return true;
}

void PrintSummary(std::ostream& out, bool ok, const FirmwareImage& image,
                  const ProgrammingPlan& plan, const HexLoadNotes& notes) {
    char line[160];
    out << "Load:          " << (ok ? "OK" : "FAILED") << '\n';
    if (notes.refusedRecords != 0) {
        out << "Refused:       " << notes.refusedRecords
            << " data records that ran past the end of their region\n";
    }
    out << "Code bytes:    " << image.codeBytes.size() << " (" << CountUsed(image)
        << " written by the file)\n";
    out << "Data bytes:    " << image.dataBytes.size() << '\n';
    out << "Config bytes:  " << HexList(image.configBytes) << '\n';
    out << "Config masks:  " << HexList(image.configMasks) << '\n';
    if (plan.empty()) {
        out << "Plan:          nothing to program\n";
    }
    for (const auto& s : plan) {
        std::snprintf(line, sizeof line,
                      "Plan:          0x%05X..0x%05X (%d bytes): %d blocks of 256, %d erase "
                      "pages from word address 0x%04X\n",
                      static_cast<unsigned>(s.start), static_cast<unsigned>(s.start + s.length - 1),
                      s.length, BlockCount(s), ErasePageCount(s),
                      static_cast<unsigned>(s.start >> 1));
        out << line;
    }
    out << "Total blocks:  " << TotalBlockCount(plan) << '\n';
}

void PrintJson(std::ostream& out, bool ok, const std::vector<std::string>& messages,
               const FirmwareImage& image, const ProgrammingPlan& plan, const HexLoadNotes& notes) {
    std::ostringstream j;
    j << "{\"ok\":" << (ok ? "true" : "false") << ",\"messages\":[";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        j << (i ? "," : "") << JsonString(messages[i]);
    }
    j << "],\"codeBytes\":" << image.codeBytes.size() << ",\"usedBytes\":" << CountUsed(image)
      << ",\"dataBytes\":" << image.dataBytes.size()
      << ",\"configBytes\":" << IntList(image.configBytes)
      << ",\"configMasks\":" << IntList(image.configMasks) << ",\"plan\":[";
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const auto& s = plan[i];
        j << (i ? "," : "") << "{\"start\":" << s.start << ",\"length\":" << s.length
          << ",\"blocks\":" << BlockCount(s) << ",\"erasePages\":" << ErasePageCount(s)
          << ",\"eraseWordAddress\":" << (s.start >> 1) << "}";
    }
    j << "],\"totalBlocks\":" << TotalBlockCount(plan)
      << ",\"refusedRecords\":" << notes.refusedRecords << "}";
    out << j.str() << '\n';
}

}  // namespace

int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    InspectOptions opts;
    const int parsed = ParseInspect(args, opts, out, err);
    if (parsed == -1) {
        return kExitOk;
    }
    if (parsed != kExitOk) {
        return parsed;
    }

    DeviceProfile profile;
    profile.DescribePic24FJ64GB002();
    FirmwareImage image;
    ConsoleMessages messages(err);
    HexLoadNotes notes;
    const bool ok = LoadHexFile(profile, opts.hexPath, image, messages, out, &notes);
    const ProgrammingPlan plan = ok ? BuildProgrammingPlan(image) : ProgrammingPlan{};

    if (opts.json) {
        PrintJson(out, ok, messages.Texts(), image, plan, notes);
    } else {
        PrintSummary(out, ok, image, plan, notes);
    }
    out.flush();

    if (ok && !opts.blocksOut.empty() && !WriteBlocks(opts.blocksOut, image, plan, err)) {
        return kExitFailed;
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vantro::cli
