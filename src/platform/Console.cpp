#include "platform/Console.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include "platform/Windows.h"

#include <cstdio>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <thread>

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

namespace {

#if defined(_WIN32)
// The C runtime runs a SIGINT handler on a thread of the console's own: it may call on.
std::atomic<std::function<void()>*> interruptListener{nullptr};

extern "C" void OnCtrlC(int) {
    std::signal(SIGINT, &OnCtrlC);  // the runtime resets it before each call
    if (auto* listener = interruptListener.load())
        (*listener)();
}
#else
// A signal handler may only write: the watch's thread reads and calls on.
std::atomic<int> interruptPipe{-1};

extern "C" void OnCtrlC(int) {
    const char byte = 'i';
    if (const int fd = interruptPipe.load(); fd >= 0)
        (void)!write(fd, &byte, 1);
}
#endif

}  // namespace

struct CtrlCWatch::Impl {
    std::function<void()> onInterrupt;
    void (*previous)(int) = SIG_DFL;
#if !defined(_WIN32)
    int fds[2] = {-1, -1};
    std::thread reader;
#endif
};

CtrlCWatch::CtrlCWatch(std::function<void()> onInterrupt) : impl_(std::make_unique<Impl>()) {
    impl_->onInterrupt = std::move(onInterrupt);
#if defined(_WIN32)
    interruptListener = &impl_->onInterrupt;
#else
    if (pipe(impl_->fds) == 0) {
        interruptPipe = impl_->fds[1];
        impl_->reader = std::thread([impl = impl_.get()] {
            char byte = 0;
            // 'i' is Ctrl-C; the end of the pipe (or 'q') is the watch going.
            while (read(impl->fds[0], &byte, 1) == 1 && byte == 'i')
                impl->onInterrupt();
        });
    }
#endif
    impl_->previous = std::signal(SIGINT, &OnCtrlC);
}

CtrlCWatch::~CtrlCWatch() {
    std::signal(SIGINT, impl_->previous == SIG_ERR ? SIG_DFL : impl_->previous);
#if defined(_WIN32)
    interruptListener = nullptr;
#else
    interruptPipe = -1;
    if (impl_->reader.joinable()) {
        const char quit = 'q';
        (void)!write(impl_->fds[1], &quit, 1);
        impl_->reader.join();
    }
    for (const int fd : impl_->fds) {
        if (fd >= 0)
            close(fd);
    }
#endif
}

}  // namespace platform
