#include "ticket_book.h"

#include <charconv>
#include <vector>

namespace monvia::ticket_service {

namespace {

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = line.find('|', start);
        fields.push_back(
            line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) return fields;
        start = bar + 1;
    }
}

constexpr const char* kBadRequest = "ERR|BAD REQUEST";

}  // namespace

std::optional<int32_t> parse_int32(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const std::size_t digits_from = text[0] == '-' ? 1 : 0;
    if (digits_from == text.size()) return std::nullopt;
    for (std::size_t i = digits_from; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string TicketBook::answer(std::string_view request) {
    const auto fields = split_fields(request);
    if (fields[0] == "C" && fields.size() == 3) {
        const auto ticket = parse_int32(fields[1]);
        const auto amount = parse_int32(fields[2]);
        if (!ticket || !amount) return kBadRequest;
        const std::string t = std::to_string(*ticket);
        if (*amount < 0) return "ERR|" + t + "|BAD AMOUNT";
        if (!amounts_.emplace(*ticket, *amount).second) return "ERR|" + t + "|EXISTS";
        return "OK|" + t + "|CREATED|" + std::to_string(*amount);
    }
    if (fields[0] == "S" && fields.size() == 2) {
        const auto ticket = parse_int32(fields[1]);
        if (!ticket) return kBadRequest;
        const std::string t = std::to_string(*ticket);
        if (!amounts_.contains(*ticket)) return "ERR|" + t + "|UNKNOWN";
        return "OK|" + t + "|CREATED";
    }
    return kBadRequest;
}

std::string escape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        switch (b) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (b >= 0x20 && b < 0x7F) {
                    out.push_back(ch);
                } else {
                    out += "\\x";
                    out.push_back(kHex[b >> 4]);
                    out.push_back(kHex[b & 0xF]);
                }
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case 'r':
                out.push_back('\r');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back('\0');
                break;
            case '\\':
                out.push_back('\\');
                break;
            case 'x': {
                if (i + 2 >= text.size()) return std::nullopt;
                const int hi = hex(text[i + 1]);
                const int lo = hex(text[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

}  // namespace monvia::ticket_service
