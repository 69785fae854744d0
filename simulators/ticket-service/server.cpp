#include "server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace monvia::ticket_service {

namespace {

// A request that grows past this without ending is taken as it stands.
constexpr std::size_t kMaxRequest = 64 * 1024;
// Reply bytes a connection may have waiting for the client to take them;
// beyond this the service stops reading from the client (and so answering
// it) until the client catches up, so memory stays bounded.
constexpr std::size_t kMaxQueued = 64 * 1024;
// After our side is shut, how long the client may take to close its side.
constexpr auto kLingerAfterShut = std::chrono::seconds(5);

volatile sig_atomic_t g_stop = 0;
#if defined(_WIN32)
// The longest wait, so that a stop asked for from the console is seen soon.
constexpr int kMaxWaitMs = 250;

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        g_stop = 1;
        return TRUE;
    }
    return FALSE;
}
#else
sigset_t g_wait_mask;  // the mask during ppoll: the stop signals let through

void on_stop_signal(int) { g_stop = 1; }
#endif

std::string wall_clock() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    char out[40];
    std::snprintf(out, sizeof out, "%s.%03d", buf, static_cast<int>(ms));
    return out;
}

std::string numeric_address(const sockaddr* sa, socklen_t len) {
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    if (sa->sa_family == AF_INET6) return std::string("[") + host + "]:" + serv;
    return std::string(host) + ":" + serv;
}

}  // namespace

void Fd::reset() {
    if (fd_ != sock::kNone) sock::close(fd_);
    fd_ = sock::kNone;
}

#if defined(_WIN32)
void install_stop_signals() { SetConsoleCtrlHandler(on_console_event, TRUE); }
#else
void install_stop_signals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, &g_wait_mask);
    sigdelset(&g_wait_mask, SIGINT);
    sigdelset(&g_wait_mask, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}
#endif

bool stop_requested() { return g_stop != 0; }

Server::Server(Options options) : options_(std::move(options)) {}

Server::~Server() = default;

std::string Server::open() {
    if (!options_.log_path.empty()) {
        log_.reset(std::fopen(options_.log_path.c_str(), "a"));
        if (!log_) return "cannot open the log " + options_.log_path + ": " + std::strerror(errno);
    }
    if (!sock::start()) return "Windows sockets cannot be started";

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options_.port);
    if (const int rc = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found); rc != 0)
        return "cannot resolve " + options_.host + ": " + sock::resolve_error_text(rc);
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, &freeaddrinfo);

    std::string why = "no address to listen on";
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        Fd fd(::socket(ai->ai_family, ai->ai_socktype | sock::kCloseOnExec, ai->ai_protocol));
        if (!fd.valid()) {
            why = sock::error_text(sock::last_error());
            continue;
        }
#if !defined(_WIN32)
        // (On Windows the option would let another program take the port.)
        const int on = 1;
        setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
        if (::bind(fd.get(), ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen)) != 0 ||
            ::listen(fd.get(), options_.backlog_full ? 0 : 64) != 0 || !sock::set_nonblocking(fd.get())) {
            why = sock::error_text(sock::last_error());
            continue;
        }
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &len);
        address_ = numeric_address(reinterpret_cast<sockaddr*>(&bound), len);
        if (options_.backlog_full) {
            // Handshakes that are never accepted fill the queue; the
            // listener's kernel then drops every further attempt.
            for (int i = 0; i < 3; ++i) {
                Fd filler(sock::open_nonblocking(bound.ss_family));
                if (!filler.valid()) break;
                ::connect(filler.get(), reinterpret_cast<sockaddr*>(&bound), len);
                fillers_.push_back(std::move(filler));
            }
        }
        listener_ = std::move(fd);
        return {};
    }
    return "cannot listen on " + options_.host + ":" + port + ": " + why;
}

void Server::note(const std::string& line, bool always) {
    if (!options_.quiet || always) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (log_) {
        std::fprintf(log_.get(), "%s %s\n", wall_clock().c_str(), line.c_str());
        std::fflush(log_.get());
    }
}

void Server::log_bytes(const Connection& c, const char* arrow, const std::string& bytes) {
    note("#" + std::to_string(c.id) + " " + arrow + " " + escape(bytes));
}

