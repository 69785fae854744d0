#pragma once
// monvia-register: writes, removes and lists the class registration entries
// the component layer finds server libraries by. The command itself is a
// function over its arguments and output streams, so that the tests run it
// in-process and see its messages and exit code as a user would.

#include <iosfwd>
#include <string>
#include <vector>

namespace monvia::reg {

// Exit codes.
inline constexpr int kDone = 0;
inline constexpr int kLibraryRefused = 1;  // the library cannot be registered
inline constexpr int kUsage = 2;           // the command line is wrong
inline constexpr int kRegistryFailed = 3;  // the entry cannot be written or removed, or is not there

// Runs the command; args excludes the program name. Every refusal is one
// line on err, starting with "monvia-register: ".
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace monvia::reg
