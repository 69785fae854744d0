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

// Pay stays in error-resume mode after reading its amount: the program does
// not end on an interface-level failure here. Such a failure is never shown
// as success, though: it is reported as a NOK with the failure's own number
// and description in place of the component's error code and text.
void frmTest::cmdPay_Click() {
    const auto amount = read_amount();
    if (!amount) return;

    ErrorResume resume;
    int32_t paid = 0;
    bool result = false;
    const auto nok = [&](const ErrorDetails& e) { report(nok_report("Pay NOK, Paid = ", decimal(paid), e)); };

    if (!resume.step([&] { result = device().Pay(*amount, paid); })) {
        nok(details_of(*resume.last()));
        return;
    }
    if (result) {
        report(ok_report("Pay OK, Paid = ", decimal(paid)));
        return;
    }

    nok(read_error_resumed(resume));

    // Follow-up: the error is read afresh and handed to the component's handler.
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
