#pragma once
// The ticket service's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monvia::ticket_service {

// The name the service calls itself in its usage and messages: the one it is
// installed under (on Windows the program keeps its file name).
#if defined(_WIN32)
inline constexpr const char* kProgramName = "ticket-service";
#else
inline constexpr const char* kProgramName = "monvia-ticket-service";
#endif

struct Options {
    std::string host = "127.0.0.1";
    int port = 16501;                        // 0: any free port (the one taken is printed)
    int split_ms = -1;                       // >= 0: reply in two pieces, this pause between them
    int delay_ms = 0;                        // pause before the reply
    bool keep = false;                       // keep the connection open after replying
    bool silent = false;                     // accept and read, never reply
    bool reset = false;                      // reset the connection instead of replying
    std::optional<std::string> reply;        // fixed reply instead of the ticket book's
    bool crlf = false;                       // end every reply with CR LF
    std::optional<std::string> unsolicited;  // sent right after accepting
    int unsolicited_every_ms = 0;            // > 0: and again at this interval
    int flood = 0;                           // extra pieces after the reply
    int gap_ms = 30;                         // quiet time that ends a request without line break
    std::string log_path;                    // every byte received, escaped
    bool backlog_full = false;               // listen, never accept, queue kept full
    bool quiet = false;                      // nothing on standard output but the listening line
    int idle_timeout_ms = 120'000;           // close a connection quiet this long both ways; 0: never
    int max_connections = 256;               // open at once; a further one is closed at once
};

struct ParsedOptions {
    std::optional<Options> options;  // set when the command line is good
    bool help = false;               // --help was asked for
    std::string error;               // why the command line was refused
};

// Every option with a value takes it as the next argument or after '='
// ("--port 0", "--port=0").
ParsedOptions parse_options(const std::vector<std::string>& args);

// The text --help prints.
std::string usage();

}  // namespace monvia::ticket_service
