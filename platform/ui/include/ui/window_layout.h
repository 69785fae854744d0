#pragma once
// Windows are declared as data: the window's own properties and a table of
// its controls, in creation order. Positions and sizes are in twips
// (15 twips make one pixel at 96 dpi).

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace monvia::ui {

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int twips_to_pixels(int twips) { return twips / kTwipsPerPixel; }

enum class ControlKind { Button, TextBox, Label, CheckBox, OptionButton, Frame, Timer };

// Control flags.
enum ControlFlags : unsigned {
    kNone = 0,
    kMultiLine = 1u << 0,  // text box: several lines
    kReadOnly = 1u << 1,   // text box: selectable and copyable, not editable
    kChecked = 1u << 2,    // check box ticked / option button selected at start
    kDisabled = 1u << 3,   // starts disabled (timer: starts disabled too)
};

struct ControlSpec {
    std::string name;
    ControlKind kind = ControlKind::Label;
    std::string text;  // caption or start text (UTF-8)
    int left = 0;      // twips, from the container's top-left corner
    int top = 0;
    int width = 0;
    int height = 0;
    int tab_index = -1;     // -1: not in the tab order (timer, socket)
    std::string container;  // empty: the window itself; else the name of a frame
    unsigned flags = kNone;
    int interval_ms = 0;  // timers only
};

struct FontSpec {
    std::string family = "Times New Roman";
    int point_size = 12;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
    int charset = 0;
};

// A place on the screen, in twips from the screen's top-left corner.
struct ScreenPlace {
    int left = 0;
    int top = 0;
};

struct WindowSpec {
    std::string name;
    std::string caption;
    int client_width = 0;                    // twips
    int client_height = 0;                   // twips
    std::optional<ScreenPlace> start_place;  // where it first opens; unset: where the platform puts it
    std::optional<uint32_t> back_color;      // 0x00BBGGRR; unset: the platform's own
    std::optional<FontSpec> font;            // unset: the platform's own
    std::string initial_focus;               // control that has the focus at start
    std::vector<ControlSpec> controls;       // in creation order
    // The accessible name of a control whose caption, label or frame does
    // not say what it is (see accessible_name), by control name.
    std::map<std::string, std::string> accessible_names;
};

// A rectangle in pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where a window of width x height pixels (frame included) designed at
// `place` opens: the place, counted from the screen's top-left corner, moved
// left and up just as far as needed for the whole window to stay within the
// screen's usable area, but never beyond that area's left or top edge (a
// window larger than the screen keeps its title bar reachable).
inline std::pair<int, int> place_on_screen(const ScreenPlace& place, int width, int height,
                                           const PixelRect& screen, const PixelRect& usable) {
    auto clamp = [](int at, int size, int first, int extent) {
        return std::max(first, std::min(at, first + extent - size));
    };
    return {clamp(screen.x + twips_to_pixels(place.left), width, usable.x, usable.width),
            clamp(screen.y + twips_to_pixels(place.top), height, usable.y, usable.height)};
}

// Looks a control up in a window table; nullptr when absent.
inline const ControlSpec* find_control(const WindowSpec& w, const std::string& name) {
    for (const auto& c : w.controls)
        if (c.name == name) return &c;
    return nullptr;
}

// The label beside a control: a label in the same container that starts
// left of it and shares some of its height; the nearest such label when
// there are several. nullptr when there is none.
inline const ControlSpec* label_beside(const WindowSpec& w, const ControlSpec& c) {
    const ControlSpec* best = nullptr;
    for (const auto& l : w.controls) {
        if (l.kind != ControlKind::Label || l.container != c.container || l.left >= c.left) continue;
        if (l.top >= c.top + c.height || c.top >= l.top + l.height) continue;
        if (!best || l.left > best->left) best = &l;
    }
    return best;
}

// The name assistive technology (screen readers, and test automation through
// the desktop's accessibility layer) gives a control, as a user would name
// it: the window's own entry for it when it has one; else a button's, check
// box's, option button's, label's or frame's caption; else the caption of
// the label beside it; else the caption of the frame it is in. Empty when
// none of them says anything.
inline std::string accessible_name(const WindowSpec& w, const ControlSpec& c) {
    if (const auto it = w.accessible_names.find(c.name); it != w.accessible_names.end()) return it->second;
    if (c.kind != ControlKind::TextBox && !c.text.empty()) return c.text;
    if (c.kind == ControlKind::Label || c.kind == ControlKind::Timer) return c.text;
    if (const ControlSpec* label = label_beside(w, c); label && !label->text.empty()) return label->text;
    if (const ControlSpec* frame = find_control(w, c.container); frame && !frame->text.empty())
        return frame->text;
    return {};
}

}  // namespace monvia::ui
