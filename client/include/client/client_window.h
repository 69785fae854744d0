#pragma once
// The client window Test: its controls (looked up once from the layout), the
// TCP socket WS it owns, the connect-outcome flag, and its handlers.
//
// Every handler runs inside the handler guard titled "VeluntTest": a failure
// that no handler catches becomes the unhandled-failure report and ends the
// program. The handlers are public so that tests can call them directly, but
// in the program they run only from the events they are bound to.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/socket.h"
#include "runtime/convert.h"
#include "ui/toolkit.h"

namespace monvia::client {

// Values of ConnectOutcome.
inline constexpr uint8_t kOutcomePending = 0;
inline constexpr uint8_t kOutcomeConnected = 1;
inline constexpr uint8_t kOutcomeError = 2;

// The received bytes as transcript text: every byte becomes exactly one
// character, the one with the byte's value as its code (so ASCII shows as
// itself and a zero byte is kept), stored as UTF-8.
std::string bytes_to_text(std::string_view bytes);

class Test {
public:
    Test(ui::Toolkit& toolkit, std::unique_ptr<net::Socket> socket);
    // Destroying the window object runs Form_Terminate, which closes the socket.
    ~Test();
    Test(const Test&) = delete;
    Test& operator=(const Test&) = delete;

    void show();

    // Send cycle.
    void cmdSend_Click();
    void cmdStop_Click();
    void Timer1_Timer();

    // Connection.
    bool EnsureConnected();
    void WS_Connect();
    void WS_Error(int32_t number, const std::string& description);
    void WS_SendComplete();
    void Form_Terminate();

    // Request line and transcript.
    void SendRequest();
    void WS_DataArrival(int32_t bytes_total);

    // 0 while a connection attempt is under way, 1 after the socket reported
    // the connection, 2 after it reported an error.
    uint8_t ConnectOutcome = kOutcomePending;

    ui::Window& window() { return *window_; }
    net::Socket& WS() { return *socket_; }

private:
    NumberLocale locale() const;
    void bind_handlers();

    ui::Toolkit& toolkit_;
    std::unique_ptr<ui::Window> window_;
    std::unique_ptr<net::Socket> socket_;  // destroyed before the window

    ui::Control& txtIP;
    ui::Control& txtPort;
    ui::Control& chkKeep;
    ui::Control& frmDades;
    ui::Control& txtTicket;
    ui::Control& txtAmount;
    ui::Control& txtQty;
    ui::Control& chkAuto;
    ui::Control& cmdSend;
    ui::Control& optNew;
    ui::Control& txtRes;
    ui::Control& cmdStop;
    ui::Control& Timer1;
};

}  // namespace monvia::client
