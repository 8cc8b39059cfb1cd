#include "platform/rtmidi/PortWatch.h"

#include <algorithm>

namespace platform::detail {

namespace {

// How many times a JACK server has shut one of our clients down.
uint64_t ServerShutdowns() {
#if defined(__linux__)
    return JackOutput::Shutdowns();
#else
    return 0;
#endif
}

}  // namespace

std::function<PortFailure()> PortWatch::Check(const std::string& name, bool input) {
    return [name, input, shutdownsAtStart = ServerShutdowns()] {
        // A stopped JACK server may still show its last port list to a client.
        if (ServerShutdowns() != shutdownsAtStart)
            return PortGone(name, "the JACK server has stopped.");
        const auto names = SystemPortNames(input);
        if (std::find(names.begin(), names.end(), name) == names.end())
            return PortGone(name);
        return PortFailure{};
    };
}

}  // namespace platform::detail
