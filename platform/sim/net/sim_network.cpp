#include "net/sim_network.h"

#include <algorithm>
#include <set>

#include "runtime/failure.h"

namespace monvia::net {

namespace detail {

// Events posted on behalf of one owner. They are cancelled together when the
// owner closes or goes away, so nothing runs for an owner that no longer wants it.
class Pending {
public:
    explicit Pending(sim::Clock& clock) : clock_(clock) {}
    ~Pending() { cancel_all(); }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    void post_at(int64_t at_ms, std::function<void()> fn) {
        auto id = std::make_shared<sim::Clock::EventId>(0);
        const int64_t delay = std::max<int64_t>(0, at_ms - clock_.now_ms());
        *id = clock_.post(delay, [this, id, fn = std::move(fn)] {
            ids_.erase(*id);
            fn();
        });
        ids_.insert(*id);
    }

    void cancel_all() {
        for (auto id : ids_) clock_.cancel(id);
        ids_.clear();
    }

private:
    sim::Clock& clock_;
    std::set<sim::Clock::EventId> ids_;
};

struct NetState {
    explicit NetState(sim::Clock& l) : clock(l), service_events(l) {}

    sim::Clock& clock;
    std::map<std::pair<std::string, int32_t>, std::unique_ptr<SimService>> services;
    std::set<std::string> hosts;
    int64_t connect_delay = 1;
    int64_t connect_timeout = 20'000;
    std::function<void(const std::string&)> trace;
    bool alive = true;       // the SimNetwork still exists
    Pending service_events;  // deliveries to services

    void emit(const std::string& line) const {
        if (alive && trace) trace(line);
    }

    // Bytes from a client reach its peer: recorded, then shown to the service.
    void deliver_to_service(SimPeer& peer, const std::string& bytes) {
        if (!alive) return;
        service_events.post_at(clock.now_ms(), [this, &peer, bytes] {
            if (!alive) return;
            peer.received_ += bytes;
            peer.pieces_.push_back({clock.now_ms(), bytes});
            emit("peer received " + bytes);
            if (peer.service_.on_receive_) peer.service_.on_receive_(peer, bytes);
        });
    }
};

class SimSocket final : public Socket {
public:
    explicit SimSocket(std::shared_ptr<NetState> net) : net_(std::move(net)), events_(net_->clock) {}

    ~SimSocket() override { detach(); }

    int16_t state() const override { return state_; }

    void close() override {
        net_->emit("close");
        detach();
    }

    void connect(const std::string& host, int32_t port) override {
        if (state_ != kClosed) throw Failure(kErrInvalidOperation, describe_error(kErrInvalidOperation));
        net_->emit("connect " + host + " " + std::to_string(port));
        state_ = kConnecting;
        const int64_t now = net_->clock.now_ms();
        const int64_t delay = net_->connect_delay;
        const int64_t timeout = net_->connect_timeout;

        if (port < 1 || port > 65535) return fail_at(now + delay, kErrAddressNotAvailable);
        if (host.empty() || !net_->hosts.contains(host)) return fail_at(now + delay, kErrHostNotFound);
        auto it = net_->services.find({host, port});
        if (it == net_->services.end()) return fail_at(now + delay, kErrConnectionRefused);

        SimService& service = *it->second;
        ++service.attempts_;
        switch (service.mode_) {
            case SimService::Mode::Refuse:
                return fail_at(now + delay, kErrConnectionRefused);
            case SimService::Mode::NeverAccept:
                return fail_at(now + timeout, kErrTimedOut);
            case SimService::Mode::Accept: {
                const int64_t handshake = service.accept_delay_ >= 0 ? service.accept_delay_ : delay;
                // A handshake slower than the socket's patience is a time-out.
                if (handshake >= timeout) return fail_at(now + timeout, kErrTimedOut);
                events_.post_at(now + handshake, [this, &service] { establish(service); });
                return;
            }
        }
    }

