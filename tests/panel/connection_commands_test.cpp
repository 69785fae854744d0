#include "panel_harness.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

TEST(PanelStart, ShowsTheDefaultTextsAndCreatesNothing) {
    PanelHarness p;
    EXPECT_TRUE(p.window().shown());
    EXPECT_EQ(p.window().control("txtImp").text(), "Imp");
    EXPECT_EQ(p.window().control("txtHost").text(), "localhost");
    EXPECT_EQ(p.window().control("lblImport").text(), "Import");
    EXPECT_EQ(p.window().focus(), "cmdCharge");
    EXPECT_FALSE(p.form->has_device());
    EXPECT_TRUE(p.trace.empty());
}

TEST(Connect, Succeeds) {
    PanelHarness p;
    p.click("cmdConnect");
    EXPECT_EQ(p.trace, (T{"create", "Host='localhost'", "Connect", "box: Connect OK"}));
}

TEST(Connect, FailureShowsCodeAndText) {
    const struct {
        int16_t code;
        const char* text;
        const char* box;
    } cases[] = {
        {-3, "Device not found", "box: Connect NOK, -3-Device not found"},
        {12, "", "box: Connect NOK, 12-"},
        {0, "x", "box: Connect NOK, 0-x"},
        {-32768, "min", "box: Connect NOK, -32768-min"},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.fake->script("Connect", Step::nok());
        p.fake->error_code = c.code;
        p.fake->error_text = c.text;
        p.click("cmdConnect");
        EXPECT_EQ(p.trace,
                  (T{"create", "Host='localhost'", "Connect", "LastErrorCode", "LastErrorText", c.box}));
    }
}

TEST(Connect, HostIsPassedAsTyped) {
    const char* hosts[] = {"", "  spaced  ", "192.168.1.20", "h\xc3\xa9te"};
    for (const char* h : hosts) {
        PanelHarness p;
        p.window().type("txtHost", h);
        p.click("cmdConnect");
        EXPECT_EQ(p.trace, (T{"create", "Host='" + std::string(h) + "'", "Connect", "box: Connect OK"}));
    }
}

TEST(Connect, TwiceWritesHostAndConnectsTwiceOnOneInstance) {
    PanelHarness p;
    p.click("cmdConnect");
    p.click("cmdConnect");
    EXPECT_EQ(p.trace, (T{"create", "Host='localhost'", "Connect", "box: Connect OK", "Host='localhost'",
                          "Connect", "box: Connect OK"}));
}

TEST(Configuration, ShowsOnlyTheFixedTexts) {
    {
        PanelHarness p;
        p.click("cmdConfig");
        EXPECT_EQ(p.trace, (T{"create", "Configuration", "box: Configuration OK "}));
    }
    {
        PanelHarness p;
        p.fake->script("Configuration", Step::nok());
        p.fake->error_code = 7;
        p.click("cmdConfig");
        // No read of the error details.
        EXPECT_EQ(p.trace, (T{"create", "Configuration", "box: Configuration NOK "}));
    }
}

TEST(Color, WritesBothConstantsInOrderEveryTime) {
    PanelHarness p;
    p.click("cmdColor");
    p.click("cmdColor");
    EXPECT_EQ(p.trace, (T{"create", "ColorA=16761024", "ColorB=0", "ColorA=16761024", "ColorB=0"}));
}

TEST(Disconnect, AsFirstCommandCreatesTheInstanceAndShowsNothing) {
    PanelHarness p;
    p.click("cmdDisconnect");
    p.click("cmdConnect");
    EXPECT_EQ(p.trace, (T{"create", "Disconnect", "Host='localhost'", "Connect", "box: Connect OK"}));
}

TEST(ErrorTest, ShowsNothingWhateverHandleErrorReturns) {
    for (bool result : {true, false}) {
        PanelHarness p;
        Step s = result ? Step::ok() : Step::nok();
        p.fake->script("HandleError", s.with_flag(true));
        p.click("cmdErrorTest");
        EXPECT_EQ(p.trace, (T{"create", "HandleError(55,'Quenzo',False)"}));
    }
}

