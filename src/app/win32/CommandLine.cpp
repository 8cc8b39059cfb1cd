#include "app/win32/CommandLine.h"

#include "platform/Unicode.h"

namespace vantro::win32 {

namespace {

// Backslashes are literal unless a quote follows them: then each pair gives one, and an odd
// one makes the quote literal.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L'"';
}

}  // namespace

std::wstring RestartCommandLine(const std::vector<std::string>& args) {
    std::wstring line = L"--restarted";
    for (const auto& a : args) {
        if (a != "--restarted")
            line += L' ' + Quoted(platform::WideFromUtf8(a));
    }
    return line;
}

}  // namespace vantro::win32
