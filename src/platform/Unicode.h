#pragma once

// File names and texts in UTF-8, everywhere but at the system's edge: on Windows they come
// from and go to the system as UTF-16, where the ANSI calls know only the code page's
// letters. Elsewhere the bytes pass as they are.

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The path a UTF-8 file name names, to open or test it.
std::filesystem::path PathFromUtf8(const std::string& name);

// The program's arguments, without its own name, in UTF-8: on Windows from the system's
// UTF-16 command line (argv holds the ANSI code page's rendering), elsewhere argv itself.
std::vector<std::string> ProgramArguments(int argc, char** argv);

#if defined(_WIN32)
// Text that is not UTF-8 (a system text in the ANSI code page) is taken as ANSI.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
#endif

}  // namespace platform
