#include "panel_harness.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

TEST(CashBoxControl, ModesTextsAndArguments) {
    const struct {
        const char* button;
        const char* call;
        const char* ok_lead;
        const char* nok_lead;
    } cases[] = {
        {"cmdCBControl", "CashBoxControl(0,0,0,0)", "CB Control OK, CoinsCBValue ",
         "CB Control NOK, CoinsCBValue "},
        {"cmdBlidCashBox", "CashBoxControl(7,0,0,0)", "BlindCashBox OK, CoinsCBValue ",
         "BlindCashBox NOK, CoinsCBValue "},
    };
    for (const auto& c : cases) {
        // Whatever the amount field holds, ChangeValue goes in as 0.
        for (const char* amount : {"Imp", "999"}) {
            PanelHarness p;
            p.type_amount(amount);
            p.fake->script("CashBoxControl", Step::ok().out({120, 500, 0}));
            p.click(c.button);
            EXPECT_EQ(p.trace,
                      (T{"create", c.call,
                         std::string("box: ") + c.ok_lead + "120, NotesCBValue 500, ChangeValue 0"}));
        }
        PanelHarness p;
        p.fake->script("CashBoxControl", Step::nok().out({-1}));
        p.fake->error_code = -3;
        p.fake->error_text = "Cash box missing";
        p.click(c.button);
        EXPECT_EQ(p.trace, (T{"create", c.call, "LastErrorCode", "LastErrorText",
                              std::string("box: ") + c.nok_lead +
                                  "-1, NotesCBValue 0, ChangeValue 0, -3-Cash box missing"}));
    }
}

TEST(ZByAmount, PassesTheAmountInChangeValue) {
    const struct {
        const char* amount;
        const char* call;
    } cases[] = {{"250", "CashBoxControl(15,0,0,250)"},
                 {"0", "CashBoxControl(15,0,0,0)"},
                 {"-40", "CashBoxControl(15,0,0,-40)"}};
    for (const auto& c : cases) {
        PanelHarness p;
        p.type_amount(c.amount);
        p.click("cmdZbyAmount");
        EXPECT_EQ(
            p.trace,
            (T{"create", c.call,
               std::string("box: Z by Amount OK, CoinsCBValue 0, NotesCBValue 0, ChangeValue ") + c.amount}));
    }
}

TEST(ZByAmount, ReportsTheValuesAfterTheCall) {
    PanelHarness p;
    p.type_amount("250");
    p.fake->script("CashBoxControl", Step::nok().out({10, 20, 30}));
    p.fake->error_code = 9;
    p.fake->error_text = "Over limit";
    p.click("cmdZbyAmount");
    EXPECT_EQ(p.trace,
              (T{"create", "CashBoxControl(15,0,0,250)", "LastErrorCode", "LastErrorText",
                 "box: Z by Amount NOK, CoinsCBValue 10, NotesCBValue 20, ChangeValue 30, 9-Over limit"}));
}

TEST(EmptyCB, CoinsFirstThenNotesWithTheSameValue) {
    const struct {
        Step coins;
        Step notes;
        T trace;
    } cases[] = {
        {Step::ok().out({340}),
         Step::ok().out({9000}),
         {"create", "EmptyCashBox(0,0)", "box: COINS EmptyCashBox OK, Value = 340", "EmptyCashBox(1,340)",
          "box: NOTES EmptyCashBox OK, Value = 9000"}},
        // A False coins call does not stop the notes call; a notes call that
        // writes nothing shows what the coins call left.
        {Step::nok().out({15}),
         Step::nok(),
         {"create", "EmptyCashBox(0,0)", "LastErrorCode", "LastErrorText",
          "box: COINS EmptyCashBox NOK, Value = 15, 2-Empty", "EmptyCashBox(1,15)", "LastErrorCode",
          "LastErrorText", "box: NOTES EmptyCashBox NOK, Value = 15, 2-Empty"}},
    };
    for (const auto& c : cases) {
        PanelHarness p;
        p.fake->error_code = 2;
        p.fake->error_text = "Empty";
        p.fake->script("EmptyCashBox", c.coins);
        p.fake->script("EmptyCashBox", c.notes);
        p.click("cmdEmptyCB");
        EXPECT_EQ(p.trace, c.trace);
    }
}

}  // namespace
}  // namespace monvia::panel::testing_support
