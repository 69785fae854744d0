#pragma once
// The TCP client socket over QTcpSocket.
//
// Needs a QCoreApplication (or QApplication) on the thread that uses it; all
// its events come out of that thread's Qt event loop, so they are delivered
// while the program processes events and never inside a call to the socket
// itself (connect(), close(), send_data() and get_data() raise nothing).
//
// The seam's rules are in net/socket.h. What this backend adds:
// - State 4 while the host name is being looked up, then 6 for the handshake.
// - Bytes are taken from the connection in pieces of at most 64 KiB, one
//   piece and its DataArrival for each pass of the event loop, so a large
//   reply arrives as a series of events with the program's other events
//   handled in between. The next piece is read once the handler of the last
//   one has returned; closing the connection in it drops the rest.
// - get_data() also takes bytes that have come but not been announced yet;
//   their DataArrival is then not raised.
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