void Server::accept_all(Time now) {
    for (;;) {
        sockaddr_storage from{};
        socklen_t len = sizeof from;
        Fd fd(sock::accept(listener_.get(), reinterpret_cast<sockaddr*>(&from), &len));
        if (!fd.valid()) {
            const int e = sock::last_error();
            if (sock::interrupted(e) || sock::aborted(e)) continue;
            if (sock::out_of_resources(e)) {
                // The pending connection stays queued; waiting for it again at
                // once would only spin.
                note("cannot accept now: " + sock::error_text(e));
                listen_paused_until_ = now + std::chrono::milliseconds(200);
            }
            return;
        }
        const std::string peer = numeric_address(reinterpret_cast<sockaddr*>(&from), len);
        if (connections_.size() >= static_cast<std::size_t>(options_.max_connections)) {
            // Closed at once, so that the client learns it now instead of
            // waiting on a connection nobody serves.
            note("refused a connection from " + peer + ": " + std::to_string(options_.max_connections) +
                 " are open");
            continue;
        }
        const int on = 1;
        setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        auto c = std::make_unique<Connection>();
        c->id = next_id_++;
        c->fd = std::move(fd);
        c->last_active = now;
        note("#" + std::to_string(c->id) + " accepted from " + peer);
        if (options_.unsolicited) {
            c->out.push_back({*options_.unsolicited});
            c->queued += options_.unsolicited->size();
            if (options_.unsolicited_every_ms > 0)
                c->next_unsolicited = now + std::chrono::milliseconds(options_.unsolicited_every_ms);
        }
        connections_.push_back(std::move(c));
    }
}

void Server::read_from(Connection& c, Time now) {
    if (c.client_eof || backlogged(c)) return;
    char buf[16 * 1024];
    for (;;) {
        const auto n = ::recv(c.fd.get(), buf, sizeof buf, 0);
        if (n > 0) {
            const std::string bytes(buf, static_cast<std::size_t>(n));
            log_bytes(c, "<-", bytes);
            c.pending += bytes;
            c.last_received = now;
            c.last_active = now;
            take_lines(c, now);
            if (c.gone || backlogged(c)) return;
            continue;
        }
        if (n == 0) {
            c.client_eof = true;
            note("#" + std::to_string(c.id) + " closed by the client");
            // What came last is a request even without its quiet gap.
            if (!c.pending.empty()) on_request(c, std::exchange(c.pending, {}), now);
            return;
        }
        const int e = sock::last_error();
        if (sock::interrupted(e)) continue;
        if (sock::would_block(e)) return;
        drop(c, sock::error_text(e));
        return;
    }
}

// Line breaks end requests at once; what follows the last one waits for the gap.
void Server::take_lines(Connection& c, Time now) {
    // Lines wait in pending while the client is behind with its replies.
    std::size_t nl;
    std::size_t from = 0;
    while (!c.gone && !backlogged(c) && (nl = c.pending.find('\n', from)) != std::string::npos) {
        std::string line = c.pending.substr(from, nl - from);
        from = nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) on_request(c, line, now);
    }
    c.pending.erase(0, from);
    if (!c.gone && !backlogged(c) && c.pending.size() >= kMaxRequest)
        on_request(c, std::exchange(c.pending, {}), now);
}

void Server::on_request(Connection& c, const std::string& request, Time now) {
    const std::string tag = "#" + std::to_string(c.id);
    if (!options_.keep && c.answered) {
        note(tag + " request ignored, the connection is closing: " + escape(request));
        return;
    }
    c.answered = true;
    note(tag + " request " + escape(request));
    if (options_.silent) return;

    Time at = now + std::chrono::milliseconds(options_.delay_ms);
    if (options_.reset) {
        c.actions.emplace(at, Action{Action::Reset, {}});
        return;
    }
    std::string reply = options_.reply ? *options_.reply : book_.answer(request);
    if (options_.crlf) reply += "\r\n";
    c.queued += reply.size();
    if (options_.split_ms >= 0 && reply.size() >= 2) {
        const std::size_t half = (reply.size() + 1) / 2;
        c.actions.emplace(at, Action{Action::Send, reply.substr(0, half)});
        at += std::chrono::milliseconds(options_.split_ms);
        c.actions.emplace(at, Action{Action::Send, reply.substr(half)});
    } else {
        c.actions.emplace(at, Action{Action::Send, reply});
    }
    if (options_.flood > 0) c.actions.emplace(at, Action{Action::Flood, {}});
    if (!options_.keep) c.actions.emplace(at, Action{Action::Finish, {}});
}

