#pragma once
// monvia-register's command line, read the same way on every platform, and
// the refusal every step of the command throws.

#include <monvia/component/types.h>

#include <string>
#include <vector>

namespace monvia::reg {

// One refusal: the line the command prints (after "monvia-register: ") and
// its exit code.
struct Refusal {
    int code;
    std::string text;
};

struct CommandLine {
    enum class Scope { Default, User, System };
    Scope scope = Scope::Default;
    bool help = false;
    bool unregister = false;
    bool list = false;
    bool surrogate = false;             // --surrogate (Windows only)
    std::vector<com::Guid> classes;     // --class, in order
    std::vector<std::string> operands;  // everything that is not an option
};

// Throws Refusal (kUsage) for an unknown option, a malformed class
// identifier, --class without one, or --user with --system.
CommandLine parse_command_line(const std::vector<std::string>& args);

// A class identifier as the user wrote it; throws Refusal (kUsage).
com::Guid parse_class(const std::string& text);

}  // namespace monvia::reg