    void send_data(const std::string& bytes) override {
        if (state_ != kConnected || peer_ == nullptr)
            throw Failure(kErrBadState, describe_error(kErrBadState));
        net_->emit("send " + bytes);
        net_->deliver_to_service(*peer_, bytes);
        events_.post_at(net_->clock.now_ms(), [this] {
            net_->emit("event SendComplete");
            if (on_send_complete_) on_send_complete_();
        });
    }

    std::string get_data() override {
        std::string bytes = std::exchange(buffer_, {});
        net_->emit("get " + bytes);
        return bytes;
    }

    void on_connect(std::function<void()> handler) override { on_connect_ = std::move(handler); }
    void on_error(std::function<void(int32_t, const std::string&)> handler) override {
        on_error_ = std::move(handler);
    }
    void on_data_arrival(std::function<void(int32_t)> handler) override {
        on_data_arrival_ = std::move(handler);
    }
    void on_send_complete(std::function<void()> handler) override { on_send_complete_ = std::move(handler); }

    // Called by the peer: its bytes arrive at the given time.
    void arrive_at(int64_t at_ms, std::string bytes) {
        events_.post_at(at_ms, [this, bytes = std::move(bytes)] {
            buffer_ += bytes;
            net_->emit("peer send " + bytes);
            const auto waiting = static_cast<int32_t>(std::min<size_t>(buffer_.size(), INT32_MAX));
            net_->emit("event DataArrival " + std::to_string(waiting));
            if (on_data_arrival_) on_data_arrival_(waiting);
        });
    }

    void peer_close_at(int64_t at_ms) {
        events_.post_at(at_ms, [this] {
            net_->emit("peer close");
            if (state_ == kConnected) state_ = kClosing;
        });
    }

    void peer_reset_at(int64_t at_ms) {
        events_.post_at(at_ms, [this] {
            net_->emit("peer reset");
            raise_error(kErrConnectionReset);
        });
    }

private:
    void fail_at(int64_t at_ms, int32_t number) {
        events_.post_at(at_ms, [this, number] { raise_error(number); });
    }

    void raise_error(int32_t number) {
        state_ = kError;
        const std::string description = describe_error(number);
        net_->emit("event Error " + std::to_string(number) + " " + description);
        if (on_error_) on_error_(number, description);
    }

    void establish(SimService& service) {
        const int64_t now = net_->clock.now_ms();
        service.peers_.push_back(std::make_unique<SimPeer>(*net_, service, this, now));
        peer_ = service.peers_.back().get();
        SimPeer& peer = *peer_;
        state_ = kConnected;
        net_->emit("event Connect");
        // The handler may close or even destroy this socket; only what
        // outlives it is used afterwards.
        const std::shared_ptr<NetState> net = net_;
        if (on_connect_) on_connect_();
        if (net->alive && service.on_accept_) service.on_accept_(peer);
    }

    // Lets go of the connection: no further events, nothing waiting, the
    // peer learns that the client has closed.
    void detach() {
        events_.cancel_all();
        if (peer_ != nullptr) {
            peer_->client_ = nullptr;
            peer_->closed_by_client_ = true;
            peer_->client_closed_at_ = net_->clock.now_ms();
            peer_ = nullptr;
        }
        buffer_.clear();
        state_ = kClosed;
    }