TEST(Panel, OneInstanceForTheWholeRun) {
    PanelHarness p;
    for (const char* b :
         {"cmdConnect", "cmdDisconnect", "cmdConfig", "cmdColor", "cmdErrorTest", "cmdChange", "cmdAddChange",
          "cmdCBControl", "cmdBlidCashBox", "cmdEmptyCB", "cmdGetLevels", "cmdGetAmounts", "cmdConnect"})
        p.click(b);
    EXPECT_EQ(std::count(p.trace.begin(), p.trace.end(), "create"), 1);
    EXPECT_FALSE(p.tk.program_ended());
}

TEST(Panel, ClosingTheWindowMakesNoCall) {
    PanelHarness p;
    p.click("cmdConnect");
    const size_t before = p.trace.size();
    p.window().close();
    EXPECT_EQ(p.trace.size(), before);
    EXPECT_TRUE(p.tk.program_ended());
    EXPECT_EQ(p.tk.exit_code(), 0);
}

TEST(Panel, ClosingRightAfterStartCreatesNothing) {
    PanelHarness p;
    p.window().close();
    EXPECT_TRUE(p.trace.empty());
}

// Interface-level failures in the commands that do not handle them: the
// command stops at the failing step, no report, the unhandled-failure report,
// program end.
TEST(ConnectionFailures, ClassNotRegisteredEndsTheProgram) {
    PanelHarness p;
    p.unregister();
    p.click("cmdConnect");
    EXPECT_EQ(p.trace, (T{kClassNotRegistered}));
    EXPECT_TRUE(p.tk.program_ended());
    EXPECT_NE(p.tk.exit_code(), 0);
    // The program has ended: a later click does nothing.
    p.window().click("cmdConnect");
    EXPECT_EQ(p.trace.size(), 1u);
}

TEST(ConnectionFailures, StopAtTheFailingStep) {
    const com::HRESULT kFail = E_FAIL;
    const struct {
        const char* button;
        const char* member;
        T trace;
    } cases[] = {
        {"cmdConnect", "Host", {"create", "Host='localhost'"}},
        {"cmdConnect", "Connect", {"create", "Host='localhost'", "Connect"}},
        {"cmdColor", "ColorA", {"create", "ColorA=16761024"}},
        {"cmdColor", "ColorB", {"create", "ColorA=16761024", "ColorB=0"}},
        {"cmdDisconnect", "Disconnect", {"create", "Disconnect"}},
        {"cmdConfig", "Configuration", {"create", "Configuration"}},
        {"cmdErrorTest", "HandleError", {"create", "HandleError(55,'Quenzo',False)"}},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.fake->script(c.member, Step::failure(kFail, "Device driver fault"));
        p.click(c.button);
        T expected = c.trace;
        expected.push_back("box: Run-time error '-2147467259 (80004005)':\n\nDevice driver fault");
        EXPECT_EQ(p.trace, expected) << c.button << " / " << c.member;
        EXPECT_TRUE(p.tk.program_ended());
    }
}

TEST(ConnectionFailures, ReadingTheErrorAfterAFalseConnect) {
    for (const char* member : {"LastErrorCode", "LastErrorText"}) {
        PanelHarness p;
        p.fake->script("Connect", Step::nok());
        p.fake->script(member, Step::failure(E_UNEXPECTED));
        p.click("cmdConnect");
        T expected{"create", "Host='localhost'", "Connect", "LastErrorCode"};
        if (std::string(member) == "LastErrorText") expected.push_back("LastErrorText");
        expected.push_back("box: Run-time error '-2147418113 (8000FFFF)':\n\nCatastrophic failure");
        EXPECT_EQ(p.trace, expected) << member;
    }
}

TEST(ConnectionFailures, CreationFailureDescribedByTheLayer) {
    PanelHarness p;
    p.create_fails = E_OUTOFMEMORY;
    p.click("cmdConfig");
    EXPECT_EQ(p.trace, (T{"create", "box: Run-time error '-2147024882 (8007000E)':\n\nOut of memory"}));
    EXPECT_FALSE(p.form->has_device());
}

}  // namespace
}  // namespace monvia::panel::testing_support

namespace monvia::panel::testing_support {
namespace {

TEST(ConnectionFailures, TheClassNotRegisteredReportNamesTheClass) {
    ui::SimToolkit tk;
    com::ClassRegistry empty;
    frmTest form(tk, empty);
    tk.window()->click("cmdConnect");
    ASSERT_EQ(tk.boxes().size(), 1u);
    EXPECT_NE(tk.boxes()[0].text.find("{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}"), std::string::npos);
}

}  // namespace
}  // namespace monvia::panel::testing_support
