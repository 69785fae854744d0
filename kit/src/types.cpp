#include <monvia/component/types.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace monvia::com {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly `digits` hexadecimal digits starting at `pos`.
bool read_hex(std::string_view text, size_t pos, size_t digits, uint64_t& out) {
    if (pos + digits > text.size()) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int d = hex_digit(text[pos + i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

}  // namespace

std::optional<Guid> parse_guid(std::string_view text) {
    // Braces are optional but must come as a pair.
    if (!text.empty() && text.front() == '{') {
        if (text.size() < 2 || text.back() != '}') return std::nullopt;
        text = text.substr(1, text.size() - 2);
    } else if (!text.empty() && text.back() == '}') {
        return std::nullopt;
    }
    // 8-4-4-4-12
    if (text.size() != 36) return std::nullopt;
    for (size_t dash : {8u, 13u, 18u, 23u})
        if (text[dash] != '-') return std::nullopt;

    uint64_t d1 = 0, d2 = 0, d3 = 0, v = 0;
    if (!read_hex(text, 0, 8, d1) || !read_hex(text, 9, 4, d2) || !read_hex(text, 14, 4, d3))
        return std::nullopt;
    uint8_t d4[8] = {};
    for (size_t i = 0; i < 8; ++i) {
        // Two bytes before the last dash, six after it.
        if (!read_hex(text, i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2), 2, v)) return std::nullopt;
        d4[i] = static_cast<uint8_t>(v);
    }
    return Guid{static_cast<uint32_t>(d1),
                static_cast<uint16_t>(d2),
                static_cast<uint16_t>(d3),
                {d4[0], d4[1], d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]}};
}

std::string to_string(const Guid& g) {
    // The same layout under both backends' field names.
    uint32_t d1 = 0;
    uint16_t d2 = 0, d3 = 0;
    uint8_t d4[8];
    static_assert(sizeof(Guid) == 16);
    std::memcpy(&d1, reinterpret_cast<const char*>(&g), 4);
    std::memcpy(&d2, reinterpret_cast<const char*>(&g) + 4, 2);
    std::memcpy(&d3, reinterpret_cast<const char*>(&g) + 6, 2);
    std::memcpy(d4, reinterpret_cast<const char*>(&g) + 8, 8);
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(d1), static_cast<unsigned>(d2), static_cast<unsigned>(d3), d4[0],
                  d4[1], d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]);
    return buf;
}

#if !defined(_WIN32)
std::optional<Guid> Guid::parse(std::string_view text) { return parse_guid(text); }
std::string Guid::str() const { return to_string(*this); }
#endif

Guid guid(std::string_view text) {
    auto g = parse_guid(text);
    if (!g) throw std::invalid_argument("not a class or interface identifier: \"" + std::string(text) + "\"");
    return *g;
}