    std::shared_ptr<NetState> net_;
    Pending events_;
    int16_t state_ = kClosed;
    std::string buffer_;
    SimPeer* peer_ = nullptr;
    std::function<void()> on_connect_;
    std::function<void(int32_t, const std::string&)> on_error_;
    std::function<void(int32_t)> on_data_arrival_;
    std::function<void()> on_send_complete_;
};

}  // namespace detail

// --- SimPeer ---------------------------------------------------------------

SimPeer::SimPeer(detail::NetState& net, SimService& service, detail::SimSocket* client, int64_t now)
    : net_(net), service_(service), client_(client), accepted_at_(now), last_arrival_(now) {}

int64_t SimPeer::schedule_at(int64_t delay_ms) {
    const int64_t at = std::max(net_.clock.now_ms() + std::max<int64_t>(0, delay_ms), last_arrival_);
    last_arrival_ = at;
    return at;
}

void SimPeer::send(const std::string& bytes, int64_t delay_ms) {
    if (closed_by_service_ || client_ == nullptr) return;
    client_->arrive_at(schedule_at(delay_ms), bytes);
}

void SimPeer::close(int64_t delay_ms) {
    if (closed_by_service_) return;
    closed_by_service_ = true;
    if (client_ != nullptr) client_->peer_close_at(schedule_at(delay_ms));
}

void SimPeer::reset(int64_t delay_ms) {
    if (closed_by_service_) return;
    closed_by_service_ = true;
    if (client_ != nullptr) client_->peer_reset_at(schedule_at(delay_ms));
}

// --- SimService ------------------------------------------------------------

SimService::SimService(std::string host, int32_t port) : host_(std::move(host)), port_(port) {}

SimService& SimService::accept_after(int64_t ms) {
    mode_ = Mode::Accept;
    accept_delay_ = std::max<int64_t>(0, ms);
    return *this;
}

SimService& SimService::never_accept() {
    mode_ = Mode::NeverAccept;
    return *this;
}

SimService& SimService::refuse() {
    mode_ = Mode::Refuse;
    return *this;
}

SimService& SimService::on_receive(ReceiveHandler handler) {
    on_receive_ = std::move(handler);
    return *this;
}

SimService& SimService::on_accept(AcceptHandler handler) {
    on_accept_ = std::move(handler);
    return *this;
}

std::vector<SimPeer*> SimService::connections() {
    std::vector<SimPeer*> out;
    out.reserve(peers_.size());
    for (auto& p : peers_) out.push_back(p.get());
    return out;
}

SimPeer* SimService::last_connection() { return peers_.empty() ? nullptr : peers_.back().get(); }

std::string SimService::received() const {
    std::string all;
    for (const auto& p : peers_) all += p->received();
    return all;
}

// --- SimNetwork ------------------------------------------------------------

SimNetwork::SimNetwork(sim::Clock& clock) : state_(std::make_shared<detail::NetState>(clock)) {}

SimNetwork::~SimNetwork() {
    state_->alive = false;
    state_->trace = nullptr;
    state_->service_events.cancel_all();
    for (auto& [key, service] : state_->services) {
        service->on_receive_ = nullptr;
        service->on_accept_ = nullptr;
    }
}

std::unique_ptr<Socket> SimNetwork::create_socket() { return std::make_unique<detail::SimSocket>(state_); }

SimService& SimNetwork::listen(const std::string& host, int32_t port) {
    state_->hosts.insert(host);
    auto& slot = state_->services[{host, port}];
    if (!slot) slot = std::make_unique<SimService>(host, port);
    return *slot;
}

void SimNetwork::add_host(const std::string& host) { state_->hosts.insert(host); }

void SimNetwork::set_connect_delay(int64_t ms) { state_->connect_delay = std::max<int64_t>(0, ms); }

void SimNetwork::set_connect_timeout(int64_t ms) { state_->connect_timeout = std::max<int64_t>(1, ms); }

SimService* SimNetwork::service(const std::string& host, int32_t port) {
    auto it = state_->services.find({host, port});
    return it == state_->services.end() ? nullptr : it->second.get();
}

std::string SimNetwork::received(const std::string& host, int32_t port) const {
    auto it = state_->services.find({host, port});
    return it == state_->services.end() ? std::string{} : it->second->received();
}

void SimNetwork::on_trace(std::function<void(const std::string& line)> observer) {
    state_->trace = std::move(observer);
}

}  // namespace monvia::net
