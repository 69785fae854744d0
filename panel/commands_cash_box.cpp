// Cash box commands: CB Control, the blind cash box, Z by amount and Empty CB.

#include "panel_window.h"

namespace monvia::panel {

namespace {

std::string cash_box_values(int32_t coins, int32_t notes, int32_t change) {
    return decimal(coins) + ", NotesCBValue " + decimal(notes) + ", ChangeValue " + decimal(change);
}

}  // namespace

void frmTest::cash_box_control(CashBoxMode mode, std::string_view ok_lead, std::string_view nok_lead) {
    int32_t coins = 0, notes = 0, change = 0;
    const bool result = device().CashBoxControl(mode, coins, notes, change);
    report_outcome(result, ok_lead, nok_lead, [&] { return cash_box_values(coins, notes, change); });
}

void frmTest::cmdCBControl_Click() {
    cash_box_control(CashBoxMode::Control, "CB Control OK, CoinsCBValue ", "CB Control NOK, CoinsCBValue ");
}

void frmTest::cmdBlidCashBox_Click() {
    cash_box_control(CashBoxMode::Blind, "BlindCashBox OK, CoinsCBValue ", "BlindCashBox NOK, CoinsCBValue ");
}

// Z by amount, like Pay, stays in error-resume mode after reading its amount:
// an interface-level failure is reported as a NOK and does not end the program.
void frmTest::cmdZbyAmount_Click() {
    const auto amount = read_amount();
    if (!amount) return;
    int32_t coins = 0, notes = 0, change = *amount;
    report_outcome_resumed(
        [&] { return device().CashBoxControl(CashBoxMode::ZByAmount, coins, notes, change); },
        "Z by Amount OK, CoinsCBValue ", "Z by Amount NOK, CoinsCBValue ",
        [&] { return cash_box_values(coins, notes, change); });
}

void frmTest::cmdEmptyCB_Click() {
    // One Value for both calls: the notes call receives what the coins call left.
    int32_t value = 0;
    bool result = device().EmptyCashBox(CashBoxSide::Coins, value);
    report_outcome(result, "COINS EmptyCashBox OK, Value = ", "COINS EmptyCashBox NOK, Value = ", [&] {
        return decimal(value);
    });
    result = device().EmptyCashBox(CashBoxSide::Notes, value);
    report_outcome(result, "NOTES EmptyCashBox OK, Value = ", "NOTES EmptyCashBox NOK, Value = ", [&] {
        return decimal(value);
    });
}

}  // namespace monvia::panel
