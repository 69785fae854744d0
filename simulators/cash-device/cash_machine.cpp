#include "cash_machine.h"

#if defined(_WIN32)
// Windows sockets must come before the rest of the system headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <numeric>
#include <optional>
#include <unordered_set>

namespace monvia::cashsim {

namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string join(const std::vector<Denomination>& ds, auto field) {
    std::string out;
    for (size_t i = 0; i < ds.size(); ++i) {
        if (i) out += ';';
        out += field(ds[i]);
    }
    return out;
}

// Exact payout by depth-first search over the denominations, largest first,
// so the first combination found uses few pieces. States known to fail are
// remembered, and a step budget bounds the search whatever the levels hold.
class ExactSearch {
public:
    ExactSearch(const std::vector<Denomination>& ds, int32_t below) : ds_(ds) {
        for (size_t i = ds.size(); i-- > 0;)
            if (ds[i].current > 0 && (below <= 0 || ds[i].value < below)) order_.push_back(i);
        suffix_.assign(order_.size() + 1, 0);
        for (size_t p = order_.size(); p-- > 0;)
            suffix_[p] = suffix_[p + 1] + static_cast<int64_t>(ds[order_[p]].value) * ds[order_[p]].current;
        take_.assign(ds.size(), 0);
    }

    bool run(int64_t amount, std::vector<int32_t>& take) {
        // No combination reaches an amount that is not a multiple of the
        // pieces' common divisor; this spares the search its worst case.
        int64_t divisor = 0;
        for (size_t i : order_) divisor = std::gcd(divisor, static_cast<int64_t>(ds_[i].value));
        if (amount < 0 || (amount > 0 && (divisor == 0 || amount % divisor != 0))) return false;
        if (!search(0, amount)) return false;
        take = take_;
        return true;
    }

private:
    static constexpr size_t kBudget = 200000;

    bool search(size_t pos, int64_t rem) {
        if (rem == 0) return true;
        if (pos == order_.size() || suffix_[pos] < rem) return false;
        const uint64_t key = (static_cast<uint64_t>(pos) << 48) | static_cast<uint64_t>(rem);
        if (dead_.count(key) || steps_ >= kBudget) return false;
        ++steps_;
        const Denomination& d = ds_[order_[pos]];
        const int64_t most = std::min<int64_t>(d.current, rem / d.value);
        for (int64_t k = most; k >= 0; --k) {
            const int64_t r = rem - k * d.value;
            if (r > suffix_[pos + 1]) break;  // fewer of this one cannot make it up
            take_[order_[pos]] = static_cast<int32_t>(k);
            if (search(pos + 1, r)) return true;
        }
        take_[order_[pos]] = 0;
        dead_.insert(key);
        return false;
    }

    const std::vector<Denomination>& ds_;
    std::vector<size_t> order_;    // indices, descending by value
    std::vector<int64_t> suffix_;  // value available from a position on
    std::vector<int32_t> take_;
    std::unordered_set<uint64_t> dead_;
    size_t steps_ = 0;
};

std::string cents(int64_t v) { return std::to_string(v); }

}  // namespace

std::string own_host_name() {
#if defined(_WIN32)
    char name[256] = {};
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string(name, size);
    return {};
#else
    char own[HOST_NAME_MAX + 1] = {};
    if (gethostname(own, sizeof own - 1) == 0) return own;
    return {};
#endif
}

bool host_reachable(std::string_view host) {
    if (host.empty()) return false;
    if (equal_ignoring_case(host, "localhost")) return true;
    const std::string h(host);
    in_addr v4{};
    if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, h.c_str(), &v6) == 1) return std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
    if (const std::string own = own_host_name(); !own.empty()) {
        const std::string_view name(own);
        if (equal_ignoring_case(host, name)) return true;
        // The short form of this machine's name as well.
        const auto dot = name.find('.');
        if (dot != std::string_view::npos && equal_ignoring_case(host, name.substr(0, dot))) return true;
    }
    return false;
}

