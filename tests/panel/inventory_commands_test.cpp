#include "panel_harness.h"
#include "status_text.h"

namespace monvia::panel::testing_support {
namespace {

using T = Trace;

TEST(GetLevels, SixCallsInOrderCarryingTheLists) {
    PanelHarness p;
    const char* kinds[] = {"CashBox", "Current", "Initial", "Max", "LevelStatus", "Inhibits"};
    for (int i = 0; i < 6; ++i)
        p.fake->script("GetLevels",
                       Step::ok().out_strings({"d" + std::to_string(i), "l" + std::to_string(i)}));
    p.click("cmdGetLevels");
    T expected{"create"};
    const int order[] = {3, 2, 0, 1, 4, 5};
    for (int i = 0; i < 6; ++i) {
        const std::string in_d = i ? "d" + std::to_string(i - 1) : "";
        const std::string in_l = i ? "l" + std::to_string(i - 1) : "";
        expected.push_back("GetLevels(" + std::to_string(order[i]) + ",'" + in_d + "','" + in_l + "')");
        expected.push_back(std::string("box: GetLevels ") + kinds[i] + " OK, Denoms = d" + std::to_string(i) +
                           ", Levels = l" + std::to_string(i));
    }
    EXPECT_EQ(p.trace, expected);
}

TEST(GetLevels, EveryCallFailingStillMakesSixCallsAndSixBoxes) {
    PanelHarness p;
    p.fake->error_code = -3;
    p.fake->error_text = "Offline";
    p.fake->script("GetLevels", Step::nok().out_strings({"5;10", "1;2"}));  // the first leaves lists
    for (int i = 0; i < 5; ++i) p.fake->script("GetLevels", Step::nok());
    p.click("cmdGetLevels");
    T boxes;
    for (const auto& e : p.trace)
        if (e.rfind("box: ", 0) == 0) boxes.push_back(e);
    EXPECT_EQ(boxes, (T{
                         "box: GetLevels CashBox NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                         "box: GetLevels Current NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                         "box: GetLevels Initial NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                         "box: GetLevels Max NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                         "box: GetLevels LevelStatus NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                         "box: GetLevels Inhibits NOK, Denoms = 5;10, Levels = 1;2, -3-Offline",
                     }));
    EXPECT_EQ(std::count(p.trace.begin(), p.trace.end(), "LastErrorCode"), 6);
}

TEST(GetLevels, EmptyListsLeaveNothingBetweenTheLabels) {
    PanelHarness p;
    p.click("cmdGetLevels");
    EXPECT_EQ(p.trace[2], "box: GetLevels CashBox OK, Denoms = , Levels = ");
}

TEST(GetLevels, AFailureStopsTheSeriesWithoutRepeatingBoxes) {
    PanelHarness p;
    p.fake->script("GetLevels", Step::ok());
    p.fake->script("GetLevels", Step::ok());
    p.fake->script("GetLevels", Step::failure(E_FAIL));
    p.click("cmdGetLevels");
    EXPECT_EQ(p.trace, (T{"create", "GetLevels(3,'','')",
                          "box: GetLevels CashBox OK, Denoms = , Levels = ", "GetLevels(2,'','')",
                          "box: GetLevels Current OK, Denoms = , Levels = ", "GetLevels(0,'','')",
                          "box: Run-time error '-2147467259 (80004005)':\n\n" +
                              testing_env::status_text(E_FAIL, "Unspecified error")}));
    EXPECT_TRUE(p.tk.program_ended());
}

TEST(GetAmounts, StartsFromEmptyStringsAndZeroAtEveryPress) {
    PanelHarness p;
    p.fake->script("GetAmounts", Step::ok().out({1250}).out_strings({"5;10;20", "3;0;7"}));
    p.fake->script("GetAmounts", Step::nok().out({-40}));
    p.fake->error_code = 1;
    p.fake->error_text = "Busy";
    p.click("cmdGetAmounts");
    p.click("cmdGetAmounts");
    EXPECT_EQ(p.trace, (T{"create", "GetAmounts('','',0)",
                          "box: GetAmounts OK, Denoms = 5;10;20, Quantities = 3;0;7, Value = 1250",
                          "GetAmounts('','',0)", "LastErrorCode", "LastErrorText",
                          "box: GetAmounts NOK, Denoms = , Quantities = , Value = -40, 1-Busy"}));
}

TEST(GetAmounts, NonAsciiListsPassThroughUnchanged) {
    PanelHarness p;
    p.fake->script("GetAmounts", Step::ok().out_strings({"5\xe2\x82\xac;10\xe2\x82\xac", ""}));
    p.click("cmdGetAmounts");
    EXPECT_EQ(p.trace[2],
              "box: GetAmounts OK, Denoms = 5\xe2\x82\xac;10\xe2\x82\xac, Quantities = , Value = 0");
}

}  // namespace
}  // namespace monvia::panel::testing_support
