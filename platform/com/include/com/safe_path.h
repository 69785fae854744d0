#pragma once
// Checks that a registration entry or a server library lies where only its
// owner can change it, and the texts that name a path in a failure.
//
// Whoever can write an entry, an entry directory, a server library or any
// directory on its path can make the programs load code of their choosing.
// So, as secure shell daemons treat key files, such a path is refused when
//  - it, or a directory on its path, belongs to someone other than the user
//    (the effective user) or root, or
//  - it, or a directory on its path, is writable by its group or by others;
//    a directory with the sticky bit (such as /tmp) is the exception for the
//    files and directories in it that belong to the user or root, since
//    nobody else can rename or remove those.
// Both the path as written (so that a symbolic link cannot be swapped) and
// the path with every link resolved (so that the target cannot) are checked.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace monvia::com {

// A path as failure texts show it: in double quotes, and shortened in the
// middle (with "…") when it is very long, so that both its start and its
// file name stay visible.
std::string shown_path(const std::filesystem::path& path, std::size_t max_bytes = 160);

// Why the object described by st (the leaf itself) is not safe, or nothing.
std::optional<std::string> unsafe_object(const struct stat& st, std::string_view what);

// What makes a path unsafe: the cause, and the path it is about (the object
// itself or a directory on its path).
struct Unsafe {
    std::string cause;
    std::filesystem::path where;
};

// Why the path (an absolute path) is not safe, or nothing. what names the
// object in the text ("server library", "registration entry directory").
// Parts at the end of the path that do not exist yet are judged as the
// user's own, made in the directory above them; any other path that cannot
// be examined is not judged here: its lookup reports it.
std::optional<Unsafe> unsafe_path(const std::filesystem::path& path, std::string_view what);

// The cause of a failed file system call on a path, as a short text
// ("the name is too long", "a directory on the path cannot be searched").
std::string path_error_cause(int error_number);

// The kind of a file that is not a regular one ("a directory", "a FIFO").
std::string file_kind(mode_t mode);

}  // namespace monvia::com
