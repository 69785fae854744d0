// Heavy reply probe: runs VeluntTest on the current X display against a
// loopback service of its own that answers the first request with a flood,
// and measures from outside how the window copes.
//
//   heavy_reply_probe (--pieces N | --blob BYTES | --line BYTES) [--copy-timeout-ms N]
//                     [--ingest-timeout-ms N] <program> [args...]
//
// The probe starts the program, types the service's port into the window,
// ticks "Keep Conection" and clicks Send, as a user would (XTest). Once the
// request has come in, the service pushes N small pieces, each in a send() of
// its own, or BYTES bytes in a single send(): a blob of every byte value but
// CR (so with a line feed every 256 bytes or so), or one line of every byte
// value but CR and LF. It keeps the connection open. Meanwhile a second X connection sends the window a
// _NET_WM_PING every few milliseconds; the window answers it from its
// user-interface thread, so the time a ping waits for its answer is the time
// that thread was busy elsewhere.
//
// Figures, on one line:
//   send_ms     how long the service took to hand everything to the kernel
//   wall_ms     from the first byte sent until every byte has been read from
//               the connection by the program (its receive queue is empty) and
//               the window has then answered two pings, i.e. handled the rest
//   stall_ms    the longest wait for a ping answer during that time
//   mem_kb      growth of the program's peak resident memory over its resident
//               memory when the push began (and mem_x, as a multiple of the
//               bytes sent)
//   copy_ms     from Ctrl+A, Ctrl+C in the transcript to the whole text read
//               from the clipboard; copy_owned_ms until the program had taken
//               the clipboard over; copy_stall_ms the longest ping wait then
//   verified    the clipboard's text checked byte for byte against what was
//               sent: the request line, then every piece of reply after
//               CR LF and "<-- " (pieces as the program made them), bytes above
//               0x7F as the characters U+0080 to U+00FF
//   shown       how many "<-- " pieces the transcript shows
// Exit status 0 when every step was carried out (whatever the figures and the
// verification say), 1 otherwise.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr const char* kTitle = "Velunt Test";
constexpr const char* kRequest = "C|1|100";  // what Send sends with the window's start values
constexpr const char* kTranscriptHead = "--> C|1|100";
constexpr const char* kPieceHead = "\r\n<-- ";

// Centres of the controls in the window, in pixels (15 twips each).
struct Point {
    int x, y;
};
constexpr Point kPort{112, 53};
constexpr Point kKeep{233, 56};
constexpr Point kSend{224, 220};
constexpr Point kTranscript{152, 308};

void fail(const char* what) {
    std::fprintf(stderr, "heavy_reply_probe: %s\n", what);
    std::exit(1);
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// ---- The flood -------------------------------------------------------------

std::string small_piece(size_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "OK|%07zu|\xa0", i);  // ends on a no-break space
    return buf;
}

// Every byte value but CR, so that no reply holds the text that starts a
// piece; with one_line, no LF either.
std::string blob(size_t size, bool one_line) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        auto b = static_cast<unsigned char>((i * 7 + i / 251) & 0xFF);
        if (b == '\r' || (one_line && b == '\n')) b = ' ';
        s[i] = static_cast<char>(b);
    }
    return s;
}

class Service {
public:
    Service(std::vector<std::string> sends) : sends_(std::move(sends)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            fail("cannot listen on the loopback interface");
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Service() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        ::shutdown(listener_, SHUT_RDWR);
        if (peer_ >= 0) ::shutdown(peer_, SHUT_RDWR);
        thread_.join();
        if (peer_ >= 0) ::close(peer_);
        ::close(listener_);
    }

    int port() const { return port_; }
    int client_port() const { return client_port_; }
    // Waits for the request; false when none came within the limit.
    bool wait_request(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [this] { return requested_; });
    }
    std::string request() {
        std::lock_guard lock(mutex_);
        return request_;
    }
    void push() {
        {
            std::lock_guard lock(mutex_);
            go_ = true;
        }
        cv_.notify_all();
    }
    bool all_sent() const { return all_sent_; }
    // When everything had been handed to the kernel; valid once all_sent().
    Clock::time_point sent_at() const { return sent_at_; }
    size_t bytes() const {
        size_t n = 0;
        for (const auto& s : sends_) n += s.size();
        return n;
    }