std::vector<Denomination> factory_denominations() {
    // value, kind, initial, max, current, cash box, inhibited
    return {
        {5, Kind::Coin, 40, 200, 40, 0, false},    {10, Kind::Coin, 40, 200, 40, 0, false},
        {20, Kind::Coin, 40, 200, 40, 0, false},   {50, Kind::Coin, 30, 150, 30, 0, false},
        {100, Kind::Coin, 30, 150, 30, 10, false}, {200, Kind::Coin, 20, 100, 20, 5, false},
        {500, Kind::Note, 20, 50, 20, 0, false},   {1000, Kind::Note, 20, 50, 20, 5, false},
        {2000, Kind::Note, 10, 30, 10, 3, false},  {5000, Kind::Note, 4, 20, 4, 2, false},
        {10000, Kind::Note, 0, 10, 0, 1, false},   {20000, Kind::Note, 0, 0, 0, 0, true},
    };
}

const char* level_status(const Denomination& d) {
    if (d.max <= 0) return "none";
    if (d.current <= 0) return "empty";
    if (d.current >= d.max) return "full";
    // Below a tenth of the capacity is low, from nine tenths on high.
    if (static_cast<int64_t>(d.current) * 10 < d.max) return "low";
    if (static_cast<int64_t>(d.current) * 10 >= static_cast<int64_t>(d.max) * 9) return "high";
    return "ok";
}

CashMachine::CashMachine() : CashMachine(factory_denominations()) {}

CashMachine::CashMachine(std::vector<Denomination> denominations) : denoms_(std::move(denominations)) {
    std::stable_sort(denoms_.begin(), denoms_.end(),
                     [](const Denomination& a, const Denomination& b) { return a.value < b.value; });
}

Outcome CashMachine::fail(ErrorCode code, std::string text) {
    return fail(static_cast<int16_t>(code), std::move(text));
}

Outcome CashMachine::fail(int16_t code, std::string text) {
    last_code_ = code;
    last_text_ = text;
    return {false, code, std::move(text)};
}

bool CashMachine::require_connection(Outcome& out) {
    if (connected_) return true;
    out = fail(ErrorCode::NotConnected, "Not connected: call Connect first");
    return false;
}

bool CashMachine::require_positive(int32_t amount, Outcome& out) {
    if (amount > 0) return true;
    out = fail(ErrorCode::InvalidAmount,
               "Invalid amount " + cents(amount) + ": the amount must be greater than 0");
    return false;
}

int64_t CashMachine::level_value() const {
    int64_t v = 0;
    for (const auto& d : denoms_) v += static_cast<int64_t>(d.value) * d.current;
    return v;
}

int64_t CashMachine::cash_box_value(Kind kind) const {
    int64_t v = 0;
    for (const auto& d : denoms_)
        if (d.kind == kind) v += static_cast<int64_t>(d.value) * d.cash_box;
    return v;
}

int32_t CashMachine::cash_box_pieces(Kind kind) const {
    int32_t n = 0;
    for (const auto& d : denoms_)
        if (d.kind == kind) n += d.cash_box;
    return n;
}

bool CashMachine::exact_payout(int64_t amount, int32_t below, std::vector<int32_t>& take) const {
    return ExactSearch(denoms_, below).run(amount, take);
}

int64_t CashMachine::greedy_payout(int64_t amount, std::vector<int32_t>& take) const {
    take.assign(denoms_.size(), 0);
    int64_t rem = amount;
    for (size_t i = denoms_.size(); i-- > 0;) {
        const auto& d = denoms_[i];
        if (d.current <= 0 || d.value > rem) continue;
        const int64_t k = std::min<int64_t>(d.current, rem / d.value);
        take[i] = static_cast<int32_t>(k);
        rem -= k * d.value;
    }
    return amount - rem;
}

void CashMachine::remove_from_levels(const std::vector<int32_t>& take) {
    for (size_t i = 0; i < denoms_.size(); ++i) denoms_[i].current -= take[i];
}

bool CashMachine::move_to_cash_box(const std::vector<int32_t>& take) {
    int32_t coins = cash_box_pieces(Kind::Coin), notes = cash_box_pieces(Kind::Note);
    for (size_t i = 0; i < denoms_.size(); ++i) (denoms_[i].kind == Kind::Coin ? coins : notes) += take[i];
    if (coins > kCoinBoxCapacity || notes > kNoteBoxCapacity) return false;
    for (size_t i = 0; i < denoms_.size(); ++i) {
        denoms_[i].current -= take[i];
        denoms_[i].cash_box += take[i];
    }
    return true;
}

