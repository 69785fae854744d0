#pragma once
// Writes journal lines as they happen: each line is one write on a file
// opened for appending (see journal_platform.h), so that lines of several processes never mix and a
// line written is on its way to the disk even if the client crashes right
// after. One file per day; when a file would grow past the size cap it is
// renamed aside (DAY.1.journal, older ones shifted up to DAY.<keep>.journal,
// the oldest dropped) and a new one started, so the newest lines are kept.
// Journals of days more than keep_days ago are removed when a day's file is
// first opened, so that the folder never grows without bound.
//
// A line that cannot be written (the folder cannot be created or written,
// the disk is full) is dropped: the calls go on. The first failure is
// reported once on the report stream (standard error), and the next line
// that can be written is preceded by one saying how many were lost and why.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "journal_platform.h"

namespace monvia::journal {

class JournalWriter {
public:
    struct Options {
        std::filesystem::path directory;
        uint64_t max_bytes = 8 * 1024 * 1024;  // per file
        int keep = 3;                          // files set aside per day
        int keep_days = 30;                    // days whose journals are kept
        // Where the first failure is reported (standard error by default).
        std::function<void(const std::string&)> report;
    };

    explicit JournalWriter(Options options);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Appends one line (without its line break) stamped `when`. Never throws.
    void write(const std::string& line, std::chrono::system_clock::time_point when) noexcept;

    // The options of the process's journal: the state folder, and the cap
    // from MONVIA_JOURNAL_MAX_BYTES when that is a number (at least 4 KiB).
    static Options from_environment();

private:
    void remove_old_days(const std::tm& today);
    bool open_file(const std::filesystem::path& file, std::string& why);
    bool open_for(std::chrono::system_clock::time_point when, std::string& why);
    bool rotate_if_needed(size_t adding, std::string& why);
    bool append(const std::string& bytes, std::string& why);
    void failed(const std::string& why);
    void close();

    Options options_;
    std::mutex mutex_;
    platform::AppendFile file_;
    std::filesystem::path path_;
    uint64_t size_ = 0;
    // Lines lost since the last one written, and why the first was.
    uint64_t lost_ = 0;
    std::string lost_why_;
    bool reported_ = false;
};

}  // namespace monvia::journal
