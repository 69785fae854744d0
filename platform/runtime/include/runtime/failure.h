#pragma once
// The failure type every seam throws: an error number and a description, as
// the run-time shows them in its unhandled-failure report.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace monvia {

// Run-time error numbers used by the conversions and the handler guard.
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrTypeMismatch = 13;

class Failure : public std::runtime_error {
public:
    Failure(int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

private:
    int32_t number_;
    std::string description_;
};

// Thrown out of every event wait once the program has been ended, so that a
// handler that is waiting inside a nested event loop unwinds instead of going
// on. It is not a Failure: no handler may treat it as one.
class ProgramEnded {
public:
    explicit ProgramEnded(int exit_code = 0) : exit_code_(exit_code) {}
    int exit_code() const noexcept { return exit_code_; }

private:
    int exit_code_;
};

}  // namespace monvia
