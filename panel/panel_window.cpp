#include "panel_window.h"

#include "panel_layout.h"
#include "ui/guard.h"

namespace monvia::panel {

frmTest::frmTest(ui::Toolkit& toolkit, com::ClassRegistry& registry)
    : toolkit_(toolkit),
      registry_(registry),
      window_(toolkit.create_window(frmTest_layout())),
      txtImp(window_->control("txtImp")),
      txtHost(window_->control("txtHost")) {
    bind("cmdConnect", &frmTest::cmdConnect_Click);
    bind("cmdDisconnect", &frmTest::cmdDisconnect_Click);
    bind("cmdConfig", &frmTest::cmdConfig_Click);
    bind("cmdColor", &frmTest::cmdColor_Click);
    bind("cmdErrorTest", &frmTest::cmdErrorTest_Click);
    bind("cmdCharge", &frmTest::cmdCharge_Click);
    bind("cmdPay", &frmTest::cmdPay_Click);
    bind("cmdPaySpecific", &frmTest::cmdPaySpecific_Click);
    bind("cmdChange", &frmTest::cmdChange_Click);
    bind("cmdAddChange", &frmTest::cmdAddChange_Click);
    bind("cmdCBControl", &frmTest::cmdCBControl_Click);
    bind("cmdBlidCashBox", &frmTest::cmdBlidCashBox_Click);
    bind("cmdZbyAmount", &frmTest::cmdZbyAmount_Click);
    bind("cmdEmptyCB", &frmTest::cmdEmptyCB_Click);
    bind("cmdGetLevels", &frmTest::cmdGetLevels_Click);
    bind("cmdGetAmounts", &frmTest::cmdGetAmounts_Click);
    window_->on_unload(guarded(toolkit_, kProgramTitle, [this] { Form_Unload(); }));
}

// The instance is released here, with the window object, and never earlier.
frmTest::~frmTest() = default;

void frmTest::bind(const char* control, void (frmTest::*handler)()) {
    window_->control(control).on_click(
        guarded(toolkit_, kProgramTitle, [this, handler] { (this->*handler)(); }));
}

CashDevice& frmTest::device() {
    if (!device_) device_.emplace(registry_.create<ICashDevice>(CLSID_CashDevice, IID_ICashDevice));
    return *device_;
}

void frmTest::report(const std::string& text) { toolkit_.message_box(kProgramTitle, text); }

ErrorDetails frmTest::read_error() {
    ErrorDetails e;
    e.code = device().LastErrorCode();
    e.text = device().LastErrorText();
    return e;
}

ErrorDetails frmTest::read_error_resumed() {
    ErrorResume resume;
    ErrorDetails e;
    if (resume.step([&] { e.code = device().LastErrorCode(); }) &&
        resume.step([&] { e.text = device().LastErrorText(); }))
        return e;
    return details_of(*resume.last());
}

void frmTest::report_outcome(bool result, std::string_view ok_lead, std::string_view nok_lead,
                             const std::function<std::string()>& values) {
    if (result) {
        report(ok_report(ok_lead, values()));
        return;
    }
    const ErrorDetails error = read_error();
    report(nok_report(nok_lead, values(), error));
}

frmTest::Outcome frmTest::report_outcome_resumed(const std::function<bool()>& call, std::string_view ok_lead,
                                                 std::string_view nok_lead,
                                                 const std::function<std::string()>& values) {
    ErrorResume resume;
    bool result = false;
    if (!resume.step([&] { result = call(); })) {
        report(nok_report(nok_lead, values(), details_of(*resume.last())));
        return Outcome::Failed;
    }
    if (result) {
        report(ok_report(ok_lead, values()));
        return Outcome::Ok;
    }
    const ErrorDetails error = read_error_resumed();
    report(nok_report(nok_lead, values(), error));
    return Outcome::Nok;
}

std::optional<int32_t> frmTest::read_amount() {
    ErrorResume resume;
    std::optional<int32_t> amount;
    resume.step([&] {
        const NumberLocale locale{toolkit_.decimal_separator()};
        amount = to_int32(txtImp.text(), locale);
    });
    return amount;
}

}  // namespace monvia::panel
