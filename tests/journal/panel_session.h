#pragma once
// The panel's scripted session, run against whatever serves the class in the
// registry given: Connect, Charge 125, Pay 50 (refused by the device when
// the scenario says so, and the panel hands the error to HandleError), the
// six lists of GetLevels, Z by amount, Empty CB. The boxes in order, and the
// program still running at the end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/registry.h"
#include "panel_window.h"
#include "ui/sim_toolkit.h"

namespace monvia::journal::testing {

using Texts = std::vector<std::string>;

inline Texts scripted_session(com::ClassRegistry& registry) {
    ui::SimToolkit tk;
    Texts boxes;
    {
        panel::frmTest form(tk, registry);
        auto press = [&](const char* button, const char* amount = nullptr) {
            if (amount) {
                EXPECT_TRUE(tk.window()->type("txtImp", amount));
            }
            EXPECT_TRUE(tk.window()->click(button)) << button;
        };
        press("cmdConnect");
        press("cmdCharge", "125");
        press("cmdPay", "50");
        press("cmdGetLevels");
        press("cmdZbyAmount", "50000");
        press("cmdEmptyCB");
        for (const auto& box : tk.boxes()) boxes.push_back(box.title + ": " + box.text);
        EXPECT_FALSE(tk.program_ended());
    }
    return boxes;
}

}  // namespace monvia::journal::testing
