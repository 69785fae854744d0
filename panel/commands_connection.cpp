// Connection and setup commands: Connect, Disconnect, Configuration, Color,
// Error Test, and closing the window. None handles an interface-level failure
// of its own: the failure stops the command and goes to the handler guard.

#include "panel_layout.h"
#include "panel_window.h"

namespace monvia::panel {

void frmTest::cmdConnect_Click() {
    // The instance exists before the host field is read; the host is passed
    // on as typed.
    device();
    device().set_Host(txtHost.text());
    if (device().Connect()) {
        report("Connect OK");
        return;
    }
    const ErrorDetails error = read_error();
    // No values: the lead is followed directly by ", ", the code, "-" and the text.
    report(nok_report("Connect NOK", "", error));
}

void frmTest::cmdDisconnect_Click() { device().Disconnect(); }

void frmTest::cmdConfig_Click() {
    // The error details are deliberately not read: the report has none.
    report(device().Configuration() ? "Configuration OK " : "Configuration NOK ");
}

void frmTest::cmdColor_Click() {
    device().set_ColorA(kPanelBackColor);
    device().set_ColorB(0);
}

void frmTest::cmdErrorTest_Click() {
    VARIANT_BOOL flag = kFalse;
    // Result and flag are dropped: what HandleError does is the component's own.
    device().HandleError(55, "Quenzo", flag);
}

void frmTest::Form_Unload() {
    // Nothing of the panel's own: no component call, in particular no Disconnect.
}

}  // namespace monvia::panel