namespace {

std::string layer_text(HRESULT h) {
    switch (h) {
        case S_OK:
            return "The operation completed successfully";
        case S_FALSE:
            return "The operation completed with nothing to report";
        case E_NOTIMPL:
            return "Not implemented";
        case E_NOINTERFACE:
            return "No such interface supported";
        case E_POINTER:
            return "Invalid pointer";
        case E_FAIL:
            return "Unspecified error";
        case E_UNEXPECTED:
            return "Catastrophic failure";
        case E_OUTOFMEMORY:
            return "Out of memory";
        case E_INVALIDARG:
            return "The parameter is incorrect";
        case E_MOD_NOT_FOUND:
            return "The specified module could not be found";
        case E_PATH_NOT_FOUND:
            return "The system cannot find the path specified";
        case E_ACCESSDENIED:
            return "Access is denied";
        case CLASS_E_CLASSNOTAVAILABLE:
            return "ClassFactory cannot supply requested class";
        case REGDB_E_CLASSNOTREG:
            return "Class not registered";
        case CO_E_ERRORINDLL:
            return "Error in the DLL";
        case hr(0x800401F8):
            return "DLL for class not found";  // CO_E_DLLNOTFOUND
        case CO_E_BADPATH:
            return "The path to the class's server is not valid";
        case RPC_E_SERVERFAULT:
            return "The server threw an exception";
        case RPC_E_TIMEOUT:
            return "The operation timed out";
        default:
            return {};
    }
}

// Words that only lead into an insert: when the insert is dropped at the end
// of a clause, they go with it ("Bad EXE format for %1." reads "Bad EXE format").
bool is_leading_word(std::string_view word) {
    for (std::string_view w : {"for", "in", "of", "by", "to", "from", "with", "on", "at", "file", "named"})
        if (word == w) return true;
    return false;
}

bool ends_clause(std::string_view rest) {
    return rest.empty() || rest.front() == '.' || rest.front() == ',' || rest.front() == ';' ||
           rest.front() == ':' || rest.front() == ')' || rest.front() == '\r' || rest.front() == '\n';
}

void drop_trailing_spaces(std::string& text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
}

// Removes what led into an insert that is not there: a "0x" just before it,
// and, at the end of a clause, the words that introduced it.
void drop_insert(std::string& out, std::string_view rest) {
    if (out.size() >= 2 && out[out.size() - 2] == '0' && (out.back() == 'x' || out.back() == 'X'))
        out.resize(out.size() - 2);
    if (!ends_clause(rest)) return;
    for (;;) {
        drop_trailing_spaces(out);
        const size_t space = out.find_last_of(' ');
        const size_t start = space == std::string::npos ? 0 : space + 1;
        if (start == 0 || !is_leading_word(std::string_view(out).substr(start))) break;
        out.resize(start);
    }
}

// Spaces left doubled, before punctuation or around empty quotes and
// brackets where an insert was dropped.
std::string tidied(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if ((c == '"' && next == '"') || (c == '\'' && next == '\'') || (c == '(' && next == ')')) {
            ++i;
            continue;
        }
        if (c == ' ' && (out.empty() || out.back() == ' ' || out.back() == '\n')) continue;
        if ((c == '.' || c == ',' || c == ';' || c == ':' || c == ')') && !out.empty() && out.back() == ' ')
            out.pop_back();
        out += c;
    }
    drop_trailing_spaces(out);
    return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string fill_inserts(std::string_view message, const std::vector<std::string>& inserts) {
    std::string out;
    bool dropped = false, dropped_first = false;
    size_t i = 0;
    while (i < message.size()) {
        const char c = message[i];
        if (c != '%' || i + 1 == message.size()) {
            out += c;
            ++i;
            continue;
        }
        const char d = message[i + 1];
        if (is_digit(d) && d != '0') {
            size_t j = i + 1;
            size_t n = 0;
            while (j < message.size() && is_digit(message[j]) && j < i + 3)
                n = n * 10 + static_cast<size_t>(message[j++] - '0');
            // A printf-like format between exclamation marks belongs to the mark.
            if (j < message.size() && message[j] == '!') {
                const size_t close = message.find('!', j + 1);
                if (close != std::string_view::npos) j = close + 1;
            }
            if (n <= inserts.size()) {
                out += inserts[n - 1];
            } else {
                if (out.find_first_not_of(' ') == std::string::npos) dropped_first = true;
                drop_insert(out, message.substr(j));
                dropped = true;
            }
            i = j;
            continue;
        }
        i += 2;
        switch (d) {
            case '0':
                i = message.size();  // the message ends here, without a line break
                break;
            case 'n':
            case 'r':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += d;  // "%%", "%.", "%!", "% " and the like: the character itself
        }
    }
    if (!dropped) return out;
    std::string text = tidied(out);
    // "%1 is not ..." without its subject starts with a capital all the same.
    if (dropped_first && !text.empty() && text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    return text;
}

namespace {

#if defined(_WIN32)
// The system's message for a code as its message table holds it, insert
// marks included; empty when the system has none.
std::string system_message(HRESULT h) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(h), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            text.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text.data(), bytes, nullptr,
                                nullptr);
        }
    }
    if (buffer) LocalFree(buffer);
    return text;
}

// Without the line break and full stop a message ends with, so that it reads
// as the layer's own texts do.
std::string without_ending(std::string text) {
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}
#endif

}  // namespace

std::string describe(HRESULT h) {
#if defined(_WIN32)
    // Nothing here knows what the message's inserts would be.
    if (std::string text = system_message(h); !text.empty()) return without_ending(fill_inserts(text, {}));
#endif
    return layer_text(h);
}

int32_t error_number(HRESULT h) {
    // Failing, the control facility (10), none of the customer or reserved bits.
    const auto bits = static_cast<uint32_t>(h);
    if ((bits >> 16) == 0x800Au) return static_cast<int32_t>(bits & 0xFFFFu);
    return static_cast<int32_t>(h);
}

std::string hex(HRESULT h) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(static_cast<uint32_t>(h)));
    return buf;
}

#if !defined(_WIN32)
// The two standard interfaces keep their well-known identifiers.
const Guid IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const Guid IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {5B8E2C71-0A4D-4F96-8E3B-71C2D9A04E16}: this layer's own error description interface.
const Guid IID_IErrorSource{0x5B8E2C71, 0x0A4D, 0x4F96, {0x8E, 0x3B, 0x71, 0xC2, 0xD9, 0xA0, 0x4E, 0x16}};

#endif

}  // namespace monvia::com
