// The simulated unit's options as a command line gives them, parsed in one place for
// vantro-cli, VANTRO and vantro-unit-sim.
#include <charconv>

#include "sim/UnitCore.h"

namespace vantro::sim {

namespace {

const std::pair<FaultKind, const char*> kFaultNames[] = {
    {FaultKind::Drop, "drop"},
    {FaultKind::Corrupt, "corrupt"},
    {FaultKind::WrongEcho, "wrong-echo"},
    {FaultKind::Late, "late"},
    {FaultKind::SilentVerify, "silent-verify"},
    {FaultKind::FfAs00, "ff-as-00"},
    {FaultKind::ShortNoise, "short-noise"},
};

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A whole number from min to max; error names the option and the range otherwise.
template <typename T>
bool ParseInRange(const std::string& name, const std::string& text, T min, T max, T& value,
                  std::string& error) {
    if (!ParseNumber(text, value) || value < min || value > max) {
        error = name + " takes a whole number from " + std::to_string(min) + " to " +
                std::to_string(max) + ", not '" + text + "'";
        return false;
    }
    return true;
}

// The faults that take a count instead of a rate.
struct CountFaultKind {
    const char* name;
    std::optional<uint32_t> SimOptions::*field;
    uint32_t min;
};

constexpr CountFaultKind kCountFaults[] = {
    {"cut-after", &SimOptions::cutAfter, 0}, {"unplug-after", &SimOptions::unplugAfter, 0},
    {"max-sysex", &SimOptions::maxSysEx, 1}, {"max-sysex-to-unit", &SimOptions::maxSysExToUnit, 1},
    {"fifo", &SimOptions::fifo, 1},
};

const CountFaultKind* CountFault(const std::string& value) {
    for (const auto& kind : kCountFaults) {
        const std::string prefix = std::string(kind.name) + ":";
        if (value.rfind(prefix, 0) == 0)
            return &kind;
    }
    return nullptr;
}
}  // namespace

const char* FaultName(FaultKind kind) {
    for (const auto& [k, name] : kFaultNames) {
        if (k == kind)
            return name;
    }
    return "?";
}

bool ParseFaultName(const std::string& name, FaultKind& kind) {
    for (const auto& [k, n] : kFaultNames) {
        if (name == n) {
            kind = k;
            return true;
        }
    }
    return false;
}

bool IsSimOption(const std::string& name) {
    return name == "baud" || name == "fault" || name == "seed" || name == "versions" ||
           name == "page-erase-us" || name == "row-write-us" || name == "late-ms" ||
           name == "flash-start";
}

namespace {

// fault KIND:RATE, or one of the faults that take a count.
bool ApplyFault(const std::string& value, SimOptions& options, std::string& error) {
    if (value == "no-readback") {
        options.noReadBack = true;
        return true;
    }
    if (const CountFaultKind* kind = CountFault(value)) {
        uint32_t k = 0;
        const std::string what(kind->name);
        if (!ParseInRange<uint32_t>(what, value.substr(what.size() + 1), kind->min, 1'000'000, k,
                                    error))
            return false;
        options.*kind->field = k;
        return true;
    }
    const auto colon = value.find(':');
    FaultKind kind{};
    if (colon == std::string::npos || !ParseFaultName(value.substr(0, colon), kind)) {
        error =
            "fault must be KIND:RATE with KIND one of drop, corrupt, wrong-echo, late, "
            "silent-verify, ff-as-00, short-noise, or cut-after:K, unplug-after:K, "
            "max-sysex:N, max-sysex-to-unit:N, fifo:N, or no-readback";
        return false;
    }
    const std::string rateText = value.substr(colon + 1);
    char* end = nullptr;
    const double rate = std::strtod(rateText.c_str(), &end);
    if (rateText.empty() || end != rateText.c_str() + rateText.size() || !(rate >= 0.0) ||
        rate > 1.0) {
        error = "fault rate must be a number from 0 to 1";
        return false;
    }
    options.faults[kind] = rate;
    return true;
}

// versions A.B.C.D, four numbers from 0 to 255.
bool ApplyVersions(const std::string& value, SimOptions& options, std::string& error) {
    std::array<uint8_t, 4> v{};
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = value.find('.', start);
        const bool last = i == 3;
        unsigned n = 0;
        if (last != (dot == std::string::npos) ||
            !ParseNumber(value.substr(start, last ? std::string::npos : dot - start), n) ||
            n > 255) {
            error = "versions must be A.B.C.D, four numbers from 0 to 255";
            return false;
        }
        v[i] = static_cast<uint8_t>(n);
        start = dot + 1;
    }
    options.versions = v;
    return true;
}

}  // namespace

bool ApplySimOption(const std::string& name, const std::string& value, SimOptions& options,
                    std::string& error) {
    if (name == "fault") {
        return ApplyFault(value, options, error);
    }
    if (name == "versions") {
        return ApplyVersions(value, options, error);
    }
    if (name == "baud") {
        return ParseInRange<uint32_t>(name, value, 0, 1'000'000, options.baud, error);
    }
    if (name == "seed") {
        if (!ParseNumber(value, options.seed)) {
            error = "seed must be a whole number";
            return false;
        }
        return true;
    }
    if (name == "page-erase-us" || name == "row-write-us" || name == "late-ms") {
        uint32_t n = 0;
        const uint32_t max = name == "late-ms" ? 600'000 : 10'000'000;
        if (!ParseInRange<uint32_t>(name, value, 0, max, n, error))
            return false;
        if (name == "page-erase-us")
            options.pageEraseTime = std::chrono::microseconds(n);
        if (name == "row-write-us")
            options.rowWriteTime = std::chrono::microseconds(n);
        if (name == "late-ms")
            options.lateDelay = std::chrono::milliseconds(n);
        return true;
    }
    if (name == "flash-start") {
        if (value != "previous" && value != "erased") {
            error = "flash-start must be previous (an older firmware, the default) or erased";
            return false;
        }
        options.startErased = value == "erased";
        return true;
    }
    error = "unknown option " + name;
    return false;
}

SimArg ParseSimArgument(const std::vector<std::string>& args, std::size_t& i,
                        const std::string& prefix, SimCommandLine& line, std::string& error) {
    const std::string& a = args[i];
    if (a.rfind(prefix, 0) != 0)
        return SimArg::NotMine;
    const std::string name = a.substr(prefix.size());
    const bool count = name == "units" || name == "through";
    if (name != "flash-in" && name != "flash-out" && name != "share" && !count &&
        !IsSimOption(name))
        return SimArg::NotMine;
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return SimArg::Error;
    }
    const std::string& value = args[++i];
    if (count) {
        uint32_t& n = name == "units" ? line.units : line.throughs;
        if (!ParseInRange<uint32_t>(name, value, name == "units" ? 1 : 0, 16, n, error)) {
            error = a + ": " + error;
            return SimArg::Error;
        }
    } else if (name == "flash-in") {
        line.flashIn = value;
    } else if (name == "flash-out") {
        line.flashOut = value;
    } else if (name == "share") {
        bool* kind = value == "in"         ? &line.sharing.in
                     : value == "out"      ? &line.sharing.out
                     : value == "thru-box" ? &line.sharing.thruBox
                                           : nullptr;
        if (kind == nullptr) {
            error = a + " takes in, out or thru-box, not '" + value + "'";
            return SimArg::Error;
        }
        *kind = true;
    } else if (!ApplySimOption(name, value, line.options, error)) {
        error = a + ": " + error;
        return SimArg::Error;
    }
    line.lateGiven = line.lateGiven || name == "late-ms";
    return SimArg::Consumed;
}

}  // namespace vantro::sim
