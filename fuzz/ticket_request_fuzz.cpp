// The ticket service's request handling: the input is a series of requests
// split at line feeds (as the service splits them), answered by one ticket
// book and compared with a model of its own: the grammar parsed on the
// digits as text, and a plain set of the tickets created so far. The byte
// escaping of the log and the command line is checked to be lossless.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "ticket_book.h"

using namespace monvia::ticket_service;

namespace {

// A 32-bit signed decimal: optional '-', digits only, within range.
std::optional<int64_t> model_int(std::string_view s) {
    const bool negative = !s.empty() && s[0] == '-';
    std::string_view digits = s.substr(negative ? 1 : 0);
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    if (digits.size() > 10) return std::nullopt;
    int64_t v = 0;
    for (char c : digits) v = v * 10 + (c - '0');
    v = negative ? -v : v;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return v;
}

std::vector<std::string_view> fields(std::string_view s) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == '|') {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return out;
}

std::string model_answer(std::string_view request, std::map<int64_t, int64_t>& tickets) {
    const auto f = fields(request);
    if (f.size() == 3 && f[0] == "C") {
        const auto t = model_int(f[1]);
        const auto a = model_int(f[2]);
        if (!t || !a) return "ERR|BAD REQUEST";
        if (*a < 0) return "ERR|" + std::to_string(*t) + "|BAD AMOUNT";
        if (tickets.count(*t)) return "ERR|" + std::to_string(*t) + "|EXISTS";
        tickets[*t] = *a;
        return "OK|" + std::to_string(*t) + "|CREATED|" + std::to_string(*a);
    }
    if (f.size() == 2 && f[0] == "S") {
        const auto t = model_int(f[1]);
        if (!t) return "ERR|BAD REQUEST";
        const std::string ticket = std::to_string(*t);
        return tickets.count(*t) ? "OK|" + ticket + "|CREATED" : "ERR|" + ticket + "|UNKNOWN";
    }
    return "ERR|BAD REQUEST";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TicketBook book;
    std::map<int64_t, int64_t> tickets;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        std::string_view request = input.substr(start, end - start);
        if (!request.empty() && request.back() == '\r') request.remove_suffix(1);
        const std::string want = model_answer(request, tickets);
        FUZZ_CHECK(book.answer(request) == want);
        FUZZ_CHECK(book.size() == tickets.size());
        start = end + 1;
    }

    const std::string escaped = escape(input);
    for (char c : escaped) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    const auto back = unescape(escaped);
    FUZZ_CHECK(back && *back == input);
    return 0;
}
