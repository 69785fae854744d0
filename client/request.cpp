// The request line and the transcript.

#include "client_window.h"
#include "runtime/error_resume.h"

namespace monvia::client {

void Test::SendRequest() {
    // Nothing in here is reported: a failing step is skipped and the next
    // one runs, so a field that does not convert sends 0.
    ErrorResume resume;
    int32_t ticket = 0;
    int32_t amount = 0;
    bool connected = false;
    resume.step([&] { ticket = to_int32(txtTicket.text(), locale()); });
    resume.step([&] { amount = to_int32(txtAmount.text(), locale()); });
    resume.step([&] { connected = socket_->state() == net::kConnected; });
    if (!connected) return;  // dropped silently; the cycle goes on as if sent

    std::string line;
    resume.step([&] { line = optNew.value() == -1 ? create_line(ticket, amount) : check_line(ticket); });
    resume.step([&] { socket_->send_data(line); });
    // Shown also when the send failed; a broken connection shows up as an
    // Error event. No events are processed between sending and showing, so
    // the request always stands above its replies.
    resume.step([&] { txtRes.set_text("--> " + line); });
}

void Test::WS_DataArrival(int32_t /*bytes_total*/) {
    const std::string piece = bytes_to_text(socket_->get_data());
    txtRes.append_text("\r\n<-- " + piece);
    if (chkKeep.value() == 0) socket_->close();
}

}  // namespace monvia::client
