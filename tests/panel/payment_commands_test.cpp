#include "panel_harness.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

// The amount commands end silently on a text that does not convert: no call,
// no box, no instance.
TEST(AmountRule, ATextThatDoesNotConvertEndsTheCommandSilently) {
    const char* texts[] = {"Imp", "", "   ", "2147483648", "-2147483649", "2147483647.5", "12abc", "1,5"};
    for (const char* button : {"cmdCharge", "cmdPay", "cmdPaySpecific", "cmdZbyAmount"}) {
        for (const char* text : texts) {
            PanelHarness p;
            p.window().type("txtImp", text);
            p.click(button);
            EXPECT_TRUE(p.trace.empty()) << button << " [" << text << "]";
            EXPECT_FALSE(p.form->has_device());
            EXPECT_EQ(p.window().control("txtImp").text(), text);
            EXPECT_FALSE(p.tk.program_ended());
        }
    }
}

TEST(AmountRule, ConvertsWithTheLocalesSeparator) {
    const struct {
        const char* sep;
        const char* text;
        const char* call;
    } cases[] = {
        {".", "  125  ", "Charge(125,0,0)"},
        {".", "-5", "Charge(-5,0,0)"},
        {".", "0", "Charge(0,0,0)"},
        {".", "12.5", "Charge(12,0,0)"},
        {".", "13.5", "Charge(14,0,0)"},
        {",", "12,5", "Charge(12,0,0)"},
        {",", "13,5", "Charge(14,0,0)"},
        {".", "-2.5", "Charge(-2,0,0)"},
        {".", "2147483647", "Charge(2147483647,0,0)"},
        {".", "-2147483648.5", "Charge(-2147483648,0,0)"},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.tk.set_decimal_separator(c.sep);
        p.type_amount(c.text);
        p.click("cmdCharge");
        ASSERT_GE(p.trace.size(), 2u) << c.text;
        EXPECT_EQ(p.trace[1], c.call) << c.text;
    }
}

TEST(Charge, ReportsTable) {
    const struct {
        Step step;
        T trace;
    } cases[] = {
        {Step::ok().out({125, 25}),
         {"create", "Charge(100,0,0)", "box: Charge OK, inserted = 125, returned = 25"}},
        {Step::ok(), {"create", "Charge(100,0,0)", "box: Charge OK, inserted = 0, returned = 0"}},
        {Step::nok(),
         {"create", "Charge(100,0,0)", "LastErrorCode", "LastErrorText",
          "box: Charge NOK, inserted = 0, returned = 0, -3-Jammed"}},
        {Step::nok().out({50, -1}),
         {"create", "Charge(100,0,0)", "LastErrorCode", "LastErrorText",
          "box: Charge NOK, inserted = 50, returned = -1, -3-Jammed"}},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.fake->error_code = -3;
        p.fake->error_text = "Jammed";
        p.fake->script("Charge", c.step);
        p.type_amount("100");
        p.click("cmdCharge");
        EXPECT_EQ(p.trace, c.trace);
    }
}

TEST(PaymentCommands, OkAndNokTexts) {
    const struct {
        const char* button;
        const char* member;
        Step ok;
        const char* call;
        const char* ok_box;
        const char* nok_box;  // with outputs unset, code 12 and an empty text
    } cases[] = {
        {"cmdPaySpecific", "PaySpecific", Step::ok().out({70}), "PaySpecific(70,0)",
         "box: Pay Specific OK, Paid = 70", "box: Pay Specific NOK, Paid = 0, 12-"},
        {"cmdChange", "Change", Step::ok().out({200, 130}), "Change(0,0)",
         "box: Change OK, inserted = 200, paid = 130", "box: Change NOK, inserted = 0, paid = 0, 12-"},
        {"cmdAddChange", "AddChange", Step::ok().out({500}), "AddChange(0)", "box: AddChange OK, added = 500",
         "box: AddChange NOK, added = 0, 12-"},
        {"cmdCharge", "Charge", Step::ok().out({-7, 0}), "Charge(70,0,0)",
         "box: Charge OK, inserted = -7, returned = 0", "box: Charge NOK, inserted = 0, returned = 0, 12-"},
    };
    for (const auto& c : cases) {
        {
            PanelHarness p;
            p.type_amount("70");
            p.fake->script(c.member, c.ok);
            p.click(c.button);
            EXPECT_EQ(p.trace, (T{"create", c.call, c.ok_box}));
        }
        {
            PanelHarness p;
            p.type_amount("70");
            p.fake->script(c.member, Step::nok());
            p.fake->error_code = 12;
            p.click(c.button);
            EXPECT_EQ(p.trace, (T{"create", c.call, "LastErrorCode", "LastErrorText", c.nok_box}));
        }
    }
}

TEST(PaymentCommands, ChangeAndAddChangeIgnoreTheAmountField) {
    for (const char* text : {"Imp", "", "55"}) {
        PanelHarness p;
        p.window().type("txtImp", text);
        p.click("cmdChange");
        p.click("cmdAddChange");
        EXPECT_EQ(p.trace, (T{"create", "Change(0,0)", "box: Change OK, inserted = 0, paid = 0",
                              "AddChange(0)", "box: AddChange OK, added = 0"}));
    }
}

TEST(Pay, SuccessMakesOneCallAndShowsOneBox) {
    PanelHarness p;
    p.type_amount("50");
    p.fake->script("Pay", Step::ok().out({50}));
    p.click("cmdPay");
    EXPECT_EQ(p.trace, (T{"create", "Pay(50,0)", "box: Pay OK, Paid = 50"}));
}

TEST(Pay, FailureFollowUp) {
    const struct {
        Step handle;
        const char* last_box;
    } cases[] = {
        {Step::ok(), "box: OK -> False"},
        {Step::ok().with_flag(true), "box: OK -> True"},
        {Step::nok(), "box: PEFF"},
        {Step::nok().with_flag(true), "box: PEFF"},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.type_amount("50");
        p.fake->script("Pay", Step::nok().out({20}));
        p.fake->script("HandleError", c.handle);
        p.fake->error_code = -3;
        p.fake->error_text = "Not enough change";
        p.click("cmdPay");
        EXPECT_EQ(p.trace, (T{"create", "Pay(50,0)", "LastErrorCode", "LastErrorText",
                              "box: Pay NOK, Paid = 20, -3-Not enough change", "LastErrorCode",
                              "LastErrorText", "HandleError(-3,'Not enough change',False)", c.last_box}));
    }
}

TEST(Pay, TheFollowUpReadsTheErrorAfresh) {
    PanelHarness p;
    p.type_amount("1");
    p.fake->script("Pay", Step::nok());
    p.fake->error_code = 4;
    p.fake->error_text = "first";
    // The first box is open while the component's error changes.
    p.tk.while_box_open([&](const ui::SimToolkit::Box&) {
        p.fake->error_code = 5;
        p.fake->error_text = "second";
    });
    p.click("cmdPay");
    EXPECT_EQ(p.trace[4], "box: Pay NOK, Paid = 0, 4-first");
    EXPECT_EQ(p.trace[7], "HandleError(5,'second',False)");
}

}  // namespace
}  // namespace monvia::panel::testing_support
