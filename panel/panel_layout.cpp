#include "panel_layout.h"

namespace monvia::panel {

namespace {

ui::ControlSpec button(const char* name, const char* caption, int left, int top, int width, int height,
                       int tab) {
    return {name, ui::ControlKind::Button, caption, left, top, width, height, tab, "", ui::kNone, 0};
}

ui::ControlSpec text_box(const char* name, const char* text, int left, int top, int width, int height,
                         int tab) {
    return {name, ui::ControlKind::TextBox, text, left, top, width, height, tab, "", ui::kNone, 0};
}

ui::WindowSpec make_layout() {
    ui::WindowSpec w;
    w.name = "frmTest";
    w.caption = "Monvia Test Program";
    w.client_width = 7830;
    w.client_height = 4320;
    // The designed place on the screen.
    w.start_place = ui::ScreenPlace{9210, 3600};
    w.back_color = kPanelBackColor;
    w.font = ui::FontSpec{"Times New Roman", 12, 400, false, false, false, 0};
    w.initial_focus = "cmdCharge";
    // Creation order; the tab index is the last number of each row.
    w.controls = {
        button("cmdPaySpecific", "Pay Specific", 480, 3600, 1470, 360, 18),
        text_box("txtHost", kDefaultHost, 2160, 240, 1575, 405, 17),
        button("cmdZbyAmount", "Z by amount", 3720, 2280, 1575, 735, 16),
        button("cmdGetLevels", "GetLevels", 3690, 1290, 1590, 360, 15),
        button("cmdEmptyCB", "Empty CB", 3720, 3120, 1560, 360, 14),
        button("cmdErrorTest", "Error Test", 5520, 1800, 1410, 360, 13),
        button("cmdDisconnect", "Disconnect", 6360, 240, 1260, 360, 12),
        button("cmdBlidCashBox", "BlidCashBox", 3690, 1800, 1590, 360, 11),
        button("cmdGetAmounts", "GetAmounts", 5520, 1320, 1440, 360, 10),
        button("cmdConnect", "Connect", 480, 270, 1470, 360, 9),
        button("cmdColor", "Color", 5490, 2340, 1470, 360, 8),
        button("cmdCBControl", "CB Control", 480, 3120, 1470, 360, 7),
        button("cmdChange", "Change", 480, 2640, 1470, 360, 6),
        button("cmdConfig", "Configuration", 480, 2190, 1470, 360, 5),
        button("cmdAddChange", "AddChange", 480, 1740, 1470, 360, 4),
        button("cmdPay", "Pay", 480, 1260, 1470, 360, 3),
        text_box("txtImp", "Imp", 3660, 720, 2115, 435, 1),
        button("cmdCharge", "Charge", 480, 780, 1470, 360, 0),
        {"lblImport", ui::ControlKind::Label, "Import", 2940, 780, 615, 285, 2, "", ui::kNone, 0},
    };
    // The host field has no label of its own.
    w.accessible_names = {{"txtHost", "Host"}};
    return w;
}

}  // namespace

const ui::WindowSpec& frmTest_layout() {
    static const ui::WindowSpec layout = make_layout();
    return layout;
}

}  // namespace monvia::panel
