// The simulator as an in-process COM server: its class object (the kit's
// ClassFactory), and the entry points through which the system creates
// objects (DllGetClassObject), asks whether it may unload the library
// (DllCanUnloadNow), and regsvr32 registers and unregisters the class.
//
// Registration is per user (HKCU\Software\Classes) when the caller is not
// elevated and for the machine (HKLM\Software\Classes) when it is, with
// ThreadingModel Apartment, in the registry view of this library's own
// bitness. The simulator never hides or removes another server of the
// class: registering refuses (SELFREG_E_CLASS, with a description in the
// thread's error object) where the class's registration names another DLL
// that exists, and unregistering removes the class only where it names this
// very library. "This very library" is a question about files, not strings:
// the registered path and this library's are compared by file identity
// (volume serial number and file index), so that another spelling of the
// same path (letter case, short names, another drive mapping) still counts
// as this library. Registering twice changes nothing, and unregistering
// where there is nothing to remove succeeds.

#include <monvia/component/cash_device.h>
#include <monvia/component/class_factory.h>
#include <monvia/component/error_info.h>
#include <monvia/component/types.h>
#include <olectl.h>

#include <optional>
#include <string>

#include "automation_registration.h"
#include "cash_device_object.h"
#include "file_identity.h"
#include "module_path.h"
#include "registration_root.h"

using monvia::cashsim::elevated;
using monvia::cashsim::registration_root;
using monvia::device::CLSID_CashDevice;

namespace {

monvia::com::ClassFactory g_factory{CLSID_CashDevice, monvia::cashsim::create_cash_device};

constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}";
constexpr wchar_t kServerKey[] =
    L"Software\\Classes\\CLSID\\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}\\InprocServer32";
constexpr wchar_t kClassName[] = L"CashDevice simulator";

// The full path of this library.
std::wstring own_path() { return monvia::cashsim::module_path(); }

LSTATUS set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS write_key(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = set_string(key, name, value);
    RegCloseKey(key);
    return rc;
}

// The library the class's entry under `root` names, if there is one.
bool registered_server(HKEY root, std::wstring& server) {
    wchar_t value[4096];
    DWORD bytes = sizeof value;
    if (RegGetValueW(root, kServerKey, nullptr, RRF_RT_REG_SZ /* expands REG_EXPAND_SZ too */, nullptr, value,
                     &bytes) != ERROR_SUCCESS)
        return false;
    server = value;
    return true;
}

// Whether a registered path names this library's own file.
bool names_this_library(const std::wstring& registered, const std::wstring& self) {
    return monvia::cashsim::names_same_file(registered, self);
}

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string utf8(const std::wstring& w) {
    return monvia::com::utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}

HRESULT unregister_from(HKEY root, const std::wstring& self) {
    HKEY probe = nullptr;
    if (RegOpenKeyExW(root, kClassKey, 0, KEY_READ, &probe) != ERROR_SUCCESS)
        return S_OK;  // nothing to remove
    RegCloseKey(probe);
    std::wstring server;
    // A registration of another library stays; an entry without a server
    // (half written) is this library's to clean up.
    if (registered_server(root, server) && !names_this_library(server, self)) return S_OK;
    const LSTATUS rc = RegDeleteTreeW(root, kClassKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
    return S_OK;
}

// Refuses a registration that would replace another server's: the status
// regsvr32 reports, and the description in the thread's error object.
HRESULT refuse_to_replace(HKEY root, const std::wstring& server) {
    const std::string where = root == HKEY_LOCAL_MACHINE ? "for the machine" : "for this user";
    monvia::com::set_error_info(
        IID_NULL, "CashDevice simulator",
        "CashDevice {3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} is already registered " + where + " with \"" +
            utf8(server) +
            "\"; the simulator does not replace another server's registration (unregister that server "
            "first to use the simulator in its place)");
    return SELFREG_E_CLASS;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return g_factory.get(clsid, iid, object);
}

STDAPI DllCanUnloadNow() {
    return monvia::cashsim::live_objects() == 0 && !g_factory.locked() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    monvia::com::clear_error_info();
    const std::wstring self = own_path();
    if (self.empty()) return HRESULT_FROM_WIN32(GetLastError());
    const HKEY root = registration_root();
    // Another server's registration stays as it is. One that names a file
    // no longer there serves nothing, and is replaced.
    std::wstring server;
    if (registered_server(root, server) && !names_this_library(server, self) && file_exists(server))
        return refuse_to_replace(root, server);
    LSTATUS rc = write_key(root, kClassKey, nullptr, kClassName);
    if (rc == ERROR_SUCCESS) rc = write_key(root, kServerKey, nullptr, self);
    if (rc == ERROR_SUCCESS) rc = write_key(root, kServerKey, L"ThreadingModel", L"Apartment");
    if (rc != ERROR_SUCCESS) {
        // Nothing half written is left behind.
        unregister_from(root, self);
        return HRESULT_FROM_WIN32(rc);
    }
    // The type library, the interface and the ProgIDs, for late binding and
    // calls from other processes.
    if (const HRESULT h = monvia::cashsim::register_automation(root, self); FAILED(h)) {
        monvia::cashsim::unregister_automation(root, self);
        unregister_from(root, self);
        return h;
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    const std::wstring self = own_path();
    if (self.empty()) return HRESULT_FROM_WIN32(GetLastError());
    // The ProgIDs are removed while the class key still tells whose they are.
    HRESULT result = monvia::cashsim::unregister_automation(HKEY_CURRENT_USER, self);
    if (const HRESULT h = unregister_from(HKEY_CURRENT_USER, self); SUCCEEDED(result)) result = h;
    if (elevated()) {
        for (const HRESULT h : {monvia::cashsim::unregister_automation(HKEY_LOCAL_MACHINE, self),
                                unregister_from(HKEY_LOCAL_MACHINE, self)})
            if (SUCCEEDED(result)) result = h;
    }
    return result;
}
