#pragma once
// Error-resume mode: a step that fails is skipped and the procedure goes on
// with the next one; the failure is recorded so the caller can still see it.

#include <optional>
#include <utility>

#include "runtime/failure.h"

namespace monvia {

class ErrorResume {
public:
    // Runs one step. Returns true when it completed, false when it failed; a
    // failure is kept as the last recorded error.
    template <class Step>
    bool step(Step&& s) {
        try {
            std::forward<Step>(s)();
            return true;
        } catch (const Failure& f) {
            last_ = f;
            return false;
        }
    }

    const std::optional<Failure>& last() const { return last_; }

private:
    std::optional<Failure> last_;
};

}  // namespace monvia
