// monvia-journal: the journal of every call to the cash device, on and off.

#include <iostream>

#include "journal_command.h"

#if defined(_WIN32)
#include "com/utf8_arguments.h"

int main() {
    SetConsoleOutputCP(CP_UTF8);
    monvia::journal::CommandOptions options;
    options.journal_library = monvia::journal::default_journal_library();
    options.other_journal_library = monvia::journal::default_other_journal_library();
    return monvia::journal::run(monvia::com::win::utf8_arguments(), std::cout, std::cerr, options);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    monvia::journal::CommandOptions options;
    options.journal_library = monvia::journal::default_journal_library();
    return monvia::journal::run(args, std::cout, std::cerr, options);
}
#endif
