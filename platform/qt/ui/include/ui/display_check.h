#pragma once
// Before the window toolkit starts: a program started where there is no
// display says so plainly, and how to run it on a virtual display, instead of
// letting the toolkit abort; and a program started as root gets the private
// runtime directory the toolkit would otherwise warn about.

#include <string>

#if defined(_WIN32)

namespace monvia::ui {

// A Windows desktop session always has its display, and no runtime
// directory to prepare.
inline bool display_available(const char*) { return true; }
inline void prepare_runtime_directory() {}

}  // namespace monvia::ui

#else

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace monvia::ui {

// The program's own file, so that the hint names a command that works as
// typed whether or not the program is on PATH; the bare name when unknown.
inline std::string program_path(const char* name) {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return name;
    return std::string(buf, static_cast<size_t>(n));
}

// True when a display (or an explicitly chosen toolkit platform) is there;
// otherwise prints the explanation to stderr and returns false.
inline bool display_available(const char* program) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform && *platform) || (x11 && *x11) || (wayland && *wayland)) return true;
    std::string path = program_path(program);
    // Quoted for the shell when it holds anything but plain path characters.
    if (path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-") !=
        std::string::npos) {
        std::string quoted = "'";
        for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        path = quoted + "'";
    }
    std::fprintf(stderr,
                 "%s: there is no display (DISPLAY is not set), so its window cannot be shown.\n"
                 "Run it on a virtual display instead (xvfb-run is in the Debian package xvfb):\n"
                 "    xvfb-run -a %s\n",
                 program, path.c_str());
    return false;
}

// A session normally provides XDG_RUNTIME_DIR; root started from a console
// or over ssh often has none, and the toolkit then warns on every start
// about a directory the user has no reason to care about. For root, the
// directory the toolkit would fall back to is made (private, as it requires)
// and named. Anyone else keeps the warning, which points at a session
// problem they can fix.
inline void prepare_runtime_directory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((runtime && *runtime) || geteuid() != 0) return;
    const char* dir = "/tmp/runtime-root";
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) return;
    struct stat st {};
    // Only a directory that is root's alone will do.
    if (lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 || (st.st_mode & 0077) != 0) return;
    setenv("XDG_RUNTIME_DIR", dir, 1);
}

}  // namespace monvia::ui

#endif
