#include "image/HexReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/Unicode.h"

namespace vantro {

namespace {

constexpr const char* kCouldNotOpen = "Could not open Hex file...";
constexpr const char* kFailure = "Failure in hex file...";
constexpr const char* kChecksum = "Error in checksum...";
constexpr const char* kOutsideConfig = "Data in hex file outside config memory of PIC";
constexpr const char* kOutsideData = "Data in hex file outside data memory of PIC";
constexpr const char* kOutsideCode = "Data in hex file outside code memory of PIC";

void Show(MessageSeam& messages, const std::string& text) {
    messages.Show(text, MessageButtons::Ok);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads lines through a fixed buffer, so a file without line feeds costs no more memory than
// one record's worth.
class LineReader {
  public:
    explicit LineReader(std::FILE* file) : file_(file) {}

    // Fills line with the next line, without its LF and a CR right before it. At the end of
    // the file the line is empty. Returns false when the line is longer than any record.
    bool Next(std::string& line) {
        line.clear();
        bool endedByLf = false;
        for (;;) {
            if (pos_ == end_ && !Refill()) {
                break;
            }
            const char* start = buffer_.data() + pos_;
            const char* stop = buffer_.data() + end_;
            const char* lf = std::find(start, stop, '\n');
            const std::size_t take = static_cast<std::size_t>(lf - start);
            // One more than the longest record leaves room for the CR before the LF.
            if (line.size() + take > kMaxHexLineLength + 1) {
                return false;
            }
            line.append(start, take);
            pos_ += take;
            if (lf != stop) {
                ++pos_;
                endedByLf = true;
                break;
            }
        }
        // Only a CR right before the LF belongs to the line end.
        if (endedByLf && !line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line.size() <= kMaxHexLineLength;
    }

  private:
    // A read that fails (or would block) ends the file here: the load then reports it.
    bool Refill() {
        pos_ = 0;
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        return end_ > 0;
    }

    std::FILE* file_;
    std::array<char, 1 << 16> buffer_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Two hexadecimal digits at pos; -1 when either is not a digit.
int HexByte(const std::string& line, std::size_t pos) {
    const int hi = HexDigit(line[pos]);
    const int lo = HexDigit(line[pos + 1]);
    return (hi < 0 || lo < 0) ? -1 : (hi << 4) | lo;
}

struct Record {
    int count = 0;
    uint32_t address = 0;
    int type = 0;
    std::array<uint8_t, 255> data{};
    int checksum = 0;
};

enum class ParseResult { Ok, BadForm };

ParseResult ParseRecord(const std::string& line, Record& r) {
    if (line.size() < 3 || line[0] != ':') {
        return ParseResult::BadForm;
    }
    r.count = HexByte(line, 1);
    if (r.count < 0 || line.size() != 11 + 2 * static_cast<std::size_t>(r.count)) {
        return ParseResult::BadForm;
    }
    const int addrHi = HexByte(line, 3);
    const int addrLo = HexByte(line, 5);
    r.type = HexByte(line, 7);
    r.checksum = HexByte(line, 9 + 2 * r.count);
    // A non-digit in a field would otherwise be read as some number: refuse the line.
    if (addrHi < 0 || addrLo < 0 || r.type < 0 || r.checksum < 0) {
        return ParseResult::BadForm;
    }
    r.address = static_cast<uint32_t>((addrHi << 8) | addrLo);
    for (int i = 0; i < r.count; ++i) {
        const int b = HexByte(line, 9 + 2 * static_cast<std::size_t>(i));
        if (b < 0) {
            return ParseResult::BadForm;
        }
        r.data[i] = static_cast<uint8_t>(b);
    }
    return ParseResult::Ok;
}

int ComputedChecksum(const Record& r) {
    int sum =
        r.count + static_cast<int>(r.address >> 8) + static_cast<int>(r.address & 0xFF) + r.type;
    for (int i = 0; i < r.count; ++i) {
        sum += r.data[i];
    }
    return (-sum) & 0xFF;
}

template <typename T>
void GrowTo(std::vector<T>& v, std::size_t size, T fill) {
    if (v.size() < size) {
        v.resize(size, fill);
    }
}

// Where the three regions lie in the HEX file's byte addresses.
struct Regions {
    int64_t configStart, configLength;
    int64_t dataStart, dataLength;
    int64_t codeLength;
};

Regions RegionsOf(const DeviceProfile& p) {
    const int f = p.Family();
    const int64_t doubled = (f == 14 || f == 24) ? 2 : 1;
    const int64_t configBase =
        p.configAddressOverride != 0 ? p.configAddressOverride : p.configAddress;
    return Regions{configBase * doubled, int64_t{p.configSize} * (f == 24 ? 2 : 1),
                   int64_t{p.dataAddress} * doubled, int64_t{p.dataSize} * doubled,
                   int64_t{p.codeSize}};
}

bool Inside(int64_t a, int64_t start, int64_t length) {
    return a >= start && a < start + length;
}

void StoreData(FirmwareImage& image, int family, int64_t offset, const Record& r) {
    auto& data = image.dataBytes;
    auto put = [&data](int64_t index, uint8_t value) {
        GrowTo<int32_t>(data, static_cast<std::size_t>(index) + 1, 0xFF);
        data[static_cast<std::size_t>(index)] = value;
    };
    switch (family) {
        case 8:
        case 16:
            GrowTo<int32_t>(data, static_cast<std::size_t>(offset + r.count), 0xFF);
            for (int i = 0; i < r.count; ++i) {
                data[static_cast<std::size_t>(offset + i)] = r.data[i];
            }
            break;
        case 14:
            GrowTo<int32_t>(data, static_cast<std::size_t>((offset + r.count) / 2), 0xFF);
            for (int i = 0; i < r.count; i += 2) {
                put((offset + i) / 2, r.data[i]);
            }
            break;
        case 24:
            GrowTo<int32_t>(data, static_cast<std::size_t>((offset + r.count) / 2), 0xFF);
            // A short last group stores only the bytes it has.
            for (int i = 0; i < r.count; i += 4) {
                put((offset + i) / 2, r.data[i]);
                if (i + 1 < r.count) {
                    put((offset + i) / 2 + 1, r.data[i + 1]);
                }
            }
            break;
        default:
            break;
    }
}

// A region's message is shown for the first record it refuses; later ones are only counted,
// so a file of a million such records raises one box and keeps no list.
class RefusalNotices {
  public:
    RefusalNotices(MessageSeam& messages, HexLoadNotes* notes)
        : messages_(messages), notes_(notes) {}
    void Refuse(int region, const char* text) {
        if (shown_[region]++ == 0)
            Show(messages_, text);
        if (notes_ != nullptr)
            ++notes_->refusedRecords;
    }

  private:
    MessageSeam& messages_;
    HexLoadNotes* notes_;
    std::array<uint64_t, 3> shown_{};
};

// A record is stored in a region when it starts and ends inside it, whatever order the records
// come in; one that runs past the region's end is refused there.
bool Fits(int64_t a, int count, int64_t start, int64_t length) {
    return a + count <= start + length;
}

void StoreRecord(FirmwareImage& image, const DeviceProfile& profile, const Regions& regions,
                 uint32_t extended, const Record& r, RefusalNotices& refusals) {
    const int64_t a = static_cast<uint32_t>(extended + r.address);
    const int family = profile.Family();

    if (Inside(a, regions.configStart, regions.configLength)) {
        if (!Fits(a, r.count, regions.configStart, regions.configLength)) {
            refusals.Refuse(0, kOutsideConfig);
        } else {
            const auto offset = static_cast<std::size_t>(a - regions.configStart);
            GrowTo<int32_t>(image.configBytes, offset + r.count, 0xFF);
            for (int i = 0; i < r.count; ++i) {
                image.configBytes[offset + i] = r.data[i];
            }
        }
    }

    if (Inside(a, regions.dataStart, regions.dataLength)) {
        if (!Fits(a, r.count, regions.dataStart, regions.dataLength)) {
            refusals.Refuse(1, kOutsideData);
        } else {
            StoreData(image, family, a - regions.dataStart, r);
        }
    }

    if (Inside(a, 0, regions.codeLength)) {
        if (!Fits(a, r.count, 0, regions.codeLength)) {
            refusals.Refuse(2, kOutsideCode);
        } else {
            const auto start = static_cast<std::size_t>(a);
            const std::size_t end = start + static_cast<std::size_t>(r.count);
            if (image.codeBytes.size() < end) {
                image.codeBytes.resize(end, 0xFF);
                image.usedAddresses.resize(end, false);
            }
            for (int i = 0; i < r.count; ++i) {
                image.codeBytes[start + i] = r.data[i];
                image.usedAddresses[start + i] = true;
            }
        }
    }
}

void CompleteConfig(FirmwareImage& image, const DeviceProfile& profile) {
    auto& config = image.configBytes;
    const auto size = static_cast<std::size_t>(std::max(profile.configSize, 0));
    if (profile.Family() == 24) {
        // Keep bytes 0 and 1 of every four-byte group (the 16-bit word). Nothing of the
        // uncompacted tail survives, and a short last group counts its missing byte as unwritten.
        std::vector<int32_t> compact;
        for (std::size_t g = 0; 4 * g < config.size(); ++g) {
            compact.push_back(config[4 * g]);
            compact.push_back(4 * g + 1 < config.size() ? config[4 * g + 1] : 0xFF);
        }
        compact.resize(size, 0);
        config = std::move(compact);
    }
    config.resize(size, 0xFF);
}

// Opens path for reading only when what it names is a regular file. A directory, FIFO or
// device would read as nothing, block, or never end. The descriptor that was opened is
// checked, not the path (which may change in between), and it never blocks: a file that calls
// itself regular but has nothing to give (/proc/kmsg) reads as an end.
FilePtr OpenRegularFile(const std::string& path) {
#if defined(_WIN32)
    const std::filesystem::path name = platform::PathFromUtf8(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::status(name, ec)) || ec)
        return nullptr;
    return FilePtr(_wfopen(name.c_str(), L"rb"));
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    FilePtr file(::fdopen(fd, "rb"));
    if (!file)
        ::close(fd);
    return file;
#endif
}

}  // namespace

bool LoadHexFile(const DeviceProfile& profile, const std::string& path, FirmwareImage& image,
                 MessageSeam& messages, std::ostream& console, HexLoadNotes* notes) {
    if (notes != nullptr)
        *notes = {};
    FilePtr file = OpenRegularFile(path);

    image.codeBytes.clear();
    image.dataBytes.clear();
    image.configBytes.clear();
    image.usedAddresses.clear();

    if (!file) {
        Show(messages, kCouldNotOpen);
        return false;
    }
    image.sourcePath = path;

    const Regions regions = RegionsOf(profile);
    RefusalNotices refusals(messages, notes);
    uint32_t extended = 0;
    LineReader reader(file.get());
    std::string line;
    line.reserve(kMaxHexLineLength + 2);
    Record record;

    for (;;) {
        if (!reader.Next(line) || ParseRecord(line, record) != ParseResult::Ok) {
            Show(messages, kFailure);
            return false;
        }
        const int computed = ComputedChecksum(record);
        if (computed != record.checksum) {
            char text[16];
            std::snprintf(text, sizeof text, "%2X %2X\n", computed, record.checksum);
            console << text << std::flush;
            Show(messages, kChecksum);
            return false;
        }
        if (record.type == 0x00) {
            StoreRecord(image, profile, regions, extended, record, refusals);
        } else if (record.type == 0x01) {
            break;
        } else if (record.type == 0x04) {
            if (record.count < 2) {
                Show(messages, kFailure);
                return false;
            }
            extended = static_cast<uint32_t>((record.data[0] << 8) | record.data[1]) << 16;
        } else {
            Show(messages, "unknown record type: " + std::to_string(record.type));
            return false;
        }
    }
    file.reset();

    CompleteConfig(image, profile);
    BuildConfigMasks(image, profile, messages);
    NormaliseValues(image, profile);
    return true;
}

bool LoadHexFile(const DeviceProfile& profile, const std::string& path, FirmwareImage& image,
                 MessageSeam& messages) {
    return LoadHexFile(profile, path, image, messages, std::cout, nullptr);
}

void BuildConfigMasks(FirmwareImage& image, const DeviceProfile& profile, MessageSeam& messages) {
    auto& masks = image.configMasks;
    masks.assign(image.configBytes.size(), 0);
    if (masks.empty()) {
        return;
    }
    const int family = profile.Family();
    if (family == 14 && 2 * profile.configWords.size() != masks.size()) {
        Show(messages, "invalid number of config words for " + profile.name);
    }
    for (std::size_t k = 0; k < profile.configWords.size(); ++k) {
        const uint32_t used = profile.configWords[k].UsedBits();
        if (family == 8 || family == 16) {
            if (k < masks.size())
                masks[k] = static_cast<int32_t>(used);
        } else if (family == 14 || family == 24) {
            if (2 * k < masks.size())
                masks[2 * k] = static_cast<int32_t>(used & 0xFF);
            if (2 * k + 1 < masks.size())
                masks[2 * k + 1] = static_cast<int32_t>((used >> 8) & 0xFF);
        }
    }
}

void NormaliseValues(FirmwareImage& image, const DeviceProfile& profile) {
    const bool fourteenBit = profile.Family() == 14;
    auto mask = [fourteenBit](std::vector<int32_t>& v) {
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] &= (fourteenBit && (i % 2 == 1)) ? 0x3F : 0xFF;
        }
    };
    mask(image.codeBytes);
    mask(image.configBytes);
    for (auto& b : image.dataBytes) {
        b &= 0xFF;
    }
}

}  // namespace vantro
