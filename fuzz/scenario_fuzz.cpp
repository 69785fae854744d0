// The scenario file parser: any text either gives rules that the effect
// lookup finds, or one ScenarioError naming the line, short however large
// the line (bad tokens are quoted cut short).

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "scenario.h"

using namespace monvia::cashsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const Scenario s = Scenario::parse(text, "fuzz");
        for (const Rule& rule : s.rules()) {
            FUZZ_CHECK(!rule.slots.empty());
            FUZZ_CHECK(rule.line >= 1);
            FUZZ_CHECK(rule.effect.delay_ms <= Scenario::kMaxDelayMs);
            FUZZ_CHECK(!rule.effect.hresult || *rule.effect.hresult < 0);
            for (int slot : rule.slots) {
                FUZZ_CHECK(slot >= 1 && slot <= kMemberCount);
                const uint32_t call = rule.call == 0 ? 1 : rule.call;
                FUZZ_CHECK(s.effect_for(slot, call) != nullptr);
            }
        }
    } catch (const ScenarioError& e) {
        const std::string message = e.what();
        FUZZ_CHECK(message.rfind("fuzz: line ", 0) == 0);
        // The line number, the problem and at most a few short quotes.
        FUZZ_CHECK(message.size() <= 400);
    }
    return 0;
}
