// Start-up probe: starts a program on the current X display and measures the
// time from starting the process to its window (found by its title) being
// mapped; then lets the program settle, closes the window as a user would
// (WM_DELETE_WINDOW) and takes the process's peak resident memory from the
// kernel's accounting of the finished child (wait4).
//
//   startup_probe [--settle-ms N] [--timeout-ms N] <window title> <program> [args...]
//
// Prints one line:  map_ms=<ms> max_rss_kb=<kB> hwm_before_close_kb=<kB> exit=<code>
// Exit status 0 when the window appeared and the program ended, 1 otherwise.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A window may be gone by the time its title is read; that is no reason to stop.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

int usage() {
    std::fprintf(
        stderr, "usage: startup_probe [--settle-ms N] [--timeout-ms N] <window title> <program> [args...]\n");
    return 2;
}

// The window's title: _NET_WM_NAME (UTF-8) when set, else WM_NAME.
std::string title_of(Display* d, Window w) {
    const Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, net_wm_name, 0, 1024, False, utf8, &type, &format, &items, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
        if (!title.empty()) return title;
    }
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

long vm_hwm_kb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void close_window(Display* d, Window w) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &ev);
    XFlush(d);
}

// Waits for the child for at most limit; kills it when it does not end.
std::optional<int> reap(pid_t pid, std::chrono::milliseconds limit, rusage& usage_out, bool& killed) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    killed = false;
    for (;;) {
        const pid_t r = wait4(pid, &status, WNOHANG, &usage_out);
        if (r == pid) break;
        if (r < 0) return std::nullopt;
        if (Clock::now() >= deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
            wait4(pid, &status, 0, &usage_out);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int main(int argc, char** argv) {
    int settle_ms = 500;
    int timeout_ms = 20000;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (i + 1 >= argc) return usage();
        const std::string opt = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (opt == "--settle-ms")
            settle_ms = value;
        else if (opt == "--timeout-ms")
            timeout_ms = value;
        else
            return usage();
    }
    if (argc - i < 2) return usage();
    const std::string wanted = argv[i];
    char** program = argv + i + 1;

    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "startup_probe: cannot open the X display (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    Display* d = display.get();
    XSetErrorHandler(ignore_x_error);
    // Top-level windows are children of the root: their maps show up here.
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);

    const auto started = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, program[0], nullptr, nullptr, program, environ) != 0) {
        std::fprintf(stderr, "startup_probe: cannot start %s: %s\n", program[0], std::strerror(errno));
        return 1;
    }

    Window found = 0;
    double map_ms = -1;
    const auto deadline = started + std::chrono::milliseconds(timeout_ms);
    pollfd pfd{ConnectionNumber(d), POLLIN, 0};
    while (!found && Clock::now() < deadline) {
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == MapNotify && title_of(d, ev.xmap.window) == wanted) {
                map_ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
                found = ev.xmap.window;
                break;
            }
        }
        if (found) break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "startup_probe: %s ended before its window \"%s\" appeared\n", program[0],
                         wanted.c_str());
            return 1;
        }
        poll(&pfd, 1, 5);
    }

    rusage usage{};
    bool killed = false;
    if (!found) {
        std::fprintf(stderr, "startup_probe: no window \"%s\" within %d ms\n", wanted.c_str(), timeout_ms);
        reap(pid, std::chrono::milliseconds(0), usage, killed);
        return 1;
    }

    // Let the program finish painting and settle before its memory is read.
    std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    const long hwm_kb = vm_hwm_kb(pid);
    close_window(d, found);
    const std::optional<int> code = reap(pid, std::chrono::milliseconds(5000), usage, killed);
    if (killed)
        std::fprintf(stderr, "startup_probe: %s did not end after its window was closed; killed\n",
                     program[0]);

    std::printf("map_ms=%.3f max_rss_kb=%ld hwm_before_close_kb=%ld exit=%d\n", map_ms, usage.ru_maxrss,
                hwm_kb, code.value_or(-1));
    return killed || !code ? 1 : 0;
}
