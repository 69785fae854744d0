#pragma once
// The client window on the in-memory toolkit and network: a ticket service
// listening at the window's default host and port, an ordered trace of every
// socket call and event, and short hands for what a user does.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_window.h"
#include "net/sim_network.h"
#include "runtime/failure.h"
#include "ui/sim_toolkit.h"

namespace monvia::client::testing {

// A socket that passes everything to a simulated one, except the calls a
// test tells it to fail (as the socket control itself failing would).
class FaultySocket : public net::Socket {
public:
    explicit FaultySocket(std::unique_ptr<net::Socket> inner) : inner_(std::move(inner)) {}

    std::optional<Failure> fail_connect, fail_send, fail_get;

    int16_t state() const override { return inner_->state(); }
    void close() override { inner_->close(); }
    void connect(const std::string& host, int32_t port) override {
        if (fail_connect) throw *fail_connect;
        inner_->connect(host, port);
    }
    void send_data(const std::string& bytes) override {
        if (fail_send) throw *fail_send;
        inner_->send_data(bytes);
    }
    std::string get_data() override {
        if (fail_get) throw *fail_get;
        return inner_->get_data();
    }
    void on_connect(std::function<void()> h) override { inner_->on_connect(std::move(h)); }
    void on_error(std::function<void(int32_t, const std::string&)> h) override {
        inner_->on_error(std::move(h));
    }
    void on_data_arrival(std::function<void(int32_t)> h) override { inner_->on_data_arrival(std::move(h)); }
    void on_send_complete(std::function<void()> h) override { inner_->on_send_complete(std::move(h)); }

private:
    std::unique_ptr<net::Socket> inner_;
};

class SimRig {
public:
    // With faulty set, the window's socket is a FaultySocket the test can script.
    explicit SimRig(bool faulty = false) : service_(network.listen("127.0.0.1", 16501)) {
        network.on_trace([this](const std::string& line) { trace.push_back(line); });
        std::unique_ptr<net::Socket> socket = network.create_socket();
        if (faulty) {
            auto wrapper = std::make_unique<FaultySocket>(std::move(socket));
            faults = wrapper.get();
            socket = std::move(wrapper);
        }
        test = std::make_unique<Test>(tk, std::move(socket));
        test->show();
        window = tk.window();
    }

    net::SimService& service() { return service_; }
    ui::SimControl& control(std::string_view name) { return window->control(name); }
    std::string text(std::string_view name) { return control(name).text(); }
    bool frame_enabled() { return control("frmDades").enabled(); }
    bool timer_armed() { return control("Timer1").armed(); }
    int timer_interval() { return control("Timer1").interval(); }

    void type(std::string_view name, const std::string& value) {
        ASSERT_TRUE(window->type(name, value)) << name;
    }
    void click(std::string_view name) { ASSERT_TRUE(window->click(name)) << name; }
    void choose_check_state() { click("optChk"); }
    void tick_automatic() { click("chkAuto"); }
    void tick_keep() { click("chkKeep"); }
    void press_send() { click("cmdSend"); }
    // Press Send and let everything that follows happen.
    void send_and_settle() {
        press_send();
        tk.run_until_idle();
    }

    // Every piece the service received, over all connections, in order.
    std::vector<std::string> requests() {
        std::vector<std::string> out;
        for (net::SimPeer* peer : service_.connections())
            for (const auto& piece : peer->pieces()) out.push_back(piece.bytes);
        return out;
    }
    std::vector<int64_t> request_times() {
        std::vector<int64_t> out;
        for (net::SimPeer* peer : service_.connections())
            for (const auto& piece : peer->pieces()) out.push_back(piece.at_ms);
        return out;
    }
    // The trace lines of the client's own socket calls: connect, close, send.
    std::vector<std::string> client_calls() const {
        std::vector<std::string> out;
        for (const auto& line : trace)
            if (line.starts_with("connect ") || line == "close" || line.starts_with("send "))
                out.push_back(line);
        return out;
    }
    // Forgets the trace so far.
    void clear_trace() { trace.clear(); }

    // The service answers every piece with "OK " and the piece.
    void echo_ok() {
        service_.on_receive([](net::SimPeer& peer, const std::string& bytes) { peer.send("OK " + bytes); });
    }

    ui::SimToolkit tk;
    std::vector<std::string> trace;  // outlives the network that writes it
    net::SimNetwork network{tk.clock()};

private:
    net::SimService& service_;

public:
    std::unique_ptr<Test> test;  // destroyed first: Form_Terminate closes the socket
    ui::SimWindow* window = nullptr;
    FaultySocket* faults = nullptr;  // owned by the window
};

}  // namespace monvia::client::testing
