#pragma once
// What monvia-journal does differently on each system: where the journal is
// registered and how (the registration entries of the layer's own registry
// on Linux, journal_command_posix.cpp; the system registry on Windows,
// journal_command_win.cpp), the lines of --help that say so, and how a file
// is told apart from the one that replaces it. The command line, the
// messages, show and --follow are the same everywhere (journal_command.cpp).

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "journal_command.h"

namespace monvia::journal::detail {

// A command that is not carried out: one line on standard error, and the
// exit code.
struct Refusal {
    int code;
    std::string text;
};

// A path as the messages show it (UTF-8), and in double quotes.
std::string shown(const std::filesystem::path& p);
inline std::string quoted(const std::filesystem::path& p) { return "\"" + shown(p) + "\""; }

// The parts of --help that differ: the --system line and what follows it,
// where the journals lie, and the example's creation line.
struct PlatformHelp {
    const char* system_option;
    const char* journal_folder;
    const char* example_create;
};
PlatformHelp platform_help();

// Why there is no journal folder, as a parenthesis ("neither ... is set").
const char* no_journal_folder_reason();

// "today's journal: <file> (<size> bytes)", or why there is none.
void print_todays_journal(std::ostream& out);

// on, off and status.
int turn_on(bool machine, const CommandOptions& options, std::ostream& out);
int turn_off(bool machine, const CommandOptions& options, std::ostream& out);
int show_status(const CommandOptions& options, std::ostream& out);

// What a followed file is now: whether it is a regular file, its size, and
// what identifies it (a file set aside and replaced by a new one under the
// same name has another identity).
struct FileState {
    bool regular = false;
    uint64_t size = 0;
    uint64_t volume = 0, index = 0;
};
std::optional<FileState> file_state(const std::filesystem::path& file);

}  // namespace monvia::journal::detail
