#pragma once
// The TCP client socket seam: an event-driven socket whose events are
// delivered on the user-interface thread while window events are processed,
// never in the middle of a handler that does not process events, and never
// inside a call to the socket itself. There is a Qt implementation and a
// scripted in-memory one; the rules below hold for both (tests/seams checks
// them on both), and a backend's header says only what it adds.
//
// - State: 0 closed, 6 while an attempt is under way (4 while a host name is
//   looked up, where the backend does that apart), 7 exactly while connected,
//   8 after the peer closed its side, 9 after an error. It becomes 7, 8 or 9
//   only when the event that goes with it is delivered.
// - connect() returns at once; every attempt ends in exactly one Connect or
//   one Error event: 10049 for a port outside 1..65535, 11001 for a host that
//   cannot be resolved (or an empty host), 10061 when nothing listens or the
//   peer refuses, 10060 when the socket's own connect time-out (20 s unless
//   changed) runs out before the handshake completes. connect() on a socket
//   that is not closed throws Failure 40020.
// - close() is harmless in every state; once it returns nothing more of that
//   connection is delivered and bytes waiting to be read are dropped. Bytes
//   already handed to send_data() still go out.
// - send_data() on a socket whose State is not 7 throws Failure 40006 and
//   sends nothing. Otherwise the bytes go out exactly as given, zero bytes
//   included, and one SendComplete event follows each call.
// - Received bytes are kept exactly as they came; get_data() returns all of
//   them and empties the buffer. DataArrival carries the number of bytes
//   waiting, never 0; bytes of one connection arrive in the order sent.
// - The peer's orderly close sets State 8 and raises no event; bytes that came
//   before it can still be read. A reset by the peer raises Error 10054 and
//   sets State 9.
// - A handler may close or destroy its socket; nothing more of that socket is
//   delivered afterwards. Destroying a socket drops its queued events.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace monvia::net {

// Values of State.
enum SocketState : int16_t {
    kClosed = 0,
    kOpen = 1,
    kListening = 2,
    kConnectionPending = 3,
    kResolvingHost = 4,
    kHostResolved = 5,
    kConnecting = 6,
    kConnected = 7,
    kClosing = 8,  // the peer has shut its side
    kError = 9,
};

// Well-known socket error numbers.
inline constexpr int32_t kErrConnectionReset = 10054;
inline constexpr int32_t kErrTimedOut = 10060;
inline constexpr int32_t kErrConnectionRefused = 10061;
inline constexpr int32_t kErrHostNotFound = 11001;
inline constexpr int32_t kErrAddressNotAvailable = 10049;
inline constexpr int32_t kErrNoBufferSpace = 10055;
inline constexpr int32_t kErrNetworkUnreachable = 10051;
inline constexpr int32_t kErrConnectionAborted = 10053;
// Failures of the socket calls themselves (thrown as monvia::Failure).
inline constexpr int32_t kErrBadState = 40006;          // send_data while not connected
inline constexpr int32_t kErrInvalidOperation = 40020;  // connect while not closed

// The description that goes with an error number, in the wording the
// socket's users know; "Unknown socket error <n>" for a number it does not know.
std::string describe_error(int32_t number);

class Socket {
public:
    virtual ~Socket() = default;

    virtual int16_t state() const = 0;
    virtual void close() = 0;
    virtual void connect(const std::string& host, int32_t port) = 0;
    virtual void send_data(const std::string& bytes) = 0;
    // All bytes received and not yet taken.
    virtual std::string get_data() = 0;

    virtual void on_connect(std::function<void()> handler) = 0;
    virtual void on_error(std::function<void(int32_t number, const std::string& description)> handler) = 0;
    virtual void on_data_arrival(std::function<void(int32_t bytes)> handler) = 0;
    virtual void on_send_complete(std::function<void()> handler) = 0;
};

}  // namespace monvia::net
