// monvia-journal: on, off, status and show, their refusals, and off putting
// back the user's registration byte for byte.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "journal_fixture.h"

namespace monvia::journal::testing {
namespace {

// Every file of a folder with its bytes and permissions, to show that a
// refusal left it exactly as it was.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(dir, ec)) {
        struct stat st {};
        ::stat(f.path().c_str(), &st);
        files[f.path().filename().string()] = std::to_string(st.st_mode & 07777) + ":" + read_file(f.path());
    }
    return files;
}

class JournalCommand : public JournalTest {
public:
    using JournalTest::command;
    using JournalTest::register_server;
    using JournalTest::registry;
    using JournalTest::root_;
};

TEST_F(JournalCommand, RefusalsSayOneLineAndChangeNothing) {
    struct Case {
        const char* what;
        std::function<void(JournalCommand&)> prepare;
        std::vector<std::string> args;
        int code;
        std::string message;  // the start of the one line on standard error
    };
    const fs::path binary = root_ / "binary.journal";
    write_file(binary, std::string("2026-12-09 10:00:00.000 x[1] #1 release\n\0\x01\x02", 44));
    const std::vector<Case> cases = {
        {"on with nothing serving the class",
         [](JournalCommand&) {},
         {"on"},
         kRefused,
         "nothing serves the class {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}"},
        {"on twice",
         [](JournalCommand& t) {
             t.register_server(MONVIA_SIMULATOR_LIBRARY, t.registry());
             ASSERT_EQ(t.command({"on"}).code, kDone);
         },
         {"on"},
         kRefused,
         "the journal is already on"},
        {"on in front of a server that is not there",
         [](JournalCommand& t) { t.register_server(t.root_ / "gone.so", t.registry()); },
         {"on"},
         kRefused,
         "the server registered in"},
        {"on in front of an entry naming the journal itself",
         [](JournalCommand& t) { t.register_server(MONVIA_JOURNAL_LIBRARY, t.registry()); },
         {"on"},
         kRefused,
         "the entry"},
        {"off when the journal is not on",
         [](JournalCommand& t) { t.register_server(MONVIA_SIMULATOR_LIBRARY, t.registry()); },
         {"off"},
         kRefused,
         "the entry"},
        {"off with no entry at all", [](JournalCommand&) {}, {"off"}, kRefused, "the journal is not on"},
        {"off after the registration changed",
         [](JournalCommand& t) {
             t.register_server(MONVIA_SIMULATOR_LIBRARY, t.registry());
             ASSERT_EQ(t.command({"on"}).code, kDone);
             t.register_server(MONVIA_EXAMPLE_SERVER, t.registry());  // as monvia-register writes it
         },
         {"off"},
         kRefused,
         "the entry"},
        {"show of a missing file",
         [](JournalCommand&) {},
         {"show", "/nonexistent/2026-01-01.journal"},
         kRefused,
         "there is no journal \"/nonexistent/2026-01-01.journal\""},
        {"show of a binary file",
         [](JournalCommand&) {},
         {"show", binary.string()},
         kRefused,
         "\"" + binary.string() + "\" is not a journal: it holds binary data (at byte 40)"},
        {"show of a folder",
         [](JournalCommand&) {},
         {"show", root_.string()},
         kRefused,
         "\"" + root_.string() + "\" is not a journal"},
        {"show with nothing recorded today",
         [](JournalCommand&) {},
         {"show"},
         kRefused,
         "there is no journal"},
        {"no command", [](JournalCommand&) {}, {}, kUsage, "say on, off, status or show"},
        {"an unknown command", [](JournalCommand&) {}, {"start"}, kUsage, "unknown command start"},
        {"an unknown option", [](JournalCommand&) {}, {"on", "--all"}, kUsage, "unknown option --all"},
        {"on with an operand",
         [](JournalCommand&) {},
         {"on", "/usr/lib/x.so"},
         kUsage,
         "on takes no operand"},
        {"--follow without show",
         [](JournalCommand&) {},
         {"status", "--follow"},
         kUsage,
         "--follow goes with show"},
        {"show of two files",
         [](JournalCommand&) {},
         {"show", "a", "b"},
         kUsage,
         "show takes one journal file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& f : fs::directory_iterator(registry())) fs::remove(f.path());
        c.prepare(*this);
        const auto before = snapshot(registry());
        const CommandResult r = command(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("monvia-journal: " + c.message, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(snapshot(registry()), before);
    }
}

TEST_F(JournalCommand, OffPutsBackTheUsersRegistrationByteForByte) {
    use_override_registry(false);
    const fs::path user = root_ / "home" / ".config" / "monvia" / "classes";
    fs::create_directories(user);
    // Written by hand: a comment, blanks, Windows line ends, no final line
    // break, readable by its owner only.
    const std::string mine =
        "# my cash device\r\n  library = " + std::string(MONVIA_SIMULATOR_LIBRARY) + "  \r\n\r\nvendor=acme";
    write_file(user / kEntryName, mine, 0600);
    const auto before = snapshot(user);

    const CommandResult on = command({"on"});
    ASSERT_EQ(on.code, kDone) << on.err;
    EXPECT_NE(read_file(user / kEntryName), mine);
    EXPECT_EQ(read_file(user / (std::string(kEntryName) + ".before-journal")), mine);
    const CommandResult status = command({"status"});
    EXPECT_NE(status.out.find("served by " + std::string(MONVIA_SIMULATOR_LIBRARY) + "\njournal: on"),
              std::string::npos)
        << status.out;

    const CommandResult off = command({"off"});
    ASSERT_EQ(off.code, kDone) << off.err;
    EXPECT_EQ(snapshot(user), before);
}

TEST_F(JournalCommand, OnAndOffForTheUserInFrontOfThePackagedDefault) {
    use_override_registry(false);
    register_server(MONVIA_SIMULATOR_LIBRARY, root_ / "share" / "monvia" / "classes");
    const fs::path user = root_ / "home" / ".config" / "monvia" / "classes";

    const std::string off_status = command({"status"}).out;
    EXPECT_EQ(off_status.rfind("class {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} (CashDevice): served by " +
                                   std::string(MONVIA_SIMULATOR_LIBRARY) + " (" + (root_ / "share").string(),
                               0),
              0u)
        << off_status;
    EXPECT_NE(off_status.find("packaged defaults)\njournal: off\ntoday's journal: " +
                              journal_today().string() + " (nothing written today yet)\n"),
              std::string::npos)
        << off_status;

    ASSERT_EQ(command({"on"}).code, kDone);
    const auto entry = parse_journal_entry(read_file(user / kEntryName));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->library, MONVIA_JOURNAL_LIBRARY);
    EXPECT_EQ(entry->fronts, MONVIA_SIMULATOR_LIBRARY);
    EXPECT_EQ(entry->previous, "none");

    ASSERT_EQ(command({"off"}).code, kDone);
    EXPECT_TRUE(snapshot(user).empty());
    EXPECT_EQ(command({"status"}).out, off_status);

    // --system: the administrator's folder, for every user.
    ASSERT_EQ(command({"on", "--system"}).code, kDone);
    EXPECT_TRUE(parse_journal_entry(read_file(root_ / "etc" / "monvia" / "classes" / kEntryName)));
    EXPECT_TRUE(snapshot(user).empty());
    EXPECT_EQ(command({"off", "--system"}).code, kDone);
    EXPECT_TRUE(snapshot(root_ / "etc" / "monvia" / "classes").empty());
}

TEST_F(JournalCommand, ShowPrintsAJournalAndFollowsItAsItGrows) {
    const fs::path file = root_ / "day.journal";
    write_file(file, "first line\n");
    EXPECT_EQ(command({"show", file.string()}).out, "first line\n");

    int looks = 0;
    std::ostringstream out, err;
    CommandOptions options;
    options.journal_library = MONVIA_JOURNAL_LIBRARY;
    options.follow_interval_ms = 10;
    options.stop_following = [&] {
        ++looks;
        if (looks == 2) std::ofstream(file, std::ios::app) << "second line\nthird, not yet ended";
        if (looks == 4) std::ofstream(file, std::ios::app) << " line\n";
        return looks >= 6;
    };
    EXPECT_EQ(run({"show", file.string(), "--follow"}, out, err, options), kDone);
    EXPECT_EQ(out.str(), "first line\nsecond line\nthird, not yet ended line\n");
}

TEST_F(JournalCommand, HelpShowsAnExampleJournal) {
    const CommandResult r = command({"--help"});
    EXPECT_EQ(r.code, kDone);
    EXPECT_NE(r.out.find("usage: monvia-journal on [--system]"), std::string::npos);
    EXPECT_NE(r.out.find("#1 Charge amount=125"), std::string::npos);
}

}  // namespace
}  // namespace monvia::journal::testing
