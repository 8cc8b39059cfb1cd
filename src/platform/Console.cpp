#include "platform/Console.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include "platform/Windows.h"

#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include "platform/Unicode.h"
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

#if defined(_WIN32)

bool WriteText(void* handle, std::string_view text) {
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = WideFromUtf8(std::string(text));
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != FALSE;
    }
    DWORD written = 0;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
           FALSE;
}

namespace {

// How many bytes at the end of text begin a UTF-8 sequence that has not ended yet.
std::size_t UnfinishedTail(const std::string& text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto c = static_cast<unsigned char>(text[text.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue;  // a continuation byte: its lead is further back
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

// Writes through to a console at once, as the stream did before, holding back only a
// character whose bytes have not all come.
class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}
    ~ConsoleBuffer() override {
        if (!pending_.empty())
            WriteText(console_, pending_);
    }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        pending_.append(s, static_cast<std::size_t>(n));
        const std::size_t ready = pending_.size() - UnfinishedTail(pending_);
        if (ready == 0)
            return n;
        const bool written = WriteText(console_, std::string_view(pending_).substr(0, ready));
        pending_.erase(0, ready);
        return written ? n : 0;
    }

  private:
    HANDLE console_;
    std::string pending_;
};

}  // namespace

struct UnicodeConsole::Streams {
    struct Swap {
        Swap(std::ostream& stream, DWORD which) : stream(stream), buffer(GetStdHandle(which)) {
            stream.flush();
            previous = stream.rdbuf(&buffer);
        }
        ~Swap() { stream.rdbuf(previous); }
        std::ostream& stream;
        ConsoleBuffer buffer;
        std::streambuf* previous = nullptr;
    };
    std::unique_ptr<Swap> out, err;
};

UnicodeConsole::UnicodeConsole() : streams_(std::make_unique<Streams>()) {
    if (IsTerminal(Stream::Out))
        streams_->out = std::make_unique<Streams::Swap>(std::cout, STD_OUTPUT_HANDLE);
    if (IsTerminal(Stream::Err))
        streams_->err = std::make_unique<Streams::Swap>(std::cerr, STD_ERROR_HANDLE);
}

#else

struct UnicodeConsole::Streams {};

UnicodeConsole::UnicodeConsole() = default;

#endif

UnicodeConsole::~UnicodeConsole() = default;

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
