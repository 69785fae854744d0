// The simulator's type library, interface and ProgID entries (see
// automation_registration.h). They are written key by key rather than with
// RegisterTypeLib, which would also overwrite an interface key that another
// server's type library holds; every entry here is checked for its owner
// before it is written and before it is removed.

#include "automation_registration.h"

#include <monvia/component/cash_device.h>
#include <monvia/component/types.h>

#include <optional>
#include <string>
#include <vector>

namespace monvia::cashsim {
namespace {

using monvia::device::CLSID_CashDevice;
using monvia::device::IID_ICashDevice;
using monvia::device::LIBID_MonviaCashDevice;

std::wstring text(const GUID& g) {
    wchar_t buffer[40] = {};
    StringFromGUID2(g, buffer, 40);
    return buffer;
}

const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kLibrary = kClasses + L"TypeLib\\" + text(LIBID_MonviaCashDevice);
const std::wstring kVersionName =
    std::to_wstring(device::kTypeLibraryMajor) + L"." + std::to_wstring(device::kTypeLibraryMinor);
const std::wstring kVersion = kLibrary + L"\\" + kVersionName;
const std::wstring kLocale = kVersion + L"\\0";
const std::wstring kPlatform = kLocale + (sizeof(void*) == 8 ? L"\\win64" : L"\\win32");
const std::wstring kInterface = kClasses + L"Interface\\" + text(IID_ICashDevice);
const std::wstring kClass = kClasses + L"CLSID\\" + text(CLSID_CashDevice);
constexpr wchar_t kProgId[] = L"Monvia.CashDeviceSimulator.1";
constexpr wchar_t kIndependentProgId[] = L"Monvia.CashDeviceSimulator";
constexpr wchar_t kTypeLibMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kLibraryName[] = L"Monvia CashDevice contract 1.0";
constexpr wchar_t kClassName[] = L"CashDevice simulator";

std::optional<std::wstring> read(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t value[4096];
    DWORD bytes = sizeof value;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

bool exists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool same(const std::optional<std::wstring>& a, const std::wstring& b) {
    return a && CompareStringOrdinal(a->c_str(), static_cast<int>(a->size()), b.c_str(),
                                     static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The names of the sub-keys of a key; empty when it is not there.
std::vector<std::wstring> subkeys(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

// Writes the values of one key, creating it; stops at the first failure.
struct Writer {
    HKEY root;
    LSTATUS status = ERROR_SUCCESS;

    void set(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
        if (status != ERROR_SUCCESS) return;
        status = RegSetKeyValueW(root, path.c_str(), name, REG_SZ, value.c_str(),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
};

HRESULT removed(LSTATUS rc) {
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

// The type library is another server's when its entry for this bitness
// names another file.
bool library_is_others(HKEY root, const std::wstring& self) {
    const auto path = read(root, kPlatform);
    return path && !same(path, self);
}

// The interface key is another server's when it names another type library.
bool interface_is_others(HKEY root) {
    if (!exists(root, kInterface)) return false;
    return !same(read(root, kInterface + L"\\TypeLib"), text(LIBID_MonviaCashDevice));
}

// A ProgID is another's when it names another class.
bool prog_id_is_others(HKEY root, const wchar_t* prog_id) {
    const std::wstring key = kClasses + prog_id;
    if (!exists(root, key)) return false;
    return !same(read(root, key + L"\\CLSID"), text(CLSID_CashDevice));
}

// Whether a type library of the contract stays registered for either
// bitness, by any server.
bool library_registered(HKEY root) { return !subkeys(root, kLocale).empty(); }

}  // namespace

HRESULT register_automation(HKEY root, const std::wstring& self) {
    Writer w{root};
    if (!library_is_others(root, self)) {
        std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);
        if (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
        w.set(kVersion, nullptr, kLibraryName);
        w.set(kPlatform, nullptr, self);
        w.set(kVersion + L"\\FLAGS", nullptr, L"0");
        w.set(kVersion + L"\\HELPDIR", nullptr, folder);
    }
    if (!interface_is_others(root)) {
        w.set(kInterface, nullptr, L"ICashDevice");
        w.set(kInterface + L"\\ProxyStubClsid", nullptr, kTypeLibMarshaller);
        w.set(kInterface + L"\\ProxyStubClsid32", nullptr, kTypeLibMarshaller);
        w.set(kInterface + L"\\TypeLib", nullptr, text(LIBID_MonviaCashDevice));
        w.set(kInterface + L"\\TypeLib", L"Version", kVersionName);
    }
    if (!prog_id_is_others(root, kProgId)) {
        w.set(kClasses + kProgId, nullptr, kClassName);
        w.set(kClasses + kProgId + L"\\CLSID", nullptr, text(CLSID_CashDevice));
    }
    if (!prog_id_is_others(root, kIndependentProgId)) {
        w.set(kClasses + kIndependentProgId, nullptr, kClassName);
        w.set(kClasses + kIndependentProgId + L"\\CLSID", nullptr, text(CLSID_CashDevice));
        w.set(kClasses + kIndependentProgId + L"\\CurVer", nullptr, kProgId);
    }
    // The class key is this library's (the caller has just written it).
    w.set(kClass + L"\\ProgID", nullptr, kProgId);
    w.set(kClass + L"\\VersionIndependentProgID", nullptr, kIndependentProgId);
    w.set(kClass + L"\\TypeLib", nullptr, text(LIBID_MonviaCashDevice));
    w.set(kClass + L"\\Version", nullptr, kVersionName);
    return w.status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(w.status);
}

HRESULT unregister_automation(HKEY root, const std::wstring& self) {
    HRESULT result = S_OK;
    auto keep_first = [&](HRESULT h) {
        if (SUCCEEDED(result)) result = h;
    };
    // The type library entry for this bitness, where it names this file;
    // the version key goes with the last bitness, the library's key when no
    // other version is left.
    if (same(read(root, kPlatform), self)) {
        keep_first(removed(RegDeleteTreeW(root, kPlatform.c_str())));
        if (!library_registered(root)) {
            keep_first(removed(RegDeleteTreeW(root, kVersion.c_str())));
            if (subkeys(root, kLibrary).empty()) keep_first(removed(RegDeleteTreeW(root, kLibrary.c_str())));
        }
    }
    // The interface key, once no type library of the contract is left to
    // marshal it, where it names the contract's type library.
    if (exists(root, kInterface) && !interface_is_others(root) && !library_registered(root))
        keep_first(removed(RegDeleteTreeW(root, kInterface.c_str())));
    // The ProgIDs, where they name the class and no other server holds the
    // class here.
    const auto server = read(root, kClass + L"\\InprocServer32");
    if (!server || same(server, self)) {
        for (const wchar_t* prog_id : {kProgId, kIndependentProgId}) {
            if (exists(root, kClasses + prog_id) && !prog_id_is_others(root, prog_id))
                keep_first(removed(RegDeleteTreeW(root, (kClasses + prog_id).c_str())));
        }
    }
    return result;
}

}  // namespace monvia::cashsim
