// The AppID and DllSurrogate entries of a class (see com/surrogate.h).

#include "com/surrogate.h"

#include <monvia/component/bstr.h>

#include <utility>

namespace monvia::com {
namespace {

using win::Bitness;
using win::ClassKey;
using win::Scope;
using win::wide;

constexpr const wchar_t* kWrittenBy = L"WrittenBy";
constexpr const wchar_t* kUs = L"monvia-register";

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
    // Whether it holds anything: a sub-key, or a value.
    bool empty() const {
        DWORD keys = 0, values = 0;
        if (key_)
            RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
        return keys == 0 && values == 0;
    }

private:
    HKEY key_ = nullptr;
};

bool same(const std::optional<std::wstring>& a, const std::wstring& b) {
    return a && CompareStringOrdinal(a->c_str(), static_cast<int>(a->size()), b.c_str(),
                                     static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The class's AppID key: one per root, reached in the 64-bit view, which
// is where Windows keeps the AppIDs of both views.
ClassKey app_key(const ClassKey& cls, const std::wstring& id) {
    return {cls.root, L"Software\\Classes\\AppID\\" + id, KEY_WOW64_64KEY};
}

std::string root_name(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\"; }

// "for 64-bit programs, beside the machine's registration"
std::string place(Bitness view, Scope scope) {
    return "for " + win::bitness_word(view) + " programs, beside " + win::scope_word(scope) + " registration";
}
// "for 64-bit programs in the machine's classes"
std::string in_classes(Bitness view, Scope scope) {
    return "for " + win::bitness_word(view) + " programs in " + win::scope_word(scope) + " classes";
}

LSTATUS set(const ClassKey& where, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(where.root, where.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | where.view,
                                 nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc;
}

void unset(const ClassKey& where, const wchar_t* name) {
    const Key key(where.root, where.path, KEY_SET_VALUE | where.view);
    if (key) RegDeleteValueW(key.get(), name);
}

SurrogateOutcome failure(const std::string& what, const ClassKey& where, LSTATUS rc) {
    return {false, false,
            what + ": cannot write " + root_name(where.root) + win::utf8(where.path) + " (" +
                describe(HRESULT_FROM_WIN32(rc)) + ")"};
}

}  // namespace

std::string surrogate_words(const std::string& surrogate) {
    return surrogate.empty() ? "\"\" (the system's dllhost.exe)" : "\"" + surrogate + "\"";
}

std::optional<SurrogateEntry> read_surrogate(const Guid& clsid, Bitness view, Scope scope) {
    const ClassKey where = win::class_key(clsid, view, scope);
    const Key cls(where.root, where.path, KEY_READ | where.view);
    const auto app_id = cls.value(L"AppID");
    if (!app_id) return std::nullopt;
    SurrogateEntry e;
    e.app_id = win::utf8(*app_id);
    const ClassKey app = app_key(where, *app_id);
    const Key key(app.root, app.path, KEY_READ | app.view);
    if (const auto surrogate = key.value(L"DllSurrogate")) {
        e.has_surrogate = true;
        e.surrogate = win::utf8(*surrogate);
    }
    e.ours = same(key.value(kWrittenBy), kUs) && same(app_id, wide(to_string(clsid)));
    return e;
}

SurrogateOutcome add_surrogate(const Guid& clsid, Bitness view, Scope scope, const std::string& surrogate,
                               bool write) {
    const std::string name = to_string(clsid);
    const std::wstring id = wide(name);
    const ClassKey where = win::class_key(clsid, view, scope);
    const ClassKey app = app_key(where, id);
    const Key cls(where.root, where.path, KEY_READ | where.view);
    const Key server(where.root, where.path + L"\\InprocServer32", KEY_READ | where.view);
    if (!cls || !server.value(nullptr))
        return {false, false, name + " has no in-process registration " + in_classes(view, scope)};
    const auto named = cls.value(L"AppID");
    if (named && !same(named, id))
        return {false, false,
                name + " already names the AppID " + win::utf8(*named) +
                    ", which monvia-register did not write; its entries are left as they are"};
    const Key key(app.root, app.path, KEY_READ | app.view);
    const bool key_ours = same(key.value(kWrittenBy), kUs);
    if ((named || key) && !key_ours)
        return {false, false,
                name + " already has an AppID that monvia-register did not write (" + root_name(app.root) +
                    win::utf8(app.path) + "); its entries are left as they are"};
    if (key) {
        const std::wstring present = key.value(L"DllSurrogate").value_or(L"");
        if (!same(present, wide(surrogate)))
            return {false, false,
                    name + " already runs in the surrogate " + surrogate_words(win::utf8(present)) +
                        "; remove it first (monvia-register --unregister --surrogate)"};
        if (named)
            return {true, false, name + " already runs in the surrogate " + surrogate_words(surrogate)};
    }
    const std::string done = "added the surrogate of " + name + ", " + place(view, scope) + ": AppID " +
                             name + ", DllSurrogate " + surrogate_words(surrogate);
    if (!write) return {true, true, done};
    // The AppID key is written first and the class's value last, so that
    // the class never names an AppID that is not complete; a failure takes
    // back what this call wrote.
    LSTATUS rc = ERROR_SUCCESS;
    if (!key) {
        const std::wstring title = cls.value(nullptr).value_or(id) + L" (surrogate)";
        for (const auto& [value_name, value] : {std::pair<const wchar_t*, std::wstring>{nullptr, title},
                                                {L"DllSurrogate", wide(surrogate)},
                                                {kWrittenBy, kUs}}) {
            if (rc == ERROR_SUCCESS) rc = set(app, value_name, value);
        }
        if (rc != ERROR_SUCCESS) {
            RegDeleteKeyExW(app.root, app.path.c_str(), app.view, 0);
            return failure("cannot add the surrogate of " + name, app, rc);
        }
    }
    rc = set(where, L"AppID", id);
    if (rc != ERROR_SUCCESS) {
        unset(where, L"AppID");
        if (!key) RegDeleteKeyExW(app.root, app.path.c_str(), app.view, 0);
        return failure("cannot add the surrogate of " + name, where, rc);
    }
    return {true, true, done};
}

SurrogateOutcome remove_surrogate(const Guid& clsid, Bitness view, Scope scope) {
    const std::string name = to_string(clsid);
    const auto entry = read_surrogate(clsid, view, scope);
    if (!entry) return {true, false, name + " has no surrogate " + in_classes(view, scope)};
    if (!entry->ours)
        return {false, false,
                name + " names the AppID " + entry->app_id + " " + in_classes(view, scope) +
                    ", which monvia-register did not write; it is left as it is"};
    const ClassKey where = win::class_key(clsid, view, scope);
    const std::wstring id = wide(name);
    {
        const Key cls(where.root, where.path, KEY_SET_VALUE | where.view);
        const LSTATUS rc = cls ? RegDeleteValueW(cls.get(), L"AppID") : ERROR_FILE_NOT_FOUND;
        if (rc != ERROR_SUCCESS)
            return {false, false,
                    "cannot remove the surrogate of " + name + ": cannot change " + root_name(where.root) +
                        win::utf8(where.path) + " (" + describe(HRESULT_FROM_WIN32(rc)) + ")"};
    }
    const std::string done = "removed the surrogate of " + name + ", " + place(view, scope) + " (AppID " +
                             name + ", DllSurrogate " + surrogate_words(entry->surrogate) + ")";
    // The AppID key stays while the class in the other view names it.
    const auto other = read_surrogate(clsid, win::other_bitness(view), scope);
    if (other && other->ours) return {true, true, done};
    const ClassKey app = app_key(where, id);
    {
        const Key key(app.root, app.path, KEY_SET_VALUE | app.view);
        for (const wchar_t* value : {L"DllSurrogate", kWrittenBy, static_cast<const wchar_t*>(nullptr)})
            if (key) RegDeleteValueW(key.get(), value);
    }
    const Key left(app.root, app.path, KEY_READ | app.view);
    if (left && left.empty()) RegDeleteKeyExW(app.root, app.path.c_str(), app.view, 0);
    return {true, true, done};
}

}  // namespace monvia::com
