#include "sim/UnitCore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/Unicode.h"
#include "sim/UnitProtocol.h"

namespace vantro::sim {

namespace {

constexpr std::size_t kPage = 2048;
constexpr std::size_t kBlock = 256;

// Command codes, as the unit knows them.
constexpr uint8_t kRestart = 0x00;
constexpr uint8_t kIdentify = 0x01;
constexpr uint8_t kRead = 0x02;
constexpr uint8_t kWrite = 0x03;
constexpr uint8_t kErase = 0x04;
constexpr uint8_t kVerifyOk = 0x09;

bool IsPhantom(std::size_t byteAddress) {
    return byteAddress % 4 == 3;
}

template <typename T>
void Log(std::vector<T>& log, T entry, std::size_t max) {
    if (log.size() < max)
        log.push_back(entry);
}

}  // namespace

UnitCore::UnitCore(const SimOptions& options)
    : options_(options), rng_(options.seed), flash_(kFlashSize, 0xFF) {
    std::mt19937 previous(0x5EED + static_cast<uint32_t>(options.seed));
    for (std::size_t a = 0; a < kFlashSize; ++a) {
        if (IsPhantom(a)) {
            flash_[a] = 0x00;
        } else if (a < kBootAreaEnd) {
            flash_[a] = static_cast<uint8_t>(a * 7 + 3);  // the unit's own bootloader
        } else if (!options.startErased) {
            flash_[a] = static_cast<uint8_t>(previous());
        }
    }
}

bool UnitCore::Chance(FaultKind kind) {
    const auto it = options_.faults.find(kind);
    if (it == options_.faults.end() || it->second <= 0.0) {
        return false;
    }
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < it->second;
}

void UnitCore::EraseFrom(std::size_t byteAddress, unsigned pages) {
    // Flash erases whole pages: the one holding the address and those after it.
    const std::size_t start = byteAddress - byteAddress % kPage;
    for (std::size_t a = start; a < start + pages * kPage; ++a) {
        flash_[a] = IsPhantom(a) ? 0x00 : 0xFF;
    }
}

void UnitCore::WriteAt(std::size_t byteAddress, const uint8_t* data) {
    for (std::size_t j = 0; j < kBlock; ++j) {
        const std::size_t a = byteAddress + j;
        if (!IsPhantom(a)) {
            flash_[a] &= data[j];  // NOR flash: a write only clears bits
        }
    }
}

std::vector<uint8_t> UnitCore::ReadReply(std::size_t byteAddress, uint32_t wordAddress) {
    uint8_t block[kBlock];
    std::memcpy(block, flash_.data() + byteAddress, kBlock);
    if (Chance(FaultKind::FfAs00)) {
        std::vector<std::size_t> erased;
        for (std::size_t j = 0; j < kBlock; ++j) {
            if (block[j] == 0xFF && !IsPhantom(byteAddress + j))
                erased.push_back(j);
        }
        std::shuffle(erased.begin(), erased.end(), rng_);
        const std::size_t n = std::min<std::size_t>(erased.size(), 1 + rng_() % 4);
        for (std::size_t i = 0; i < n; ++i)
            block[erased[i]] = 0x00;
    }
    unit::EncipherBlock(block);
    std::vector<uint8_t> payload(8 + 2 * kBlock);
    unit::WriteNibbles(payload.data(), 0x40, 2);
    unit::WriteNibbles(payload.data() + 2, wordAddress, 6);
    for (std::size_t i = 0; i < kBlock; ++i) {
        unit::WriteNibbles(payload.data() + 8 + 2 * i, block[i], 2);
    }
    return unit::Reply(kRead, payload);
}

UnitResponse UnitCore::Handle(const uint8_t* f, std::size_t n) {
    std::lock_guard lock(mutex_);
    UnitResponse r;
    if (options_.cutAfter && heard_ >= *options_.cutAfter) {
        return r;  // the cable is out: nothing reaches the unit
    }
    if (options_.unplugAfter && heard_ >= *options_.unplugAfter) {
        r.unplug = true;  // pulled as this request arrives: it goes unanswered
        return r;
    }
    ++heard_;
    // Anything that is not a sound request frame goes unanswered.
    if (!unit::IsSoundRequest(f, n)) {
        return r;
    }
    const uint8_t command = f[5];
    ++requests_[command];
    if (Answer(command, f, n, r)) {
        ApplyFaults(command, r);
    }
    return r;
}

bool UnitCore::Answer(uint8_t command, const uint8_t* f, std::size_t n, UnitResponse& r) {
    switch (command) {
        case kRestart:
            if (n == 8)
                ++restarts_;
            return false;
        case kIdentify: {
            if (n != 8)
                return false;
            std::vector<uint8_t> payload(8);
            for (int m = 0; m < 4; ++m) {
                unit::WriteNibbles(payload.data() + 2 * m, options_.versions[m], 2);
            }
            r.reply = unit::Reply(kIdentify, payload);
            return true;
        }
        case kRead:
            return AnswerRead(f, n, r);
        case kWrite:
            return AnswerWrite(f, n, r);
        case kErase:
            return AnswerErase(f, n, r);
        case kVerifyOk:
            if (n != 8)
                return false;
            ++verifyOks_;
            if (Chance(FaultKind::SilentVerify))
                return false;
            r.reply = unit::Reply(kVerifyOk);
            return true;
        default:
            return false;  // unknown command
    }
}

bool UnitCore::AnswerRead(const uint8_t* f, std::size_t n, UnitResponse& r) {
    if (n != 16 || unit::ReadNibbles(f + 6, 2) != 0x40)
        return false;
    const uint32_t word = unit::ReadNibbles(f + 8, 6);
    const std::size_t at = std::size_t{word} * 2;
    if (at + kBlock > kFlashSize)
        return false;
    if (options_.noReadBack) {
        r.reply = unit::Reply(kErase);  // what such a bootloader sends is not a block
        return true;
    }
    r.reply = ReadReply(at, word);
    return true;
}

bool UnitCore::AnswerWrite(const uint8_t* f, std::size_t n, UnitResponse& r) {
    if (n != 528 || unit::ReadNibbles(f + 6, 2) != 1)
        return false;
    const uint32_t word = unit::ReadNibbles(f + 8, 6);
    Log(writes_, word, kMaxLog);
    const std::size_t at = std::size_t{word} * 2;
    if (at < kBootAreaEnd || at + kBlock > kFlashSize)
        return false;  // boot area is kept
    uint8_t block[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) {
        block[i] = static_cast<uint8_t>(unit::ReadNibbles(f + 14 + 2 * i, 2));
    }
    unit::DecipherBlock(block);
    WriteAt(at, block);
    r.busy = options_.rowWriteTime;
    r.reply = unit::Reply(kWrite);
    return true;
}

bool UnitCore::AnswerErase(const uint8_t* f, std::size_t n, UnitResponse& r) {
    if (n != 16)
        return false;
    const unsigned pages = unit::ReadNibbles(f + 6, 2);
    const uint32_t word = unit::ReadNibbles(f + 8, 6);
    Log(erases_, Erase{word, pages}, kMaxLog);
    const std::size_t at = std::size_t{word} * 2;
    const std::size_t start = at - at % kPage;
    if (start < kBootAreaEnd || start + pages * kPage > kFlashSize)
        return false;
    EraseFrom(at, pages);
    r.busy = options_.pageEraseTime * pages;
    r.reply = unit::Reply(kErase);
    return true;
}

void UnitCore::ApplyFaults(uint8_t command, UnitResponse& r) {
    if (Chance(FaultKind::Drop)) {
        r.reply.clear();
        return;
    }
    if (Chance(FaultKind::WrongEcho)) {
        r.reply[5] = command == kRead ? kWrite : kRead;
        r.reply[r.reply.size() - 2] = unit::Checksum(r.reply.data(), r.reply.size());
    }
    if (Chance(FaultKind::Corrupt)) {
        r.reply[r.reply.size() - 2] ^= 0x01;
    }
    r.late = Chance(FaultKind::Late);
    r.shortNoise = Chance(FaultKind::ShortNoise);
}

std::vector<uint8_t> UnitCore::FlashDump() const {
    std::lock_guard lock(mutex_);
    return std::vector<uint8_t>(flash_.begin(), flash_.begin() + kDumpSize);
}

bool UnitCore::LoadFlash(const std::vector<uint8_t>& dump, std::string& error) {
    if (dump.size() != kDumpSize) {
        error = "a flash dump holds " + std::to_string(kDumpSize) + " bytes, this one " +
                std::to_string(dump.size());
        return false;
    }
    std::lock_guard lock(mutex_);
    for (std::size_t a = 0; a < kDumpSize; ++a) {
        flash_[a] = IsPhantom(a) ? 0x00 : dump[a];
    }
    return true;
}

namespace {

// Reads exactly the dump's bytes of a regular file of exactly that size: a directory, a FIFO or
// /dev/zero gets its reason, never a hang or a read without end.
bool ReadDumpFile(const std::string& path, std::vector<uint8_t>& dump, std::string& error) {
    constexpr std::size_t kDumpSize = UnitCore::kDumpSize;
#if defined(_WIN32)
    const std::filesystem::path name = platform::PathFromUtf8(path);
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (ec || !std::filesystem::exists(status)) {
        error = "it does not exist or cannot be opened";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "it is not a regular file";
        return false;
    }
    const auto size = std::filesystem::file_size(name, ec);
    if (ec || size != kDumpSize) {
        error = "a flash dump holds " + std::to_string(kDumpSize) + " bytes, this one " +
                std::to_string(ec ? 0 : size);
        return false;
    }
    std::ifstream f(name, std::ios::binary);
    if (!f.read(reinterpret_cast<char*>(dump.data()), static_cast<std::streamsize>(kDumpSize))) {
        error = "it could not be read whole";
        return false;
    }
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::string("it cannot be opened (") + std::strerror(errno) + ")";
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "it is not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) != kDumpSize) {
        error = "a flash dump holds " + std::to_string(kDumpSize) + " bytes, this one " +
                std::to_string(st.st_size);
        return false;
    }
    std::size_t got = 0;
    while (got < kDumpSize) {
        const ssize_t n = ::read(fd, dump.data() + got, kDumpSize - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "it could not be read whole";
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
#endif
    return true;
}

}  // namespace

bool UnitCore::LoadFlashFile(const std::string& path, std::string& error) {
    std::vector<uint8_t> dump(kDumpSize);
    return ReadDumpFile(path, dump, error) && LoadFlash(dump, error);
}

bool UnitCore::SaveFlashFile(const std::string& path, std::string& error) const {
    const auto dump = FlashDump();
    std::ofstream f(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!f) {
        error = "it cannot be created";
        return false;
    }
    f.write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
    f.close();
    if (!f) {
        error = "writing it failed";
        return false;
    }
    return true;
}

void UnitCore::Reconnect() {
    std::lock_guard lock(mutex_);
    options_.cutAfter.reset();
}

int UnitCore::Restarts() const {
    std::lock_guard lock(mutex_);
    return restarts_;
}

int UnitCore::VerifyOks() const {
    std::lock_guard lock(mutex_);
    return verifyOks_;
}

std::vector<UnitCore::Erase> UnitCore::Erases() const {
    std::lock_guard lock(mutex_);
    return erases_;
}

std::vector<uint32_t> UnitCore::WrittenWords() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

int UnitCore::Requests(uint8_t commandCode) const {
    std::lock_guard lock(mutex_);
    const auto it = requests_.find(commandCode);
    return it == requests_.end() ? 0 : it->second;
}

}  // namespace vantro::sim
