// Failures through the journal: the client sees what it would see without
// it, and a journal that cannot be written never reaches the client.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include "com/registry.h"
#include "journal_fixture.h"
#include "journal_writer.h"
#include "panel_window.h"
#include "runtime/failure.h"
#include "ui/sim_toolkit.h"

namespace monvia::journal::testing {
namespace {

using Texts = std::vector<std::string>;

// How creating the class ends: "ok", or the status and description.
std::string creation(const fs::path& registry_dir) {
    com::ClassRegistry registry{registry_dir};
    try {
        auto device = registry.create<device::ICashDevice>(device::CLSID_CashDevice, device::IID_ICashDevice);
        return device ? "ok" : "no object";
    } catch (const Failure& f) {
        return com::hex(f.number()) + " " + f.description();
    }
}

// Connect, Charge 125 and Pay 50: the boxes they show.
Texts short_session(const fs::path& registry_dir) {
    ui::SimToolkit tk;
    com::ClassRegistry registry{registry_dir};
    Texts boxes;
    {
        panel::frmTest form(tk, registry);
        EXPECT_TRUE(tk.window()->click("cmdConnect"));
        EXPECT_TRUE(tk.window()->type("txtImp", "50"));
        EXPECT_TRUE(tk.window()->click("cmdPay"));
        EXPECT_TRUE(tk.window()->type("txtImp", "125"));
        EXPECT_TRUE(tk.window()->click("cmdCharge"));
        for (const auto& box : tk.boxes()) boxes.push_back(box.text);
    }
    return boxes;
}

class JournalFailures : public JournalTest {
protected:
    // A copy of the simulator that a test may take away.
    fs::path simulator_copy() {
        const fs::path copy = root_ / "libcopy_sim.so";
        fs::copy_file(MONVIA_SIMULATOR_LIBRARY, copy);
        ::chmod(copy.c_str(), 0755);
        return copy;
    }
    void scenario(const std::string& rules) {
        const fs::path file = root_ / "scenario.txt";
        write_file(file, rules);
        scenario_ = std::make_unique<testing_env::ScopedEnv>("MONVIA_CASHDEVICE_SCENARIO", file.c_str());
    }
    void TearDown() override {
        scenario_.reset();
        JournalTest::TearDown();
    }
    std::unique_ptr<testing_env::ScopedEnv> scenario_;
};

TEST_F(JournalFailures, AMissingFrontedServerFailsAsItWouldWithoutTheJournal) {
    const fs::path copy = simulator_copy();
    register_server(copy, registry());
    ASSERT_EQ(command({"on"}).code, kDone);
    ASSERT_EQ(creation(registry()), "ok");
    fs::remove(copy);

    const std::string through_journal = creation(registry());
    register_server(copy, root_ / "direct");
    const std::string direct = creation(root_ / "direct");
    EXPECT_EQ(direct.substr(0, 8), "8007007E") << direct;
    EXPECT_EQ(through_journal, direct);
    // The journal says it too.
    const Lines lines = journal_lines(journal_today());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().find("#1 create"), 0u) << lines.back();
    EXPECT_NE(lines.back().find("-> failed 8007007E"), std::string::npos) << lines.back();
}

TEST_F(JournalFailures, InterfaceFailuresWithADescriptionReachTheClientUnchanged) {
    for (const char* rules : {"Charge hresult=0x80004005 description=\"Hopper fault, call service\"\n",
                              "Pay hresult=0x8000FFFF description=\"Line\\nbreak \\\"quoted\\\"\"\n",
                              "Pay hresult=0x80020009\n"}) {
        SCOPED_TRACE(rules);
        scenario(rules);
        fs::remove(entry());
        register_server(MONVIA_SIMULATOR_LIBRARY, registry());
        const Texts direct = short_session(registry());
        ASSERT_EQ(command({"on"}).code, kDone);
        EXPECT_EQ(short_session(registry()), direct);
        ASSERT_EQ(command({"off"}).code, kDone);
    }
    const Lines lines = journal_lines(journal_today());
    const auto has = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(
        has("#1 Charge amount=125 &inserted=0 &returned=0 -> failed 80004005 \"Hopper fault, call "
            "service\" inserted=0 returned=0 result=False"))
        << read_file(journal_today());
}

TEST_F(JournalFailures, TheJournalNeverFrontsItself) {
    write_file(entry(), compose_entry({MONVIA_JOURNAL_LIBRARY, MONVIA_JOURNAL_LIBRARY, "none"}));
    const std::string outcome = creation(registry());
    EXPECT_EQ(outcome.substr(0, 8), "800401F9") << outcome;
    EXPECT_NE(outcome.find("names the journal itself"), std::string::npos) << outcome;
}

TEST_F(JournalFailures, AJournalFolderThatCannotBeMadeNeverReachesTheClient) {
    register_server(MONVIA_SIMULATOR_LIBRARY, registry());
    const Texts direct = short_session(registry());
    ASSERT_EQ(command({"on"}).code, kDone);
    // The state folder's place is taken by a file.
    const fs::path state = root_ / "state-file";
    write_file(state, "not a folder");
    testing_env::ScopedEnv moved("XDG_STATE_HOME", state.c_str());

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(short_session(registry()), direct);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 1) << reported;
    EXPECT_NE(reported.find("monvia journal: cannot create the journal folder"), std::string::npos)
        << reported;
}

