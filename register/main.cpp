// monvia-register: registers, unregisters and lists component server libraries.

#include <iostream>

#include "register_command.h"

#if defined(_WIN32)
#include <monvia/component/bstr.h>
#include <shellapi.h>

// The arguments as the user typed them, in UTF-8 whatever the code page.
int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; argv && i < argc; ++i)
        args.push_back(monvia::com::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
    LocalFree(argv);
    SetConsoleOutputCP(CP_UTF8);
    return monvia::reg::run(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return monvia::reg::run(args, std::cout, std::cerr);
}
#endif
