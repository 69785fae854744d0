// The request line and the transcript.

#include <string>
#include <string_view>

#include "client/client_window.h"
#include "runtime/error_resume.h"

namespace monvia::client {

namespace {

// The request lines, built from the converted field values.
std::string create_line(int32_t ticket, int32_t amount) {
    return "C|" + decimal(ticket) + "|" + decimal(amount);
}

std::string check_line(int32_t ticket) { return "S|" + decimal(ticket); }

}  // namespace

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
    resume.step(
        [&] { line = optNew.value() == ui::kSelected ? create_line(ticket, amount) : check_line(ticket); });
    resume.step([&] { socket_->send_data(line); });
    // Shown also when the send failed; a broken connection shows up as an
    // Error event. No events are processed between sending and showing, so
    // the request always stands above its replies.
    resume.step([&] { txtRes.set_text("--> " + line); });
}

std::string bytes_to_text(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            text.push_back(c);
        } else {
            // Two-byte UTF-8 form of U+0080 to U+00FF.
            text.push_back(static_cast<char>(0xC0 | (b >> 6)));
            text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return text;
}

void Test::WS_DataArrival(int32_t /*bytes_total*/) {
    const std::string piece = bytes_to_text(socket_->get_data());
    txtRes.append_text("\r\n<-- " + piece);
    if (chkKeep.value() == ui::kUnticked) socket_->close();
}

}  // namespace monvia::client
