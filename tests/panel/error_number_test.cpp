// The number and text a failing status is shown with: classic components'
// own error numbers, and system messages whose insert marks have nothing to
// fill them.

#include "panel_harness.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

TEST(ErrorNumber, TheControlFacilityGivesItsLowSixteenBits) {
    const struct {
        uint32_t status;
        int32_t number;
    } cases[] = {
        {0x800A0005, 5},            // raised as error 5 by a classic component
        {0x800A01A8, 424},          //
        {0x800AFFFF, 65535},        // the low 16 bits as they are, not as a signed word
        {0x800A0000, 0},            //
        {0x80004005, -2147467259},  // every other status is its own number
        {0x80070005, -2147024891},  //
        {0x8009000A, -2146893814},  // another facility with the same low bits
        {0xA00A0005, -1609957371},  // the customer bit: not the system's control facility
        {0x000A0005, 0x000A0005},   // a succeeding status of that facility
    };
    for (const auto& c : cases)
        EXPECT_EQ(com::error_number(com::hr(c.status)), c.number) << com::hex(com::hr(c.status));
}

TEST(ErrorNumber, TheUnhandledFailureReportShowsTheClassicNumber) {
    const struct {
        uint32_t status;
        const char* report;
    } cases[] = {
        {0x800A0005, "Run-time error '5':\n\nInvalid procedure call"},
        {0x800A01A8, "Run-time error '424':\n\nInvalid procedure call"},
        {0x80004005, "Run-time error '-2147467259 (80004005)':\n\nInvalid procedure call"},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.fake->script("Connect", Step::failure(com::hr(c.status), "Invalid procedure call"));
        p.click("cmdConnect");
        EXPECT_EQ(p.trace, (T{"create", "Host='localhost'", "Connect", std::string("box: ") + c.report}));
    }
}

TEST(ErrorNumber, AStepSkippedByPayShowsTheClassicNumber) {
    PanelHarness p;
    p.type_amount("40");
    p.fake->script("Pay", Step::failure(com::hr(0x800A0005), "Invalid procedure call"));
    p.click("cmdPay");
    EXPECT_NE(std::find(p.trace.begin(), p.trace.end(), "box: Pay NOK, Paid = 0, 5-Invalid procedure call"),
              p.trace.end())
        << ::testing::PrintToString(p.trace);
}

TEST(MessageInserts, AreFilledInOrderOrRemovedWithWhatLedIntoThem) {
    const struct {
        const char* message;
        std::vector<std::string> inserts;
        const char* text;
    } cases[] = {
        {"Bad EXE format for %1.\r\n", {"\"C:\\a b\\x.dll\""}, "Bad EXE format for \"C:\\a b\\x.dll\".\r\n"},
        {"Bad EXE format for %1.\r\n", {}, "Bad EXE format.\r\n"},
        {"%1 is not a valid application.", {}, "Is not a valid application."},
        {"%1 is not a valid application.", {"x.dll"}, "x.dll is not a valid application."},
        {"Message 0x%1 not found in file %2.", {}, "Message not found."},
        {"Message 0x%1 not found in file %2.",
         {"13D", "kernel32"},
         "Message 0x13D not found in file kernel32."},
        {"Message 0x%1 not found in file %2.", {"13D"}, "Message 0x13D not found."},
        {"Copied %1!d! of %2!s! files", {}, "Copied of files"},
        {"Copied %1!d! of %2!s! files", {"3", "4"}, "Copied 3 of 4 files"},
        {"The name (%1) is in use", {}, "The name is in use"},
        {"The file '%1' is locked", {}, "The file is locked"},
        {"%2 before %1", {"one", "two"}, "two before one"},
        {"Insert %12 here", {}, "Insert here"},
        {"100%% done%0 and more", {}, "100% done"},
        {"Line%nbreak%ttab%.", {}, "Line\nbreak\ttab."},
        {"Nothing to fill.", {"unused"}, "Nothing to fill."},
        {"Ends in a percent %", {}, "Ends in a percent %"},
    };
    for (const auto& c : cases) EXPECT_EQ(com::fill_inserts(c.message, c.inserts), c.text) << c.message;
}

TEST(MessageInserts, NoSystemMessageShowsAnUnfilledMark) {
    // Statuses whose system messages (where the system has them) take inserts.
    for (uint32_t status : {0x800700C1u, 0x800700B6u, 0x8007013Du, 0x800700C0u, 0x8007007Fu}) {
        const std::string text = com::describe(com::hr(status));
        EXPECT_EQ(text.find('%'), std::string::npos) << com::hex(com::hr(status)) << ": " << text;
    }
}

}  // namespace
}  // namespace monvia::panel::testing_support
