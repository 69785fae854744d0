// monvia-register: registers, unregisters and lists component server libraries.

#include <iostream>

#include "register_command.h"

#if defined(_WIN32)
#include "com/utf8_arguments.h"

int main() {
    SetConsoleOutputCP(CP_UTF8);
    return monvia::reg::run(monvia::com::win::utf8_arguments(), std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return monvia::reg::run(args, std::cout, std::cerr);
}
#endif
