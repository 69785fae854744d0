#pragma once
// The simulated coin and note machine: change levels per denomination, a
// coin cash box and a note cash box, inhibits, and the host link. Plain C++,
// deterministic: the same calls on the same machine give the same results.
// Amounts are in cents.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace monvia::cashsim {

// Error codes of the machine. Negative codes are link and set-up problems,
// positive ones refusals of an operation.
enum class ErrorCode : int16_t {
    None = 0,
    NotConnected = -1,
    HostEmpty = -2,
    HostUnreachable = -3,
    ScenarioInvalid = -4,
    InvalidAmount = 1,
    NotEnoughChange = 2,
    AmountNotPayable = 3,
    CashBoxEmpty = 4,
    CashBoxFull = 5,
    UnknownMode = 6,
    UnknownLevelKind = 7,
    UnknownSide = 8,
    NothingAccepted = 9,
    UnknownErrorCode = 10,
};

enum class Kind { Coin, Note };

struct Denomination {
    int32_t value = 0;  // cents
    Kind kind = Kind::Coin;
    int32_t initial = 0;     // the float the level is set up with
    int32_t max = 0;         // the level's capacity; 0: not recycled, straight to the cash box
    int32_t current = 0;     // pieces in the change level
    int32_t cash_box = 0;    // pieces in the cash box
    bool inhibited = false;  // not accepted from the customer
};

// The outcome of an operation: success, or a code and a text, which the
// machine also keeps as its last error.
struct Outcome {
    bool ok = true;
    int16_t code = 0;
    std::string text;
};

struct ChargeResult {
    Outcome outcome;
    int32_t inserted = 0;
    int32_t returned = 0;
};
struct PayResult {
    Outcome outcome;
    int32_t paid = 0;
};
struct ChangeResult {
    Outcome outcome;
    int32_t inserted = 0;
    int32_t paid = 0;
};
struct AddChangeResult {
    Outcome outcome;
    int32_t added = 0;
};
struct CashBoxResult {
    Outcome outcome;
    int32_t coins_value = 0;
    int32_t notes_value = 0;
    int32_t change_value = 0;
};
struct EmptyResult {
    Outcome outcome;
    int32_t value = 0;
};
struct ListResult {
    Outcome outcome;
    std::string denoms;
    std::string values;  // levels or quantities, in the order of denoms
};
struct AmountsResult {
    Outcome outcome;
    std::string denoms;
    std::string quantities;
    int32_t value = 0;
};
struct HandleResult {
    Outcome outcome;
    bool cleared = false;
};

// The hosts the machine can reach: the loopback names and addresses and this
// machine's own host name.
bool host_reachable(std::string_view host);
// This machine's host name; empty when it cannot be read.
std::string own_host_name();

class CashMachine {
public:
    static constexpr int32_t kCoinBoxCapacity = 1000;  // pieces
    static constexpr int32_t kNoteBoxCapacity = 500;   // pieces

    // The machine as it leaves the factory (see the README for the table).
    CashMachine();
    explicit CashMachine(std::vector<Denomination> denominations);

    // Host and link.
    void set_host(std::string host) { host_ = std::move(host); }
    const std::string& host() const { return host_; }
    bool connected() const { return connected_; }
    Outcome connect();
    void disconnect() { connected_ = false; }

    Outcome configure();
    ChargeResult charge(int32_t amount);
    PayResult pay(int32_t amount);
    PayResult pay_specific(int32_t amount);
    ChangeResult change();
    AddChangeResult add_change();
    CashBoxResult cash_box_control(int32_t mode, int32_t change_value);
    EmptyResult empty_cash_box(int32_t which);
    ListResult levels(int32_t kind);
    AmountsResult amounts();
    HandleResult handle_error(int32_t code, std::string_view text);

    // The last failure; 0 and the empty text until one happens or after
    // HandleError cleared it.
    int16_t last_error_code() const { return last_code_; }
    const std::string& last_error_text() const { return last_text_; }
    // Records a failure that did not come from the model (a scripted one).
    Outcome fail(int16_t code, std::string text);

    uint32_t colour_a() const { return colour_a_; }
    void set_colour_a(uint32_t c) { colour_a_ = c; }
    int32_t colour_b() const { return colour_b_; }
    void set_colour_b(int32_t c) { colour_b_ = c; }

    // For inspection.
    const std::vector<Denomination>& denominations() const { return denoms_; }
    int64_t level_value() const;
    int64_t cash_box_value(Kind kind) const;
    int32_t cash_box_pieces(Kind kind) const;

private:
    Outcome fail(ErrorCode code, std::string text);
    Outcome succeed() { return {}; }
    bool require_connection(Outcome& out);
    bool require_positive(int32_t amount, Outcome& out);

    // Pieces to take from the levels (per denomination index) for an amount,
    // exactly; empty optional when no combination gives it. Only
    // denominations below `below` take part (0: all).
    bool exact_payout(int64_t amount, int32_t below, std::vector<int32_t>& take) const;
    // Largest-first payout of at most `amount`.
    int64_t greedy_payout(int64_t amount, std::vector<int32_t>& take) const;
    void remove_from_levels(const std::vector<int32_t>& take);
    // Moves pieces from the levels into the cash boxes; false (nothing moved)
    // when a cash box would overflow.
    bool move_to_cash_box(const std::vector<int32_t>& take);

    std::vector<Denomination> denoms_;  // ascending by value
    std::string host_;
    bool connected_ = false;
    uint32_t colour_a_ = 0;
    int32_t colour_b_ = 0;
    int16_t last_code_ = 0;
    std::string last_text_;
};

// The machine's factory set-up: coins 5 to 200, notes 500 to 20000.
std::vector<Denomination> factory_denominations();

// Texts of the level status list.
const char* level_status(const Denomination& d);

}  // namespace monvia::cashsim
