#include "platform/rtmidi/PortWatch.h"

#include <algorithm>

namespace platform::detail {

void PortWatch::Run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kInterval, [this] { return stop_; })) {
        lock.unlock();
        const auto names = SystemPortNames(input_);
        lock.lock();
        if (ServerStopped() || std::find(names.begin(), names.end(), name_) == names.end()) {
            gone_ = true;
            lock.unlock();
            if (onGone_)
                onGone_();
            return;
        }
    }
}

bool PortWatch::ServerStopped() const {
#if defined(__linux__)
    return JackOutput::Shutdowns() != shutdownsAtStart_;
#else
    return false;
#endif
}

}  // namespace platform::detail
