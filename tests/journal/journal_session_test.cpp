// The panel's scripted session with and without the journal in front of the
// server: the same boxes, and a journal of exactly the calls made.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal_fixture.h"
#include "panel_session.h"

namespace monvia::journal::testing {
namespace {

Texts scripted_session(const fs::path& registry_dir) {
    com::ClassRegistry registry{registry_dir};
    return monvia::journal::testing::scripted_session(registry);
}

class JournalSession : public JournalTest {
protected:
    void SetUp() override {
        JournalTest::SetUp();
        const fs::path scenario = root_ / "scenario.txt";
        write_file(scenario, "Pay false code=2 text=\"Hopper empty\"\n");
        scenario_ = std::make_unique<testing_env::ScopedEnv>("MONVIA_CASHDEVICE_SCENARIO", scenario.c_str());
    }
    void TearDown() override {
        scenario_.reset();
        JournalTest::TearDown();
    }
    std::unique_ptr<testing_env::ScopedEnv> scenario_;
};

TEST_F(JournalSession, TheSimulatorGivesTheSameBoxesAndTheJournalHoldsEveryCall) {
    register_server(MONVIA_SIMULATOR_LIBRARY, registry());
    const Texts direct = scripted_session(registry());
    ASSERT_EQ(direct.size(), 13u);
    EXPECT_EQ(direct[3], "Testing: OK -> False");
    EXPECT_EQ(direct[2], "Testing: Pay NOK, Paid = 0, 2-Hopper empty");
    EXPECT_FALSE(fs::exists(journal_today())) << "nothing journals without the journal";

    ASSERT_EQ(command({"on"}).code, kDone);
    EXPECT_EQ(scripted_session(registry()), direct);

    const Lines lines = journal_lines(journal_today());
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    std::ofstream(MONVIA_SESSION_JOURNAL_OUTPUT, std::ios::binary) << text;
    // And the file as the journal wrote it, times and all, to show.
    fs::copy_file(journal_today(), MONVIA_SESSION_JOURNAL_OUTPUT ".as-written",
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(text, read_file(MONVIA_SESSION_JOURNAL))
        << "this run's journal is in " MONVIA_SESSION_JOURNAL_OUTPUT;
}

TEST_F(JournalSession, AnotherServerGivesTheSameBoxesThroughTheJournal) {
    register_server(MONVIA_EXAMPLE_SERVER, registry());
    const Texts direct = scripted_session(registry());
    ASSERT_FALSE(direct.empty());
    ASSERT_EQ(command({"on"}).code, kDone);
    EXPECT_EQ(scripted_session(registry()), direct);

    const Lines lines = journal_lines(journal_today());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(),
              "#1 create class={3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} server=\"<example>\" "
              "entry=\"<root>/registry/" +
                  std::string(kEntryName) + "\" -> ok");
    EXPECT_EQ(lines.back(), "#1 release");
    // Every call is one line of object 1, between its creation and release.
    for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("#1 ", 0), 0u) << lines[i];
    EXPECT_NE(std::find(lines.begin(), lines.end(), "#1 Pay amount=50 &paid=0 -> paid=0 result=False"),
              lines.end());
}

}  // namespace
}  // namespace monvia::journal::testing
