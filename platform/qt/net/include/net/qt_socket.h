#pragma once
// The TCP client socket over QTcpSocket.
//
// Needs a QCoreApplication (or QApplication) on the thread that uses it; all
// its events come out of that thread's Qt event loop, so they are delivered
// while the program processes events and never inside a call to the socket
// itself (connect(), close(), send_data() and get_data() raise nothing).
//
// Semantics, the same as the in-memory network's:
// - State: 0 closed, 4 while the host name is being looked up, 6 while the
//   handshake is under way, 7 exactly while connected, 8 after the peer
//   closed its side, 9 after an error. The value changes to 7, 8 or 9 only
//   when the event that goes with it is delivered.
// - connect() returns at once and every attempt ends in exactly one Connect
//   or one Error event: 10049 for a port outside 1..65535, 11001 for a host
//   that cannot be resolved (or an empty host), 10061 refused, 10060 when the
//   socket's own connect time-out (20 s unless changed) runs out first, and
//   the usual numbers for the rest. connect() on a socket that is not closed
//   throws Failure 40020.
// - close() is harmless on a closed socket; once it returns, nothing more of
//   that connection is delivered, and bytes waiting to be read are dropped.
//   Bytes already handed to send_data() still go out.
// - send_data() on a socket whose State is not 7 throws Failure 40006. The
//   bytes go out exactly as given; a SendComplete event follows.
// - Received bytes are kept exactly as they came, zero bytes included;
//   get_data() returns all of them and empties the buffer. DataArrival
//   carries the number of bytes waiting, and is not raised when an earlier
//   get_data() has already taken everything.
// - Bytes are taken from the connection in pieces of at most 64 KiB, one
//   piece and its DataArrival for each pass of the event loop, so a large
//   reply arrives as a series of events with the program's other events
//   handled in between. The next piece is read once the handler of the last
//   one has returned; closing the connection in it drops the rest.
// - The peer's orderly close sets State 8 and raises no event; bytes that came
//   before it can still be read. A reset by the peer raises Error 10054 and
//   sets State 9.
//
// An exception that escapes an event handler is not carried through Qt's
// event loop: ProgramEnded is dropped (the program is over already), anything
// else is written to standard error and dropped. Handlers are expected to be
// guarded (see runtime/guard.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/socket.h"

namespace monvia::net {

class QtSocket final : public Socket {
public:
    static constexpr int kDefaultConnectTimeoutMs = 20'000;

    QtSocket();
    ~QtSocket() override;
    QtSocket(const QtSocket&) = delete;
    QtSocket& operator=(const QtSocket&) = delete;

    int16_t state() const override;
    void close() override;
    void connect(const std::string& host, int32_t port) override;
    void send_data(const std::string& bytes) override;
    std::string get_data() override;

    void on_connect(std::function<void()> handler) override;
    void on_error(std::function<void(int32_t number, const std::string& description)> handler) override;
    void on_data_arrival(std::function<void(int32_t bytes)> handler) override;
    void on_send_complete(std::function<void()> handler) override;

    // How long an attempt may take, lookup included, before it ends in
    // Error 10060; applies to attempts started afterwards. At least 1 ms.
    void set_connect_timeout(int ms);
    int connect_timeout() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace monvia::net
