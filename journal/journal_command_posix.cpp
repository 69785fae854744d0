// monvia-journal on Linux: the journal put in front of a server by a
// registration entry of the layer's own registry, in the user's folder (or
// the administrator's), and the entry that was there kept beside it.

#include <fcntl.h>
#include <monvia/component/cash_device.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <ostream>

#include "com/registry.h"
#include "journal_command_platform.h"
#include "journal_entry.h"

namespace fs = std::filesystem;

namespace monvia::journal::detail {
namespace {

using com::ClassRegistry;
using device::CLSID_CashDevice;
using Kind = ClassRegistry::EntryDirectory::Kind;

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

// The entry the class is found by in one place of the search.
struct Found {
    ClassRegistry::EntryDirectory where;
    fs::path file;
    fs::path library;
    std::string problem;
    std::optional<JournalEntry> journal;
};

std::string canonical_name() { return CLSID_CashDevice.str() + ".class"; }

std::optional<Found> entry_in(const ClassRegistry::EntryDirectory& dir) {
    std::optional<Found> found;
    for (auto& e : ClassRegistry::entries_in(dir.path)) {
        if (e.clsid != CLSID_CashDevice) continue;
        if (found && e.file.filename() != canonical_name()) continue;
        found = Found{dir, e.file, e.library, e.problem, std::nullopt};
    }
    if (found && found->problem.empty())
        if (const auto content = read_small_file(found->file)) found->journal = parse_journal_entry(*content);
    return found;
}

// The first entry of the class in the search order; with `machine`, only in
// the administrator's and the packaged defaults.
std::optional<Found> serving(bool machine) {
    for (const auto& dir : ClassRegistry::entry_directories()) {
        if (machine && dir.kind == Kind::User) continue;
        if (auto f = entry_in(dir)) return f;
    }
    return std::nullopt;
}

std::string searched_text() {
    std::string text;
    for (const auto& d : ClassRegistry::entry_directories())
        text += (text.empty() ? "" : ", ") + d.path.string();
    return text;
}

// Where on and off write: the override, the user's or the administrator's.
ClassRegistry::EntryDirectory target_directory(bool machine) {
    const auto dirs = ClassRegistry::entry_directories();
    if (!dirs.empty() && dirs.front().kind == Kind::Override) return dirs.front();
    for (const auto& d : dirs)
        if (d.kind == (machine ? Kind::Administrator : Kind::User)) return d;
    throw Refusal{kRegistryFailed, "there is no registry directory to write to (HOME is not set)"};
}

bool is_journal(const fs::path& library, const CommandOptions& o) {
    return same_file(library, o.journal_library) || library.filename() == o.journal_library.filename();
}

// Writes a file beside its final name and renames it into place, so that a
// reader sees the old content or the new, never half of it.
void write_atomically(const fs::path& target, const std::string& bytes, mode_t mode) {
    fs::path temp = target;
    temp += ".tmp" + std::to_string(::getpid());
    auto failed = [&](const std::string& what) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw Refusal{kRegistryFailed, "cannot write " + quoted(target) + ": " + what};
    };
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) failed(std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : ENOSPC;
            ::close(fd);
            failed(std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    // Whatever the umask: the registry refuses an entry others can change.
    if (::fchmod(fd, mode & 0755) != 0 || ::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        failed(std::strerror(e));
    }
    if (::close(fd) != 0) failed(std::strerror(errno));
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) failed(ec.message());
}

struct FileBytes {
    std::string bytes;
    mode_t mode = 0644;
};

std::optional<FileBytes> read_entry_bytes(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    auto content = read_small_file(file, 64 * 1024 + 1);
    if (!content) return std::nullopt;
    return FileBytes{std::move(*content), static_cast<mode_t>(st.st_mode & 07777)};
}

int turn_on_here(bool machine, const CommandOptions& o, std::ostream& out) {
    std::error_code ec;
    if (!fs::is_regular_file(o.journal_library, ec))
        throw Refusal{kRefused, "the journal library " + quoted(o.journal_library) + " is not installed"};
    const auto dir = target_directory(machine);
    const auto current = serving(machine);
    if (!current)
        throw Refusal{kRefused,
                      "nothing serves the class " + CLSID_CashDevice.str() + " (searched " + searched_text() +
                          "), so there is nothing to put the journal in front of; register a server "
                          "first with monvia-register"};
    if (!current->problem.empty())
        throw Refusal{kRefused, "the entry that serves the class cannot be used: " + current->problem};
    if (current->journal && is_journal(current->library, o))
        throw Refusal{kRefused, "the journal is already on: " + quoted(current->file) +
                                    " puts it in front of " + quoted(current->journal->fronts) +
                                    " (monvia-journal off takes it away)"};
    if (is_journal(current->library, o) ||
        (current->journal && same_file(current->journal->fronts, o.journal_library)))
        throw Refusal{kRefused, "the entry " + quoted(current->file) +
                                    " names the journal itself; the journal cannot front itself"};
    if (!fs::is_regular_file(current->library, ec))
        throw Refusal{kRefused, "the server registered in " + quoted(current->file) + ", " +
                                    quoted(current->library) +
                                    ", is not there; nothing to put the journal in front of"};

    const fs::path entry = dir.path / canonical_name();
    fs::create_directories(dir.path, ec);
    if (ec)
        throw Refusal{kRegistryFailed,
                      "cannot create the registry directory " + quoted(dir.path) + ": " + ec.message()};
    JournalEntry journal{o.journal_library, current->library, std::string(kNoPrevious)};
    fs::path saved;
    struct stat st {};
    if (::lstat(entry.c_str(), &st) == 0) {
        const auto previous = read_entry_bytes(entry);
        if (!previous)
            throw Refusal{kRefused, "the entry " + quoted(entry) + " cannot be read; nothing changed"};
        journal.previous = saved_entry_name(CLSID_CashDevice);
        saved = dir.path / journal.previous;
        write_atomically(saved, previous->bytes, previous->mode);
    }
    try {
        write_atomically(entry, compose_entry(journal), 0644);
    } catch (...) {
        if (!saved.empty()) fs::remove(saved, ec);
        throw;
    }
    out << "the journal is on: " << entry.string() << " puts " << o.journal_library.string()
        << " in front of " << current->library.string() << " (found in " << current->file.string() << ")\n";
    if (machine)
        if (const auto user = serving(false); user && user->where.kind == Kind::User)
            out << "note: your own entry " << user->file.string()
                << " comes first in the search and is used instead\n";
    print_todays_journal(out);
    return kDone;
}

int turn_off_here(bool machine, const CommandOptions& o, std::ostream& out) {
    const auto dir = target_directory(machine);
    const fs::path entry = dir.path / canonical_name();
    const fs::path saved_default = dir.path / saved_entry_name(CLSID_CashDevice);
    std::error_code ec;
    struct stat st {};
    if (::lstat(entry.c_str(), &st) != 0)
        throw Refusal{kRefused, "the journal is not on: there is no entry " + quoted(entry)};
    const auto bytes = read_entry_bytes(entry);
    const auto journal = bytes ? parse_journal_entry(bytes->bytes) : std::nullopt;
    if (!journal || !is_journal(journal->library, o)) {
        std::string text = "the entry " + quoted(entry) + " is not the journal's";
        if (fs::exists(saved_default, ec))
            text +=
                ": the registration changed since monvia-journal on; it is left as it is (the one saved at "
                "on is " +
                quoted(saved_default) + ")";
        else
            text += ": the journal is not on here; nothing changed";
        throw Refusal{kRefused, text};
    }
    if (journal->previous == kNoPrevious) {
        if (!fs::remove(entry, ec) || ec)
            throw Refusal{kRegistryFailed, "cannot remove " + quoted(entry) + ": " + ec.message()};
        out << "the journal is off: " << entry.string() << " removed (there was no entry before)\n";
        return kDone;
    }
    if (journal->previous != saved_entry_name(CLSID_CashDevice))
        throw Refusal{kRefused, "the entry " + quoted(entry) + " names an unexpected saved registration \"" +
                                    journal->previous + "\"; nothing changed"};
    const auto previous = read_entry_bytes(saved_default);
    if (!previous)
        throw Refusal{kRegistryFailed, "the registration saved at on, " + quoted(saved_default) +
                                           ", is missing or unreadable; nothing changed"};
    write_atomically(entry, previous->bytes, previous->mode);
    fs::remove(saved_default, ec);
    out << "the journal is off: " << entry.string() << " is again the entry it was before\n";
    return kDone;
}

int status_here(const CommandOptions& o, std::ostream& out) {
    const auto current = serving(false);
    out << "class " << CLSID_CashDevice.str() << " (CashDevice): ";
    if (!current) {
        out << "served by nothing (searched " << searched_text() << ")\n";
    } else if (!current->problem.empty()) {
        out << "unusable entry: " << current->problem << "\n";
    } else if (current->journal && is_journal(current->library, o)) {
        out << "served by " << current->journal->fronts.string() << "\n"
            << "journal: on, in front of it (" << current->file.string() << ", "
            << com::kind_name(current->where.kind) << ")\n";
    } else {
        out << "served by " << current->library.string() << " (" << current->file.string() << ", "
            << com::kind_name(current->where.kind) << ")\n"
            << "journal: off\n";
    }
    print_todays_journal(out);
    return kDone;
}

}  // namespace