Outcome CashMachine::connect() {
    // Every Connect is a new attempt; a failed one leaves the machine
    // disconnected, also when it was connected before.
    connected_ = false;
    if (host_.empty()) return fail(ErrorCode::HostEmpty, "No host set: write Host before Connect");
    if (!host_reachable(host_)) return fail(ErrorCode::HostUnreachable, "Host unreachable: " + host_);
    connected_ = true;
    return succeed();
}

Outcome CashMachine::configure() {
    Outcome out;
    require_connection(out);
    return out;
}

ChargeResult CashMachine::charge(int32_t amount) {
    ChargeResult r;
    if (!require_connection(r.outcome)) return r;
    if (!require_positive(amount, r.outcome)) return r;
    std::vector<size_t> accepted;
    for (size_t i = 0; i < denoms_.size(); ++i)
        if (!denoms_[i].inhibited) accepted.push_back(i);
    if (accepted.empty()) {
        r.outcome = fail(ErrorCode::NothingAccepted, "No denomination is accepted: all are inhibited");
        return r;
    }

    // The customer pays with the smallest piece that covers the amount, or
    // else with as many of the largest as needed and one piece for the rest.
    std::vector<int64_t> inserted(denoms_.size(), 0);
    auto smallest_covering = [&](int64_t v) -> std::optional<size_t> {
        for (size_t i : accepted)
            if (denoms_[i].value >= v) return i;
        return std::nullopt;
    };
    if (auto one = smallest_covering(amount)) {
        inserted[*one] = 1;
    } else {
        const size_t largest = accepted.back();
        const int64_t big = denoms_[largest].value;
        const int64_t count = (static_cast<int64_t>(amount) - 1) / big;
        inserted[largest] = count;
        inserted[*smallest_covering(amount - count * big)] += 1;
    }

    // What does not fit its change level goes to the cash box; refused
    // before anything moves when the cash box cannot take it.
    int64_t coins = cash_box_pieces(Kind::Coin), notes = cash_box_pieces(Kind::Note);
    std::vector<int64_t> to_level(denoms_.size(), 0);
    int64_t total = 0;
    for (size_t i = 0; i < denoms_.size(); ++i) {
        if (!inserted[i]) continue;
        const auto& d = denoms_[i];
        to_level[i] = std::min<int64_t>(inserted[i], std::max(0, d.max - d.current));
        (d.kind == Kind::Coin ? coins : notes) += inserted[i] - to_level[i];
        total += inserted[i] * d.value;
    }
    if (coins > kCoinBoxCapacity || notes > kNoteBoxCapacity) {
        r.outcome =
            fail(ErrorCode::CashBoxFull, "Cash box full: no room for the money to cover " + cents(amount));
        return r;
    }
    for (size_t i = 0; i < denoms_.size(); ++i) {
        denoms_[i].current += static_cast<int32_t>(to_level[i]);
        denoms_[i].cash_box += static_cast<int32_t>(inserted[i] - to_level[i]);
    }
    r.inserted = static_cast<int32_t>(total);

    const int64_t change = total - amount;
    if (change == 0) return r;
    std::vector<int32_t> take;
    if (exact_payout(change, 0, take)) {
        remove_from_levels(take);
        r.returned = static_cast<int32_t>(change);
        return r;
    }
    const int64_t part = greedy_payout(change, take);
    remove_from_levels(take);
    r.returned = static_cast<int32_t>(part);
    r.outcome = fail(ErrorCode::NotEnoughChange,
                     "Not enough change: returned " + cents(part) + " of " + cents(change));
    return r;
}

PayResult CashMachine::pay(int32_t amount) {
    PayResult r;
    if (!require_connection(r.outcome)) return r;
    if (!require_positive(amount, r.outcome)) return r;
    std::vector<int32_t> take;
    if (exact_payout(amount, 0, take)) {
        remove_from_levels(take);
        r.paid = amount;
        return r;
    }
    // Pays what it can and reports the shortfall.
    const int64_t part = greedy_payout(amount, take);
    remove_from_levels(take);
    r.paid = static_cast<int32_t>(part);
    r.outcome =
        fail(ErrorCode::NotEnoughChange, "Not enough change: paid " + cents(part) + " of " + cents(amount));
    return r;
}

