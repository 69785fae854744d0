#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "net/qt_socket.h"
#include "runtime/failure.h"

namespace monvia::net {

namespace {

// How long a closed connection may take to hand over bytes that are still
// queued in the socket before it is cut off.
constexpr int kDrainLimitMs = 5'000;
// Received bytes are handed over in pieces of at most this size, one piece
// for each pass of the event loop, so that a reply of many megabytes reaches
// the program as a series of DataArrival events with the window's own events
// handled in between, instead of as one block that keeps the loop busy for
// as long as the program needs to take it in. 64 KiB is what the kernel
// usually has ready at once on a busy connection, so small replies still come
// as one piece, and it is little enough for a handler to show in a few
// milliseconds; the cost of one more event per 64 KiB is negligible.
constexpr qint64 kPieceBytes = 64 * 1024;

// Qt's error during an attempt or on an open connection, as a socket error number.
int32_t number_for(QAbstractSocket::SocketError error, bool connecting) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return kErrConnectionRefused;
        case QAbstractSocket::HostNotFoundError:
            return kErrHostNotFound;
        case QAbstractSocket::SocketTimeoutError:
            return kErrTimedOut;
        case QAbstractSocket::RemoteHostClosedError:
            return connecting ? kErrConnectionAborted : kErrConnectionReset;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return kErrAddressNotAvailable;
        case QAbstractSocket::SocketAccessError:
            return 10013;
        case QAbstractSocket::SocketResourceError:
            return kErrNoBufferSpace;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        case QAbstractSocket::NetworkError:
            return connecting ? kErrNetworkUnreachable : kErrConnectionAborted;
        case QAbstractSocket::UnsupportedSocketOperationError:
            return 10043;
        case QAbstractSocket::TemporaryError:
            return 10035;
        default:
            return kErrConnectionAborted;
    }
}

// An errno from reading an open connection, as a socket error number.
#if !defined(_WIN32)
int32_t number_for_errno(int e) {
    switch (e) {
        case ECONNRESET:
        case EPIPE:
            return kErrConnectionReset;
        case ETIMEDOUT:
            return kErrTimedOut;
        case ENETUNREACH:
        case ENETDOWN:
            return kErrNetworkUnreachable;
        case EHOSTUNREACH:
            return 10065;
        default:
            return kErrConnectionAborted;
    }
}
#endif

// What one byte's peek at the socket found, without taking it.
enum class Peek { Data, Closed, Empty, Interrupted, Failed };

// Peeks at the connected socket without blocking (Qt keeps its sockets in
// non-blocking mode on Windows; elsewhere the call says so itself). On a
// failure `number` is the socket error number the program shows.
Peek peek(qintptr descriptor, int32_t& number) {
    char probe;
#if defined(_WIN32)
    const int r = ::recv(static_cast<SOCKET>(descriptor), &probe, 1, MSG_PEEK);
    if (r > 0) return Peek::Data;
    if (r == 0) return Peek::Closed;
    const int e = WSAGetLastError();
    if (e == WSAEINTR) return Peek::Interrupted;
    if (e == WSAEWOULDBLOCK) return Peek::Empty;
    // Winsock's numbers are the ones the program shows.
    number = e == WSAECONNRESET || e == WSAETIMEDOUT || e == WSAENETUNREACH || e == WSAENETDOWN ||
                     e == WSAEHOSTUNREACH
                 ? e
                 : kErrConnectionAborted;
    return Peek::Failed;
#else
    const ssize_t r = ::recv(static_cast<int>(descriptor), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) return Peek::Data;
    if (r == 0) return Peek::Closed;
    if (errno == EINTR) return Peek::Interrupted;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Peek::Empty;
    number = number_for_errno(errno);
    return Peek::Failed;
#endif
}

}  // namespace

class QtSocket::Impl {
public:
    Impl()
        : context_(std::make_unique<QObject>()),
          timer_(std::make_unique<QTimer>()),
          pump_(std::make_unique<QTimer>()) {
        timer_->setSingleShot(true);
        timer_->callOnTimeout(context_.get(), [this] { timed_out(); });
        pump_->callOnTimeout(context_.get(), [this] { pump_once(); });
    }

    ~Impl() {
        *alive_ = false;
        timer_->stop();
        pump_->stop();
        retire();
        draining_.clear();
        QCoreApplication::removePostedEvents(context_.get());
        // Destroyed from inside one of our own events: the context object (and
        // the pump, when it was the pump's turn) is still delivering it, so it
        // goes once that has returned.
        if (dispatching_ > 0) {
            context_.release()->deleteLater();
            pump_.release()->deleteLater();
        }
    }

    int16_t state() const { return state_; }

    void close() {
        ++generation_;
        timer_->stop();
        pump_->stop();
        retire();
        buffer_.clear();
        attempt_open_ = false;
        ended_ = false;
        state_ = kClosed;
    }

