// The window object: creation from the layout, control look-up and handler
// binding.

#include "client/client_window.h"

#include "client/client_layout.h"
#include "ui/guard.h"

namespace monvia::client {

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
