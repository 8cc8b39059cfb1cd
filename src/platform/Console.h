#pragma once

// What a terminal program needs to know of its console, the same on every system.

#include <functional>
#include <memory>
#include <string_view>

namespace platform {

enum class Stream { In, Out, Err };

// True when the stream is an interactive terminal (a console window on Windows; not a file,
// a pipe or the NUL device).
bool IsTerminal(Stream stream);

// Standard output and error write bytes as given: no CR is added before LF on Windows.
void UseBinaryOutput();

// While it lives, UTF-8 written to std::cout and std::cerr shows as such on a Windows console
// (which would read the bytes in its own code page); redirected, they stay UTF-8 bytes.
// Nothing changes elsewhere.
class UnicodeConsole {
  public:
    UnicodeConsole();
    ~UnicodeConsole();
    UnicodeConsole(const UnicodeConsole&) = delete;
    UnicodeConsole& operator=(const UnicodeConsole&) = delete;

  private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

#if defined(_WIN32)
// Writes UTF-8 text to a handle: as UTF-16 to a console, as the bytes to a file or pipe.
bool WriteText(void* handle, std::string_view text);
#endif

// While it lives, Ctrl-C (SIGINT) calls onInterrupt on a thread of its own instead of ending the
// program, so that a wait can be woken by it; the handler before it is back afterwards. One at
// a time.
class CtrlCWatch {
  public:
    explicit CtrlCWatch(std::function<void()> onInterrupt);
    ~CtrlCWatch();
    CtrlCWatch(const CtrlCWatch&) = delete;
    CtrlCWatch& operator=(const CtrlCWatch&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
