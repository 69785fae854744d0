// The journal as an in-process COM server of the CashDevice class. The
// class's InprocServer32 names this DLL and, in MonviaJournalFronts, the
// server it stands in front of (monvia-journal on writes both). Creating an
// object finds this DLL's own registration, loads the fronted server,
// creates the real object from it at the same moment and wraps it; a
// failure reaches the client with the fronted server's own status and error
// object, or, when the journal cannot get that far, with a status and a
// description saying which registration or file is wrong.
//
// regsvr32 does not register the journal: it would hide the real server
// with nothing to front. DllRegisterServer and DllUnregisterServer refuse
// and say how the journal is put in place.

#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/class_factory.h>
#include <monvia/component/com_ptr.h>
#include <monvia/component/error_info.h>
#include <olectl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "com/win_classes.h"
#include "file_identity.h"
#include "journal_com.h"
#include "journal_line.h"
#include "journal_platform.h"
#include "module_path.h"

namespace fs = std::filesystem;
using monvia::com::ComPtr;
using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;
namespace win = monvia::com::win;

namespace monvia::journal {

std::atomic<long> g_live_objects{0};

namespace {

std::atomic<uint64_t> g_next_object{1};

constexpr char kSource[] = "CashDevice journal";
constexpr wchar_t kFrontsValue[] = L"MonviaJournalFronts";

std::string utf8(const std::wstring& w) {
    return com::utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}
std::string quoted(const fs::path& p) { return "\"" + utf8(p.native()) + "\""; }

// A failure of the journal's own, before the fronted server could answer.
struct Refusal {
    HRESULT status;
    std::string description;
};

// The registration the journal was created through.
struct Fronting {
    std::wstring key;  // "HKEY_...\Software\Classes\CLSID\{...}\InprocServer32", for the journal
    fs::path fronted;  // MonviaJournalFronts
};

std::wstring root_name(HKEY root) {
    return root == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE" : L"HKEY_CURRENT_USER";
}

// A string value of a key in one view; nothing when it is absent.
std::optional<std::wstring> string_value(const win::ClassKey& at, const wchar_t* subkey,
                                         const wchar_t* name) {
    HKEY key = nullptr;
    const std::wstring path = at.path + L"\\" + subkey;
    if (RegOpenKeyExW(at.root, path.c_str(), 0, KEY_QUERY_VALUE | at.view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(1024, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        const LSTATUS rc = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
        if (rc == ERROR_MORE_DATA) {
            value.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        value.resize(bytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        return value;
    }
    RegCloseKey(key);
    return std::nullopt;
}

// In this process's registry view, the user's registration of the class and
// then the machine's (the order in which the system looks): the first that
// names this very DLL says what it fronts.
Fronting find_fronting(const std::wstring& self) {
    const win::Bitness view = win::process_bitness();
    const std::string clsid = com::to_string(CLSID_CashDevice);
    for (const win::Scope scope : {win::Scope::User, win::Scope::Machine}) {
        const auto registration = win::read_registration(CLSID_CashDevice, view, scope);
        if (!registration || !cashsim::names_same_file(registration->server.native(), self)) continue;
        const win::ClassKey at = win::class_key(CLSID_CashDevice, view, scope);
        Fronting f{root_name(at.root) + L"\\" + at.path + L"\\InprocServer32", {}};
        const auto fronts = string_value(at, L"InprocServer32", kFrontsValue);
        const std::string where = "the journal's registration \"" + utf8(f.key) + "\"";
        if (!fronts || fronts->empty())
            throw Refusal{
                REGDB_E_CLASSNOTREG,
                where + " names no server to front (no MonviaJournalFronts value); run monvia-journal on"};
        f.fronted = *fronts;
        if (!f.fronted.is_absolute())
            throw Refusal{CLASS_E_CLASSNOTAVAILABLE,
                          where + " fronts " + quoted(f.fronted) +
                              ", which is not an absolute path; run monvia-journal "
                              "off and on again"};
        if (cashsim::names_same_file(f.fronted.native(), self))
            throw Refusal{CLASS_E_CLASSNOTAVAILABLE,
                          where + " names the journal itself as the server it fronts"};
        return f;
    }
    throw Refusal{REGDB_E_CLASSNOTREG,
                  "the journal " + quoted(fs::path(self)) + " was loaded, but no registration of " + clsid +
                      " for " + win::bitness_word(view) + " programs names it; run monvia-journal on"};
}

// The fronted servers loaded so far, by path: loaded once, and freed when
// the journal itself may be unloaded and they agree.
struct LoadedServer {
    HMODULE module = nullptr;
    LPFNGETCLASSOBJECT get_class_object = nullptr;
};
std::mutex g_servers_mutex;
std::map<std::wstring, LoadedServer>& loaded_servers() {
    static std::map<std::wstring, LoadedServer> servers;
    return servers;
}

LoadedServer load_server(const fs::path& file) {
    std::lock_guard lock(g_servers_mutex);
    auto& servers = loaded_servers();
    if (const auto it = servers.find(file.native()); it != servers.end()) return it->second;
    // An absolute path, and the DLL's own folder first for what it loads in
    // turn, as the system loads an in-process server.
    const HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        const HRESULT h = HRESULT_FROM_WIN32(GetLastError());
        std::string problem = win::server_file_problem(win::inspect_server(file), win::process_bitness());
        if (problem.empty()) problem = "cannot be loaded: " + com::describe(h);
        throw Refusal{h, "the journal fronts " + quoted(file) + ", which " + problem};
    }
    const auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) {
        FreeLibrary(module);
        std::string problem = win::server_file_problem(win::inspect_server(file), win::process_bitness());
        if (problem.empty()) problem = "does not export DllGetClassObject, so it is not an in-process server";
        throw Refusal{CO_E_ERRORINDLL, "the journal fronts " + quoted(file) + ", which " + problem};
    }
    return servers[file.native()] = LoadedServer{module, get};
}

// Frees the fronted servers that agree to be unloaded; whether all did.
bool unload_servers() {
    std::lock_guard lock(g_servers_mutex);
    auto& servers = loaded_servers();
    for (auto it = servers.begin(); it != servers.end();) {
        using CanUnload = HRESULT(STDAPICALLTYPE*)();
        const auto can_unload = reinterpret_cast<CanUnload>(
            reinterpret_cast<void*>(GetProcAddress(it->second.module, "DllCanUnloadNow")));
        if (!can_unload || can_unload() != S_OK) {
            ++it;
            continue;
        }
        FreeLibrary(it->second.module);
        it = servers.erase(it);
    }
    return servers.empty();
}

bool one_of_ours(REFIID iid) { return iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICashDevice; }

HRESULT create(REFIID iid, void** object) {
    const auto when = std::chrono::system_clock::now();
    const auto start = std::chrono::steady_clock::now();
    const uint64_t number = g_next_object++;
    Fronting fronting;
    auto journal_line = [&](const std::string& outcome) noexcept {
        try {
            std::string line = line_start(when, number) +
                               " create class=" + com::to_string(CLSID_CashDevice) +
                               " server=" + quote_utf8(platform::path_text(fronting.fronted));
            if (!fronting.key.empty()) line += " entry=" + quote_utf8(utf8(fronting.key));
            write_line(
                line + " -> " + outcome + " " + duration_text(std::chrono::steady_clock::now() - start),
                when);
        } catch (...) {
        }
    };
    // The fronted server's failure: its status, and its error object left
    // for the client as it set it.
    auto passed_on = [&](HRESULT h) {
        std::string description = error_object_description();
        if (description.empty()) description = com::describe(h);
        journal_line("failed " + com::hex(h) + " " + quote_utf8(description));
        return h;
    };
    try {
        com::clear_error_info();
        const std::wstring self = cashsim::module_path();
        fronting = find_fronting(self);
        const LoadedServer server = load_server(fronting.fronted);
        IClassFactory* raw_factory = nullptr;
        HRESULT h = server.get_class_object(CLSID_CashDevice, IID_IClassFactory,
                                            reinterpret_cast<void**>(&raw_factory));
        if (FAILED(h) || !raw_factory) return passed_on(FAILED(h) ? h : E_POINTER);
        auto factory = ComPtr<IClassFactory>::attach(raw_factory);
        // The real object is asked for the interface the client asks for, so
        // that a server refusing it refuses the client the same way.
        void* raw = nullptr;
        h = factory->CreateInstance(nullptr, one_of_ours(iid) ? iid : IID_ICashDevice, &raw);
        if (FAILED(h) || !raw) return passed_on(FAILED(h) ? h : E_POINTER);
        auto first = ComPtr<IUnknown>::attach(static_cast<IUnknown*>(raw));
        void* device = nullptr;
        h = first->QueryInterface(IID_ICashDevice, &device);
        if (FAILED(h) || !device) return passed_on(FAILED(h) ? h : E_NOINTERFACE);
        auto real = ComPtr<ICashDevice>::attach(static_cast<ICashDevice*>(device));
        void* support = nullptr;
        if (FAILED(real->QueryInterface(IID_ISupportErrorInfo, &support))) support = nullptr;
        auto real_support = ComPtr<ISupportErrorInfo>::attach(static_cast<ISupportErrorInfo*>(support));
        first.reset();
        auto journal = std::make_unique<WinJournalDevice>(std::move(real), std::move(real_support), number);
        journal_line("ok");
        h = journal->QueryInterface(iid, object);
        journal.release()->Release();
        return h;
    } catch (const Refusal& r) {
        com::set_error_info(IID_NULL, kSource, r.description);
        journal_line("failed " + com::hex(r.status) + " " + quote_utf8(r.description));
        return r.status;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

com::ClassFactory g_factory{CLSID_CashDevice, create};

HRESULT refuse_registration() {
    com::set_error_info(
        IID_NULL, kSource,
        "the CashDevice journal is not registered with regsvr32: \"monvia-journal on\" puts it in "
        "front of the server that has the class, and \"monvia-journal off\" takes it away");
    return SELFREG_E_CLASS;
}

}  // namespace
}  // namespace monvia::journal

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return monvia::journal::g_factory.get(clsid, iid, object);
}

// The journal may go when none of its objects is alive, no lock is held, and
// the servers it loaded may go too (they are freed here first).
STDAPI DllCanUnloadNow() {
    using namespace monvia::journal;
    if (g_live_objects != 0 || g_factory.locked()) return S_FALSE;
    return unload_servers() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return monvia::journal::refuse_registration(); }

STDAPI DllUnregisterServer() { return monvia::journal::refuse_registration(); }
