// The send cycle: Send arms Timer1, every tick sends one request, and an
// automatic series re-arms the timer once a second while the quantity lasts.

#include <limits>

#include "client/client_layout.h"
#include "client/client_window.h"
#include "runtime/error_resume.h"

namespace monvia::client {

void Test::cmdSend_Click() {
    // The first request goes out at the first tick, never inside the click.
    Timer1.set_interval(kFirstStepMs);
    Timer1.set_enabled(true);
    frmDades.set_enabled(false);
}

void Test::cmdStop_Click() { txtQty.set_text(decimal(1)); }

void Test::Timer1_Timer() {
    int32_t ticket = 0;
    int16_t quantity = 0;
    bool rearm = false;

    // Off first, so the events processed while connecting cannot start a
    // second step inside this one.
    Timer1.set_enabled(false);
    if (!EnsureConnected()) {
        frmDades.set_enabled(true);
        return;
    }
    SendRequest();

    if (chkAuto.value() == ui::kTicked) {
        {
            // The fields are read again at every step, after the request; a
            // text that does not convert (or a quantity outside 16 bits)
            // counts as 0.
            ErrorResume resume;
            resume.step([&] { ticket = to_int32(txtTicket.text(), locale()); });
            resume.step([&] { quantity = narrow_to_int16(to_int32(txtQty.text(), locale())); });
        }
        if (quantity > 1) {
            txtQty.set_text(decimal(quantity - 1));
            if (optNew.value() == ui::kSelected) {
                // A ticket that cannot be counted up ends the series here,
                // with the request fields enabled again.
                if (ticket < std::numeric_limits<int32_t>::max()) {
                    txtTicket.set_text(decimal(static_cast<int64_t>(ticket) + 1));
                    rearm = true;
                }
            } else {
                rearm = true;
            }
        }
    }

    if (rearm) {
        Timer1.set_interval(kStepGapMs);
        Timer1.set_enabled(true);
    } else {
        frmDades.set_enabled(true);
    }
}

}  // namespace monvia::client
