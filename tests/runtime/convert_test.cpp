#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "runtime/failure.h"

using monvia::NumberLocale;

namespace {

struct Case {
    const char* text;
    std::optional<int32_t> expected;  // nullopt: the conversion fails
};

// Every text is written with "." and converted with both separators: the
// separator is replaced by the locale's own before converting.
const Case kInt32Cases[] = {
    {"Imp", std::nullopt},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"\t", std::nullopt},
    {"125", 125},
    {"  125  ", 125},
    {"\t125\t", 125},
    {"+7", 7},
    {"-5", -5},
    {"+-5", std::nullopt},
    {"--5", std::nullopt},
    {"- 5", std::nullopt},
    {"5-", std::nullopt},
    {"1 2", std::nullopt},
    {"0", 0},
    {"-0", 0},
    {"007", 7},
    {"12.5", 12},
    {"13.5", 14},
    {"2.5", 2},
    {"3.5", 4},
    {"-2.5", -2},
    {"-3.5", -4},
    {"0.5", 0},
    {"1.5", 2},
    {"12.4999999999999999999999", 12},
    {"12.5000000000000000000001", 13},
    {"12.50000000000000000000000", 12},
    {"12.6", 13},
    {"-12.6", -13},
    {".5", 0},
    {".6", 1},
    {"5.", 5},
    {".", std::nullopt},
    {"-.", std::nullopt},
    {"1.2.3", std::nullopt},
    {"2147483647", 2147483647},
    {"2147483648", std::nullopt},
    {"-2147483648", INT32_MIN},
    {"-2147483649", std::nullopt},
    {"2147483647.5", std::nullopt},
    {"2147483646.5", 2147483646},
    {"2147483647.4999", 2147483647},
    {"-2147483648.5", INT32_MIN},
    {"-2147483648.5000001", std::nullopt},
    {"99999999999999999999999999999999", std::nullopt},
    {"0000000000000000000000000000000000012", 12},
    {"1e3", std::nullopt},
    {"0x10", std::nullopt},
    {"$5", std::nullopt},
    {"(5)", std::nullopt},
    {"\xc2\xa0"
     "5",
     std::nullopt},
};

std::string with_separator(std::string text, const std::string& sep) {
    std::string out;
    for (char c : text) {
        if (c == '.')
            out += sep;
        else
            out += c;
    }
    return out;
}

// A field's conversion as the programs make it, with a failure as nullopt.
std::optional<int32_t> int32_of(std::string_view text, const NumberLocale& locale) {
    try {
        return monvia::to_int32(text, locale);
    } catch (const monvia::Failure&) {
        return std::nullopt;
    }
}

// A 16-bit field: converted to 32 bits, then narrowed.
std::optional<int16_t> int16_of(std::string_view text, const NumberLocale& locale) {
    try {
        return monvia::narrow_to_int16(monvia::to_int32(text, locale));
    } catch (const monvia::Failure&) {
        return std::nullopt;
    }
}

class ConvertInt32 : public ::testing::TestWithParam<std::string> {};

TEST_P(ConvertInt32, FollowsTheRulesWithTheLocalesSeparator) {
    const NumberLocale locale{GetParam()};
    for (const auto& c : kInt32Cases) {
        const std::string text = with_separator(c.text, GetParam());
        EXPECT_EQ(int32_of(text, locale), c.expected) << "text: [" << text << "]";
    }
}

INSTANTIATE_TEST_SUITE_P(Separators, ConvertInt32, ::testing::Values(".", ",", "\xd9\xab"));

TEST(Convert, TheOtherSeparatorIsNotAccepted) {
    EXPECT_EQ(int32_of("12.5", NumberLocale{","}), std::nullopt);
    EXPECT_EQ(int32_of("12,5", NumberLocale{"."}), std::nullopt);
    EXPECT_EQ(int32_of("1,000", NumberLocale{"."}), std::nullopt);  // no digit grouping
}

TEST(Convert, SixteenBitRange) {
    const NumberLocale l{"."};
    const struct {
        const char* text;
        std::optional<int16_t> expected;
    } cases[] = {
        {"32767", 32767},          {"32768", std::nullopt}, {"-32768", -32768}, {"-32769", std::nullopt},
        {"32767.5", std::nullopt}, {"-32768.5", -32768},    {"100", 100},       {"x", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(int16_of(c.text, l), c.expected) << c.text;
}

TEST(Convert, ThrowingFormsGiveTypeMismatchOrOverflow) {
    const NumberLocale l{"."};
    const struct {
        const char* text;
        int32_t number;
    } cases[] = {{"Imp", monvia::kErrTypeMismatch},
                 {"", monvia::kErrTypeMismatch},
                 {"2147483648", monvia::kErrOverflow},
                 {"-2147483648.6", monvia::kErrOverflow}};
    for (const auto& c : cases) {
        try {
            monvia::to_int32(c.text, l);
            ADD_FAILURE() << c.text << " converted";
        } catch (const monvia::Failure& f) {
            EXPECT_EQ(f.number(), c.number) << c.text;
        }
    }
    EXPECT_EQ(monvia::to_int32(" 42 ", l), 42);
    EXPECT_THROW(monvia::narrow_to_int16(32768), monvia::Failure);
    EXPECT_EQ(monvia::narrow_to_int16(-32768), -32768);
}

TEST(Convert, DecimalFormatting) {
    EXPECT_EQ(monvia::decimal(0), "0");
    EXPECT_EQ(monvia::decimal(-3), "-3");
    EXPECT_EQ(monvia::decimal(1234567), "1234567");
    EXPECT_EQ(monvia::decimal(INT32_MIN), "-2147483648");
}

}  // namespace
