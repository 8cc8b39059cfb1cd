#include "platform/Console.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include "platform/Windows.h"

#include <cstdio>
#else
#include <unistd.h>
#endif

namespace platform {

bool IsTerminal(Stream stream) {
#if defined(_WIN32)
    // _isatty also says yes for NUL; only a console has a console mode.
    const DWORD which = stream == Stream::In    ? STD_INPUT_HANDLE
                        : stream == Stream::Out ? STD_OUTPUT_HANDLE
                                                : STD_ERROR_HANDLE;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
#else
    const int fd = stream == Stream::In    ? STDIN_FILENO
                   : stream == Stream::Out ? STDOUT_FILENO
                                           : STDERR_FILENO;
    return isatty(fd) != 0;
#endif
}

void UseBinaryOutput() {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

}  // namespace platform
