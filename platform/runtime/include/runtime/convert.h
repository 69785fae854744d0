#pragma once
// Locale-aware text-to-integer conversion, as the programs apply it to their
// number fields: blanks around the number are ignored, one leading sign is
// allowed, a fraction written with the locale's decimal separator is rounded
// half to even, and a value outside the target range is a failure.
//
// The arithmetic is exact decimal: the digits are never passed through a
// floating-point number, so 2147483647.5 and 0.5000000000000000001 round
// exactly as written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace monvia {

// What the conversion needs of the user's locale.
struct NumberLocale {
    std::string decimal_separator = ".";
};

enum class ConvertError { NotANumber, OutOfRange };

struct ConvertResult {
    std::optional<int64_t> value;  // set on success
    ConvertError error = ConvertError::NotANumber;
};

// Converts and checks the range [lo, hi]; text is UTF-8.
ConvertResult convert_integer(std::string_view text, const NumberLocale& locale, int64_t lo, int64_t hi);

// The programs' conversion of a field: Failure 13 "Type mismatch" for a text
// that is not a number, Failure 6 "Overflow" for a number outside 32 bits.
int32_t to_int32(std::string_view text, const NumberLocale& locale);

// Narrows a 32-bit value to 16 bits; Failure 6 "Overflow" outside the range.
// A 16-bit field is read as to_int32 followed by this.
int16_t narrow_to_int16(int32_t value);

// Plain decimal: minus sign for negatives, no plus, no grouping, no leading zeros.
std::string decimal(int64_t value);

}  // namespace monvia
