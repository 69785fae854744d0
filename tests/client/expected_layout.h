#pragma once
// The client window's controls as the user is meant to find them: kind,
// caption or start text, place and size in twips, tab index and container.
// Both the layout table and the Qt window are checked against these rows.

#include <string>
#include <vector>

#include "ui/window_layout.h"

namespace monvia::client::testing {

struct ExpectedControl {
    const char* name;
    ui::ControlKind kind;
    const char* text;
    int left, top, width, height;
    int tab_index;
    const char* container;
};

inline const std::vector<ExpectedControl>& expected_controls() {
    using K = ui::ControlKind;
    static const std::vector<ExpectedControl> rows = {
        {"cmdStop", K::Button, "Stop", 1200, 5640, 2055, 495, 17, ""},
        {"chkKeep", K::CheckBox, "Keep Conection", 2640, 720, 1695, 255, 16, ""},
        {"frmDades", K::Frame, "", 120, 1080, 4335, 2655, 5, ""},
        {"txtTicket", K::TextBox, "1", 1080, 360, 1095, 405, 12, "frmDades"},
        {"txtAmount", K::TextBox, "100", 1080, 840, 1095, 405, 11, "frmDades"},
        {"txtQty", K::TextBox, "100", 1080, 2040, 735, 405, 10, "frmDades"},
        {"chkAuto", K::CheckBox, "Automatic", 2640, 1560, 1335, 195, 9, "frmDades"},
        {"cmdSend", K::Button, "Send", 2280, 1920, 1935, 615, 8, "frmDades"},
        {"optNew", K::OptionButton, "Create", 2640, 360, 1455, 375, 7, "frmDades"},
        {"optChk", K::OptionButton, "Check state", 2640, 840, 1575, 375, 6, "frmDades"},
        {"Label2", K::Label, "Ticket", 240, 360, 855, 255, 15, "frmDades"},
        {"Label3", K::Label, "Amount", 240, 840, 855, 255, 14, "frmDades"},
        {"Label4", K::Label, "Quantity", 240, 2040, 735, 375, 13, "frmDades"},
        {"txtRes", K::TextBox, "", 240, 3840, 4095, 1575, 4, ""},
        {"txtPort", K::TextBox, "16501", 1080, 600, 1215, 405, 3, ""},
        {"txtIP", K::TextBox, "127.0.0.1", 1080, 120, 2415, 405, 1, ""},
        {"Label1", K::Label, "Port", 360, 600, 615, 255, 2, ""},
        {"lblHost", K::Label, "Host", 360, 120, 615, 255, 0, ""},
    };
    return rows;
}

// Where the Tab key goes, starting in txtIP; the option group is one stop.
inline const std::vector<std::string>& expected_tab_stops() {
    static const std::vector<std::string> stops = {"txtIP",     "txtPort", "txtRes", "optNew",
                                                   "cmdSend",   "chkAuto", "txtQty", "txtAmount",
                                                   "txtTicket", "chkKeep", "cmdStop"};
    return stops;
}

}  // namespace monvia::client::testing
