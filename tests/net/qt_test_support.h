#pragma once
// Helpers for the tests that run the Qt socket against real loopback
// connections: waiting in the Qt event loop, and a socket whose events are
// written down.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "net/qt_socket.h"

namespace monvia::net::looptest {

inline constexpr const char* kLoopback = "127.0.0.1";

// Processes events until pred holds or limit_ms has passed; gives pred's value.
inline bool wait_until(const std::function<bool()>& pred, int limit_ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < limit_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return pred();
}

inline void pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

// A QtSocket whose events are written down.
struct Client {
    QtSocket ws;
    std::vector<std::string> events;
    std::string read;
    bool read_on_arrival = true;

    Client() {
        ws.on_connect([this] { events.push_back("Connect"); });
        ws.on_error([this](int32_t n, const std::string& d) {
            events.push_back("Error " + std::to_string(n) + " " + d);
        });
        ws.on_data_arrival([this](int32_t n) {
            events.push_back("DataArrival");
            EXPECT_GT(n, 0);
            if (read_on_arrival) read += ws.get_data();
        });
        ws.on_send_complete([this] { events.push_back("SendComplete"); });
    }

    bool outcome() {
        return wait_until([this] { return !events.empty(); }, 10'000);
    }
    void connect_to(int32_t port) {
        events.clear();
        ws.connect(kLoopback, port);
        ASSERT_TRUE(outcome());
        ASSERT_EQ(events, std::vector<std::string>{"Connect"});
        events.clear();
    }
};

}  // namespace monvia::net::looptest
