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
    // The journal's own server library (on Windows, the DLL of this
    // program's bitness).
    std::filesystem::path journal_library;
    // Windows: the journal DLL of the other bitness, for the other registry
    // view; empty when there is none.
    std::filesystem::path other_journal_library;
    // Windows, for tests: asked before each change to the system registry;
    // a status other than 0 makes that change fail with it.
    std::function<long()> before_registry_change;
    // show --follow: how long to wait between looks at the file, and whether
    // to stop (asked after each look; never, by default).
    int follow_interval_ms = 250;
    std::function<bool()> stop_following;
};

// The journal library as installed beside this program (the build tree), or
// in the product's library folder of the prefix the program is installed in.
std::filesystem::path default_journal_library();
// Windows: the journal DLL of the other bitness as installed (the 32-bit one
// in the x86 folder beside a 64-bit program, the 64-bit one in the folder
// above a 32-bit program's x86 folder) or built; empty elsewhere.
std::filesystem::path default_other_journal_library();

// Runs the command; args excludes the program name. Every refusal is one
// line on err, starting with "monvia-journal: ".
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const CommandOptions& options);

}  // namespace monvia::journal