PayResult CashMachine::pay_specific(int32_t amount) {
    PayResult r;
    if (!require_connection(r.outcome)) return r;
    if (!require_positive(amount, r.outcome)) return r;
    std::vector<int32_t> take;
    if (!exact_payout(amount, 0, take)) {
        r.outcome = fail(ErrorCode::AmountNotPayable, "Amount not payable: " + cents(amount));
        return r;
    }
    remove_from_levels(take);
    r.paid = amount;
    return r;
}

ChangeResult CashMachine::change() {
    ChangeResult r;
    if (!require_connection(r.outcome)) return r;
    // The customer offers the smallest note the machine accepts and gets its
    // value back in smaller pieces.
    std::optional<size_t> note;
    for (size_t i = 0; i < denoms_.size() && !note; ++i)
        if (denoms_[i].kind == Kind::Note && !denoms_[i].inhibited) note = i;
    if (!note) {
        r.outcome = fail(ErrorCode::NothingAccepted, "No note is accepted: all notes are inhibited");
        return r;
    }
    Denomination& d = denoms_[*note];
    const bool to_level = d.current < d.max;
    if (!to_level && cash_box_pieces(Kind::Note) >= kNoteBoxCapacity) {
        r.outcome = fail(ErrorCode::CashBoxFull, "Cash box full: no room for a note of " + cents(d.value));
        return r;
    }
    std::vector<int32_t> take;
    if (!exact_payout(d.value, d.value, take)) {
        r.outcome =
            fail(ErrorCode::NotEnoughChange, "Not enough change to change a note of " + cents(d.value));
        return r;
    }
    remove_from_levels(take);
    (to_level ? d.current : d.cash_box) += 1;
    r.inserted = d.value;
    r.paid = d.value;
    return r;
}

AddChangeResult CashMachine::add_change() {
    AddChangeResult r;
    if (!require_connection(r.outcome)) return r;
    // The operator tops every change level up to its float.
    int64_t added = 0;
    for (auto& d : denoms_) {
        if (d.current >= d.initial) continue;
        added += static_cast<int64_t>(d.initial - d.current) * d.value;
        d.current = d.initial;
    }
    r.added = static_cast<int32_t>(std::min<int64_t>(added, INT32_MAX));
    return r;
}

CashBoxResult CashMachine::cash_box_control(int32_t mode, int32_t change_value) {
    CashBoxResult r;
    r.change_value = change_value;
    if (!require_connection(r.outcome)) return r;
    auto report = [&] {
        r.coins_value = static_cast<int32_t>(cash_box_value(Kind::Coin));
        r.notes_value = static_cast<int32_t>(cash_box_value(Kind::Note));
    };
    std::vector<int32_t> take(denoms_.size(), 0);
    switch (mode) {
        case 0:  // count only
            break;
        case 7:  // everything above the float goes to the cash box
            for (size_t i = 0; i < denoms_.size(); ++i)
                take[i] = std::max(0, denoms_[i].current - denoms_[i].initial);
            break;
        case 15: {  // keep ChangeValue in the levels, the rest goes to the cash box
            if (change_value < 0) {
                report();
                r.outcome = fail(ErrorCode::InvalidAmount, "Invalid amount " + cents(change_value) +
                                                               ": the change to keep cannot be negative");
                return r;
            }
            const int64_t level = level_value();
            if (change_value > level) {
                report();
                r.outcome = fail(ErrorCode::NotEnoughChange, "Not enough change: " + cents(level) +
                                                                 " in the levels, " + cents(change_value) +
                                                                 " asked to keep");
                return r;
            }
            // Largest pieces first, so the coins stay for change; when the
            // amount cannot be matched exactly a little more is kept.
            if (!exact_payout(level - change_value, 0, take)) greedy_payout(level - change_value, take);
            break;
        }
        default:
            report();
            r.outcome = fail(ErrorCode::UnknownMode,
                             "Unknown cash box mode " + cents(mode) + ": 0, 7 and 15 are known");
            return r;
    }
    if (!move_to_cash_box(take)) {
        report();
        r.outcome = fail(ErrorCode::CashBoxFull, "Cash box full: no room to move the change into it");
        return r;
    }
    report();
    r.change_value = static_cast<int32_t>(level_value());
    return r;
}

