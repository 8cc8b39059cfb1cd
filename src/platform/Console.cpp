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

}  // namespace platform
