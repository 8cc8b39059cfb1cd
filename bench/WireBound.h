#pragma once
// What an upgrade puts on a 31,250-baud wire and asks of the unit's flash: the time it cannot
// take less than.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace bench {

constexpr double kByteSeconds = 10.0 / 31250.0;
constexpr auto kPageErase = std::chrono::microseconds(20000);
constexpr auto kRowWrite = std::chrono::microseconds(1600);

struct WireBound {
    std::size_t bytes = 0, erasePages = 0, writes = 0;

    // Counts one SysEx message, either way.
    void Add(const uint8_t* b, std::size_t n) {
        bytes += n;
        if (n == 16 && b[4] == 0x11 && b[5] == 0x04)
            erasePages += (b[6] & 0xF) | (b[7] << 4);
        if (n == 528 && b[4] == 0x11 && b[5] == 0x03)
            ++writes;
    }
    // Every byte at 320 us, plus the flash times.
    double Seconds() const {
        return static_cast<double>(bytes) * kByteSeconds +
               static_cast<double>(erasePages) * std::chrono::duration<double>(kPageErase).count() +
               static_cast<double>(writes) * std::chrono::duration<double>(kRowWrite).count();
    }
};

}  // namespace bench
