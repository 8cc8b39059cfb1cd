// Resource and control identifiers of the Win32 assistant, as both windows know them; read by
// the resource compiler and by the code alike.
#pragma once

#include "assistant/DialogIds.h"
