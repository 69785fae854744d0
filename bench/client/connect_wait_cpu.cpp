// CPU used while one connection attempt stays pending, measured on the socket
// seam alone: a QtSocket connects to a loopback listener whose accept queue is
// full (so the handshake never completes), and the program waits the way the
// client's EnsureConnected does, one QtToolkit::process_events() per pass.
//
//   connect_wait_cpu [seconds]     (default 3)
//
// Prints one line:
//   connect_wait_cpu: pending <s> s, cpu <ms> ms = <pct>% of one core, <n> passes, outcome <text>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/qt_socket.h"
#include "ui/qt_toolkit.h"

namespace {

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

int main(int argc, char** argv) {
    const double span = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (!(span > 0 && span < 19)) {
        std::fprintf(stderr,
                     "connect_wait_cpu: seconds must lie between 0 and 19 (the connect time-out is 20)\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    monvia::ui::QtToolkit toolkit(app);

    // Listen with a queue of 0 and fill it with handshakes nobody accepts.
    Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener.get(), 0) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("connect_wait_cpu: listener");
        return 1;
    }
    std::vector<Fd> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back().get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ::usleep(100'000);

    monvia::net::QtSocket ws;
    std::string outcome = "still pending";
    bool done = false;
    ws.on_connect([&] {
        outcome = "connected (the queue was not full)";
        done = true;
    });
    ws.on_error([&](int32_t n, const std::string& d) {
        outcome = "error " + std::to_string(n) + " " + d;
        done = true;
    });
    bool over = false;
    QTimer stop;
    stop.setSingleShot(true);
    stop.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stop, &QTimer::timeout, [&] { over = true; });

    ws.connect("127.0.0.1", ntohs(addr.sin_port));
    stop.start(static_cast<int>(span * 1000));
    const double wall0 = seconds(CLOCK_MONOTONIC);
    const double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    long passes = 0;
    while (!done && !over) {
        toolkit.process_events();
        ++passes;
    }
    const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double wall = seconds(CLOCK_MONOTONIC) - wall0;
    std::printf(
        "connect_wait_cpu: pending %.2f s, cpu %.1f ms = %.2f%% of one core, %ld passes, outcome %s\n", wall,
        cpu * 1000, 100 * cpu / wall, passes, outcome.c_str());
    return done ? 1 : 0;
}
