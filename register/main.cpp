// monvia-register: registers, unregisters and lists component server libraries.

#include <iostream>

#include "register_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return monvia::reg::run(args, std::cout, std::cerr);
}
