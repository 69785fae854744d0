#pragma once
// Layer-owned strings: UTF-16, length-prefixed, allocated and freed only by
// the layer so that ownership is clear across a library boundary. A null
// pointer is the empty string. On Windows they are the system's strings,
// allocated and freed by the system allocator, so that a component and its
// client may each free what the other made.

#include <monvia/component/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace monvia::com {

#if defined(_WIN32)

using ::BSTR;
static_assert(sizeof(OLECHAR) == sizeof(char16_t));

inline BSTR alloc_string(std::u16string_view s) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}
inline void free_string(BSTR s) { SysFreeString(s); }
inline uint32_t string_len(BSTR s) { return SysStringLen(s); }
inline std::u16string_view chars_of(BSTR s) { return {reinterpret_cast<const char16_t*>(s), string_len(s)}; }

#else

using BSTR = char16_t*;

extern "C" {
BSTR monvia_sys_alloc_string_len(const char16_t* chars, uint32_t length);
void monvia_sys_free_string(BSTR s);
uint32_t monvia_sys_string_len(BSTR s);
}

inline BSTR alloc_string(std::u16string_view s) {
    return monvia_sys_alloc_string_len(s.data(), static_cast<uint32_t>(s.size()));
}
inline void free_string(BSTR s) { monvia_sys_free_string(s); }
inline uint32_t string_len(BSTR s) { return monvia_sys_string_len(s); }
inline std::u16string_view chars_of(BSTR s) { return {s, string_len(s)}; }

#endif

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);

BSTR alloc_utf8(std::string_view s);
std::string to_utf8(BSTR s);

// RAII owner of one layer string.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8) : s_(alloc_utf8(utf8)) {}
    ~Bstr() { free_string(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
    Bstr& operator=(Bstr&& o) noexcept {
        if (this != &o) {
            free_string(s_);
            s_ = o.s_;
            o.s_ = nullptr;
        }
        return *this;
    }

    BSTR get() const { return s_; }
    // For an in/out or out parameter: the callee may free and replace it.
    BSTR* inout() { return &s_; }
    std::string utf8() const { return to_utf8(s_); }
    uint32_t size() const { return string_len(s_); }

private:
    BSTR s_ = nullptr;
};

}  // namespace monvia::com
