#pragma once
// What the journal tests share: a private registry and state folder per
// test, monvia-journal run in-process, and a journal read back with the
// parts that change from run to run (time, process id, durations, folders)
// replaced by fixed names.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "journal_command.h"
#include "journal_entry.h"
#include "test_env.h"

namespace monvia::journal::testing {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

inline constexpr const char* kEntryName = "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}.class";

inline std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const fs::path& p, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(p.c_str(), mode);
}

struct CommandResult {
    int code;
    std::string out;
    std::string err;
};

// A folder of its own under the temporary folder, for the registry, the
// user's home and the state folder; every place a program looks is pointed
// into it.
class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "journal-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        ::chmod(root_.c_str(), 0755);
        for (const char* d : {"registry", "home", "state", "etc", "share"}) fs::create_directory(root_ / d);
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("HOME", (root_ / "home").c_str()));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("XDG_STATE_HOME", (root_ / "state").c_str()));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("XDG_CONFIG_HOME", nullptr));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("XDG_CONFIG_DIRS", (root_ / "etc").c_str()));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("XDG_DATA_DIRS", (root_ / "share").c_str()));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("MONVIA_CASHDEVICE_SCENARIO", nullptr));
        env_.push_back(std::make_unique<testing_env::ScopedEnv>("MONVIA_JOURNAL_MAX_BYTES", nullptr));
        use_override_registry(true);
    }
    void TearDown() override {
        override_.reset();
        env_.clear();
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    // Points the programs at registry() alone (MONVIA_CLASS_REGISTRY), or at
    // the XDG search order.
    void use_override_registry(bool on) {
        override_.reset();
        override_ = std::make_unique<testing_env::ScopedEnv>("MONVIA_CLASS_REGISTRY",
                                                             on ? registry().c_str() : nullptr);
    }

    fs::path registry() const { return root_ / "registry"; }
    fs::path entry() const { return registry() / kEntryName; }
    fs::path journal_today() const { return todays_journal_file(); }

    void register_server(const fs::path& library, const fs::path& dir) {
        fs::create_directories(dir);
        write_file(dir / kEntryName, "library=" + library.string() + "\n");
    }

    CommandResult command(std::vector<std::string> args) {
        std::ostringstream out, err;
        CommandOptions options;
        options.journal_library = MONVIA_JOURNAL_LIBRARY;
        const int code = run(args, out, err, options);
        return {code, out.str(), err.str()};
    }

    // Today's journal, one element a line, each line's start ("<date> <time>
    // <process>[<pid>] ") and duration (" (N us)") checked and taken away,
    // and the test's folders and the libraries named by fixed names.
    Lines journal_lines(const fs::path& file) const {
        Lines lines;
        std::istringstream in(read_file(file));
        const std::regex line_re(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ([^ ]+)\[(\d+)\] (.*?)( \(\d+ us\))?$)");
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (!std::regex_match(line, m, line_re)) {
                ADD_FAILURE() << "not a journal line: " << line;
                continue;
            }
            EXPECT_EQ(m[1], "journal_tests");
            EXPECT_EQ(std::stol(m[2]), static_cast<long>(::getpid()));
            std::string rest = m[3];
            for (const auto& [from, to] : {std::pair<std::string, std::string>{root_.string(), "<root>"},
                                           {MONVIA_SIMULATOR_LIBRARY, "<simulator>"},
                                           {MONVIA_EXAMPLE_SERVER, "<example>"}})
                for (size_t at; (at = rest.find(from)) != std::string::npos;)
                    rest.replace(at, from.size(), to);
            lines.push_back(rest);
        }
        return lines;
    }

    fs::path root_;
    std::vector<std::unique_ptr<testing_env::ScopedEnv>> env_;
    std::unique_ptr<testing_env::ScopedEnv> override_;
};

}  // namespace monvia::journal::testing
