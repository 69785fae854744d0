#include <monvia/component/bstr.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace monvia::com {

namespace {

#if !defined(_WIN32)
// Layout of one layer string in memory:
//   [uint32 byte length][length/2 UTF-16 units][one char16_t NUL]
// The string pointer points at the first unit. The block comes from the C
// heap so that a string allocated by a server library can be freed by its
// caller (and the other way round) whichever copy of this code they carry.
constexpr size_t kPrefix = sizeof(uint32_t);

char* block_of(BSTR s) { return reinterpret_cast<char*>(s) - kPrefix; }
#endif

constexpr char32_t kReplacement = 0xFFFD;

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

#if !defined(_WIN32)
extern "C" {

BSTR monvia_sys_alloc_string_len(const char16_t* chars, uint32_t length) {
    // The byte length must fit the 32-bit prefix.
    if (length > (std::numeric_limits<uint32_t>::max() - kPrefix - sizeof(char16_t)) / sizeof(char16_t))
        return nullptr;
    const size_t bytes = static_cast<size_t>(length) * sizeof(char16_t);
    char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(char16_t)));
    if (!block) return nullptr;
    const uint32_t prefix = static_cast<uint32_t>(bytes);
    std::memcpy(block, &prefix, kPrefix);
    BSTR s = reinterpret_cast<BSTR>(block + kPrefix);
    if (chars && length)
        std::memcpy(s, chars, bytes);
    else if (length)
        std::memset(s, 0, bytes);
    s[length] = u'\0';
    return s;
}

void monvia_sys_free_string(BSTR s) {
    if (s) std::free(block_of(s));
}

uint32_t monvia_sys_string_len(BSTR s) {
    if (!s) return 0;
    uint32_t bytes = 0;
    std::memcpy(&bytes, block_of(s), kPrefix);
    return bytes / static_cast<uint32_t>(sizeof(char16_t));
}

}  // extern "C"
#endif

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // Lead byte: number of continuation bytes and the allowed range of
        // the first one (which rules out overlong forms, surrogates and
        // values above U+10FFFF).
        size_t more = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            // A stray continuation byte or a lead byte that no valid
            // sequence starts with.
            append_utf16(out, kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (size_t k = 0; k < more; ++k, ++j) {
            if (j >= n) {
                ok = false;
                break;
            }
            const unsigned char c = p[j];
            const unsigned char first_lo = k == 0 ? lo : 0x80;
            const unsigned char first_hi = k == 0 ? hi : 0xBF;
            if (c < first_lo || c > first_hi) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            // One replacement for the maximal valid prefix; resume at the
            // byte that broke the sequence.
            append_utf16(out, kReplacement);
            i = j;
            continue;
        }
        append_utf16(out, cp);
        i = j;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                const char32_t cp =
                    0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                append_utf8(out, cp);
                ++i;
            } else {
                append_utf8(out, kReplacement);  // high surrogate without its pair
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            append_utf8(out, kReplacement);  // low surrogate on its own
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

BSTR alloc_utf8(std::string_view s) {
    const std::u16string wide = utf8_to_utf16(s);
    BSTR b = alloc_string(wide);
    if (!b) throw std::bad_alloc();
    return b;
}

std::string to_utf8(BSTR s) { return utf16_to_utf8(chars_of(s)); }

}  // namespace monvia::com