void Server::run_due(Connection& c, Time now) {
    if (c.held && !backlogged(c)) take_lines(c, now);  // the client caught up
    if (!c.pending.empty() && !backlogged(c) &&
        now - c.last_received >= std::chrono::milliseconds(options_.gap_ms))
        on_request(c, std::exchange(c.pending, {}), now);
    while (!c.gone && !c.actions.empty() && c.actions.begin()->first <= now) {
        Action a = std::move(c.actions.begin()->second);
        c.actions.erase(c.actions.begin());
        switch (a.kind) {
            case Action::Send:
                c.out.push_back({std::move(a.bytes)});
                break;
            case Action::Flood:
                c.flood_next = 1;
                c.flood_last = options_.flood;
                break;
            case Action::Finish:
                c.finishing = true;
                break;
            case Action::Reset:
                reset(c);
                break;
        }
    }
    if (!c.gone && c.next_unsolicited && *c.next_unsolicited <= now) {
        if (c.finishing || c.write_shut) {
            c.next_unsolicited.reset();
        } else if (backlogged(c)) {
            // The client does not take what it has: this one is skipped.
            c.next_unsolicited = now + std::chrono::milliseconds(options_.unsolicited_every_ms);
        } else {
            c.out.push_back({*options_.unsolicited});
            c.queued += options_.unsolicited->size();
            c.next_unsolicited =
                std::max(*c.next_unsolicited + std::chrono::milliseconds(options_.unsolicited_every_ms), now);
        }
    }
    if (!c.gone && c.write_shut && now >= c.shut_deadline) drop(c, "the client did not close its side");
    if (!c.gone && options_.idle_timeout_ms > 0 &&
        now - c.last_active >= std::chrono::milliseconds(options_.idle_timeout_ms))
        drop(c, "idle for " + std::to_string(options_.idle_timeout_ms) + " ms");
}

// True while the client has as many reply bytes waiting as it may; notes
// when reading stops and starts again.
bool Server::backlogged(Connection& c) {
    const bool full = c.queued >= kMaxQueued;
    if (full && !c.held)
        note("#" + std::to_string(c.id) + " holds reading: the client does not take its replies");
    if (!full && c.held) note("#" + std::to_string(c.id) + " reads again");
    c.held = full;
    return full;
}

void Server::write_to(Connection& c, Time now) {
    while (!c.gone) {
        if (c.out.empty()) {
            if (c.flood_next == 0 || c.flood_next > c.flood_last) break;
            c.out.push_back({"FLOOD|" + std::to_string(c.flood_next++), true});
            if (options_.crlf) c.out.back().bytes += "\r\n";
            c.queued += c.out.back().bytes.size();
            if (c.flood_next > c.flood_last)
                note("#" + std::to_string(c.id) + " -> FLOOD|1 .. FLOOD|" + std::to_string(c.flood_last));
        }
        const std::string& piece = c.out.front().bytes;
        if (piece.empty()) {
            c.out.pop_front();
            continue;
        }
        const auto n = ::send(c.fd.get(), piece.data() + c.out_offset,
                              static_cast<int>(std::min<std::size_t>(piece.size() - c.out_offset, 1 << 30)),
                              sock::kSendFlags);
        if (n > 0) {
            c.out_offset += static_cast<std::size_t>(n);
            c.queued -= std::min(c.queued, static_cast<std::size_t>(n));
            c.last_active = now;
            if (c.out_offset == piece.size()) {
                if (!c.out.front().quiet) log_bytes(c, "->", piece);
                c.out.pop_front();
                c.out_offset = 0;
            }
            continue;
        }
        const int e = n < 0 ? sock::last_error() : 0;
        if (n < 0 && sock::interrupted(e)) continue;
        if (n < 0 && sock::would_block(e)) break;
        drop(c, sock::error_text(e));
        return;
    }
    // The replies just sent may have let a client that was behind catch up:
    // the lines it sent meanwhile are taken now. Left for later, they would
    // wait until it sent something more, which it may never do, and then
    // the quiet gap would take them all as one request.
    if (!c.gone && c.held && !backlogged(c)) take_lines(c, now);
    const bool flood_done = c.flood_next == 0 || c.flood_next > c.flood_last;
    if (!c.gone && c.finishing && !c.write_shut && c.out.empty() && flood_done) {
        // Orderly close: our side first; the client closes its side after reading.
        ::shutdown(c.fd.get(), sock::kShutWrite);
        c.write_shut = true;
        c.shut_deadline = now + kLingerAfterShut;
        note("#" + std::to_string(c.id) + " reply sent, closing");
    }
    // Once the client has closed and nothing is left to send, the
    // connection is over, whatever was planned for it.
    if (!c.gone && c.client_eof && c.actions.empty() && c.out.empty() && flood_done) {
        note("#" + std::to_string(c.id) + " closed");
        c.gone = true;
    }
}

