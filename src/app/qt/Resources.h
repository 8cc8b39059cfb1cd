#pragma once

// Resource and control identifiers of the two dialog templates, as both windows know them.
#include "assistant/DialogIds.h"

namespace vantro::app {

// String resource 101.
inline constexpr const char* kAboutItemText = ABOUT_ITEM_TEXT;

}  // namespace vantro::app
