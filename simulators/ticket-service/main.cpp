// monvia-ticket-service: a ticket service for testing the ticket client by hand.
// See README.md for the requests it answers and the options.

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
    using namespace monvia::ticket_service;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parse_options(args);
    if (parsed.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "%s: %s\n(%s --help lists the options)\n", kProgramName, parsed.error.c_str(),
                     kProgramName);
        return 2;
    }
    install_stop_signals();
    Server server(*parsed.options);
    if (const std::string error = server.open(); !error.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgramName, error.c_str());
        return 1;
    }
    std::printf("%s listening on %s%s\n", kProgramName, server.address().c_str(),
                parsed.options->backlog_full ? " (backlog full, connection attempts never complete)" : "");
    std::fflush(stdout);
    server.run();
    return 0;
}