private:
    void serve() {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const int peer = ::accept(listener_, reinterpret_cast<sockaddr*>(&from), &len);
        if (peer < 0) return;
        const int one = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string got;
        char buf[256];
        while (got.size() < std::strlen(kRequest)) {
            const ssize_t n = ::recv(peer, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        {
            std::unique_lock lock(mutex_);
            peer_ = peer;
            client_port_ = ntohs(from.sin_port);
            request_ = got;
            requested_ = true;
            cv_.notify_all();
            cv_.wait(lock, [this] { return go_ || stop_; });
            if (stop_) return;
        }
        for (const std::string& s : sends_) {
            size_t sent = 0;
            while (sent < s.size()) {
                const ssize_t n = ::send(peer, s.data() + sent, s.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) return;
                sent += static_cast<size_t>(n);
            }
        }
        sent_at_ = Clock::now();
        all_sent_ = true;
        // The connection stays open until the probe ends.
    }

    std::vector<std::string> sends_;
    int listener_ = -1;
    int peer_ = -1;
    int port_ = 0;
    int client_port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool requested_ = false;
    bool go_ = false;
    bool stop_ = false;
    std::string request_;
    Clock::time_point sent_at_;
    std::atomic<bool> all_sent_{false};
};

// Bytes received on the loopback connection from client_port to service_port
// that the program has not read yet; -1 when the connection is not listed.
long receive_queue(int client_port, int service_port) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);  // header
    while (std::getline(tcp, line)) {
        std::istringstream in(line);
        std::string sl, local, remote, st, queues;
        in >> sl >> local >> remote >> st >> queues;
        const auto port_of = [](const std::string& a) {
            return std::stoi(a.substr(a.find(':') + 1), nullptr, 16);
        };
        if (port_of(local) != client_port || port_of(remote) != service_port) continue;
        return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return -1;
}

// ---- The program -----------------------------------------------------------

long status_kb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n, nullptr, 10);
    return -1;
}

std::string title_of(Display* d, Window w) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(d, "UTF8_STRING", False), &type, &format, &items, &after,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
    }
    return title;
}

Window find_window(Display* d, pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        Window found = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) {
            for (unsigned int i = 0; i < n && !found; ++i) {
                XWindowAttributes a{};
                if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
                    title_of(d, children[i]) == kTitle)
                    found = children[i];
            }
            if (children) XFree(children);
        }
        if (found) return found;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) fail("the program ended before its window appeared");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

