// For every command and every component call position in it (the creation of
// the instance included), an interface-level failure at that position: the
// commands that do not handle failures stop there, with the unhandled-failure
// report and program end and no later call; Pay and Z by amount report the
// failure as a NOK, never as success, and the program goes on.

#include "panel_harness.h"
#include "status_text.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

constexpr com::HRESULT kFault = E_FAIL;
const std::string kFaultNumber = "-2147467259";
const std::string kFaultText = testing_env::status_text(kFault, "Unspecified error");
const std::string kUnhandled = "box: Run-time error '-2147467259 (80004005)':\n\n" + kFaultText;

// Puts each command on its longest path: every result False, so that the
// error details are read after each call.
void script_longest_path(PanelHarness& p, const std::string& button) {
    p.fake->error_code = 4;
    p.fake->error_text = "Refused";
    p.type_amount("100");
    const struct {
        const char* button;
        const char* member;
        int times;
    } noks[] = {
        {"cmdConnect", "Connect", 1},
        {"cmdConfig", "Configuration", 1},
        {"cmdCharge", "Charge", 1},
        {"cmdPay", "Pay", 1},
        {"cmdPaySpecific", "PaySpecific", 1},
        {"cmdChange", "Change", 1},
        {"cmdAddChange", "AddChange", 1},
        {"cmdCBControl", "CashBoxControl", 1},
        {"cmdBlidCashBox", "CashBoxControl", 1},
        {"cmdZbyAmount", "CashBoxControl", 1},
        {"cmdEmptyCB", "EmptyCashBox", 2},
        {"cmdGetLevels", "GetLevels", 6},
        {"cmdGetAmounts", "GetAmounts", 1},
        {"cmdErrorTest", "HandleError", 1},
    };
    for (const auto& n : noks)
        if (button == n.button)
            for (int i = 0; i < n.times; ++i) p.fake->script(n.member, Step::nok());
    if (button == "cmdPay") p.fake->script("HandleError", Step::ok());
}

bool is_box(const std::string& e) { return e.rfind("box: ", 0) == 0; }

// The trace up to and including the k-th call (0: the creation).
T prefix_through_call(const T& trace, size_t k) {
    T out;
    size_t calls = 0;
    for (const auto& e : trace) {
        out.push_back(e);
        if (!is_box(e) && calls++ == k) break;
    }
    return out;
}

size_t count_calls(const T& trace) {
    return static_cast<size_t>(
        std::count_if(trace.begin(), trace.end(), [](const std::string& e) { return !is_box(e); }));
}

T run_with_fault(const std::string& button, size_t position) {
    PanelHarness p;
    script_longest_path(p, button);
    if (position == 0)
        p.create_fails = kFault;
    else
        p.fake->fail_call(static_cast<int>(position), kFault);
    EXPECT_TRUE(p.window().click(button));
    T t = p.trace;
    t.push_back(p.tk.program_ended() ? "(ended)" : "(running)");
    return t;
}

T baseline(const std::string& button) {
    PanelHarness p;
    script_longest_path(p, button);
    EXPECT_TRUE(p.window().click(button));
    return p.trace;
}

TEST(FaultInjection, CommandsThatDoNotHandleFailuresEndTheProgramAtTheFailingCall) {
    for (const char* button : {"cmdConnect", "cmdDisconnect", "cmdConfig", "cmdColor", "cmdErrorTest",
                               "cmdCharge", "cmdPaySpecific", "cmdChange", "cmdAddChange", "cmdCBControl",
                               "cmdBlidCashBox", "cmdEmptyCB", "cmdGetLevels", "cmdGetAmounts"}) {
        const T base = baseline(button);
        const size_t calls = count_calls(base);
        ASSERT_GE(calls, 2u) << button;
        for (size_t k = 0; k < calls; ++k) {
            T expected = prefix_through_call(base, k);
            expected.push_back(kUnhandled);
            expected.push_back("(ended)");
            EXPECT_EQ(run_with_fault(button, k), expected) << button << " failing at call " << k;
        }
    }
}

TEST(FaultInjection, PayReportsEveryFailureAsNok) {
    const T base = baseline("cmdPay");
    ASSERT_EQ(base, (T{"create", "Pay(100,0)", "LastErrorCode", "LastErrorText",
                       "box: Pay NOK, Paid = 0, 4-Refused", "LastErrorCode", "LastErrorText",
                       "HandleError(4,'Refused',False)", "box: OK -> False"}));
    const std::string mended = "box: Pay NOK, Paid = 0, " + kFaultNumber + "-" + kFaultText;
    const T follow_up{"LastErrorCode", "LastErrorText", "HandleError(4,'Refused',False)", "box: OK -> False",
                      "(running)"};
    const struct {
        size_t position;
        T expected;
    } cases[] = {
        {0, {"create", mended, "(running)"}},
        {1, {"create", "Pay(100,0)", mended, "(running)"}},
        // The NOK shows the failure; the follow-up still runs.
        {2, {"create", "Pay(100,0)", "LastErrorCode", mended}},
        {3, {"create", "Pay(100,0)", "LastErrorCode", "LastErrorText", mended}},
        // A failure in the follow-up is never shown as "OK -> ".
        {4,
         {"create", "Pay(100,0)", "LastErrorCode", "LastErrorText", "box: Pay NOK, Paid = 0, 4-Refused",
          "LastErrorCode", "box: PEFF", "(running)"}},
        {5,
         {"create", "Pay(100,0)", "LastErrorCode", "LastErrorText", "box: Pay NOK, Paid = 0, 4-Refused",
          "LastErrorCode", "LastErrorText", "box: PEFF", "(running)"}},
        {6,
         {"create", "Pay(100,0)", "LastErrorCode", "LastErrorText", "box: Pay NOK, Paid = 0, 4-Refused",
          "LastErrorCode", "LastErrorText", "HandleError(4,'Refused',False)", "box: PEFF", "(running)"}},
    };
    for (auto c : cases) {
        if (c.position == 2 || c.position == 3)
            c.expected.insert(c.expected.end(), follow_up.begin(), follow_up.end());
        EXPECT_EQ(run_with_fault("cmdPay", c.position), c.expected) << "failing at call " << c.position;
    }
}

TEST(FaultInjection, ZByAmountReportsEveryFailureAsNok) {
    const T base = baseline("cmdZbyAmount");
    ASSERT_EQ(base, (T{"create", "CashBoxControl(15,0,0,100)", "LastErrorCode", "LastErrorText",
                       "box: Z by Amount NOK, CoinsCBValue 0, NotesCBValue 0, ChangeValue 100, 4-Refused"}));
    const std::string mended = "box: Z by Amount NOK, CoinsCBValue 0, NotesCBValue 0, ChangeValue 100, " +
                               kFaultNumber + "-" + kFaultText;
    for (size_t k = 0; k < 4; ++k) {
        T expected = prefix_through_call(base, k);
        expected.push_back(mended);
        expected.push_back("(running)");
        EXPECT_EQ(run_with_fault("cmdZbyAmount", k), expected) << "failing at call " << k;
    }
}

}  // namespace
}  // namespace monvia::panel::testing_support
