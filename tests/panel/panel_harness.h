#pragma once
// The panel window on the in-memory toolkit with a recording fake component:
// one ordered trace holds the component calls ("create" for the creation of
// the instance) and the boxes ("box: <text>").

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "com/registry.h"
#include "fake_cash_device.h"
#include "panel_window.h"
#include "ui/sim_toolkit.h"

namespace monvia::panel::testing_support {

// The registry adds to a creation failure's description which class failed
// and why ("Class not registered: {3F6A...} has no ..."); the tests compare
// the well-known text in front of it and check the details elsewhere.
inline std::string without_creation_details(const std::string& text) {
    static const std::regex details(R"(: (creating the class|\{[0-9A-F-]+\} has no) .*$)");
    return std::regex_replace(text, details, "");
}

class PanelHarness {
public:
    // Only the classes registered here: no entry directory, and on Windows not
    // the system registry, where another test may have registered the class.
    PanelHarness() {
        fake = std::make_unique<FakeCashDevice>(trace);
        registry_.register_factory(CLSID_CashDevice, [this](const com::Guid& iid, void** out) {
            trace.push_back("create");
            if (com::failed(create_fails)) return create_fails;
            return fake->QueryInterface(iid, out);
        });
        tk.on_message_box([this](const ui::SimToolkit::Box& b) {
            EXPECT_EQ(b.title, "Testing");
            trace.push_back("box: " + without_creation_details(b.text));
        });
        form = std::make_unique<frmTest>(tk, registry_);
        form->show();
    }

    ~PanelHarness() {
        form.reset();
        // Every reference the panel took has been given back.
        EXPECT_EQ(fake->references(), 0u);
    }

    ui::SimWindow& window() { return *tk.window(); }
    void type_amount(const std::string& text) { ASSERT_TRUE(window().type("txtImp", text)); }
    void click(const char* button) { ASSERT_TRUE(window().click(button)); }
    void unregister() { registry_.unregister(CLSID_CashDevice); }

    Trace trace;
    ui::SimToolkit tk;
    std::unique_ptr<FakeCashDevice> fake;
    std::unique_ptr<frmTest> form;
    com::HRESULT create_fails = S_OK;

private:
    com::ClassRegistry registry_;
};

inline const std::string kClassNotRegistered =
    "box: Run-time error '-2147221164 (80040154)':\n\nClass not registered";

}  // namespace monvia::panel::testing_support