class Hands {
public:
    Hands(Display* d, Window w) : d_(d) {
        Window child = 0;
        XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x_, &y_, &child);
    }
    void click(Point p) {
        XTestFakeMotionEvent(d_, DefaultScreen(d_), x_ + p.x, y_ + p.y, 0);
        XTestFakeButtonEvent(d_, 1, True, 0);
        XTestFakeButtonEvent(d_, 1, False, 0);
        settle();
    }
    void key(KeySym sym, bool ctrl = false) {
        const KeyCode control = XKeysymToKeycode(d_, XK_Control_L);
        if (ctrl) XTestFakeKeyEvent(d_, control, True, 0);
        XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, sym), True, 0);
        XTestFakeKeyEvent(d_, XKeysymToKeycode(d_, sym), False, 0);
        if (ctrl) XTestFakeKeyEvent(d_, control, False, 0);
        XFlush(d_);
    }
    void type_digits(const std::string& digits) {
        for (char c : digits) key(XK_0 + (c - '0'));
        settle();
    }
    void settle() {
        XSync(d_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

private:
    Display* d_;
    int x_ = 0, y_ = 0;
};

// ---- Pings -----------------------------------------------------------------

struct Ping {
    Clock::time_point sent;
    std::optional<Clock::time_point> answered;
};

class Pinger {
public:
    explicit Pinger(Window target) : target_(target) {
        thread_ = std::thread([this] { run(); });
    }
    ~Pinger() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::vector<Ping> pings() {
        std::lock_guard lock(mutex_);
        return pings_;
    }
    // The longest wait for an answer among pings that were waiting at some
    // time in [from, to]; a ping still unanswered counts up to `to`.
    double longest_wait_ms(Clock::time_point from, Clock::time_point to) {
        double longest = 0;
        for (const Ping& p : pings()) {
            const Clock::time_point end = p.answered ? *p.answered : to;
            if (end < from || p.sent > to) continue;
            longest = std::max(longest, Ms(std::min(end, to) - std::max(p.sent, from)).count());
        }
        return longest;
    }
    // When the second ping sent after t was answered.
    std::optional<Clock::time_point> second_answer_after(Clock::time_point t) {
        int seen = 0;
        for (const Ping& p : pings())
            if (p.sent >= t && p.answered && ++seen == 2) return p.answered;
        return std::nullopt;
    }

private:
    void run() {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return;
        XSetErrorHandler(ignore_x_error);
        const Window root = DefaultRootWindow(d);
        const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
        const Atom ping = XInternAtom(d, "_NET_WM_PING", False);
        // The answer is sent to the root window for its structure listeners.
        XSelectInput(d, root, StructureNotifyMask);
        XSync(d, False);
        pollfd pfd{ConnectionNumber(d), POLLIN, 0};
        long serial = 0;
        while (!stop_) {
            ++serial;
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = target_;
            ev.xclient.message_type = protocols;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = static_cast<long>(ping);
            ev.xclient.data.l[1] = serial;
            ev.xclient.data.l[2] = static_cast<long>(target_);
            {
                std::lock_guard lock(mutex_);
                pings_.push_back({Clock::now(), std::nullopt});
            }
            XSendEvent(d, target_, False, NoEventMask, &ev);
            XFlush(d);
            bool answered = false;
            while (!answered && !stop_) {
                while (XPending(d)) {
                    XEvent got;
                    XNextEvent(d, &got);
                    if (got.type == ClientMessage && got.xclient.message_type == protocols &&
                        static_cast<Atom>(got.xclient.data.l[0]) == ping && got.xclient.data.l[1] == serial) {
                        std::lock_guard lock(mutex_);
                        pings_.back().answered = Clock::now();
                        answered = true;
                    }
                }
                if (!answered) poll(&pfd, 1, 2);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        XCloseDisplay(d);
    }

    Window target_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Ping> pings_;
};

// ---- The clipboard ---------------------------------------------------------

// Takes the clipboard, presses Ctrl+A and Ctrl+C in the transcript, waits for
// the program to take the clipboard over and reads its text (UTF-8), large
// transfers included. nullopt when it did not come within the limit.
std::optional<std::string> copy_out(Display* d, Hands& hands, std::chrono::milliseconds limit,
                                    Clock::time_point& started, Clock::time_point& owned) {
    const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom incr = XInternAtom(d, "INCR", False);
    const Atom into = XInternAtom(d, "HEAVY_REPLY_PROBE", False);
    const Window me = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(d, me, PropertyChangeMask);
    XSetSelectionOwner(d, clipboard, me, CurrentTime);
    hands.click(kTranscript);
    XSync(d, False);
    pollfd pfd{ConnectionNumber(d), POLLIN, 0};
    const auto next_event = [&](XEvent& ev, Clock::time_point deadline) {
        while (!XPending(d)) {
            if (Clock::now() >= deadline) return false;
            poll(&pfd, 1, 5);
        }
        XNextEvent(d, &ev);
        return true;
    };

    started = Clock::now();
    const auto deadline = started + limit;
    hands.key(XK_a, true);
    hands.key(XK_c, true);
    XEvent ev;
    // The program has copied once it owns the clipboard.
    for (;;) {
        if (!next_event(ev, deadline)) return std::nullopt;
        if (ev.type == SelectionClear && ev.xselectionclear.selection == clipboard) break;
    }
    owned = Clock::now();
    XConvertSelection(d, clipboard, utf8, into, me, CurrentTime);
    XFlush(d);
    for (;;) {
        if (!next_event(ev, deadline)) return std::nullopt;
        if (ev.type == SelectionNotify) break;
    }
    if (ev.xselection.property == None) return std::string();
    const auto read_property = [&](std::string& out, Atom& type) {
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, me, into, 0, 0x7fffffff / 4, True, AnyPropertyType, &type, &format, &items,
                               &after, &data) != Success)
            return size_t{0};
        const size_t bytes = items * static_cast<size_t>(format / 8);
        if (data) {
            if (type != incr) out.append(reinterpret_cast<char*>(data), bytes);
            XFree(data);
        }
        return bytes;
    };
    std::string text;
    Atom type = None;
    read_property(text, type);
    if (type != incr) return text;
    // Large transfers come in parts: each new value of the property is one,
    // an empty one ends it.
    for (;;) {
        if (!next_event(ev, deadline)) return std::nullopt;
        if (ev.type != PropertyNotify || ev.xproperty.atom != into || ev.xproperty.state != PropertyNewValue)
            continue;
        if (read_property(text, type) == 0) return text;
    }
}

// The transcript's text checked against what was sent: "" when it matches,
// else what is wrong. Sets pieces to the number of "<-- " pieces. A piece
// that begins with a bare LF instead of CR LF is still taken as a piece, so
// that the bytes behind it are compared all the same, and counted as wrong.
std::string verify(const std::string& text, const std::string& sent, size_t& pieces) {
    pieces = 0;
    const std::string head = kTranscriptHead;
    if (text.compare(0, head.size(), head) != 0) return "the transcript does not begin with the request";
    std::string got;
    got.reserve(sent.size());
    const std::string sep = kPieceHead;
    const std::string bare = sep.substr(1);  // without the CR
    size_t bare_breaks = 0;
    const auto next_piece = [&](size_t from) {
        return std::min(text.find(sep, from), text.find(bare, from));
    };
    size_t at = head.size();
    while (at < text.size()) {
        if (text.compare(at, sep.size(), sep) == 0) {
            at += sep.size();
        } else if (text.compare(at, bare.size(), bare) == 0) {
            ++bare_breaks;
            at += bare.size();
        } else {
            std::ostringstream why;
            why << "no \"<-- \" piece at character offset " << at;
            return why.str();
        }
        ++pieces;
        const size_t end = std::min(next_piece(at), text.size());
        // Characters U+0000 to U+00FF back to the bytes they stand for.
        for (size_t i = at; i < end; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                got.push_back(static_cast<char>(c));
            } else if ((c == 0xC2 || c == 0xC3) && i + 1 < end) {
                got.push_back(
                    static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F)));
                ++i;
            } else {
                std::ostringstream why;
                why << "a character above U+00FF at offset " << i;
                return why.str();
            }
        }
        at = end;
    }
    std::ostringstream why;
    if (bare_breaks) why << bare_breaks << " line breaks copied as LF alone; ";
    if (got != sent) {
        const auto diff = std::mismatch(got.begin(), got.end(), sent.begin(), sent.end());
        const size_t wrong = [&] {
            size_t n = 0;
            for (size_t i = 0; i < std::min(got.size(), sent.size()); ++i) n += got[i] != sent[i];
            return n;
        }();
        why << "received " << got.size() << " of " << sent.size() << " bytes, " << wrong
            << " differ, the first at byte " << (diff.first - got.begin());
        if (diff.first != got.end() && diff.second != sent.end())
            why << " (0x" << std::hex << (static_cast<unsigned>(static_cast<unsigned char>(*diff.first)))
                << " for 0x" << static_cast<unsigned>(static_cast<unsigned char>(*diff.second)) << ")";
    }
    return why.str();
}

