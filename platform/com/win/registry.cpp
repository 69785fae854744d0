// The class registry over the system's component object model: classes
// registered in the process come first, every other class is created with
// CoCreateInstance from the system registry.

#include "com/registry.h"

#include <monvia/component/bstr.h>

#include <string>

#include "com/apartment.h"
#include "com/win_classes.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;

namespace monvia::com {

struct ClassRegistry::Library {
    HMODULE handle = nullptr;
    LPFNGETCLASSOBJECT get_class_object = nullptr;  // null when the library lacks the export
};

namespace {

[[noreturn]] void fail(HRESULT h, const std::string& detail) {
    std::string text = describe(h);
    if (text.empty()) text = "Automation error";
    if (!detail.empty()) text += ": " + detail;
    throw Failure(error_number(h), text);
}

std::string utf8(const std::wstring& w) {
    return utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}

std::string quoted(const fs::path& p) { return "\"" + utf8(p.wstring()) + "\""; }

[[noreturn]] void creation_failed(HRESULT h, const Guid& clsid, const Guid& iid, const std::string& source) {
    switch (h) {
        case CLASS_E_CLASSNOTAVAILABLE:
            fail(h, source + " does not provide the class " + to_string(clsid));
        case E_NOINTERFACE:
            fail(h, "the class " + to_string(clsid) + " from " + source + " does not support the interface " +
                        to_string(iid));
        default:
            fail(h,
                 "creating the class " + to_string(clsid) + " from " + source + " failed with 0x" + hex(h));
    }
}

// A failure of CoCreateInstance: the system's text for the code, and where
// the class is registered and what is wrong with its server, read from the
// registry and the file. The system's code stays: what it calls a server it
// cannot load differs between Windows and Wine (Wine answers a missing or
// wrong-bitness DLL with E_ACCESSDENIED, Windows with its loader's code).
[[noreturn]] void system_creation_failed(HRESULT h, const Guid& clsid, const Guid& iid) {
    const win::Bitness mine = win::process_bitness();
    const bool elevated = win::elevated();
    const auto own = win::effective_registration(clsid, mine, elevated);
    if (!own) {
        // A process of the other bitness would find it: say so, and which
        // panel that is.
        const win::Bitness theirs = win::other_bitness(mine);
        if (const auto other = win::effective_registration(clsid, theirs, elevated))
            fail(h, to_string(clsid) + " is registered only for " + win::bitness_word(theirs) +
                        " programs, with " + quoted(other->server) + ", which a " + win::bitness_word(mine) +
                        " program cannot load; the " + win::bitness_word(theirs) + " panel \"" +
                        win::panel_for(theirs) + "\" can");
        if (h == REGDB_E_CLASSNOTREG)
            fail(h,
                 to_string(clsid) +
                     " has no registration in the system registry (regsvr32 registers an in-process server)");
    }
    const std::string source = own ? quoted(own->server) : std::string("the registered server");
    if (h == CLASS_E_CLASSNOTAVAILABLE || h == E_NOINTERFACE) creation_failed(h, clsid, iid, source);
    if (own) {
        // The server could not be loaded or gave no class object: what the
        // file is says why.
        const std::string problem = win::server_file_problem(win::inspect_server(own->server), mine);
        fail(h, problem.empty() ? source : source + " " + problem);
    }
    fail(h, "creating the class " + to_string(clsid) + " failed with 0x" + hex(h));
}

// The description in the thread's error object, which taking it clears;
// empty when there is none.
std::string take_error_description() {
    IErrorInfo* got = nullptr;
    if (GetErrorInfo(0, &got) != S_OK || !got) return {};
    auto info = ComPtr<IErrorInfo>::attach(got);
    Bstr description;
    if (FAILED(info->GetDescription(description.inout()))) return {};
    return description.utf8();
}

std::string description_of(IUnknown* object, const Guid* iid) {
    if (!object) return {};
    void* raw = nullptr;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, &raw)) || !raw) return {};
    auto support = ComPtr<ISupportErrorInfo>::attach(static_cast<ISupportErrorInfo*>(raw));
    if (iid && support->InterfaceSupportsErrorInfo(*iid) != S_OK) return {};
    return take_error_description();
}

// A server that refuses to create its object may say why in the thread's
// error object, as a device's component does when its hardware does not
// answer: its code and its own words are the failure, as for a failing call.
void fail_with_servers_description(HRESULT h) {
    const std::string description = take_error_description();
    if (!description.empty()) throw Failure(error_number(h), description);
}

[[noreturn]] void throw_failure(HRESULT h, IUnknown* object, const Guid* iid) {
    std::string text = description_of(object, iid);
    if (text.empty()) text = describe(h);
    if (text.empty()) text = "Automation error";
    throw Failure(error_number(h), text);
}

}  // namespace

Apartment::Apartment() {
    const HRESULT h = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(h)) fail(h, "this thread cannot enter a single-threaded apartment");
}

Apartment::~Apartment() { CoUninitialize(); }

ClassRegistry& ClassRegistry::process() {
    static ClassRegistry registry{fs::path()};
    static const bool pinned = (registry.unload_on_destruction_ = false, true);
    (void)pinned;
    return registry;
}