TEST_F(JournalFailures, AFullDiskIsReportedOnceAndInTheNextJournalThatCanBeWritten) {
    register_server(MONVIA_SIMULATOR_LIBRARY, registry());
    const Texts direct = short_session(registry());
    ASSERT_EQ(command({"on"}).code, kDone);
    fs::create_directories(journal_today().parent_path());
    fs::create_symlink("/dev/full", journal_today());

    // An object made first keeps the journal loaded for the whole test, as
    // in a program.
    com::ClassRegistry registry{this->registry()};
    ::testing::internal::CaptureStderr();
    auto device = registry.create<device::ICashDevice>(device::CLSID_CashDevice, device::IID_ICashDevice);
    EXPECT_EQ(short_session(this->registry()), direct);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reported.find("monvia journal: cannot write the journal"), 0u) << reported;
    EXPECT_NE(reported.find("No space left on device"), std::string::npos) << reported;
    EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 1) << reported;

    // Room again: the next line says what was lost.
    fs::remove(journal_today());
    com::VARIANT_BOOL connected = 0;
    ASSERT_EQ(device->get_Connected(&connected), com::S_OK);
    device.reset();
    const Lines lines = journal_lines(journal_today());
    ASSERT_EQ(lines.size(), 3u) << read_file(journal_today());
    // The object made first, the session's 6 lines.
    EXPECT_EQ(lines[0].find("journal: 7 events were not written (cannot write the journal \"<root>/state/"),
              0u)
        << lines[0];
    EXPECT_EQ(lines[1], "#1 get_Connected -> connected=0");
    EXPECT_EQ(lines[2], "#1 release");
}

TEST_F(JournalFailures, ALongSessionRotatesAndKeepsTheNewestLines) {
    JournalWriter::Options options;
    options.directory = root_ / "rotating";
    options.max_bytes = 4096;
    options.keep = 2;
    const auto now = std::chrono::system_clock::now();
    {
        JournalWriter writer(options);
        for (int i = 0; i < 1000; ++i) writer.write("line " + std::to_string(i) + std::string(30, '.'), now);
    }
    std::tm day{};
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    localtime_r(&t, &day);
    const fs::path current = journal_file(options.directory, day);
    fs::path older = current, oldest = current;
    older.replace_extension("1.journal");
    oldest.replace_extension("2.journal");
    fs::path dropped = current;
    dropped.replace_extension("3.journal");
    EXPECT_FALSE(fs::exists(dropped));

    std::string all;
    for (const auto& f : {oldest, older, current}) {
        ASSERT_TRUE(fs::exists(f)) << f;
        EXPECT_LE(fs::file_size(f), options.max_bytes) << f;
        all += read_file(f);
    }
    // The newest lines, in order, with nothing missing between them.
    std::istringstream in(all);
    std::string line;
    int expected = -1;
    while (std::getline(in, line)) {
        const int n = std::stoi(line.substr(5));
        if (expected >= 0) {
            EXPECT_EQ(n, expected);
        }
        expected = n + 1;
    }
    EXPECT_EQ(expected, 1000);
    EXPECT_GT(fs::file_size(oldest) + fs::file_size(older), 4096u);
}

TEST_F(JournalFailures, JournalsOfLongAgoAreRemovedWhenADayBegins) {
    JournalWriter::Options options;
    options.directory = root_ / "days";
    options.keep_days = 30;
    fs::create_directories(options.directory);
    const auto now = std::chrono::system_clock::now();
    const auto day_name = [&](int days_ago) {
        const std::time_t t = std::chrono::system_clock::to_time_t(now - std::chrono::hours(24 * days_ago));
        std::tm day{};
        localtime_r(&t, &day);
        return journal_file({}, day).filename().string();
    };
    const std::string old = day_name(40), recent = day_name(5);
    fs::path old_aside = old;
    old_aside.replace_extension("2.journal");
    for (const std::string& name :
         {old, old_aside.string(), recent, std::string("notes.txt"), std::string("2000-01-01.journal.bak")})
        write_file(options.directory / name, "kept?\n");
    JournalWriter(options).write("today", now);

    EXPECT_FALSE(fs::exists(options.directory / old));
    EXPECT_FALSE(fs::exists(options.directory / old_aside));
    EXPECT_TRUE(fs::exists(options.directory / recent));
    EXPECT_TRUE(fs::exists(options.directory / "notes.txt"));
    EXPECT_TRUE(fs::exists(options.directory / "2000-01-01.journal.bak"));
    EXPECT_TRUE(fs::exists(options.directory / day_name(0)));
}

}  // namespace
}  // namespace monvia::journal::testing
