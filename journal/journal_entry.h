#pragma once
// Where the journal of the cash device is registered and written, shared by
// the journal server and monvia-journal.
//
// The journal stands in front of a server by its registration entry: the
// usual "library=" line names the journal's own library, and two more lines
// say what it fronts and what `monvia-journal off` puts back:
//
//   library=/usr/lib/x86_64-linux-gnu/monvia/libmonvia_journal.so
//   fronts=/usr/lib/x86_64-linux-gnu/monvia/libcashdevice_sim.so
//   previous=none
//
// previous is "none" (the directory held no entry for the class) or the name
// of the byte-for-byte copy of the entry that was there, beside it
// ("{CLASS-ID}.class.before-journal"). The registry reads only the library
// line, so the entry is an ordinary one to everything else.

#include <monvia/component/types.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace monvia::journal {

// What a journal entry says beyond its library line.
struct JournalEntry {
    std::filesystem::path library;  // the journal's own library
    std::filesystem::path fronts;   // the server it forwards to
    std::string previous;           // "none" or the saved copy's file name
};

inline constexpr std::string_view kNoPrevious = "none";

// The entry's text, as monvia-journal writes it.
std::string compose_entry(const JournalEntry& entry);

// The journal's lines of an entry's content; nothing when it has no
// "fronts=" line (it is not a journal entry).
std::optional<JournalEntry> parse_journal_entry(std::string_view content);

// The file name of the saved copy of a class's previous entry.
std::string saved_entry_name(const com::Guid& clsid);

// The folder journals are written to: $XDG_STATE_HOME/monvia/journal (an
// absolute XDG_STATE_HOME only), else ~/.local/state/monvia/journal; on
// Windows %LOCALAPPDATA%\Monvia\journal (see journal_platform.h); empty
// when none is known.
std::filesystem::path journal_directory();

// The file of one day in that folder: "YYYY-MM-DD.journal" (local time).
std::filesystem::path journal_file(const std::filesystem::path& directory, const std::tm& local_day);
std::filesystem::path todays_journal_file();

// The first `max_bytes` of a small file, or nothing when it cannot be read.
std::optional<std::string> read_small_file(const std::filesystem::path& path,
                                           std::size_t max_bytes = 64 * 1024);

}  // namespace monvia::journal
