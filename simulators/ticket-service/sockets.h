#pragma once
// The socket calls the service makes, over POSIX sockets or over Windows
// sockets: the handle type, non-blocking accept, error numbers and their
// texts, and the wait for ready sockets.

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <string>

namespace monvia::ticket_service::sock {

#if defined(_WIN32)

using Handle = SOCKET;
inline constexpr Handle kNone = INVALID_SOCKET;
inline constexpr int kShutWrite = SD_SEND;
inline constexpr int kSendFlags = 0;  // Windows raises no signal on a broken connection
inline constexpr int kCloseOnExec = 0;

// Windows sockets must be started once per process; later calls only count.
inline bool start() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline int last_error() { return WSAGetLastError(); }
inline bool interrupted(int e) { return e == WSAEINTR; }
inline bool would_block(int e) { return e == WSAEWOULDBLOCK; }
inline bool aborted(int e) { return e == WSAECONNABORTED; }
inline bool out_of_resources(int e) { return e == WSAEMFILE || e == WSAENOBUFS; }
inline void close(Handle h) { ::closesocket(h); }
inline bool set_nonblocking(Handle h) {
    u_long on = 1;
    return ::ioctlsocket(h, FIONBIO, &on) == 0;
}
inline std::string error_text(int e) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(e), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "socket error " + std::to_string(e) : s + " (" + std::to_string(e) + ")";
}
// The text for a failure of getaddrinfo (a Windows sockets error number there).
inline std::string resolve_error_text(int rc) { return error_text(rc); }
inline Handle accept(Handle listener, sockaddr* from, socklen_t* len) {
    const Handle h = ::accept(listener, from, len);
    if (h != kNone && !set_nonblocking(h)) {
        const int e = last_error();
        ::closesocket(h);
        WSASetLastError(e);
        return kNone;
    }
    return h;
}
inline Handle open_nonblocking(int family) {
    const Handle h = ::socket(family, SOCK_STREAM, 0);
    if (h != kNone && !set_nonblocking(h)) {
        ::closesocket(h);
        return kNone;
    }
    return h;
}

#else

using Handle = int;
inline constexpr Handle kNone = -1;
inline constexpr int kShutWrite = SHUT_WR;
inline constexpr int kSendFlags = MSG_NOSIGNAL;
inline constexpr int kCloseOnExec = SOCK_CLOEXEC;

inline bool start() { return true; }
inline int last_error() { return errno; }
inline bool interrupted(int e) { return e == EINTR; }
inline bool would_block(int e) { return e == EAGAIN || e == EWOULDBLOCK; }
inline bool aborted(int e) { return e == ECONNABORTED; }
inline bool out_of_resources(int e) { return e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM; }
inline void close(Handle h) { ::close(h); }
inline bool set_nonblocking(Handle h) {
    const int flags = fcntl(h, F_GETFL, 0);
    return flags >= 0 && fcntl(h, F_SETFL, flags | O_NONBLOCK) == 0;
}
inline std::string error_text(int e) { return std::strerror(e); }
inline std::string resolve_error_text(int rc) { return gai_strerror(rc); }
inline Handle accept(Handle listener, sockaddr* from, socklen_t* len) {
    return ::accept4(listener, from, len, SOCK_NONBLOCK | SOCK_CLOEXEC);
}
inline Handle open_nonblocking(int family) {
    return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

#endif

}  // namespace monvia::ticket_service::sock
