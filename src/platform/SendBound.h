#pragma once

#include <chrono>
#include <cstddef>

namespace platform {

// How long one message of `bytes` may take to leave, the one bound every layer waits with:
// its wire time at 31,250 baud (320 us a byte) twice over, and two seconds for the driver.
inline std::chrono::milliseconds SendBound(std::size_t bytes) {
    return std::chrono::milliseconds(2000 + bytes * 64 / 100);
}

}  // namespace platform
