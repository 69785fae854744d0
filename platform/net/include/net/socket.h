#pragma once
// The TCP client socket seam: an event-driven socket whose events are
// delivered on the user-interface thread while window events are processed,
// never in the middle of a handler that does not process events.

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
    // Closes the connection, if any; harmless on a closed socket.
    virtual void close() = 0;
    // Starts an attempt and returns at once. The outcome is exactly one
    // Connect or one Error event.
    virtual void connect(const std::string& host, int32_t port) = 0;
    // Sends the bytes as they are, nothing added. Throws Failure when the
    // socket is not connected.
    virtual void send_data(const std::string& bytes) = 0;
    // All bytes received and not yet taken.
    virtual std::string get_data() = 0;

    virtual void on_connect(std::function<void()> handler) = 0;
    virtual void on_error(std::function<void(int32_t number, const std::string& description)> handler) = 0;
    virtual void on_data_arrival(std::function<void(int32_t bytes)> handler) = 0;
    virtual void on_send_complete(std::function<void()> handler) = 0;
};

}  // namespace monvia::net
