// The text-to-integer conversion (32-bit and 16-bit ranges, every throwing
// and non-throwing form) against a reference of its own that works on the
// decimal digits as a string: no binary arithmetic on the number at all
// until the result is known to fit.
//
// Input: the first byte chooses the decimal separator, the rest is the text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "runtime/convert.h"
#include "runtime/failure.h"

namespace {

using monvia::ConvertError;

const char* const kSeparators[] = {".", ",", "\xD9\xAB", ""};  // "": the default, "."

bool digit(char c) { return c >= '0' && c <= '9'; }

// A magnitude as decimal digits without leading zeros ("" is zero).
std::string strip_zeros(std::string s) {
    const auto first = s.find_first_not_of('0');
    return first == std::string::npos ? std::string() : s.substr(first);
}

std::string plus_one(std::string s) {
    for (size_t i = s.size(); i-- > 0;) {
        if (s[i] != '9') {
            ++s[i];
            return s;
        }
        s[i] = '0';
    }
    return "1" + s;
}

// a <= b for magnitudes without leading zeros.
bool at_most(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a <= b;
}

struct Expected {
    std::optional<int64_t> value;
    ConvertError error = ConvertError::NotANumber;
};

Expected reference(std::string_view text, std::string_view separator, const std::string& max_positive,
                   const std::string& max_negative) {
    if (separator.empty()) separator = ".";
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string_view s = text.substr(b, e - b);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    std::string whole, fraction;
    size_t i = 0;
    while (i < s.size() && digit(s[i])) whole.push_back(s[i++]);
    if (s.substr(i, separator.size()) == separator) {
        i += separator.size();
        while (i < s.size() && digit(s[i])) fraction.push_back(s[i++]);
    }
    if (i != s.size() || whole.size() + fraction.size() == 0) return {};

    // Half to even, decided on the digits as written.
    std::string magnitude = strip_zeros(whole);
    if (!fraction.empty()) {
        const char first = fraction[0];
        const bool rest = fraction.find_first_not_of('0', 1) != std::string::npos;
        const bool odd = !magnitude.empty() && ((magnitude.back() - '0') % 2 == 1);
        if (first > '5' || (first == '5' && (rest || odd))) magnitude = plus_one(magnitude);
    }
    if (!at_most(magnitude, negative ? max_negative : max_positive))
        return {std::nullopt, ConvertError::OutOfRange};
    int64_t v = 0;
    for (char c : magnitude) v = v * 10 + (c - '0');  // at most 10 digits here
    return {negative ? -v : v, ConvertError::NotANumber};
}

void compare(const monvia::ConvertResult& got, const Expected& want) {
    FUZZ_CHECK(got.value.has_value() == want.value.has_value());
    if (want.value) {
        FUZZ_CHECK(*got.value == *want.value);
    } else {
        FUZZ_CHECK(got.error == want.error);
    }
}

// The throwing form gives the value or the failure number the result implies.
template <class F>
void compare_throwing(F convert, const Expected& want) {
    try {
        const int64_t v = convert();
        FUZZ_CHECK(want.value && v == *want.value);
    } catch (const monvia::Failure& f) {
        FUZZ_CHECK(!want.value);
        FUZZ_CHECK(f.number() == (want.error == ConvertError::OutOfRange ? monvia::kErrOverflow
                                                                         : monvia::kErrTypeMismatch));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    monvia::NumberLocale locale;
    locale.decimal_separator = kSeparators[data[0] % 4];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const Expected want32 = reference(text, locale.decimal_separator, "2147483647", "2147483648");
    const Expected want16 = reference(text, locale.decimal_separator, "32767", "32768");
    compare(monvia::convert_integer(text, locale, INT32_MIN, INT32_MAX), want32);
    compare(monvia::convert_integer(text, locale, INT16_MIN, INT16_MAX), want16);

    compare_throwing([&] { return int64_t{monvia::to_int32(text, locale)}; }, want32);
    // A 16-bit field is read through 32 bits and then narrowed.
    compare_throwing([&] { return int64_t{monvia::narrow_to_int16(monvia::to_int32(text, locale))}; },
                     want16);
    return 0;
}