void Server::reset(Connection& c) {
    // A zero linger time makes close() send a reset instead of a close.
    const linger l{1, 0};
    setsockopt(c.fd.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    c.fd.reset();
    c.gone = true;
    note("#" + std::to_string(c.id) + " reset");
}

void Server::drop(Connection& c, const std::string& why) {
    note("#" + std::to_string(c.id) + " dropped: " + why);
    c.gone = true;
}

std::optional<Server::Time> Server::next_deadline(const Connection& c) const {
    std::optional<Time> t;
    auto consider = [&](Time x) {
        if (!t || x < *t) t = x;
    };
    // While reading is held, the gap waits too: the client must catch up first.
    if (!c.pending.empty() && !c.held) consider(c.last_received + std::chrono::milliseconds(options_.gap_ms));
    if (options_.idle_timeout_ms > 0)
        consider(c.last_active + std::chrono::milliseconds(options_.idle_timeout_ms));
    if (!c.actions.empty()) consider(c.actions.begin()->first);
    if (c.next_unsolicited) consider(*c.next_unsolicited);
    if (c.write_shut) consider(c.shut_deadline);
    return t;
}

void Server::run() {
    std::vector<pollfd> fds;
    std::vector<Connection*> polled;  // the connection of each entry after the listener's
    while (!stop_requested()) {
        const Time now = Clock::now();
        for (auto& c : connections_) {
            run_due(*c, now);
            write_to(*c, now);
        }
        std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->gone; });

        fds.clear();
        polled.clear();
        std::optional<Time> wake;
        if (listen_paused_until_ && *listen_paused_until_ <= now) listen_paused_until_.reset();
        if (listen_paused_until_) wake = listen_paused_until_;
        const bool listening = !options_.backlog_full && !listen_paused_until_;
        if (listening) fds.push_back({listener_.get(), POLLIN, 0});
        for (auto& c : connections_) {
            short events = 0;
            if (!c->client_eof && !backlogged(*c)) events |= POLLIN;
            const bool flooding = c->flood_next != 0 && c->flood_next <= c->flood_last;
            if (!c->out.empty() || flooding) events |= POLLOUT;
            // Nothing to wait for on this socket: leave it out, so that a
            // hang-up it reports cannot wake the loop over and over.
            if (events != 0) {
                fds.push_back({c->fd.get(), events, 0});
                polled.push_back(c.get());
            }
            if (auto t = next_deadline(*c); t && (!wake || *t < *wake)) wake = t;
        }

#if defined(_WIN32)
        int wait_ms = kMaxWaitMs;
        if (wake) {
            const auto left = std::max<Clock::duration>(*wake - now, Clock::duration::zero());
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            wait_ms = static_cast<int>(std::min<long long>(ms, kMaxWaitMs));
        }
        int ready = 0;
        if (fds.empty()) {
            Sleep(static_cast<DWORD>(wait_ms));  // WSAPoll refuses an empty set
        } else {
            ready = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), wait_ms);
        }
        if (ready < 0) {
            note("wait failed: " + sock::error_text(sock::last_error()), true);
            break;
        }
#else
        timespec timeout{};
        timespec* timeout_ptr = nullptr;
        if (wake) {
            const auto left = std::max<Clock::duration>(*wake - now, Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout_ptr = &timeout;
        }
        const int ready = ppoll(fds.data(), fds.size(), timeout_ptr, &g_wait_mask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            note(std::string("wait failed: ") + std::strerror(errno), true);
            break;
        }
#endif
        const Time woke = Clock::now();
        std::size_t i = 0;
        if (listening) {
            if (fds[0].revents & POLLIN) accept_all(woke);
            i = 1;
        }
        // New connections are not among the polled ones; they wait for the next pass.
        for (std::size_t k = 0; i < fds.size(); ++i, ++k) {
            Connection& c = *polled[k];
            if (c.gone) continue;
            const short re = fds[i].revents;
            if (re & (POLLIN | POLLHUP | POLLERR)) read_from(c, woke);
            if (!c.gone && (re & POLLOUT)) write_to(c, woke);
        }
    }
    if (!connections_.empty())
        note("stopping: closing " + std::to_string(connections_.size()) + " connection(s)");
    connections_.clear();
}

}  // namespace monvia::ticket_service
