#include "sim/PublishedUnit.h"

namespace vantro::sim {

PublishedUnit::PublishedUnit(const SimOptions& options, const std::string& name)
    : unit_(std::make_unique<SimulatedUnit>(options, wire_)) {
    ports_ = std::make_unique<platform::PublishedPortPair>(
        name, [this](const uint8_t* bytes, std::size_t n,
                     std::chrono::steady_clock::time_point at) { unit_->OnRequest(bytes, n, at); });
    wire_.ports = ports_.get();
}

PublishedUnit::~PublishedUnit() {
    unit_->Stop();   // nothing is sent on the ports from here on
    ports_.reset();  // and nothing arrives from them
}

}  // namespace vantro::sim
