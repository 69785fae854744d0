// The panel's commands on the system's component object model, with the
// CashDevice class registered only for programs of the other bitness: the
// unhandled-failure report says where the class is and which panel loads it.
// The test runs in a Wine prefix of its own (natively: on a machine where
// this bitness has no CashDevice registered), so that no registration of the
// simulator answers instead.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/registry.h"
#include "com/win_classes.h"
#include "panel_window.h"
#include "scoped_class.h"
#include "ui/sim_toolkit.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;

namespace {

TEST(PanelOnTheSystemsClasses, ConnectToAClassOfTheOtherBitnessNamesThePanelThatLoadsIt) {
    const win::Bitness mine = win::process_bitness(), theirs = win::other_bitness(mine);
    if (win::effective_registration(device::CLSID_CashDevice, mine, win::elevated()))
        GTEST_SKIP() << "CashDevice is registered for " << win::bitness_word(mine)
                     << " programs here; this test needs a machine (or Wine prefix) without that";
    const fs::path server = theirs == win::Bitness::Bits32
                                ? L"C:\\Program Files (x86)\\Vendor\\cash device.dll"
                                : L"C:\\Program Files\\Vendor\\cash device.dll";
    ScopedClass cls(device::CLSID_CashDevice, server, kOtherView);

    ui::SimToolkit tk;
    std::vector<std::string> boxes;
    tk.on_message_box([&](const ui::SimToolkit::Box& b) {
        EXPECT_EQ(b.title, "Testing");
        boxes.push_back(b.text);
    });
    ClassRegistry registry{fs::path()};  // the system's classes, as the program's registry
    {
        panel::frmTest form(tk, registry);
        form.show();
        ASSERT_TRUE(tk.window()->click("cmdConnect"));
    }
    const std::string where =
        mine == win::Bitness::Bits64
            ? " is registered only for 32-bit programs, with \"C:\\Program Files (x86)\\Vendor\\cash "
              "device.dll\", "
              "which a 64-bit program cannot load; the 32-bit panel \"Testing\" can"
            : " is registered only for 64-bit programs, with \"C:\\Program Files\\Vendor\\cash device.dll\", "
              "which a 32-bit program cannot load; the 64-bit panel \"Testing (64-bit components)\" can";
    const std::string expected = "Run-time error '-2147221164 (80040154)':\n\n" +
                                 describe(REGDB_E_CLASSNOTREG) + ": {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}" +
                                 where;
    EXPECT_EQ(boxes, std::vector<std::string>{expected});
    EXPECT_TRUE(tk.program_ended());
}

}  // namespace
