// The window object: creation from the layout, control look-up, handler
// binding, and the byte/text rules shared by the handler groups.

#include "client_window.h"

#include "client_layout.h"
#include "ui/guard.h"

namespace monvia::client {

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

std::string create_line(int32_t ticket, int32_t amount) {
    return "C|" + decimal(ticket) + "|" + decimal(amount);
}

std::string check_line(int32_t ticket) { return "S|" + decimal(ticket); }

Test::Test(ui::Toolkit& toolkit, std::unique_ptr<net::Socket> socket)
    : toolkit_(toolkit),
      window_(toolkit.create_window(Test_layout())),
      socket_(std::move(socket)),
      txtIP(window_->control("txtIP")),
      txtPort(window_->control("txtPort")),
      chkKeep(window_->control("chkKeep")),
      frmDades(window_->control("frmDades")),
      txtTicket(window_->control("txtTicket")),
      txtAmount(window_->control("txtAmount")),
      txtQty(window_->control("txtQty")),
      chkAuto(window_->control("chkAuto")),
      cmdSend(window_->control("cmdSend")),
      optNew(window_->control("optNew")),
      txtRes(window_->control("txtRes")),
      cmdStop(window_->control("cmdStop")),
      Timer1(window_->control("Timer1")) {
    bind_handlers();
}

Test::~Test() {
    // While the program runs, Form_Terminate is guarded like every handler.
    // Once it has ended (the usual case: the window was closed) the guard runs
    // nothing, so the socket is closed directly; a failure of that last close
    // has no one left to tell. Nothing may escape a destructor.
    try {
        if (!toolkit_.program_ended())
            run_guarded(toolkit_, kProgramTitle, [this] { Form_Terminate(); });
        else
            Form_Terminate();
    } catch (...) {
    }
}

void Test::show() { window_->show(); }

NumberLocale Test::locale() const { return NumberLocale{toolkit_.decimal_separator()}; }

void Test::bind_handlers() {
    ui::Toolkit& tk = toolkit_;
    const std::string title = kProgramTitle;
    cmdSend.on_click(guarded(tk, title, [this] { cmdSend_Click(); }));
    cmdStop.on_click(guarded(tk, title, [this] { cmdStop_Click(); }));
    Timer1.on_timer(guarded(tk, title, [this] { Timer1_Timer(); }));
    socket_->on_connect(guarded(tk, title, [this] { WS_Connect(); }));
    socket_->on_send_complete(guarded(tk, title, [this] { WS_SendComplete(); }));
    socket_->on_error([this, &tk, title](int32_t number, const std::string& description) {
        run_guarded(tk, title, [&] { WS_Error(number, description); });
    });
    socket_->on_data_arrival([this, &tk, title](int32_t bytes_total) {
        run_guarded(tk, title, [&] { WS_DataArrival(bytes_total); });
    });
}

}  // namespace monvia::client
