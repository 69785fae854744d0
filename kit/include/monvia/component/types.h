#pragma once
// Basic types of the component object model layer: identifiers, status
// codes, 16-bit Booleans and the two base interfaces whose slots come first in
// every dual interface.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace monvia::com {

using HRESULT = int32_t;
using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT hr(uint32_t bits) { return static_cast<HRESULT>(bits); }
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hr(0x80004002);
inline constexpr HRESULT E_POINTER = hr(0x80004003);
inline constexpr HRESULT E_FAIL = hr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hr(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = hr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hr(0x80070057);
inline constexpr HRESULT E_MOD_NOT_FOUND = hr(0x8007007E);   // the library is missing
inline constexpr HRESULT E_PATH_NOT_FOUND = hr(0x80070003);
inline constexpr HRESULT E_ACCESSDENIED = hr(0x80070005);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hr(0x80040154);
inline constexpr HRESULT CO_E_ERRORINDLL = hr(0x800401F9);   // library unusable
inline constexpr HRESULT CO_E_BADPATH = hr(0x80080004);      // path not absolute
inline constexpr HRESULT RPC_E_SERVERFAULT = hr(0x80010105);
inline constexpr HRESULT RPC_E_TIMEOUT = hr(0x8001011F);

constexpr bool failed(HRESULT h) { return h < 0; }
constexpr bool succeeded(HRESULT h) { return h >= 0; }

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case).
    static std::optional<Guid> parse(std::string_view text);
    // Upper-case, with braces.
    std::string str() const;

    friend bool operator==(const Guid&, const Guid&) = default;
    friend auto operator<=>(const Guid&, const Guid&) = default;
};

// Throws std::invalid_argument; for identifiers written in the code.
Guid guid(std::string_view text);

// The text the layer gives a well-known status code; empty when it has none.
std::string describe(HRESULT h);

// Hexadecimal form, eight digits, upper case: "80040154".
std::string hex(HRESULT h);

extern const Guid IID_IUnknown;
extern const Guid IID_IDispatch;
extern const Guid IID_IErrorSource;

// Slot order matters: these are the first three slots of every interface.
// No virtual destructor, so that no extra slot is added; objects are destroyed
// through Release only.
struct IUnknown {
    virtual HRESULT QueryInterface(const Guid& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// The four dispatch slots of a dual interface. The layer calls members
// directly through the interface, never through Invoke, but the slots are
// kept so that every member stands where the binary contract puts it.
struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(uint32_t index, uint32_t locale, void** info) = 0;
    virtual HRESULT GetIDsOfNames(const Guid& iid, char16_t** names, uint32_t count, uint32_t locale,
                                  int32_t* ids) = 0;
    virtual HRESULT Invoke(int32_t id, const Guid& iid, uint32_t locale, uint16_t flags, void* params,
                           void* result, void* exception_info, uint32_t* arg_error) = 0;

protected:
    ~IDispatch() = default;
};

// Optional interface through which an object explains its last failing
// status; the layer asks for it after a failing call and uses the text as
// the failure's description. Returns S_FALSE when it has nothing to say.
struct IErrorSource : IUnknown {
    virtual HRESULT TakeErrorDescription(char16_t** description) = 0;  // a layer string

protected:
    ~IErrorSource() = default;
};

}  // namespace monvia::com
