#pragma once

#include <string>

namespace vantro::cli {

// A JSON string literal for text, quotes included.
std::string JsonString(const std::string& text);

}  // namespace vantro::cli
