#pragma once

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace testutil {

// One Intel HEX record line (without line end), checksum computed here.
inline std::string Record(int type, unsigned address, const std::vector<uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    std::string line;
    char buf[16];
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  address & 0xFFFF, static_cast<unsigned>(type));
    line += buf;
    for (const auto b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buf;
}

inline std::string Data(unsigned address, const std::vector<uint8_t>& bytes) {
    return Record(0, address, bytes);
}

inline std::string Extended(unsigned upper) {
    return Record(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

inline const char* kEof = ":00000001FF";

inline std::vector<uint8_t> Counting(std::size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(first + i);
    return v;
}

// `count` whole blocks from the start of the application area (byte address 0x2800), each
// word's phantom byte 0 as the unit reads it back: an upgrade short enough to run at the
// wire's real rate.
inline std::string ApplicationBlocks(unsigned count) {
    std::string lines;
    for (unsigned a = 0x2800; a < 0x2800 + count * 256; a += 16) {
        std::vector<uint8_t> bytes(16);
        for (unsigned i = 0; i < 16; ++i)
            bytes[i] = static_cast<uint8_t>((a + i) % 4 == 3 ? 0 : a + 7 * i);
        lines += Data(a, bytes) + "\r\n";
    }
    return lines + kEof + "\r\n";
}

// A file in the test's temporary folder, removed when the object goes.
class TempFile {
  public:
    explicit TempFile(const std::string& contents, const std::string& name = "image.hex") {
        static int counter = 0;
        path_ =
            std::filesystem::temp_directory_path() / ("vantro-test-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(counter++) + "-" + name);
        std::ofstream(path_, std::ios::binary) << contents;
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string Path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// A UTF-8 file name as a path, converted by the library itself (not by the code under test).
inline std::filesystem::path Utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// A folder in the test's temporary folder with a name in any script (UTF-8), removed with
// what it holds when the object goes.
class TempFolder {
  public:
    explicit TempFolder(const std::string& name) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                Utf8Path("vantro-test-" + std::to_string(::getpid()) + "-" +
                         std::to_string(counter++) + "-" + name);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // In UTF-8, as the programs take file names.
    std::string Path() const {
        const std::u8string name = path_.u8string();
        return std::string(name.begin(), name.end());
    }

  private:
    std::filesystem::path path_;
};

// Lines joined with an ending after each.
inline std::string Lines(std::initializer_list<std::string> lines, const char* ending = "\r\n") {
    std::string s;
    for (const auto& l : lines)
        s += l + ending;
    return s;
}

}  // namespace testutil
