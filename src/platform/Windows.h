#pragma once

// <windows.h> as our Windows code includes it: without the min and max macros and the
// rarely used parts. Only platform/ and app/win32/ include it.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
