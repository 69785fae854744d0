#pragma once
// The ticket service's network side: one thread, non-blocking sockets and
// ppoll (WSAPoll on Windows). Each connection collects bytes into requests, answers them from the
// ticket book (or as the options say), and closes or stays open.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "sockets.h"
#include "ticket_book.h"

namespace monvia::ticket_service {

// Owns a socket.
class Fd {
public:
    explicit Fd(sock::Handle fd = sock::kNone) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.release();
        }
        return *this;
    }
    sock::Handle get() const { return fd_; }
    bool valid() const { return fd_ != sock::kNone; }
    sock::Handle release() {
        const sock::Handle fd = fd_;
        fd_ = sock::kNone;
        return fd;
    }
    void reset();

private:
    sock::Handle fd_;
};

// SIGINT and SIGTERM ask the server to stop. They are blocked except while
// the server waits in ppoll, so none is lost between two waits. On Windows
// Ctrl+C, Ctrl+Break and closing the console do, seen within a quarter of a
// second.
void install_stop_signals();
bool stop_requested();

class Server {
public:
    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the log and starts listening. Gives an error text, empty on success.
    std::string open();
    // Where it listens, as host:port ([host]:port for IPv6).
    const std::string& address() const { return address_; }
    // Serves until stop_requested(); every connection is closed on the way out.
    void run();

private:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    struct Action {
        enum Kind { Send, Flood, Finish, Reset } kind;
        std::string bytes;
    };

    struct Piece {
        std::string bytes;
        bool quiet = false;  // a flood piece: not logged one by one
    };

    struct Connection {
        int id = 0;
        Fd fd;
        std::string pending;  // bytes of a request that has not ended yet
        Time last_received{};
        std::multimap<Time, Action> actions;  // equal times keep their order
        std::deque<Piece> out;                // pieces still to send, one send() each
        std::size_t out_offset = 0;
        // Reply bytes planned or queued and not yet taken by the socket. While
        // this is at the bound, nothing more is read from the client.
        std::size_t queued = 0;
        bool held = false;   // reading is held back (logged once per hold)
        Time last_active{};  // last byte received or sent
        int flood_next = 0;  // next FLOOD piece, 0 when no flood runs
        int flood_last = 0;
        bool answered = false;    // without --keep: the one request has its answer
        bool finishing = false;   // close once everything is out
        bool write_shut = false;  // our side is shut; waiting for the client's
        bool client_eof = false;
        bool gone = false;  // to be removed
        Time shut_deadline{};
        std::optional<Time> next_unsolicited;
    };

    void accept_all(Time now);
    void read_from(Connection& c, Time now);
    void take_lines(Connection& c, Time now);
    void on_request(Connection& c, const std::string& request, Time now);
    void run_due(Connection& c, Time now);
    void write_to(Connection& c, Time now);
    void reset(Connection& c);
    bool backlogged(Connection& c);
    void drop(Connection& c, const std::string& why);
    std::optional<Time> next_deadline(const Connection& c) const;
    void note(const std::string& line, bool always = false);
    void log_bytes(const Connection& c, const char* arrow, const std::string& bytes);

    Options options_;
    TicketBook book_;
    Fd listener_;
    std::vector<Fd> fillers_;  // --backlog-full: the connections that fill the queue
    std::string address_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_{nullptr, &std::fclose};
    std::vector<std::unique_ptr<Connection>> connections_;
    int next_id_ = 1;
    std::optional<Time> listen_paused_until_;  // out of descriptors: accept again later
};

}  // namespace monvia::ticket_service
