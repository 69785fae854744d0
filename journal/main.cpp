// monvia-journal: the journal of every call to the cash device, on and off.

#include <iostream>

#include "journal_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    monvia::journal::CommandOptions options;
    options.journal_library = monvia::journal::default_journal_library();
    return monvia::journal::run(args, std::cout, std::cerr, options);
}