int usage() {
    std::fprintf(stderr,
                 "usage: heavy_reply_probe (--pieces N | --blob BYTES | --line BYTES) [--copy-timeout-ms N] "
                 "[--ingest-timeout-ms N] <program> [args...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> sends;
    std::string label;
    long copy_timeout_ms = 120'000;
    long ingest_timeout_ms = 300'000;
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        const std::string opt = argv[i];
        const long value = std::atol(argv[i + 1]);
        if (opt == "--pieces" && value > 0) {
            for (long k = 0; k < value; ++k) sends.push_back(small_piece(static_cast<size_t>(k)));
            label = "pieces=" + std::to_string(value);
        } else if ((opt == "--blob" || opt == "--line") && value > 0) {
            sends.push_back(blob(static_cast<size_t>(value), opt == "--line"));
            label = opt.substr(2) + "=" + std::to_string(value);
        } else if (opt == "--copy-timeout-ms" && value > 0) {
            copy_timeout_ms = value;
        } else if (opt == "--ingest-timeout-ms" && value > 0) {
            ingest_timeout_ms = value;
        } else {
            return usage();
        }
    }
    if (sends.empty() || i >= argc) return usage();
    char** program = argv + i;
    std::string sent;
    for (const auto& s : sends) sent += s;

    XInitThreads();
    Display* d = XOpenDisplay(nullptr);
    if (!d) fail("cannot open the X display");
    XSetErrorHandler(ignore_x_error);
    int ev_base = 0, err_base = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d, &ev_base, &err_base, &major, &minor))
        fail("the X server has no XTest extension");

    Service service(sends);
    pid_t pid = 0;
    if (posix_spawnp(&pid, program[0], nullptr, nullptr, program, environ) != 0)
        fail("cannot start the program");
    const Window window = find_window(d, pid, std::chrono::seconds(20));
    if (!window) fail("the window did not appear");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    Hands hands(d, window);
    hands.click(kPort);
    hands.key(XK_a, true);
    hands.type_digits(std::to_string(service.port()));
    hands.click(kKeep);
    hands.click(kSend);
    if (!service.wait_request(std::chrono::seconds(10))) fail("no request came");
    if (service.request() != kRequest) fail("the request was not C|1|100");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // Peak memory counts from here: the kernel forgets the earlier peak.
    std::ofstream(("/proc/" + std::to_string(pid) + "/clear_refs").c_str()) << "5";
    const long rss_before = status_kb(pid, "VmRSS:");
    Pinger pinger(window);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto t0 = Clock::now();
    service.push();
    std::optional<Clock::time_point> drained, done;
    while (!done && Clock::now() - t0 < std::chrono::milliseconds(ingest_timeout_ms)) {
        if (!drained && service.all_sent() && receive_queue(service.client_port(), service.port()) == 0)
            drained = Clock::now();
        if (drained) done = pinger.second_answer_after(*drained);
        if (!done) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const auto t_end = done.value_or(Clock::now());
    const long hwm = status_kb(pid, "VmHWM:");
    const double stall = pinger.longest_wait_ms(t0, t_end);

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Clock::time_point copy_started, copy_owned;
    const std::optional<std::string> copied =
        copy_out(d, hands, std::chrono::milliseconds(copy_timeout_ms), copy_started, copy_owned);
    const auto copy_ended = Clock::now();
    const double copy_stall = pinger.longest_wait_ms(copy_started, copy_ended);
    pinger.stop();

    size_t pieces = 0;
    std::string verdict;
    if (!done)
        verdict = "NO: not every byte was taken in within the limit";
    else if (!copied)
        verdict = "NO: the copy did not finish within " + std::to_string(copy_timeout_ms) + " ms";
    else {
        const std::string why = verify(*copied, sent, pieces);
        verdict = why.empty() ? "yes" : "NO: " + why;
    }
    const double mem_kb = static_cast<double>(hwm - rss_before);
    std::printf(
        "%s bytes=%zu send_ms=%.1f wall_ms=%.1f stall_ms=%.1f mem_kb=%.0f mem_x=%.2f copy_ms=%.1f "
        "copy_owned_ms=%.1f "
        "copy_stall_ms=%.1f shown=%zu verified=%s\n",
        label.c_str(), sent.size(), service.all_sent() ? Ms(service.sent_at() - t0).count() : -1.0,
        done ? Ms(*done - t0).count() : -1.0, stall, mem_kb,
        mem_kb * 1024.0 / static_cast<double>(sent.size()),
        copied ? Ms(copy_ended - copy_started).count() : -1.0,
        copied ? Ms(copy_owned - copy_started).count() : -1.0, copy_stall, pieces, verdict.c_str());
    std::fflush(stdout);

    kill(pid, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (int k = 0; k < 100 && !reaped; ++k) {
        reaped = waitpid(pid, &status, WNOHANG) == pid;
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!reaped) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    XCloseDisplay(d);
    return done && copied ? 0 : 1;
}
