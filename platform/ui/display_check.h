#pragma once
// Before the window toolkit starts: a program started where there is no
// display says so plainly, and how to run it on a virtual display, instead of
// letting the toolkit abort.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace monvia::ui {

// True when a display (or an explicitly chosen toolkit platform) is there;
// otherwise prints the explanation to stderr and returns false.
inline bool display_available(const char* program) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform && *platform) || (x11 && *x11) || (wayland && *wayland)) return true;
    std::fprintf(stderr,
                 "%s: there is no display (DISPLAY is not set), so its window cannot be shown.\n"
                 "Run it on a virtual display instead, for example:\n"
                 "    xvfb-run -a %s\n",
                 program, program);
    return false;
}

}  // namespace monvia::ui
