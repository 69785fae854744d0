#include "client/client_layout.h"

namespace monvia::client {

namespace {

using ui::ControlKind;

ui::ControlSpec control(const char* name, ControlKind kind, const char* text, int left, int top, int width,
                        int height, int tab, const char* container = "", unsigned flags = ui::kNone) {
    return {name, kind, text, left, top, width, height, tab, container, flags, 0};
}

ui::WindowSpec make_layout() {
    ui::WindowSpec w;
    w.name = "Test";
    w.caption = "Velunt Test";
    w.client_width = 4575;
    w.client_height = 6390;
    // Left of the panel's designed place (9210, 3600), so that both windows
    // are seen side by side on a 1280 x 1024 screen when no window manager
    // places them.
    w.start_place = ui::ScreenPlace{1800, 3600};
    // A small sans-serif face: the check boxes are only 13 pixels high.
    w.font = ui::FontSpec{"Liberation Sans", 8, 400, false, false, false, 0};
    w.initial_focus = "txtIP";
    // Creation order. Positions inside frmDades are measured from the frame's
    // top-left corner; the tab index is the last number of each row.
    constexpr const char* kFrame = "frmDades";
    w.controls = {
        control("cmdStop", ControlKind::Button, "Stop", 1200, 5640, 2055, 495, 17),
        control("chkKeep", ControlKind::CheckBox, "Keep Conection", 2640, 720, 1695, 255, 16),
        control("frmDades", ControlKind::Frame, "", 120, 1080, 4335, 2655, 5),
        control("txtTicket", ControlKind::TextBox, "1", 1080, 360, 1095, 405, 12, kFrame),
        control("txtAmount", ControlKind::TextBox, "100", 1080, 840, 1095, 405, 11, kFrame),
        control("txtQty", ControlKind::TextBox, "100", 1080, 2040, 735, 405, 10, kFrame),
        control("chkAuto", ControlKind::CheckBox, "Automatic", 2640, 1560, 1335, 195, 9, kFrame),
        control("cmdSend", ControlKind::Button, "Send", 2280, 1920, 1935, 615, 8, kFrame),
        control("optNew", ControlKind::OptionButton, "Create", 2640, 360, 1455, 375, 7, kFrame, ui::kChecked),
        control("optChk", ControlKind::OptionButton, "Check state", 2640, 840, 1575, 375, 6, kFrame),
        control("Label2", ControlKind::Label, "Ticket", 240, 360, 855, 255, 15, kFrame),
        control("Label3", ControlKind::Label, "Amount", 240, 840, 855, 255, 14, kFrame),
        control("Label4", ControlKind::Label, "Quantity", 240, 2040, 735, 375, 13, kFrame),
        control("txtRes", ControlKind::TextBox, "", 240, 3840, 4095, 1575, 4, "",
                ui::kMultiLine | ui::kReadOnly),
        {"Timer1", ControlKind::Timer, "", 0, 0, 0, 0, -1, "", ui::kDisabled, kFirstStepMs},
        control("txtPort", ControlKind::TextBox, kDefaultPort, 1080, 600, 1215, 405, 3),
        control("txtIP", ControlKind::TextBox, kDefaultHost, 1080, 120, 2415, 405, 1),
        control("Label1", ControlKind::Label, "Port", 360, 600, 615, 255, 2),
        control("lblHost", ControlKind::Label, "Host", 360, 120, 615, 255, 0),
    };
    // The request frame has no caption, the transcript no label.
    w.accessible_names = {{"frmDades", "Request"}, {"txtRes", "Transcript"}};
    return w;
}

}  // namespace

const ui::WindowSpec& Test_layout() {
    static const ui::WindowSpec layout = make_layout();
    return layout;
}

}  // namespace monvia::client
