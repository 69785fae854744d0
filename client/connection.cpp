// Connection management: at most one connection, reused while it is open,
// reopened to the typed host and port before a request when it is not.

#include "client/client_window.h"
#include "runtime/error_resume.h"
#include "ui/toolkit.h"

namespace monvia::client {

bool Test::EnsureConnected() {
    int32_t port = 0;
    {
        // Only the port conversion may fail quietly: a port that is not a
        // number leaves 0, and the socket reports what that gives.
        ErrorResume resume;
        resume.step([&] { port = to_int32(txtPort.text(), locale()); });
    }

    if (socket_->state() != net::kConnected) {
        ConnectOutcome = kOutcomePending;
        socket_->close();
        socket_->connect(txtIP.text(), port);
        // Every attempt ends in exactly one Connect or Error event. Each pass
        // blocks until the next window or socket event has been handled; when
        // the window is closed meanwhile, ProgramEnded unwinds this wait.
        while (ConnectOutcome == kOutcomePending) toolkit_.process_events();
    }
    return socket_->state() == net::kConnected;
}

void Test::WS_Connect() { ConnectOutcome = kOutcomeConnected; }

void Test::WS_Error(int32_t number, const std::string& description) {
    ConnectOutcome = kOutcomeError;
    txtRes.set_text(decimal(number) + " - " + description);
}

void Test::WS_SendComplete() {}

void Test::Form_Terminate() { socket_->close(); }

}  // namespace monvia::client