    void connect(const std::string& host, int32_t port) {
        if (state_ != kClosed) throw Failure(kErrInvalidOperation, describe_error(kErrInvalidOperation));
        ++generation_;
        state_ = kConnecting;
        ended_ = false;
        if (port < 1 || port > 65535) return post_error(kErrAddressNotAvailable);
        if (host.empty()) return post_error(kErrHostNotFound);

        tcp_ = std::make_unique<QTcpSocket>();
        tcp_->setProxy(QNetworkProxy::NoProxy);
        QTcpSocket* tcp = tcp_.get();
        QObject::connect(tcp, &QTcpSocket::connected, context_.get(), [this] { connected(); });
        QObject::connect(tcp, &QTcpSocket::errorOccurred, context_.get(),
                         [this](QAbstractSocket::SocketError e) { qt_error(e); });
        QObject::connect(tcp, &QTcpSocket::readyRead, context_.get(), [this] { read_input(); });
        QObject::connect(tcp, &QTcpSocket::stateChanged, context_.get(),
                         [this](QAbstractSocket::SocketState s) {
                             if (!attempt_open_) return;
                             if (s == QAbstractSocket::HostLookupState) state_ = kResolvingHost;
                             if (s == QAbstractSocket::ConnectingState) state_ = kConnecting;
                         });

        attempt_open_ = true;
        timer_->start(timeout_ms_);
        // Unbuffered: Qt leaves the bytes in the socket until they are read
        // here, so an orderly close and a reset by the peer can be told apart
        // (Qt itself reports both as "remote host closed").
        tcp->connectToHost(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())),
                           static_cast<quint16>(port), QIODevice::ReadWrite | QIODevice::Unbuffered);
    }

    void send_data(const std::string& bytes) {
        if (state_ != kConnected || !tcp_ || ended_)
            throw Failure(kErrBadState, describe_error(kErrBadState));
        const qint64 written = tcp_->write(bytes.data(), static_cast<qint64>(bytes.size()));
        if (written < 0) {
            // The connection broke underneath: the caller learns it now, and
            // the Error event tells the rest of the program.
            const int32_t number = number_for(tcp_->error(), false);
            end_connection(End::Broken, number);
            throw Failure(number, describe_error(number));
        }
        post([this] { deliver(on_send_complete_); });
    }

    std::string get_data() { return std::exchange(buffer_, {}); }

    std::function<void()> on_connect_;
    std::function<void(int32_t, const std::string&)> on_error_;
    std::function<void(int32_t)> on_data_arrival_;
    std::function<void()> on_send_complete_;
    int timeout_ms_ = kDefaultConnectTimeoutMs;

