#pragma once

// What a terminal program needs to know of its console, the same on every system.

#include <functional>
#include <memory>

namespace platform {

enum class Stream { In, Out, Err };

// True when the stream is an interactive terminal (a console window on Windows; not a file,
// a pipe or the NUL device).
bool IsTerminal(Stream stream);

// Standard output and error write bytes as given: no CR is added before LF on Windows.
void UseBinaryOutput();

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
