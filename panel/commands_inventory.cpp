// Inventory queries: GetLevels (six level lists) and GetAmounts. The lists
// are the component's own text and are shown exactly as it returns them.

#include "panel_window.h"

namespace monvia::panel {

namespace {

struct LevelQuery {
    LevelKind kind;
    const char* ok_lead;
    const char* nok_lead;
};

// The series in the order the panel asks for it.
constexpr LevelQuery kLevelSeries[] = {
    {LevelKind::CashBox, "GetLevels CashBox OK, Denoms = ", "GetLevels CashBox NOK, Denoms = "},
    {LevelKind::Current, "GetLevels Current OK, Denoms = ", "GetLevels Current NOK, Denoms = "},
    {LevelKind::Initial, "GetLevels Initial OK, Denoms = ", "GetLevels Initial NOK, Denoms = "},
    {LevelKind::Max, "GetLevels Max OK, Denoms = ", "GetLevels Max NOK, Denoms = "},
    {LevelKind::LevelStatus, "GetLevels LevelStatus OK, Denoms = ", "GetLevels LevelStatus NOK, Denoms = "},
    {LevelKind::Inhibits, "GetLevels Inhibits OK, Denoms = ", "GetLevels Inhibits NOK, Denoms = "},
};

}  // namespace

void frmTest::cmdGetLevels_Click() {
    // Shared by all six calls and not cleared between them.
    com::Bstr denoms, levels;
    for (const auto& q : kLevelSeries) {
        const bool result = device().GetLevels(q.kind, denoms, levels);
        report_outcome(result, q.ok_lead, q.nok_lead,
                       [&] { return denoms.utf8() + ", Levels = " + levels.utf8(); });
    }
}

void frmTest::cmdGetAmounts_Click() {
    com::Bstr denoms, quantities;
    int32_t value = 0;
    const bool result = device().GetAmounts(denoms, quantities, value);
    report_outcome(result, "GetAmounts OK, Denoms = ", "GetAmounts NOK, Denoms = ", [&] {
        return denoms.utf8() + ", Quantities = " + quantities.utf8() + ", Value = " + decimal(value);
    });
}

}  // namespace monvia::panel
