#pragma once
// The window the toolkit tests build on every backend.

#include "ui/window_layout.h"

namespace monvia::ui::seams {

// A small window of every kind of control: a frame with its own option
// group, a second group on the window, a read-only and an editable
// multi-line box, a disabled button and two timers. Tab indexes run against
// the creation order on purpose.
inline const WindowSpec& probe_layout() {
    static const WindowSpec table = [] {
        WindowSpec w;
        w.name = "frmProbe";
        w.caption = "Probe \xc3\xa9t\xc3\xa9";  // "Probe été": captions are UTF-8
        w.client_width = 6000;
        w.client_height = 4500;
        w.font = FontSpec{"Liberation Sans", 9, 700, true, false, false, 0};
        w.initial_focus = "txtIn";
        w.controls = {
            {"chkOut", ControlKind::CheckBox, "Outside", 3600, 120, 1500, 300, 6, "", kChecked, 0},
            {"frmBox", ControlKind::Frame, "", 120, 600, 3300, 2400, 0, "", kNone, 0},
            {"optA", ControlKind::OptionButton, "A", 150, 300, 1200, 300, 3, "frmBox", kNone, 0},
            {"optB", ControlKind::OptionButton, "B", 150, 750, 1200, 300, 2, "frmBox", kChecked, 0},
            {"txtIn", ControlKind::TextBox, "in", 1500, 300, 1500, 405, 1, "frmBox", kNone, 0},
            {"chkIn", ControlKind::CheckBox, "Inside", 1500, 900, 1500, 300, 4, "frmBox", kNone, 0},
            {"lblIn", ControlKind::Label, "Label", 150, 1500, 1200, 300, 5, "frmBox", kNone, 0},
            {"optX", ControlKind::OptionButton, "X", 3600, 600, 1200, 300, 7, "", kChecked, 0},
            {"optY", ControlKind::OptionButton, "Y", 3600, 1050, 1200, 300, 8, "", kNone, 0},
            {"txtLog", ControlKind::TextBox, "one\r\ntwo", 120, 3150, 3300, 900, 9, "",
             kMultiLine | kReadOnly, 0},
            {"txtNote", ControlKind::TextBox, "", 3600, 1500, 2200, 900, 10, "", kMultiLine, 0},
            {"cmdGo", ControlKind::Button, "Go", 3600, 2550, 1200, 450, 11, "", kDisabled, 0},
            {"cmdQuit", ControlKind::Button, "Quit", 3600, 3150, 1200, 450, 12, "", kNone, 0},
            {"tmrOff", ControlKind::Timer, "", 0, 0, 0, 0, -1, "", kDisabled, 25},
            {"tmrOn", ControlKind::Timer, "", 0, 0, 0, 0, -1, "", kNone, 60000},
        };
        return w;
    }();
    return table;
}

}  // namespace monvia::ui::seams
