#pragma once

// What a terminal program needs to know of its console, the same on every system.

namespace platform {

enum class Stream { In, Out, Err };

// True when the stream is an interactive terminal (a console window on Windows; not a file,
// a pipe or the NUL device).
bool IsTerminal(Stream stream);

// Standard output and error write bytes as given: no CR is added before LF on Windows.
void UseBinaryOutput();

}  // namespace platform
