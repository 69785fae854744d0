#include "journal_line.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "journal_platform.h"

namespace monvia::journal {
namespace {

// Strings longer than this are shown cut, with how much was left out: a
// journal line stays something a person can read and paste.
constexpr size_t kMaxShownUnits = 4096;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_escape(std::string& out, uint32_t unit) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(unit));
    out += buf;
}

bool unprintable(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029 || c == 0xFEFF;
}

}  // namespace

std::string quote(std::u16string_view text) {
    std::string out = "\"";
    const size_t shown = std::min(text.size(), kMaxShownUnits);
    for (size_t i = 0; i < shown; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            append_escape(out, c);  // an unpaired surrogate
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (unprintable(c))
                    append_escape(out, c);
                else
                    append_utf8(out, c);
        }
    }
    out += '"';
    if (shown < text.size()) out += "...(" + std::to_string(text.size() - shown) + " more characters)";
    return out;
}

std::string quote_utf8(std::string_view text) { return quote(com::utf8_to_utf16(text)); }

std::string timestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    const std::tm local = platform::local_time(seconds);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms % 1000));
    return buf;
}

const std::string& process_label() {
    static const std::string label = [] {
        std::string name = platform::process_name();
        if (name.empty()) name = "?";
        // The name is the process's own choice: kept to one printable word.
        for (char& c : name)
            if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) c = '_';
        return name + "[" + std::to_string(platform::process_id()) + "]";
    }();
    return label;
}

std::string line_start(std::chrono::system_clock::time_point when, uint64_t object) {
    return timestamp(when) + " " + process_label() + " #" + std::to_string(object);
}

std::string duration_text(std::chrono::steady_clock::duration took) {
    return "(" + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(took).count()) + " us)";
}

Fields& Fields::text(std::string_view t) noexcept {
    try {
        s_ += ' ';
        s_ += t;
    } catch (...) {
    }
    return *this;
}

Fields& Fields::value(const char* name, int64_t v) noexcept {
    try {
        return text(std::string(name) + "=" + std::to_string(v));
    } catch (...) {
        return *this;
    }
}

Fields& Fields::value(const char* name, BSTR s) noexcept {
    try {
        return text(std::string(name) + "=" + quote(com::chars_of(s)));
    } catch (...) {
        return *this;
    }
}

Fields& Fields::in(const char* name, BSTR* p) noexcept {
    try {
        return p ? value((std::string("&") + name).c_str(), *p) : text(std::string("&") + name + "=null");
    } catch (...) {
        return *this;
    }
}

Fields& Fields::out(const char* name, BSTR* p) noexcept { return p ? value(name, *p) : *this; }

Fields& Fields::result(const VARIANT_BOOL* p) noexcept {
    if (!p) return *this;
    // -1 and 0: the contract's True and False (the system names them with
    // macros, the layer with constants).
    if (*p == VARIANT_BOOL(-1)) return text("result=True");
    if (*p == VARIANT_BOOL(0)) return text("result=False");
    return value("result", *p);  // neither True nor False: shown as the number it is
}

}  // namespace monvia::journal
