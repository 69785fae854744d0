#pragma once
// How the panel words an outcome. An OK report is the command's OK lead text
// followed by its values; a NOK report is the NOK lead text, the same values,
// then ", ", the error code, "-" and the error text, all run together.
// "values" is already joined with the command's label texts.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/convert.h"
#include "runtime/failure.h"

namespace monvia::panel {

// The error details a NOK report ends with: the component's code and text,
// or, after an interface-level failure, that failure's number and description.
struct ErrorDetails {
    int64_t code = 0;
    std::string text;
};

// An interface-level failure standing where the component's error would.
inline ErrorDetails details_of(const Failure& f) { return {f.number(), f.description()}; }

inline std::string ok_report(std::string_view lead, std::string_view values) {
    return std::string(lead) + std::string(values);
}

inline std::string nok_report(std::string_view lead, std::string_view values, const ErrorDetails& error) {
    return std::string(lead) + std::string(values) + ", " + decimal(error.code) + "-" + error.text;
}

// The word for a Boolean in a report.
inline const char* bool_word(bool b) { return b ? "True" : "False"; }

}  // namespace monvia::panel
