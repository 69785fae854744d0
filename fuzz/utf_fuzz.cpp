// The layer's UTF-8/UTF-16 conversion, both ways, and its strings.
//  - Valid UTF-8 comes back byte for byte; invalid UTF-8 comes back as valid
//    UTF-8 with U+FFFD in place of the bad sequences, and converting that
//    again changes nothing.
//  - The input read as UTF-16 units: valid UTF-16 comes back unit for unit;
//    the UTF-8 made from any units is valid.
// Validity is judged by a decoder of its own, written from the encoding's
// definition (code point ranges), not from the byte ranges the layer uses.

#include <monvia/component/bstr.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"

namespace {

using namespace monvia::com;

bool valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t length;
        char32_t cp;
        char32_t minimum;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2, cp = b & 0x1F, minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3, cp = b & 0x0F, minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4, cp = b & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

bool valid_utf16(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) return false;
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::u16string wide = utf8_to_utf16(bytes);
    const std::string back = utf16_to_utf8(wide);
    FUZZ_CHECK(valid_utf8(back));
    FUZZ_CHECK(valid_utf16(wide));
    if (valid_utf8(bytes)) {
        FUZZ_CHECK(back == bytes);
    } else {
        FUZZ_CHECK(wide.find(u'\xFFFD') != std::u16string::npos);
        FUZZ_CHECK(utf8_to_utf16(back) == wide);
    }

    // The layer's own string carries the same text, length included.
    {
        Bstr owned(bytes);
        FUZZ_CHECK(owned.size() == wide.size());
        FUZZ_CHECK(owned.utf8() == back);
        FUZZ_CHECK(owned.get() == nullptr || owned.get()[wide.size()] == u'\0');
    }

    std::u16string units(size / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    const std::string narrow = utf16_to_utf8(units);
    FUZZ_CHECK(valid_utf8(narrow));
    if (valid_utf16(units)) FUZZ_CHECK(utf8_to_utf16(narrow) == units);
    return 0;
}
