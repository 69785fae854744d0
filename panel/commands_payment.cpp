// Payment commands: Charge, Pay (with its error follow-up), Pay Specific,
// Change and AddChange.

#include "panel_window.h"

namespace monvia::panel {

void frmTest::cmdCharge_Click() {
    const auto amount = read_amount();
    if (!amount) return;
    // From the first component call on, failures are not handled here.
    int32_t inserted = 0, returned = 0;
    const bool result = device().Charge(*amount, inserted, returned);
    report_outcome(result, "Charge OK, inserted = ", "Charge NOK, inserted = ", [&] {
        return decimal(inserted) + ", returned = " + decimal(returned);
    });
}

void frmTest::cmdPaySpecific_Click() {
    const auto amount = read_amount();
    if (!amount) return;
    int32_t paid = 0;
    const bool result = device().PaySpecific(*amount, paid);
    report_outcome(result,
                   "Pay Specific OK, Paid = ", "Pay Specific NOK, Paid = ", [&] { return decimal(paid); });
}

void frmTest::cmdChange_Click() {
    int32_t inserted = 0, paid = 0;
    const bool result = device().Change(inserted, paid);
    report_outcome(result, "Change OK, inserted = ", "Change NOK, inserted = ", [&] {
        return decimal(inserted) + ", paid = " + decimal(paid);
    });
}

void frmTest::cmdAddChange_Click() {
    int32_t added = 0;
    const bool result = device().AddChange(added);
    report_outcome(result,
                   "AddChange OK, added = ", "AddChange NOK, added = ", [&] { return decimal(added); });
}

// Pay stays in error-resume mode after reading its amount: an interface-level
// failure is reported as a NOK and does not end the program. After the
// component's own NOK, and only then, its error goes to its handler.
void frmTest::cmdPay_Click() {
    const auto amount = read_amount();
    if (!amount) return;
    int32_t paid = 0;
    const Outcome outcome =
        report_outcome_resumed([&] { return device().Pay(*amount, paid); },
                               "Pay OK, Paid = ", "Pay NOK, Paid = ", [&] { return decimal(paid); });
    if (outcome != Outcome::Nok) return;

    // Follow-up: the error is read afresh and handed to the component's handler.
    ErrorResume resume;
    ErrorDetails again;
    VARIANT_BOOL flag = kFalse;
    bool handled = false;
    const bool completed = resume.step([&] { again.code = device().LastErrorCode(); }) && resume.step([&] {
        again.text = device().LastErrorText();
    }) && resume.step([&] {
        handled = device().HandleError(static_cast<int32_t>(again.code), again.text, flag);
    });
    if (completed && handled)
        report(std::string("OK -> ") + bool_word(flag != 0));
    else
        report("PEFF");
}

}  // namespace monvia::panel