std::string shown(const fs::path& p) { return p.string(); }

PlatformHelp platform_help() {
    return {
        "  --system  on and off for the machine's registration (first of $XDG_CONFIG_DIRS,\n"
        "            else /etc/xdg/monvia/classes), for every user\n"
        "When MONVIA_CLASS_REGISTRY is set, the programs read only that directory, and\n"
        "the journal is put there.\n",
        "Journals: $XDG_STATE_HOME/monvia/journal/YYYY-MM-DD.journal (default\n"
        "~/.local/state/monvia/journal/), one per day, set aside as DAY.1.journal ... DAY.3.journal\n"
        "when one reaches 8 MiB (MONVIA_JOURNAL_MAX_BYTES); those of days over 30 days ago are\n"
        "removed. A line per event:\n",
        "  2026-12-09 14:03:07.398 Testing[4242] #1 create class={3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} "
        "server=\"/usr/lib/x86_64-linux-gnu/monvia/libcashdevice_sim.so\" "
        "entry=\"/home/ana/.config/monvia/classes/"
        "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}.class\" -> ok (412 us)\n",
    };
}

const char* no_journal_folder_reason() { return "neither XDG_STATE_HOME nor HOME is set"; }

int turn_on(bool machine, const CommandOptions& options, std::ostream& out) {
    return turn_on_here(machine, options, out);
}
int turn_off(bool machine, const CommandOptions& options, std::ostream& out) {
    return turn_off_here(machine, options, out);
}
int show_status(const CommandOptions& options, std::ostream& out) { return status_here(options, out); }

std::optional<FileState> file_state(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return FileState{S_ISREG(st.st_mode), static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_dev),
                     static_cast<uint64_t>(st.st_ino)};
}

}  // namespace monvia::journal::detail

namespace monvia::journal {

fs::path default_journal_library() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::path("/usr") / MONVIA_JOURNAL_INSTALLED;
    const fs::path beside = exe.parent_path() / MONVIA_JOURNAL_FILE_NAME;
    if (fs::is_regular_file(beside, ec)) return beside;
    return (exe.parent_path().parent_path() / MONVIA_JOURNAL_INSTALLED).lexically_normal();
}

fs::path default_other_journal_library() { return {}; }

}  // namespace monvia::journal