// There are no entry directories: classes come from the system registry.
fs::path ClassRegistry::default_entry_directory() { return {}; }

std::vector<ClassRegistry::EntryDirectory> ClassRegistry::entry_directories() { return {}; }

std::vector<ClassRegistry::EntryFile> ClassRegistry::entries_in(const fs::path&) { return {}; }

ClassRegistry::ClassRegistry() = default;

// The directories are kept for callers that show them; classes come from the
// system registry here.
ClassRegistry::ClassRegistry(fs::path entry_directory) : system_classes_(true) {
    if (!entry_directory.empty()) entry_directories_.push_back(std::move(entry_directory));
}

ClassRegistry::ClassRegistry(std::vector<fs::path> entry_directories)
    : entry_directories_(std::move(entry_directories)), system_classes_(true) {}

ClassRegistry::~ClassRegistry() {
    if (!unload_on_destruction_) return;
    for (auto& [path, lib] : loaded_)
        if (lib && lib->handle) FreeLibrary(lib->handle);
}

void ClassRegistry::write_entry(const fs::path&, const Guid& clsid, const fs::path& library) {
    fail(E_NOTIMPL, "on Windows " + to_string(clsid) +
                        " is registered in the system registry: run regsvr32 " + quoted(library));
}

std::optional<fs::path> ClassRegistry::library_for(const Guid& clsid) const {
    if (auto it = libraries_.find(clsid); it != libraries_.end()) return it->second;
    return std::nullopt;
}

ClassRegistry::Library& ClassRegistry::load(const fs::path& path) {
    if (!path.is_absolute())
        fail(CO_E_BADPATH,
             quoted(path) +
                 " is not an absolute path; server libraries are loaded only from the absolute path "
                 "registered for them");
    const fs::path key = path.lexically_normal();
    if (auto it = loaded_.find(key); it != loaded_.end()) return *it->second;

    // The library's own folder is searched for what it depends on, never
    // the working directory.
    HMODULE handle = LoadLibraryExW(key.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle) fail(HRESULT_FROM_WIN32(GetLastError()), quoted(key));

    auto lib = std::make_unique<Library>();
    lib->handle = handle;
    lib->get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(handle, "DllGetClassObject")));
    Library& ref = *lib;
    loaded_.emplace(key, std::move(lib));
    return ref;
}

void* ClassRegistry::create_instance(const Guid& clsid, const Guid& iid) {
    Factory factory;
    LPFNGETCLASSOBJECT get_class_object = nullptr;
    fs::path library;
    {
        std::lock_guard lock(mutex_);
        if (auto it = factories_.find(clsid); it != factories_.end()) {
            factory = it->second;
        } else if (auto path = library_for(clsid)) {
            library = *path;
            Library& lib = load(library);
            if (!lib.get_class_object)
                fail(CO_E_ERRORINDLL,
                     quoted(library.lexically_normal()) + " does not export DllGetClassObject");
            get_class_object = lib.get_class_object;
        }
    }

    void* object = nullptr;
    HRESULT h = S_OK;
    // An error object left from before is not this creation's.
    SetErrorInfo(0, nullptr);
    if (factory) {
        h = factory(iid, &object);
        if (FAILED(h)) {
            if (object) static_cast<IUnknown*>(object)->Release();
            fail_with_servers_description(h);
            creation_failed(h, clsid, iid, "the in-process registration");
        }
    } else if (get_class_object) {
        const std::string source = quoted(library.lexically_normal());
        IClassFactory* raw = nullptr;
        h = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&raw));
        if (FAILED(h) || !raw) creation_failed(FAILED(h) ? h : E_POINTER, clsid, iid, source);
        auto class_factory = ComPtr<IClassFactory>::attach(raw);
        h = class_factory->CreateInstance(nullptr, iid, &object);
        if (FAILED(h)) {
            if (object) static_cast<IUnknown*>(object)->Release();
            fail_with_servers_description(h);
            creation_failed(h, clsid, iid, source);
        }
    } else if (!system_classes_) {
        fail(REGDB_E_CLASSNOTREG, to_string(clsid) + " has no in-process registration");
    } else {
        // In-process first, on its own: asked for both at once the system may
        // answer a broken in-process server with the local server's "not
        // registered" and lose the reason.
        h = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
        if (h == REGDB_E_CLASSNOTREG) {
            // Without a local server either (no key, or a class key without
            // LocalServer32), the in-process answer stands.
            const HRESULT local = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, &object);
            if (local != REGDB_E_CLASSNOTREG && local != REGDB_E_KEYMISSING) h = local;
        }
        if (FAILED(h)) {
            fail_with_servers_description(h);
            system_creation_failed(h, clsid, iid);
        }
    }
    if (!object)
        fail(E_POINTER, "the server reported success for " + to_string(clsid) + " but gave no object");
    return object;
}

void check(HRESULT h, IUnknown* object) {
    if (SUCCEEDED(h)) return;
    throw_failure(h, object, nullptr);
}

void check(HRESULT h, IUnknown* object, const Guid& iid) {
    if (SUCCEEDED(h)) return;
    throw_failure(h, object, &iid);
}

}  // namespace monvia::com
