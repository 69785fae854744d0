#include "journal_writer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "journal_entry.h"
#include "journal_line.h"
#include "journal_platform.h"

namespace fs = std::filesystem;

namespace monvia::journal {
namespace {

std::string quoted(const fs::path& p) { return "\"" + platform::path_text(p) + "\""; }

// DAY.journal -> DAY.<n>.journal
fs::path aside(const fs::path& file, int n) {
    fs::path p = file;
    p.replace_extension(std::to_string(n) + ".journal");
    return p;
}

}  // namespace

JournalWriter::JournalWriter(Options options) : options_(std::move(options)) {
    if (!options_.report) options_.report = [](const std::string& text) { std::cerr << text << std::endl; };
    if (options_.keep < 1) options_.keep = 1;
}

JournalWriter::~JournalWriter() { close(); }

JournalWriter::Options JournalWriter::from_environment() {
    Options o;
    o.directory = journal_directory();
    if (const char* cap = std::getenv("MONVIA_JOURNAL_MAX_BYTES"); cap && *cap) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(cap, &end, 10);
        if (errno == 0 && end && *end == '\0' && v >= 4096) o.max_bytes = v;
    }
    return o;
}

void JournalWriter::close() { file_.close(); }

void JournalWriter::remove_old_days(const std::tm& today) {
    std::tm cutoff = today;
    cutoff.tm_mday -= options_.keep_days;
    cutoff.tm_isdst = -1;
    std::mktime(&cutoff);  // normalises the date
    // Names begin with the day, YYYY-MM-DD, so they sort as the days do.
    const std::string oldest_kept = journal_file({}, cutoff).filename().string().substr(0, 10);
    std::error_code ec;
    for (fs::directory_iterator it(options_.directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool dated = name.size() >= 18 && name[4] == '-' && name[7] == '-' &&
                           name.find_first_not_of("0123456789-") == 10 &&
                           it->path().extension() == ".journal";
        std::error_code ignored;
        if (dated && name.compare(0, 10, oldest_kept) < 0) fs::remove(it->path(), ignored);
    }
}

bool JournalWriter::open_file(const fs::path& file, std::string& why) {
    if (!file_.open(file, why)) return false;
    size_ = file_.size();
    path_ = file;
    return true;
}

bool JournalWriter::open_for(std::chrono::system_clock::time_point when, std::string& why) {
    if (options_.directory.empty()) {
        why = platform::no_directory_reason();
        return false;
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const std::tm day = platform::local_time(seconds);
    const fs::path file = journal_file(options_.directory, day);
    if (file_.is_open() && file == path_) return true;
    std::error_code ec;
    fs::create_directories(options_.directory, ec);
    if (ec) {
        why = "cannot create the journal folder " + quoted(options_.directory) + ": " + ec.message();
        return false;
    }
    remove_old_days(day);
    return open_file(file, why);
}

bool JournalWriter::rotate_if_needed(size_t adding, std::string& why) {
    const auto fits = [&] { return size_ == 0 || size_ + adding <= options_.max_bytes; };
    if (fits()) return true;
    const fs::path file = path_;
    // Another process may have set the file aside already: then write to the
    // new one it started.
    if (file_.moved_away_from(file)) {
        if (!open_file(file, why)) return false;
        if (fits()) return true;
    }
    std::error_code ec;
    fs::remove(aside(file, options_.keep), ec);
    for (int n = options_.keep - 1; n >= 1; --n)
        platform::rename_replacing(aside(file, n), aside(file, n + 1));
    // Closed first: it is opened again under its name just below.
    file_.close();
    platform::rename_replacing(file, aside(file, 1));
    return open_file(file, why);
}

bool JournalWriter::append(const std::string& bytes, std::string& why) {
    if (!file_.append(bytes, why)) return false;
    size_ += bytes.size();
    return true;
}

void JournalWriter::failed(const std::string& why) {
    if (lost_++ == 0) lost_why_ = why;
    if (reported_) return;
    reported_ = true;
    try {
        options_.report("monvia journal: " + why +
                        "; the calls go on, but are not recorded until it can be written");
    } catch (...) {
    }
}

void JournalWriter::write(const std::string& line, std::chrono::system_clock::time_point when) noexcept {
    try {
        std::lock_guard lock(mutex_);
        std::string bytes;
        if (lost_ > 0)
            bytes = timestamp(when) + " " + process_label() + " journal: " + std::to_string(lost_) +
                    (lost_ == 1 ? " event was" : " events were") + " not written (" + lost_why_ + ")\n";
        bytes += line;
        bytes += '\n';
        std::string why;
        if (!open_for(when, why) || !rotate_if_needed(bytes.size(), why) || !append(bytes, why)) {
            failed(why);
            return;
        }
        lost_ = 0;
        lost_why_.clear();
    } catch (...) {
        // Out of memory: the line is lost, the call is not.
    }
}

}  // namespace monvia::journal
