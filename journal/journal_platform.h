#pragma once
// What the journal needs of the operating system, in one place: the user's
// state folder, local time, the process's name and id, and a file that is
// only ever appended to. The writer and the line format are the same on
// every system; only these differ (journal_platform_posix.cpp, and
// win/journal_platform.cpp on Windows).

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace monvia::journal::platform {

// The folder journals are written to, empty when none is known: on Linux
// $XDG_STATE_HOME/monvia/journal (an absolute XDG_STATE_HOME only), else
// ~/.local/state/monvia/journal; on Windows %LOCALAPPDATA%\Monvia\journal
// (an absolute LOCALAPPDATA only), else the user's local application data
// folder as the system knows it.
std::filesystem::path journal_directory();

// Why there is no journal folder, for the line that reports it.
const char* no_directory_reason();

// The local time of `t`.
std::tm local_time(std::time_t t);

// The process's own name (the program's file name without a Windows
// ".exe"), and its id.
std::string process_name();
unsigned long process_id();

// A path as UTF-8 text, whatever the system's own encoding of paths.
std::string path_text(const std::filesystem::path& p);

// A journal file open for appending. Every write goes to the file's end in
// one system call, so that the lines of several processes never mix; the
// file is shared for reading, writing, renaming and removal with everyone.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens (creating, for the user alone where the system has modes) the
    // file; on failure says why.
    bool open(const std::filesystem::path& file, std::string& why);
    bool is_open() const { return handle_ != kClosed; }
    void close();
    // The file's size when opened.
    uint64_t size() const { return size_; }
    // Appends all of `bytes`; on failure says why.
    bool append(const std::string& bytes, std::string& why);
    // Whether `path` names another file than the one open now (another
    // process has set this one aside), or none.
    bool moved_away_from(const std::filesystem::path& path) const;

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
    uint64_t size_ = 0;
    std::filesystem::path path_;
};

// Renames `from` to `to`, replacing `to`; files still open elsewhere are
// renamed too. Errors are ignored by the caller: rotation goes on.
void rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace monvia::journal::platform