EmptyResult CashMachine::empty_cash_box(int32_t which) {
    EmptyResult r;
    if (!require_connection(r.outcome)) return r;
    if (which != 0 && which != 1) {
        r.outcome =
            fail(ErrorCode::UnknownSide, "Unknown cash box side " + cents(which) + ": 0 coins, 1 notes");
        return r;
    }
    const Kind kind = which == 0 ? Kind::Coin : Kind::Note;
    const int64_t value = cash_box_value(kind);
    if (value == 0) {
        r.outcome =
            fail(ErrorCode::CashBoxEmpty, kind == Kind::Coin ? "Coin cash box empty" : "Note cash box empty");
        return r;
    }
    for (auto& d : denoms_)
        if (d.kind == kind) d.cash_box = 0;
    r.value = static_cast<int32_t>(value);
    return r;
}

ListResult CashMachine::levels(int32_t kind) {
    ListResult r;
    if (!require_connection(r.outcome)) return r;
    auto number = [](int32_t v) { return std::to_string(v); };
    switch (kind) {
        case 0:
            r.values = join(denoms_, [&](const Denomination& d) { return number(d.initial); });
            break;
        case 1:
            r.values = join(denoms_, [&](const Denomination& d) { return number(d.max); });
            break;
        case 2:
            r.values = join(denoms_, [&](const Denomination& d) { return number(d.current); });
            break;
        case 3:
            r.values = join(denoms_, [&](const Denomination& d) { return number(d.cash_box); });
            break;
        case 4:
            r.values = join(denoms_, [](const Denomination& d) { return std::string(level_status(d)); });
            break;
        case 5:
            r.values =
                join(denoms_, [](const Denomination& d) { return std::string(d.inhibited ? "1" : "0"); });
            break;
        default:
            r.outcome =
                fail(ErrorCode::UnknownLevelKind, "Unknown level kind " + cents(kind) + ": 0 to 5 are known");
            return r;
    }
    r.denoms = join(denoms_, [&](const Denomination& d) { return number(d.value); });
    return r;
}

AmountsResult CashMachine::amounts() {
    AmountsResult r;
    if (!require_connection(r.outcome)) return r;
    r.denoms = join(denoms_, [](const Denomination& d) { return std::to_string(d.value); });
    r.quantities = join(denoms_, [](const Denomination& d) { return std::to_string(d.current); });
    r.value = static_cast<int32_t>(std::min<int64_t>(level_value(), INT32_MAX));
    return r;
}

HandleResult CashMachine::handle_error(int32_t code, std::string_view text) {
    HandleResult r;
    // Refusals that leave the machine as it was are cleared; the others need
    // the operator (connect, set the host, refill, empty the cash box, ...)
    // and stay.
    bool known = code >= INT16_MIN && code <= INT16_MAX;
    if (known) switch (static_cast<ErrorCode>(code)) {
            case ErrorCode::None:
            case ErrorCode::InvalidAmount:
            case ErrorCode::AmountNotPayable:
            case ErrorCode::CashBoxEmpty:
            case ErrorCode::UnknownMode:
            case ErrorCode::UnknownLevelKind:
            case ErrorCode::UnknownSide:
            case ErrorCode::UnknownErrorCode:
                r.cleared = true;
                break;
            case ErrorCode::NotConnected:
            case ErrorCode::HostEmpty:
            case ErrorCode::HostUnreachable:
            case ErrorCode::ScenarioInvalid:
            case ErrorCode::NotEnoughChange:
            case ErrorCode::CashBoxFull:
            case ErrorCode::NothingAccepted:
                r.cleared = false;
                break;
            default:
                known = false;
        }
    if (!known) {
        std::string t = "Unknown error code " + std::to_string(code);
        if (!text.empty()) t += " (" + std::string(text) + ")";
        r.outcome = fail(ErrorCode::UnknownErrorCode, std::move(t));
        return r;
    }
    if (r.cleared && code == last_code_) {
        last_code_ = 0;
        last_text_.clear();
    }
    return r;
}

}  // namespace monvia::cashsim
