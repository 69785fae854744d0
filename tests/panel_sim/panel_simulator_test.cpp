#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "com/registry.h"
#include "panel_window.h"
#include "test_env.h"
#include "ui/sim_toolkit.h"

namespace monvia::panel {
namespace {

using Texts = std::vector<std::string>;

// The panel on the in-memory toolkit with the real simulator library.
class PanelOnSimulator : public ::testing::Test {
protected:
    void SetUp() override { testing_env::unset_env("MONVIA_CASHDEVICE_SCENARIO"); }
    void TearDown() override {
        form_.reset();
        testing_env::unset_env("MONVIA_CASHDEVICE_SCENARIO");
        if (!scenario_.empty()) std::filesystem::remove(scenario_);
    }

    // Writes a scenario file the instance will read when it is created.
    void scenario(const std::string& rules) {
        scenario_ = std::filesystem::temp_directory_path() /
                    ("panel-sim-" + std::to_string(testing_env::process_id()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        std::ofstream(scenario_) << rules;
        testing_env::set_env("MONVIA_CASHDEVICE_SCENARIO", scenario_.string());
    }

    frmTest& form() {
        if (!form_) form_ = std::make_unique<frmTest>(tk_, registry_);
        return *form_;
    }

    // Presses a button and gives the texts of the boxes it showed.
    Texts press(const char* button, const char* amount = nullptr) {
        form();
        if (amount) {
            EXPECT_TRUE(tk_.window()->type("txtImp", amount));
        }
        const size_t before = tk_.boxes().size();
        EXPECT_TRUE(tk_.window()->click(button)) << button;
        Texts out;
        for (size_t i = before; i < tk_.boxes().size(); ++i) {
            EXPECT_EQ(tk_.boxes()[i].title, "Testing");
            out.push_back(tk_.boxes()[i].text);
        }
        return out;
    }

    ui::SimToolkit tk_;
    com::ClassRegistry registry_{MONVIA_REGISTRY_DIR};
    std::unique_ptr<frmTest> form_;
    std::filesystem::path scenario_;
};

std::vector<long> numbers_after(const std::string& text, const std::string& label) {
    std::vector<long> out;
    std::regex re(label + R"((-?\d+))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(std::stol((*it)[1]));
    return out;
}

long sum_list(const std::string& list) {
    long s = 0;
    std::stringstream in(list);
    std::string part;
    while (std::getline(in, part, ';'))
        if (!part.empty()) s += std::stol(part);
    return s;
}

const std::string kDenoms = "5;10;20;50;100;200;500;1000;2000;5000;10000;20000";

TEST_F(PanelOnSimulator, AScriptedSessionAgreesWithTheSimulatedLevels) {
    EXPECT_EQ(press("cmdConnect"), Texts{"Connect OK"});
    // The customer pays 125 with a 200 coin and gets 75 back.
    EXPECT_EQ(press("cmdCharge", "125"), Texts{"Charge OK, inserted = 200, returned = 75"});
    EXPECT_EQ(press("cmdPay", "50"), Texts{"Pay OK, Paid = 50"});

    const Texts levels = press("cmdGetLevels");
    ASSERT_EQ(levels.size(), 6u);
    EXPECT_EQ(levels[0], "GetLevels CashBox OK, Denoms = " + kDenoms + ", Levels = 0;0;0;0;10;5;0;5;3;2;1;0");
    // 200 in, 50 + 20 + 5 out for the change, 50 out for the payment.
    EXPECT_EQ(levels[1],
              "GetLevels Current OK, Denoms = " + kDenoms + ", Levels = 39;40;39;28;30;21;20;20;10;4;0;0");
    EXPECT_EQ(levels[2],
              "GetLevels Initial OK, Denoms = " + kDenoms + ", Levels = 40;40;40;30;30;20;20;20;10;4;0;0");
    EXPECT_EQ(levels[3], "GetLevels Max OK, Denoms = " + kDenoms +
                             ", Levels = 200;200;200;150;150;100;50;50;30;20;10;0");
    EXPECT_EQ(levels[4].rfind("GetLevels LevelStatus OK, Denoms = " + kDenoms + ", Levels = ", 0), 0u)
        << levels[4];
    EXPECT_EQ(levels[5], "GetLevels Inhibits OK, Denoms = " + kDenoms + ", Levels = 0;0;0;0;0;0;0;0;0;0;0;1");

    // 79900 at the start, 125 kept from the sale, 50 paid out.
    const Texts amounts = press("cmdGetAmounts");
    EXPECT_EQ(amounts, Texts{"GetAmounts OK, Denoms = " + kDenoms +
                             ", Quantities = 39;40;39;28;30;21;20;20;10;4;0;0, Value = 79975"});

    EXPECT_EQ(press("cmdEmptyCB"),
              (Texts{"COINS EmptyCashBox OK, Value = 2000", "NOTES EmptyCashBox OK, Value = 31000"}));

    // Keep 50000 in the change, the rest goes to the (now empty) cash boxes.
    const Texts z = press("cmdZbyAmount", "50000");
    ASSERT_EQ(z.size(), 1u);
    ASSERT_EQ(z[0].rfind("Z by Amount OK, CoinsCBValue ", 0), 0u) << z[0];
    const long coins = numbers_after(z[0], "CoinsCBValue ").at(0);
    const long notes = numbers_after(z[0], "NotesCBValue ").at(0);
    const long kept = numbers_after(z[0], "ChangeValue ").at(0);
    EXPECT_GE(kept, 50000);
    EXPECT_EQ(coins + notes + kept, 79975);

    const Texts after = press("cmdGetAmounts");
    EXPECT_EQ(numbers_after(after.at(0), "Value = ").at(0), kept);
    const Texts cash_box = press("cmdGetLevels");
    const std::string list = cash_box.at(0).substr(cash_box.at(0).find("Levels = ") + 9);
    EXPECT_GT(sum_list(list), 0);  // pieces went into the cash boxes
}

// The same session once more, every box's text written to a file and compared
// with the recorded texts: the session on Linux and the one through the
// system's COM on Windows must both give exactly these.
TEST_F(PanelOnSimulator, TheScriptedSessionGivesTheRecordedBoxes) {
    std::string session;
    const auto record = [&](const Texts& boxes) {
        for (const std::string& text : boxes) session += text + "\n";
    };
    record(press("cmdConnect"));
    record(press("cmdCharge", "125"));
    record(press("cmdPay", "50"));
    record(press("cmdGetLevels"));
    record(press("cmdGetAmounts"));
    record(press("cmdEmptyCB"));
    record(press("cmdZbyAmount", "50000"));
    std::ofstream(MONVIA_SESSION_OUTPUT, std::ios::binary) << session;

    std::ifstream in(MONVIA_SESSION_EXPECTED, std::ios::binary);
    ASSERT_TRUE(in) << MONVIA_SESSION_EXPECTED;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(session, expected.str()) << "this run's boxes are in " << MONVIA_SESSION_OUTPUT;
}

TEST_F(PanelOnSimulator, CommandsBeforeConnectAreRefusedByTheDevice) {
    EXPECT_EQ(press("cmdCharge", "125"),
              Texts{"Charge NOK, inserted = 0, returned = 0, -1-Not connected: call Connect first"});
    EXPECT_EQ(press("cmdConfig"), Texts{"Configuration NOK "});
}

TEST_F(PanelOnSimulator, ConnectWithAnEmptyOrUnreachableHost) {
    form();
    tk_.window()->type("txtHost", "");
    EXPECT_EQ(press("cmdConnect"), Texts{"Connect NOK, -2-No host set: write Host before Connect"});
    tk_.window()->type("txtHost", "nowhere.invalid");
    EXPECT_EQ(press("cmdConnect"), Texts{"Connect NOK, -3-Host unreachable: nowhere.invalid"});
}

TEST_F(PanelOnSimulator, FaultInjectionFalseWithCodeAndText) {
    scenario("Charge false code=-7 text=\"Drawer jammed\"\n");
    press("cmdConnect");
    EXPECT_EQ(press("cmdCharge", "125"), Texts{"Charge NOK, inserted = 0, returned = 0, -7-Drawer jammed"});
}

TEST_F(PanelOnSimulator, FaultInjectionInterfaceFailureInACommandThatDoesNotHandleIt) {
    scenario("Charge hresult=0x80004005 description=\"Hopper fault, call service\"\n");
    press("cmdConnect");
    EXPECT_EQ(press("cmdCharge", "125"),
              Texts{"Run-time error '-2147467259 (80004005)':\n\nHopper fault, call service"});
    EXPECT_TRUE(tk_.program_ended());
}

TEST_F(PanelOnSimulator, FaultInjectionInterfaceFailureInPayIsANok) {
    scenario("Pay hresult=0x80004005 description=\"Hopper fault, call service\"\n");
    press("cmdConnect");
    EXPECT_EQ(press("cmdPay", "50"), Texts{"Pay NOK, Paid = 0, -2147467259-Hopper fault, call service"});
    EXPECT_FALSE(tk_.program_ended());
}

TEST_F(PanelOnSimulator, FaultInjectionUnsetOutputs) {
    scenario("GetAmounts unset\nPay false code=2 text=\"Hopper empty\" unset\n");
    press("cmdConnect");
    EXPECT_EQ(press("cmdGetAmounts"), Texts{"GetAmounts OK, Denoms = , Quantities = , Value = 0"});
    // The follow-up hands the error to HandleError, which says the operator must act.
    EXPECT_EQ(press("cmdPay", "50"), (Texts{"Pay NOK, Paid = 0, 2-Hopper empty", "OK -> False"}));
}

TEST_F(PanelOnSimulator, FaultInjectionSlowAnswerStillAnswers) {
    scenario("Connect delay=50\n");
    EXPECT_EQ(press("cmdConnect"), Texts{"Connect OK"});
}

TEST_F(PanelOnSimulator, ABrokenScenarioFileIsShownByConnect) {
    scenario("Chrage false\n");
    const Texts t = press("cmdConnect");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].rfind("Connect NOK, -4-Scenario file", 0), 0u) << t[0];
    EXPECT_NE(t[0].find("Chrage"), std::string::npos);
}

}  // namespace
}  // namespace monvia::panel
