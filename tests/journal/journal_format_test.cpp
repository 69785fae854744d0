// How values appear in a journal line: whatever a component returns, each
// event stays one line of printable text, and nothing is lost in the escape.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "com/registry.h"
#include "journal_entry.h"
#include "journal_line.h"
#include "test_env.h"

namespace monvia::journal {
namespace fs = std::filesystem;
namespace {

TEST(JournalFormat, StringsAreQuotedAndEscapedOntoOneLine) {
    const struct {
        std::u16string in;
        std::string shown;
    } cases[] = {
        {u"", R"("")"},
        {u"Hopper empty", R"("Hopper empty")"},
        {u"say \"no\"", R"("say \"no\"")"},
        {u"C:\\dev", R"("C:\\dev")"},
        {u"two\nlines\r\tand a tab", R"("two\nlines\r\tand a tab")"},
        {std::u16string(u"nul\0here", 8), R"("nul\u0000here")"},
        {u"\x1b[31mred", R"("\u001B[31mred")"},
        {u"del\x7f", R"("del\u007F")"},
        {u"c1\x85next", R"("c1\u0085next")"},
        {u"line\u2028sep", R"("line\u2028sep")"},
        {u"Caf\u00e9 \u20ac5",
         "\"Caf\xC3\xA9 \xE2\x82\xAC"
         "5\""},
        {u"\U0001F4B6", "\"\xF0\x9F\x92\xB6\""},
        {std::u16string(1, char16_t(0xD800)) + u"x", R"("\uD800x")"},
        {std::u16string(1, char16_t(0xDC00)), R"("\uDC00")"},
    };
    for (const auto& c : cases) EXPECT_EQ(quote(c.in), c.shown);
}

TEST(JournalFormat, AVeryLongStringIsCutAndSaysHowMuchWasLeftOut) {
    const std::string shown = quote(std::u16string(5000, u'x'));
    EXPECT_EQ(shown, "\"" + std::string(4096, 'x') + "\"...(904 more characters)");
}

TEST(JournalFormat, FieldsShowArgumentsValuesPassedInAndResults) {
    int32_t paid = 50;
    int32_t* none = nullptr;
    VARIANT_BOOL yes = -1, no = 0, odd = 1;
    Fields f;
    f.value("amount", 125).in("paid", &paid).in("gone", none).text("->").out("paid", &paid).out("gone", none);
    f.result(&yes).result(&no).result(&odd);
    EXPECT_EQ(f.str(), " amount=125 &paid=50 &gone=null -> paid=50 result=True result=False result=1");
}

TEST(JournalFormat, AJournalEntryReadsBackWhatWasWritten) {
    const JournalEntry written{"/usr/lib/monvia/libmonvia_journal.so", "/opt/acme/libacme.so", "none"};
    const auto read = parse_journal_entry(compose_entry(written));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->library, written.library);
    EXPECT_EQ(read->fronts, written.fronts);
    EXPECT_EQ(read->previous, written.previous);
    EXPECT_FALSE(parse_journal_entry("library=/opt/acme/libacme.so\n"));
}

// The journal reads an entry's lines as the registry does: the library it
// finds is the one the registry loads, whatever the spelling of the keys.
TEST(JournalFormat, AJournalEntryIsReadAsTheRegistryReadsIt) {
    const struct {
        const char* content;
        const char* library;
        const char* fronts;
    } cases[] = {
        {"library=/j.so\nfronts=/sim.so\n", "/j.so", "/sim.so"},
        {"  LIBRARY = /j.so  \r\nFronts=/sim.so\r\n", "/j.so", "/sim.so"},
        {"# library=/old.so\n\nlibrary=/j.so\nno equals sign\nfronts=/sim.so", "/j.so", "/sim.so"},
        {"library=/j.so\nlibrary=/other.so\nfronts=/sim.so\nfronts=/other.so\n", "/j.so", "/sim.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const auto journal = parse_journal_entry(c.content);
        ASSERT_TRUE(journal);
        EXPECT_EQ(journal->library, c.library);
        EXPECT_EQ(journal->fronts, c.fronts);
        EXPECT_EQ(journal->previous, "none");
        EXPECT_EQ(com::parse_entry(c.content), fs::path(c.library));
    }
}

// Journals go to the user's state folder: an absolute XDG_STATE_HOME, else
// ~/.local/state, with the home folder found as the registry finds it (the
// password database when HOME is unset or empty).
TEST(JournalFormat, TheJournalFolderIsTheUsersStateFolder) {
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_TRUE(me && me->pw_dir);
    const fs::path own_home = me->pw_dir;
    const struct {
        const char* state;
        const char* home;
        fs::path expected;
    } cases[] = {
        {"/var/st", "/h", "/var/st/monvia/journal"},
        {"relative", "/h", "/h/.local/state/monvia/journal"},
        {"", "/h", "/h/.local/state/monvia/journal"},
        {nullptr, "/h", "/h/.local/state/monvia/journal"},
        {nullptr, "", own_home / ".local/state/monvia/journal"},
        {nullptr, nullptr, own_home / ".local/state/monvia/journal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.string());
        testing_env::ScopedEnv state("XDG_STATE_HOME", c.state);
        testing_env::ScopedEnv home("HOME", c.home);
        EXPECT_EQ(journal_directory(), c.expected);
        EXPECT_EQ(com::home_directory(), c.home && *c.home ? fs::path(c.home) : own_home);
    }
}

}  // namespace
}  // namespace monvia::journal
