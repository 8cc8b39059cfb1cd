#include "platform/Unicode.h"

#if defined(_WIN32)
#include "platform/Windows.h"
// windows.h first
#include <shellapi.h>

#include <memory>
#endif

namespace platform {

#if defined(_WIN32)

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    UINT page = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = MultiByteToWideChar(page, flags, text.data(), size, nullptr, 0);
    if (n == 0) {
        page = CP_ACP;
        flags = 0;
        n = MultiByteToWideChar(page, flags, text.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(page, flags, text.data(), size, wide.data(), n);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::filesystem::path PathFromUtf8(const std::string& name) {
    return std::filesystem::path(WideFromUtf8(name));
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int n = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(
        CommandLineToArgvW(GetCommandLineW(), &n), &LocalFree);
    if (!wide)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < n; ++i)
        args.push_back(Utf8FromWide(wide.get()[i]));
    return args;
}

#else

std::filesystem::path PathFromUtf8(const std::string& name) {
    return std::filesystem::path(name);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

#endif

}  // namespace platform
