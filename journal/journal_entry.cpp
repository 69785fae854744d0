#include "journal_entry.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "com/registry.h"
#include "journal_platform.h"

namespace fs = std::filesystem;

namespace monvia::journal {

std::string compose_entry(const JournalEntry& entry) {
    return "# The journal of the cash device: every call is recorded and passed on to the\n"
           "# server named by fronts. `monvia-journal off` puts back the previous entry.\n"
           "library=" +
           entry.library.string() + "\nfronts=" + entry.fronts.string() + "\nprevious=" + entry.previous +
           "\n";
}

std::optional<JournalEntry> parse_journal_entry(std::string_view content) {
    JournalEntry entry;
    bool library = false, fronts = false;
    com::for_each_entry_line(content, [&](const std::string& key, const std::string& value) {
        if (key == "library" && !library) {
            entry.library = value;
            library = true;
        } else if (key == "fronts" && !fronts) {
            entry.fronts = value;
            fronts = true;
        } else if (key == "previous" && entry.previous.empty()) {
            entry.previous = value;
        }
        return true;
    });
    if (!fronts) return std::nullopt;
    if (entry.previous.empty()) entry.previous = kNoPrevious;
    return entry;
}

std::string saved_entry_name(const com::Guid& clsid) {
    return com::to_string(clsid) + ".class.before-journal";
}

fs::path journal_directory() { return platform::journal_directory(); }

fs::path journal_file(const fs::path& directory, const std::tm& day) {
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.journal", day.tm_year + 1900, day.tm_mon + 1,
                  day.tm_mday);
    return directory / name;
}

fs::path todays_journal_file() {
    const std::time_t now = std::time(nullptr);
    const std::tm day = platform::local_time(now);
    const fs::path dir = journal_directory();
    return dir.empty() ? fs::path() : journal_file(dir, day);
}

std::optional<std::string> read_small_file(const fs::path& path, std::size_t max_bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content(max_bytes, '\0');
    in.read(content.data(), static_cast<std::streamsize>(max_bytes));
    if (in.bad()) return std::nullopt;
    content.resize(static_cast<size_t>(in.gcount()));
    return content;
}

}  // namespace monvia::journal
