#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "com/registry.h"
#include "journal_platform.h"

namespace fs = std::filesystem;

namespace monvia::journal::platform {
namespace {

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

}  // namespace

fs::path journal_directory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && fs::path(state).is_absolute())
        return fs::path(state) / "monvia" / "journal";
    const fs::path home = com::home_directory();
    if (home.empty()) return {};
    return home / ".local" / "state" / "monvia" / "journal";
}

const char* no_directory_reason() {
    return "there is no state folder (neither XDG_STATE_HOME nor HOME is set)";
}

std::tm local_time(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::string process_name() { return program_invocation_short_name ? program_invocation_short_name : ""; }

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

std::string path_text(const fs::path& p) { return p.string(); }

bool AppendFile::open(const fs::path& file, std::string& why) {
    close();
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        why = "cannot open the journal " + quoted(file) + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    size_ = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    handle_ = fd;
    path_ = file;
    return true;
}

void AppendFile::close() {
    if (handle_ != kClosed) ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

bool AppendFile::append(const std::string& bytes, std::string& why) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = "cannot write the journal " + quoted(path_) + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            // Opened anew for the next line: the problem may be gone by then.
            close();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool AppendFile::moved_away_from(const fs::path& path) const {
    struct stat mine {
    }, named{};
    return ::fstat(static_cast<int>(handle_), &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
           (mine.st_ino != named.st_ino || mine.st_dev != named.st_dev);
}

void rename_replacing(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
}

}  // namespace monvia::journal::platform
