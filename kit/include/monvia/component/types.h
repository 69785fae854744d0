#pragma once
// Basic types of the component object model layer: identifiers, status
// codes, 16-bit Booleans and the two base interfaces whose slots come first in
// every dual interface.
//
// Two backends share these names. On Windows they are the system's own types
// (GUID, HRESULT, VARIANT_BOOL, IUnknown, IDispatch and the status macros), so
// that a component built against this kit is an ordinary COM component. On
// Linux the layer defines binary-compatible types of its own. Code written
// against the names below (and STDMETHODCALLTYPE on every interface method)
// compiles for both.

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The system headers in the order they build on one another.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <oleauto.h>
// clang-format on
#else
// The system's calling convention for COM methods; the default one here.
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif
#endif

#if defined(_WIN32)

namespace monvia::com {

using Guid = ::GUID;
using ::DISPID;
using ::DISPPARAMS;
using ::EXCEPINFO;
using ::HRESULT;
using ::IDispatch;
using ::ITypeInfo;
using ::IUnknown;
using ::LCID;
using ::LPOLESTR;
using ::OLECHAR;
using ::UINT;
using ::ULONG;
using ::VARIANT;
using ::VARIANT_BOOL;
using ::WORD;

constexpr HRESULT hr(uint32_t bits) { return static_cast<HRESULT>(bits); }
// S_OK, E_FAIL, VARIANT_TRUE and the other status and Boolean names are the
// system's macros here; these the system does not name (or names otherwise).
inline constexpr HRESULT E_MOD_NOT_FOUND = hr(0x8007007E);  // the library is missing
inline constexpr HRESULT E_PATH_NOT_FOUND = hr(0x80070003);
inline constexpr HRESULT CO_E_BADPATH = CO_E_BAD_PATH;  // path not absolute

constexpr bool failed(HRESULT h) { return h < 0; }
constexpr bool succeeded(HRESULT h) { return h >= 0; }

// The system's identifiers of the two base interfaces.
using ::IID_IDispatch;
using ::IID_IUnknown;

}  // namespace monvia::com

#else

namespace monvia::com {

using HRESULT = int32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using WORD = uint16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
// Dispatch argument types; the layer never looks inside them.
struct ITypeInfo;
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;
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
inline constexpr HRESULT E_MOD_NOT_FOUND = hr(0x8007007E);  // the library is missing
inline constexpr HRESULT E_PATH_NOT_FOUND = hr(0x80070003);
inline constexpr HRESULT E_ACCESSDENIED = hr(0x80070005);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hr(0x80040154);
inline constexpr HRESULT CO_E_ERRORINDLL = hr(0x800401F9);  // library unusable
inline constexpr HRESULT CO_E_BADPATH = hr(0x80080004);     // path not absolute
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

extern const Guid IID_IUnknown;
extern const Guid IID_IDispatch;
extern const Guid IID_IErrorSource;

// Slot order matters: these are the first three slots of every interface.
// No virtual destructor, so that no extra slot is added; objects are destroyed
// through Release only.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(const Guid& iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

// The four dispatch slots of a dual interface. The layer calls members
// directly through the interface, never through Invoke, but the slots are
// kept so that every member stands where the binary contract puts it.
struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(const Guid& iid, LPOLESTR* names, UINT count, LCID locale,
                                                    DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, const Guid& iid, LCID locale, WORD flags,
                                             DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception_info,
                                             UINT* arg_error) = 0;

protected:
    ~IDispatch() = default;
};

// Optional interface through which an object explains its last failing
// status; the layer asks for it after a failing call and uses the text as
// the failure's description. Returns S_FALSE when it has nothing to say.
struct IErrorSource : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE TakeErrorDescription(char16_t** description) = 0;  // a layer string

protected:
    ~IErrorSource() = default;
};

}  // namespace monvia::com

#endif

namespace monvia::com {

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case).
std::optional<Guid> parse_guid(std::string_view text);
// Upper-case, with braces.
std::string to_string(const Guid& g);

// Orders identifiers, for maps keyed by class identifier.
struct GuidLess {
    bool operator()(const Guid& a, const Guid& b) const { return std::memcmp(&a, &b, sizeof(Guid)) < 0; }
};

// Throws std::invalid_argument; for identifiers written in the code.
Guid guid(std::string_view text);

// The text the layer gives a status code: on Windows the system's message
// for it, else (and on Linux) the layer's own text for well-known codes;
// empty when there is none. A system message's insert marks (%1, %2!d!, ...)
// have nothing to fill them here: they are removed (see fill_inserts), so
// that no literal "%1" is ever shown.
std::string describe(HRESULT h);

// The insert rule, for a message text as the system's message tables hold
// it: "%n" for n from 1 to 99, optionally followed by a format
// "!...!", takes the n-th insert; "%%" is a percent sign, "%n" (the letter)
// and "%r" a line break, "%0" ends the message, "%t" is a tab, "%." "%!" and
// "% " stand for the character after the percent sign. An insert mark with no
// insert is dropped with a "0x" written just before it, and the spaces and
// punctuation left dangling are tidied.
std::string fill_inserts(std::string_view message, const std::vector<std::string>& inserts);

// The error number a client reports for a failing status: a status of the
// control facility (0x800A....), which classic components raise with their
// own error numbers, gives its low 16 bits (0x800A0005 gives 5); every other
// status is its own number.
int32_t error_number(HRESULT h);

// Hexadecimal form, eight digits, upper case: "80040154".
std::string hex(HRESULT h);

}  // namespace monvia::com
