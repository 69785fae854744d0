#pragma once
// A scripted in-memory network on the virtual clock of the in-memory
// backends (sim/clock.h), for tests.
//
// The test declares services (host, port, how they accept and what they
// answer) and hands sockets from create_socket() to the code under test.
// Every socket event (Connect, Error, DataArrival, SendComplete) is posted to
// the clock, so it is delivered only while the window toolkit processes events
// (ui::SimToolkit::process_events / advance / run_until_idle), never inside
// the socket call that caused it.
//
// The seam's rules are in net/socket.h; here every outcome comes in virtual
// time: after the network's connect delay (a host lookup, a refusal, a
// handshake) or after the connect time-out, both adjustable below. Bytes
// sent by the client reach the service without delay.
//
// The bytes of one connection never overtake each other: a piece sent with a
// delay arrives at now + delay, but never before a piece sent earlier; close
// and reset are ordered behind the data sent before them, as on a stream.
//
// Lifetime: the clock must outlive the network and every socket. The
// network and its sockets may be destroyed in either order; once the network
// is gone its services no longer see anything.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "net/socket.h"
#include "sim/clock.h"

namespace monvia::net {

namespace detail {
struct NetState;
class SimSocket;
}  // namespace detail

class SimService;

// The service's end of one accepted connection.
class SimPeer {
public:
    struct Piece {
        int64_t at_ms;      // virtual time the piece reached the service
        std::string bytes;  // as the client sent it
    };

    // Made by the network when a handshake completes.
    SimPeer(detail::NetState& net, SimService& service, detail::SimSocket* client, int64_t now);
    SimPeer(const SimPeer&) = delete;
    SimPeer& operator=(const SimPeer&) = delete;

    // Sends bytes to the client; they arrive after delay_ms (stream order kept).
    // Bytes sent after either side has closed are dropped.
    void send(const std::string& bytes, int64_t delay_ms = 0);
    // Orderly close: the client's State becomes 8; the socket's own Close
    // event is not part of the seam, so no event is raised.
    void close(int64_t delay_ms = 0);
    // Abortive close: the client gets Error 10054 and State 9.
    void reset(int64_t delay_ms = 0);

    // Every byte this connection received, in order, and the same in the
    // pieces as they arrived (one per send_data of the client).
    const std::string& received() const { return received_; }
    const std::vector<Piece>& pieces() const { return pieces_; }
    // The client closed the connection (close() or destruction of its socket).
    bool closed_by_client() const { return closed_by_client_; }
    // This end has sent its close or reset (it may still be on its way).
    bool closed_by_service() const { return closed_by_service_; }
    // Neither side has closed.
    bool open() const { return !closed_by_client_ && !closed_by_service_; }
    int64_t accepted_at_ms() const { return accepted_at_; }
    int64_t client_closed_at_ms() const { return client_closed_at_; }

private:
    friend struct detail::NetState;
    friend class detail::SimSocket;
    friend class SimService;

    int64_t schedule_at(int64_t delay_ms);

    detail::NetState& net_;
    SimService& service_;
    detail::SimSocket* client_;  // null once the client has let go
    std::string received_;
    std::vector<Piece> pieces_;
    bool closed_by_client_ = false;
    bool closed_by_service_ = false;
    int64_t accepted_at_ = 0;
    int64_t client_closed_at_ = -1;
    int64_t last_arrival_ = 0;  // stream order of what this end sends
};

// A service listening at one host and port. Setters return *this for chaining.
class SimService {
public:
    using ReceiveHandler = std::function<void(SimPeer& peer, const std::string& bytes)>;
    using AcceptHandler = std::function<void(SimPeer& peer)>;

    // Made by SimNetwork::listen.
    SimService(std::string host, int32_t port);
    SimService(const SimService&) = delete;
    SimService& operator=(const SimService&) = delete;

    // The handshake completes ms after connect() (default: the network's
    // connect delay).
    SimService& accept_after(int64_t ms);
    // The handshake never completes: the socket's own connect time-out ends
    // the attempt with Error 10060.
    SimService& never_accept();
    // Every attempt is refused: Error 10061 after the connect delay.
    SimService& refuse();
    // Called for every piece of bytes a connection receives; script replies here.
    SimService& on_receive(ReceiveHandler handler);
    // Called once per accepted connection, right after the client's Connect
    // event (for example to send unsolicited data).
    SimService& on_accept(AcceptHandler handler);

    const std::string& host() const { return host_; }
    int32_t port() const { return port_; }
    // Accepted connections in accept order.
    std::vector<SimPeer*> connections();
    // The most recent connection, or null.
    SimPeer* last_connection();
    // Connection attempts that reached this service (accepted or not).
    int attempts() const { return attempts_; }
    // Everything any connection received, in order, concatenated.
    std::string received() const;

private:
    friend struct detail::NetState;
    friend class detail::SimSocket;
    friend class SimNetwork;
    enum class Mode { Accept, NeverAccept, Refuse };

    std::string host_;
    int32_t port_;
    Mode mode_ = Mode::Accept;
    int64_t accept_delay_ = -1;  // -1: the network's connect delay
    ReceiveHandler on_receive_;
    AcceptHandler on_accept_;
    std::vector<std::unique_ptr<SimPeer>> peers_;
    int attempts_ = 0;
};

class SimNetwork {
public:
    explicit SimNetwork(sim::Clock& clock);
    ~SimNetwork();
    SimNetwork(const SimNetwork&) = delete;
    SimNetwork& operator=(const SimNetwork&) = delete;

    // A client socket (the window's WS).
    std::unique_ptr<Socket> create_socket();

    // The service at host:port, created on first use (which also makes the
    // host known). Later calls return the same service.
    SimService& listen(const std::string& host, int32_t port);
    // A resolvable host with nothing listening: attempts are refused.
    void add_host(const std::string& host);
    // Time from connect() to the Connect or Error event (default 1 ms);
    // also the time a host lookup or a refusal takes.
    void set_connect_delay(int64_t ms);
    // The sockets' own connect time-out (default 20000 ms), for attempts
    // started from now on.
    void set_connect_timeout(int64_t ms);

    // The service at host:port, or null when none was declared.
    SimService* service(const std::string& host, int32_t port);
    // Everything any connection to host:port ever received, in order; empty
    // when nothing listens there.
    std::string received(const std::string& host, int32_t port) const;

    // One line per socket call and per delivered event, in the order they
    // happen, for an ordered trace of a test:
    //   "connect <host> <port>", "close", "send <bytes>", "get <bytes>",
    //   "event Connect", "event Error <number> <description>",
    //   "event DataArrival <count>", "event SendComplete",
    //   and on the service side "peer received <bytes>", "peer send <bytes>",
    //   "peer close", "peer reset" (when they take effect at the client).
    // Bytes are given as they are, unescaped.
    void on_trace(std::function<void(const std::string& line)> observer);

private:
    std::shared_ptr<detail::NetState> state_;
};

}  // namespace monvia::net
