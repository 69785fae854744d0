#include <monvia/component/types.h>

#include <cstdio>
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

std::optional<Guid> Guid::parse(std::string_view text) {
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

    Guid g;
    uint64_t v = 0;
    if (!read_hex(text, 0, 8, v)) return std::nullopt;
    g.data1 = static_cast<uint32_t>(v);
    if (!read_hex(text, 9, 4, v)) return std::nullopt;
    g.data2 = static_cast<uint16_t>(v);
    if (!read_hex(text, 14, 4, v)) return std::nullopt;
    g.data3 = static_cast<uint16_t>(v);
    for (size_t i = 0; i < 2; ++i) {
        if (!read_hex(text, 19 + 2 * i, 2, v)) return std::nullopt;
        g.data4[i] = static_cast<uint8_t>(v);
    }
    for (size_t i = 0; i < 6; ++i) {
        if (!read_hex(text, 24 + 2 * i, 2, v)) return std::nullopt;
        g.data4[2 + i] = static_cast<uint8_t>(v);
    }
    return g;
}

std::string Guid::str() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(data1),
                  static_cast<unsigned>(data2), static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3],
                  data4[4], data4[5], data4[6], data4[7]);
    return buf;
}

Guid guid(std::string_view text) {
    auto g = Guid::parse(text);
    if (!g) throw std::invalid_argument("not a class or interface identifier: \"" + std::string(text) + "\"");
    return *g;
}

std::string describe(HRESULT h) {
    switch (h) {
        case S_OK: return "The operation completed successfully";
        case S_FALSE: return "The operation completed with nothing to report";
        case E_NOTIMPL: return "Not implemented";
        case E_NOINTERFACE: return "No such interface supported";
        case E_POINTER: return "Invalid pointer";
        case E_FAIL: return "Unspecified error";
        case E_UNEXPECTED: return "Catastrophic failure";
        case E_OUTOFMEMORY: return "Out of memory";
        case E_INVALIDARG: return "The parameter is incorrect";
        case E_MOD_NOT_FOUND: return "The specified module could not be found";
        case E_PATH_NOT_FOUND: return "The system cannot find the path specified";
        case E_ACCESSDENIED: return "Access is denied";
        case CLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
        case REGDB_E_CLASSNOTREG: return "Class not registered";
        case CO_E_ERRORINDLL: return "Error in the DLL";
        case CO_E_BADPATH: return "The path to the class's server is not valid";
        case RPC_E_SERVERFAULT: return "The server threw an exception";
        case RPC_E_TIMEOUT: return "The operation timed out";
        default: return {};
    }
}

std::string hex(HRESULT h) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(static_cast<uint32_t>(h)));
    return buf;
}

// The two standard interfaces keep their well-known identifiers.
const Guid IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const Guid IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {5B8E2C71-0A4D-4F96-8E3B-71C2D9A04E16}: this layer's own error description interface.
const Guid IID_IErrorSource{0x5B8E2C71, 0x0A4D, 0x4F96, {0x8E, 0x3B, 0x71, 0xC2, 0xD9, 0xA0, 0x4E, 0x16}};

}  // namespace monvia::com
