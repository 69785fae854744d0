#include "runtime/convert.h"

#include "runtime/failure.h"

namespace monvia {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Anything at or above this magnitude is out of every supported range; it is
// far above 2^31 and far below the 64-bit limit, so the digit loop can
// saturate here without overflowing.
constexpr int64_t kSaturated = int64_t{1} << 40;

}  // namespace

ConvertResult convert_integer(std::string_view text, const NumberLocale& locale, int64_t lo, int64_t hi) {
    ConvertResult result;
    size_t b = 0, e = text.size();
    while (b < e && is_blank(text[b])) ++b;
    while (e > b && is_blank(text[e - 1])) --e;
    std::string_view s = text.substr(b, e - b);

    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }

    // Whole part.
    int64_t whole = 0;
    size_t digits = 0;
    size_t i = 0;
    for (; i < s.size() && is_digit(s[i]); ++i, ++digits)
        whole = whole >= kSaturated ? kSaturated : whole * 10 + (s[i] - '0');

    // Fraction: only its rounding matters. first: the first fraction digit;
    // rest_nonzero: any later digit is not 0.
    int first = -1;
    bool rest_nonzero = false;
    const std::string& sep = locale.decimal_separator.empty() ? std::string(".") : locale.decimal_separator;
    if (i < s.size() && s.substr(i, sep.size()) == sep) {
        i += sep.size();
        for (; i < s.size() && is_digit(s[i]); ++i, ++digits) {
            if (first < 0)
                first = s[i] - '0';
            else if (s[i] != '0')
                rest_nonzero = true;
        }
    }
    if (digits == 0 || i != s.size()) return result;  // not a number

    if (first > 5 || (first == 5 && rest_nonzero) || (first == 5 && (whole % 2) == 1)) {
        if (whole < kSaturated) ++whole;
    }
    const int64_t value = negative ? -whole : whole;
    if (value < lo || value > hi) {
        result.error = ConvertError::OutOfRange;
        return result;
    }
    result.value = value;
    return result;
}

int32_t to_int32(std::string_view text, const NumberLocale& locale) {
    const auto r = convert_integer(text, locale, INT32_MIN, INT32_MAX);
    if (r.value) return static_cast<int32_t>(*r.value);
    if (r.error == ConvertError::OutOfRange) throw Failure(kErrOverflow, "Overflow");
    throw Failure(kErrTypeMismatch, "Type mismatch");
}

int16_t narrow_to_int16(int32_t value) {
    if (value < INT16_MIN || value > INT16_MAX) throw Failure(kErrOverflow, "Overflow");
    return static_cast<int16_t>(value);
}

std::string decimal(int64_t value) { return std::to_string(value); }

}  // namespace monvia
