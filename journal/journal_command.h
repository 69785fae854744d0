#pragma once
// monvia-journal: puts the journal of the cash device in front of the server
// that has the class, takes it away again, says where things stand and
// shows journals. The command is a function over its arguments and streams,
// so that the tests run it in-process and see what a user would.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace monvia::journal {

// Exit codes.
inline constexpr int kDone = 0;
inline constexpr int kRefused = 1;         // nothing was done: the state does not allow it
inline constexpr int kUsage = 2;           // the command line is wrong
inline constexpr int kRegistryFailed = 3;  // an entry could not be written, restored or removed

struct CommandOptions {
    // The journal's own server library.
    std::filesystem::path journal_library;
    // show --follow: how long to wait between looks at the file, and whether
    // to stop (asked after each look; never, by default).
    int follow_interval_ms = 250;
    std::function<bool()> stop_following;
};

// The journal library as installed beside this program (the build tree), or
// in the product's library folder of the prefix the program is installed in.
std::filesystem::path default_journal_library();

// Runs the command; args excludes the program name. Every refusal is one
// line on err, starting with "monvia-journal: ".
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const CommandOptions& options);

}  // namespace monvia::journal
