#pragma once
// The panel window: one button per operation of the cash device component,
// the amount and host fields, and the one component instance all commands share.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cash_device.h"
#include "com/registry.h"
#include "reports.h"
#include "runtime/error_resume.h"
#include "ui/toolkit.h"

namespace monvia::panel {

class frmTest {
public:
    // Classes are created through the given registry (the program passes the
    // process registry; tests pass one holding their fake component).
    frmTest(ui::Toolkit& toolkit, com::ClassRegistry& registry);
    ~frmTest();
    frmTest(const frmTest&) = delete;
    frmTest& operator=(const frmTest&) = delete;

    ui::Window& window() { return *window_; }
    void show() { window_->show(); }
    // Whether the component instance has been created yet.
    bool has_device() const { return device_.has_value(); }

    // Connection and setup.
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void cmdConfig_Click();
    void cmdColor_Click();
    void cmdErrorTest_Click();
    void Form_Unload();

    // Payment.
    void cmdCharge_Click();
    void cmdPay_Click();
    void cmdPaySpecific_Click();
    void cmdChange_Click();
    void cmdAddChange_Click();

    // Cash box.
    void cmdCBControl_Click();
    void cmdBlidCashBox_Click();
    void cmdZbyAmount_Click();
    void cmdEmptyCB_Click();

    // Inventory.
    void cmdGetLevels_Click();
    void cmdGetAmounts_Click();

private:
    // The device accessor: creates the instance on first use. Every use of the
    // component goes through it, also the second and later calls of a command.
    CashDevice& device();

    // Shows a text in the report box.
    void report(const std::string& text);

    // After a False result: reads LastErrorCode, then LastErrorText.
    ErrorDetails read_error();
    // The same in error-resume mode: when a read fails, the failure's number
    // and description stand in for the component's code and text.
    ErrorDetails read_error_resumed();

    // Shows the OK report when result is true, else reads the error and shows
    // the NOK report. values() joins the outputs as they stand after the call.
    void report_outcome(bool result, std::string_view ok_lead, std::string_view nok_lead,
                        const std::function<std::string()>& values);

    // What a component call made in error-resume mode came to: True, False,
    // or an interface-level failure of the call itself.
    enum class Outcome { Ok, Nok, Failed };

    // Makes the call in error-resume mode and reports it like report_outcome,
    // except that a failure never ends the program and is never shown as
    // success: a failing call, or a failing read of the error after False, is
    // reported as a NOK with the failure's number and description.
    Outcome report_outcome_resumed(const std::function<bool()>& call, std::string_view ok_lead,
                                   std::string_view nok_lead, const std::function<std::string()>& values);

    // The amount rule: reads txtImp in error-resume mode of its own; nullopt
    // when the text holds no valid amount, in which case the command ends
    // silently.
    std::optional<int32_t> read_amount();

    void cash_box_control(CashBoxMode mode, std::string_view ok_lead, std::string_view nok_lead);

    void bind(const char* control, void (frmTest::*handler)());

    ui::Toolkit& toolkit_;
    com::ClassRegistry& registry_;
    std::unique_ptr<ui::Window> window_;
    // The fields the commands read, looked up once when the window is made.
    ui::Control& txtImp;
    ui::Control& txtHost;
    std::optional<CashDevice> device_;
};

}  // namespace monvia::panel