private:
    enum class End { PeerClosed, Broken };

    // Runs fn from the event loop, unless the connection it belongs to has
    // been closed or replaced by then.
    void post(std::function<void()> fn) {
        QMetaObject::invokeMethod(
            context_.get(),
            [this, generation = generation_, fn = std::move(fn)] {
                if (generation == generation_) fn();
            },
            Qt::QueuedConnection);
    }

    // Calls a user handler. Nothing of this object is touched afterwards
    // unless it is still alive: the handler may destroy the socket.
    template <class Handler, class... Args>
    void deliver(const Handler& handler, Args&&... args) {
        if (!handler) return;
        const Handler call = handler;  // the socket, and so the member, may go inside
        const std::shared_ptr<bool> alive = alive_;
        ++dispatching_;
        try {
            call(std::forward<Args>(args)...);
        } catch (const ProgramEnded&) {
            // The program is over; nothing to report.
        } catch (const std::exception& e) {
            std::fprintf(stderr, "socket event handler failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "socket event handler failed\n");
        }
        if (*alive) --dispatching_;
    }

    void post_error(int32_t number) {
        attempt_open_ = false;
        post([this, number] {
            state_ = kError;
            deliver(on_error_, number, describe_error(number));
        });
    }

    void connected() {
        if (!attempt_open_) return;
        attempt_open_ = false;
        timer_->stop();
        post([this] {
            state_ = kConnected;
            deliver(on_connect_);
        });
    }

    void timed_out() {
        if (!attempt_open_) return;
        if (tcp_) tcp_->abort();
        post_error(kErrTimedOut);
    }

    void qt_error(QAbstractSocket::SocketError error) {
        if (attempt_open_) {
            timer_->stop();
            return post_error(number_for(error, true));
        }
        if (ended_ || !tcp_) return;
        // On an open connection a remote close is found by reading, which
        // also tells a reset from an orderly close.
        if (error == QAbstractSocket::RemoteHostClosedError) return read_input();
        end_connection(End::Broken, number_for(error, false));
    }

    // Qt has bytes for us: the pump takes them, unless it already runs.
    void read_input() {
        if (ended_ || !tcp_ || attempt_open_) return;
        if (!pump_->isActive()) pump_->start(0);
    }

    // One turn of the pump: takes the next piece of what the socket holds,
    // raises DataArrival for it, and notices the end of the connection once
    // every byte before it has been handed over. The pump is a timer without
    // delay rather than a posted event, so that Qt handles the window's input
    // and the other pending events before it turns again; it stops when the
    // socket has nothing more for now, and readyRead starts it again.
    void pump_once() {
        if (ended_ || !tcp_ || attempt_open_) return pump_->stop();
        qint64 got = 0;
        bool drained = false;
        std::optional<std::pair<End, int32_t>> end;
        const qintptr descriptor = tcp_->socketDescriptor();
        const auto take = [&] {
            const QByteArray chunk = tcp_->read(kPieceBytes - got);
            buffer_.append(chunk.constData(), static_cast<size_t>(chunk.size()));
            got += chunk.size();
            return !chunk.isEmpty();
        };
        while (!end && !drained && got < kPieceBytes) {
            // Qt may hold some bytes itself; those come first.
            if (tcp_->bytesAvailable() > 0) {
                if (!take()) drained = true;
                continue;
            }
            if (descriptor < 0) {
                end = {End::PeerClosed, 0};
                break;
            }
            int32_t number = 0;
            const Peek p = peek(descriptor, number);
            if (p == Peek::Data) {
                if (!take()) drained = true;
            } else if (p == Peek::Closed) {
                end = {End::PeerClosed, 0};
            } else if (p == Peek::Interrupted) {
                continue;
            } else if (p == Peek::Empty) {
                drained = true;
            } else {
                end = {End::Broken, number};
            }
        }
        if (end || drained) pump_->stop();
        if (got > 0 && !buffer_.empty()) {  // else an earlier handler took it all
            const uint64_t generation = generation_;
            const std::shared_ptr<bool> alive = alive_;
            const auto waiting = static_cast<int32_t>(std::min<size_t>(buffer_.size(), INT32_MAX));
            deliver(on_data_arrival_, waiting);
            // The handler may have destroyed the socket or closed the connection.
            if (!*alive || generation != generation_) return;
        }
        if (end) end_connection(end->first, end->second);
    }

    void end_connection(End how, int32_t number) {
        if (ended_) return;
        ended_ = true;
        if (tcp_) tcp_->abort();
        post([this, how, number] {
            if (how == End::PeerClosed) {
                if (state_ == kConnected) state_ = kClosing;
                return;
            }
            state_ = kError;
            deliver(on_error_, number, describe_error(number));
        });
    }

    // Lets go of the current QTcpSocket. Bytes it still has queued for
    // sending are handed over before it goes, within a time limit.
    void retire() {
        if (!tcp_) return;
        std::unique_ptr<QTcpSocket> tcp = std::move(tcp_);
        QObject::disconnect(tcp.get(), nullptr, context_.get(), nullptr);
        if (*alive_ && tcp->state() == QAbstractSocket::ConnectedState && tcp->bytesToWrite() > 0) {
            QTcpSocket* raw = tcp.get();
            QObject::connect(raw, &QTcpSocket::disconnected, context_.get(), [this] { post_purge(); });
            QTimer::singleShot(kDrainLimitMs, raw, [raw] { raw->abort(); });
            raw->disconnectFromHost();
            if (raw->state() != QAbstractSocket::UnconnectedState) {
                draining_.push_back(std::move(tcp));
                return;
            }
        }
        tcp->abort();
    }

    // Deletes drained sockets from the event loop, never from inside their
    // own signals.
    void post_purge() {
        QMetaObject::invokeMethod(
            context_.get(),
            [this] {
                std::erase_if(draining_, [](const std::unique_ptr<QTcpSocket>& s) {
                    return s->state() == QAbstractSocket::UnconnectedState;
                });
            },
            Qt::QueuedConnection);
    }

    std::unique_ptr<QObject> context_;  // receives the posted events and the signals
    std::unique_ptr<QTimer> timer_;     // the connect time-out
    std::unique_ptr<QTimer> pump_;      // hands received bytes over piece by piece
    std::unique_ptr<QTcpSocket> tcp_;
    std::vector<std::unique_ptr<QTcpSocket>> draining_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int dispatching_ = 0;
    uint64_t generation_ = 0;
    int16_t state_ = kClosed;
    bool attempt_open_ = false;  // an attempt's outcome is not known yet
    bool ended_ = false;         // the open connection's end has been seen
    std::string buffer_;
};

QtSocket::QtSocket() : impl_(std::make_unique<Impl>()) {}
QtSocket::~QtSocket() = default;

int16_t QtSocket::state() const { return impl_->state(); }
void QtSocket::close() { impl_->close(); }
void QtSocket::connect(const std::string& host, int32_t port) { impl_->connect(host, port); }
void QtSocket::send_data(const std::string& bytes) { impl_->send_data(bytes); }
std::string QtSocket::get_data() { return impl_->get_data(); }

void QtSocket::on_connect(std::function<void()> handler) { impl_->on_connect_ = std::move(handler); }
void QtSocket::on_error(std::function<void(int32_t, const std::string&)> handler) {
    impl_->on_error_ = std::move(handler);
}
void QtSocket::on_data_arrival(std::function<void(int32_t)> handler) {
    impl_->on_data_arrival_ = std::move(handler);
}
void QtSocket::on_send_complete(std::function<void()> handler) {
    impl_->on_send_complete_ = std::move(handler);
}

void QtSocket::set_connect_timeout(int ms) { impl_->timeout_ms_ = std::max(1, ms); }
int QtSocket::connect_timeout() const { return impl_->timeout_ms_; }

}  // namespace monvia::net
