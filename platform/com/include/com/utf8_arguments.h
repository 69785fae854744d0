#pragma once
// Windows only: a program's arguments as the user typed them, in UTF-8
// whatever the code page, for the commands whose main takes none.

#include <monvia/component/bstr.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace monvia::com::win {

// The arguments after the program's name.
inline std::vector<std::string> utf8_arguments() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i)
        args.push_back(utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
    LocalFree(argv);
    return args;
}

}  // namespace monvia::com::win
