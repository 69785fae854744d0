#pragma once
// Fault injection for testers: a scenario file tells, per member of the
// component and optionally for its Nth call only, to answer False with a
// chosen code and text, to fail at the interface level with a chosen status
// and description, to leave the outputs unset, or to answer slowly.
// The format is described in README.md.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace monvia::cashsim {

// The 24 members of the interface, numbered by their slot.
inline constexpr int kMemberCount = 24;
enum Slot : int {
    kGetLastErrorCode = 1,
    kPutLastErrorCode,
    kGetLastErrorText,
    kPutLastErrorText,
    kGetColorA,
    kPutColorA,
    kGetColorB,
    kPutColorB,
    kGetHost,
    kPutHost,
    kConnect,
    kDisconnect,
    kChange,
    kAddChange,
    kPay,
    kCharge,
    kCashBoxControl,
    kConfiguration,
    kGetAmounts,
    kEmptyCashBox,
    kGetLevels,
    kHandleError,
    kGetConnected,
    kPaySpecific,
};

const char* member_name(int slot);
// Members with a Boolean result, and members with by-reference outputs.
bool member_has_result(int slot);
bool member_has_outputs(int slot);

struct Effect {
    uint32_t delay_ms = 0;
    // Answer False with this code and text (the operation does not run).
    bool returns_false = false;
    int16_t code = -100;
    std::string text = "Simulated failure";
    // Fail at the interface level instead of running.
    std::optional<int32_t> hresult;
    std::string description;  // given through the error source; empty: none
    // Run, but leave every by-reference output as the caller passed it.
    bool leave_outputs = false;
};

struct Rule {
    std::string selector;    // as written
    std::vector<int> slots;  // the members it names
    uint32_t call = 0;       // 0: every call, else that call only (counted from 1 per member)
    Effect effect;
    int line = 0;
};

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Scenario {
public:
    static constexpr uint32_t kMaxDelayMs = 600000;

    // Both throw ScenarioError whose text names the origin, the line and the problem.
    static Scenario parse(std::string_view text, const std::string& origin);
    static Scenario load(const std::filesystem::path& file);

    // The effect for the given call of a member: a rule for that very call
    // wins over a rule for every call. Null when none applies.
    const Effect* effect_for(int slot, uint32_t call) const;

    const std::vector<Rule>& rules() const { return rules_; }
    bool empty() const { return rules_.empty(); }

private:
    std::vector<Rule> rules_;
    std::map<std::pair<int, uint32_t>, size_t> index_;  // (slot, call) -> rule
};

}  // namespace monvia::cashsim
