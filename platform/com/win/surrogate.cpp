// The AppID and DllSurrogate entries of a class (see com/surrogate.h).

#include "com/surrogate.h"

#include <monvia/component/bstr.h>

#include <optional>
#include <utility>

namespace monvia::com {
namespace {

std::wstring wide(const std::string& s) {
    const std::u16string u = utf8_to_utf16(s);
    return {reinterpret_cast<const wchar_t*>(u.data()), u.size()};
}
std::string narrow(const std::wstring& w) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

const std::wstring kClasses = L"Software\\Classes\\";

// A registry key opened for one use.
class Key {
public:
    Key(HKEY root, const std::wstring& path, REGSAM access) {
        if (RegOpenKeyExW(root, path.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

    std::optional<std::wstring> value(const wchar_t* name) const {
        if (!key_) return std::nullopt;
        wchar_t data[4096];
        DWORD bytes = sizeof data;
        if (RegGetValueW(key_, nullptr, name, RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(data);
    }
    // Values and sub-keys it holds.
    DWORD values() const { return count().first; }
    DWORD subkeys() const { return count().second; }

private:
    std::pair<DWORD, DWORD> count() const {
        DWORD keys = 0, values = 0;
        if (key_)
            RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
        return {values, keys};
    }
    HKEY key_ = nullptr;
};

LSTATUS set(HKEY root, REGSAM view, const std::wstring& path, const wchar_t* name,
            const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS rc =
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc;
}

bool same(const std::optional<std::wstring>& a, const std::wstring& b) {
    return a && CompareStringOrdinal(a->c_str(), static_cast<int>(a->size()), b.c_str(),
                                     static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

SurrogateOutcome failure(const std::string& what, LSTATUS rc) {
    return {false, false, what + ": " + describe(HRESULT_FROM_WIN32(rc))};
}

}  // namespace

SurrogateOutcome add_surrogate(HKEY root, REGSAM view, const Guid& clsid, const std::string& surrogate) {
    const std::wstring id = wide(to_string(clsid));
    const std::wstring class_key = kClasses + L"CLSID\\" + id;
    const std::wstring app_key = kClasses + L"AppID\\" + id;
    const Key cls(root, class_key, KEY_READ | view);
    const Key server(root, class_key + L"\\InprocServer32", KEY_READ | view);
    if (!cls || !server.value(nullptr))
        return {false, false, to_string(clsid) + " is not registered as an in-process server here"};
    const auto app_id = cls.value(L"AppID");
    if (app_id && !same(app_id, id))
        return {false, false,
                to_string(clsid) + " already names the AppID " + narrow(*app_id) +
                    "; its entries are left as they are"};
    const Key app(root, app_key, KEY_READ | view);
    if (app_id && app.value(L"DllSurrogate"))
        return {true, false, to_string(clsid) + " already has a surrogate"};
    const std::wstring name = cls.value(nullptr).value_or(id) + L" (surrogate)";
    LSTATUS rc = ERROR_SUCCESS;
    if (!app.value(nullptr)) rc = set(root, view, app_key, nullptr, name);
    if (rc == ERROR_SUCCESS) rc = set(root, view, app_key, L"DllSurrogate", wide(surrogate));
    if (rc == ERROR_SUCCESS) rc = set(root, view, class_key, L"AppID", id);
    if (rc != ERROR_SUCCESS) {
        remove_surrogate(root, view, clsid);
        return failure("cannot write the surrogate of " + to_string(clsid), rc);
    }
    return {true, true, to_string(clsid) + " runs in the system's surrogate (dllhost) for local clients"};
}

SurrogateOutcome remove_surrogate(HKEY root, REGSAM view, const Guid& clsid) {
    const std::wstring id = wide(to_string(clsid));
    const std::wstring class_key = kClasses + L"CLSID\\" + id;
    const std::wstring app_key = kClasses + L"AppID\\" + id;
    bool changed = false;
    {
        const Key app(root, app_key, KEY_READ | KEY_SET_VALUE | view);
        if (app && app.value(L"DllSurrogate")) {
            const LSTATUS rc = RegDeleteValueW(app.get(), L"DllSurrogate");
            if (rc != ERROR_SUCCESS) return failure("cannot remove the surrogate of " + to_string(clsid), rc);
            changed = true;
        }
    }
    // The AppID's key goes when nothing but its name is left in it, and the
    // class's AppID with it.
    const Key app(root, app_key, KEY_READ | view);
    const bool app_left = app && (app.subkeys() > 0 || app.values() > (app.value(nullptr) ? 1u : 0u));
    if (app && !app_left) {
        const LSTATUS rc = RegDeleteKeyExW(root, app_key.c_str(), view, 0);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            return failure("cannot remove the AppID of " + to_string(clsid), rc);
        changed = true;
    }
    if (!app_left) {
        const Key cls(root, class_key, KEY_READ | KEY_SET_VALUE | view);
        if (cls && same(cls.value(L"AppID"), id)) {
            const LSTATUS rc = RegDeleteValueW(cls.get(), L"AppID");
            if (rc != ERROR_SUCCESS) return failure("cannot remove the AppID of " + to_string(clsid), rc);
            changed = true;
        }
    }
    return {true, changed,
            to_string(clsid) + (changed ? " no longer runs in a surrogate" : " had no surrogate to remove")};
}

std::vector<SurrogateEntry> list_surrogates(HKEY root, REGSAM view) {
    std::vector<SurrogateEntry> entries;
    const Key apps(root, kClasses + L"AppID", KEY_READ | view);
    if (!apps) return entries;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(apps.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring app_id(name, size);
        const Key app(root, kClasses + L"AppID\\" + app_id, KEY_READ | view);
        const auto surrogate = app.value(L"DllSurrogate");
        const auto clsid = parse_guid(narrow(app_id));
        if (!surrogate || !clsid) continue;
        // The class of the same identifier that names this AppID.
        const std::wstring class_key = kClasses + L"CLSID\\" + app_id;
        const Key cls(root, class_key, KEY_READ | view);
        if (!same(cls.value(L"AppID"), app_id)) continue;
        const Key server(root, class_key + L"\\InprocServer32", KEY_READ | view);
        entries.push_back({*clsid, narrow(*surrogate), narrow(server.value(nullptr).value_or(L""))});
    }
    return entries;
}

}  // namespace monvia::com
