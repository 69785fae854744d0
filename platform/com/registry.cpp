#include "com/registry.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <monvia/component/bstr.h>
#include "runtime/failure.h"

namespace fs = std::filesystem;

namespace monvia::com {

struct ClassRegistry::Library {
    void* handle = nullptr;
    CreateInstanceFn create = nullptr;  // null when the library lacks the export
};

namespace {

// Entry files are one line; anything much larger is not an entry.
constexpr std::streamsize kMaxEntrySize = 64 * 1024;

[[noreturn]] void fail(HRESULT h, const std::string& detail) {
    std::string text = describe(h);
    if (text.empty()) text = "Automation error";
    if (!detail.empty()) text += ": " + detail;
    throw Failure(h, text);
}

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

fs::path home_directory() {
    if (const char* home = env("HOME")) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// The absolute directories of a colon-separated XDG list, or of its default
// when the variable is unset or names none; relative ones are ignored.
std::vector<fs::path> xdg_list(const char* name, std::string_view fallback) {
    std::vector<fs::path> dirs;
    auto split = [&dirs](std::string_view list) {
        while (!list.empty()) {
            const auto colon = list.find(':');
            const fs::path p(std::string(list.substr(0, colon)));
            if (p.is_absolute()) dirs.push_back(p);
            if (colon == std::string_view::npos) break;
            list.remove_prefix(colon + 1);
        }
    };
    if (const char* value = env(name)) split(value);
    if (dirs.empty()) split(fallback);
    return dirs;
}

// Finds the entry file of a class: "<{CLSID}>.class" as the layer writes it,
// or any "*.class" whose name parses to the same identifier (another case,
// no braces) for entries written by hand.
std::optional<fs::path> find_entry_file(const fs::path& dir, const Guid& clsid) {
    if (dir.empty()) return std::nullopt;
    std::error_code ec;
    const fs::path exact = dir / (clsid.str() + ".class");
    if (fs::is_regular_file(exact, ec)) return exact;
    fs::directory_iterator it(dir, ec);
    if (ec) return std::nullopt;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        if (p.extension() != ".class") continue;
        const auto g = Guid::parse(p.stem().string());
        if (g && *g == clsid && fs::is_regular_file(p, ec)) return p;
    }
    return std::nullopt;
}

// Reads "library=<path>" from an entry file. Blank lines and lines starting
// with '#' are ignored, as are keys this layer does not know.
fs::path read_entry(const fs::path& file, const Guid& clsid) {
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(REGDB_E_CLASSNOTREG, "the registration entry " + quoted(file) + " for " + clsid.str() + " cannot be read");
    std::string content(static_cast<size_t>(kMaxEntrySize) + 1, '\0');
    in.read(content.data(), kMaxEntrySize + 1);
    content.resize(static_cast<size_t>(in.gcount()));
    if (content.size() > static_cast<size_t>(kMaxEntrySize))
        fail(REGDB_E_CLASSNOTREG, "the registration entry " + quoted(file) + " is too large to be an entry");

    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string t = trim(line);
        if (t.empty() || t.front() == '#') continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (lower(trim(std::string_view(t).substr(0, eq))) != "library") continue;
        const std::string value = trim(std::string_view(t).substr(eq + 1));
        if (value.empty()) break;
        return fs::path(value);
    }
    fail(REGDB_E_CLASSNOTREG,
         "the registration entry " + quoted(file) + " for " + clsid.str() + " has no \"library=<absolute path>\" line");
}

std::string dl_error_text() {
    const char* e = dlerror();
    return e ? e : "unknown loader error";
}

// Turns a failing status from a server's creation function into a Failure
// whose text says which class, interface and library were involved.
[[noreturn]] void creation_failed(HRESULT h, const Guid& clsid, const Guid& iid, const std::string& source) {
    switch (h) {
        case CLASS_E_CLASSNOTAVAILABLE: fail(h, source + " does not provide the class " + clsid.str());
        case E_NOINTERFACE:
            fail(h, "the class " + clsid.str() + " from " + source + " does not support the interface " + iid.str());
        default:
            fail(h, "creating the class " + clsid.str() + " from " + source + " failed with 0x" + hex(h));
    }
}

// Names every place searched and how to register a server library there.
std::string not_registered_text(const Guid& clsid, const std::vector<fs::path>& dirs) {
    if (dirs.empty()) return clsid.str() + " has no in-process registration and no registration entry directory is set";
    std::string text = clsid.str() + " has no in-process registration and no entry \"" + clsid.str() + ".class\" in ";
    for (size_t i = 0; i < dirs.size(); ++i) text += (i ? ", " : "") + dirs[i].string();
    return text + ". Register the server library with: monvia-register /absolute/path/to/the/library.so";
}

}  // namespace

ClassRegistry& ClassRegistry::process() {
    static ClassRegistry registry([] {
        std::vector<fs::path> dirs;
        for (auto& d : entry_directories()) dirs.push_back(std::move(d.path));
        return dirs;
    }());
    static const bool pinned = (registry.unload_on_destruction_ = false, true);
    (void)pinned;
    return registry;
}

fs::path ClassRegistry::default_entry_directory() {
    std::error_code ec;
    if (const char* dir = env("MONVIA_CLASS_REGISTRY")) {
        // Resolved once, so that a later change of working directory does
        // not move the registry.
        fs::path p = fs::absolute(dir, ec);
        return ec ? fs::path(dir) : p;
    }
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored.
    if (const char* config = env("XDG_CONFIG_HOME"); config && fs::path(config).is_absolute())
        return fs::path(config) / "monvia" / "classes";
    const fs::path home = home_directory();
    if (home.empty()) return {};
    return home / ".config" / "monvia" / "classes";
}

std::vector<ClassRegistry::EntryDirectory> ClassRegistry::entry_directories() {
    using Kind = EntryDirectory::Kind;
    if (env("MONVIA_CLASS_REGISTRY")) return {{Kind::Override, default_entry_directory()}};
    std::vector<EntryDirectory> dirs;
    auto add = [&dirs](Kind kind, fs::path p) {
        p = (p / "monvia" / "classes").lexically_normal();
        for (const auto& d : dirs)
            if (d.path == p) return;  // named twice: searched where it first stands
        dirs.push_back({kind, std::move(p)});
    };
    if (fs::path user = default_entry_directory(); !user.empty()) dirs.push_back({Kind::User, user.lexically_normal()});
    for (auto& p : xdg_list("XDG_CONFIG_DIRS", "/etc/xdg")) add(Kind::Administrator, std::move(p));
    for (auto& p : xdg_list("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) add(Kind::PackagedDefault, std::move(p));
    return dirs;
}

ClassRegistry::ClassRegistry() = default;

ClassRegistry::ClassRegistry(fs::path entry_directory) {
    if (!entry_directory.empty()) entry_directories_.push_back(std::move(entry_directory));
}

ClassRegistry::ClassRegistry(std::vector<fs::path> entry_directories) {
    for (auto& d : entry_directories)
        if (!d.empty()) entry_directories_.push_back(std::move(d));
}

const fs::path& ClassRegistry::entry_directory() const {
    static const fs::path none;
    return entry_directories_.empty() ? none : entry_directories_.front();
}

ClassRegistry::~ClassRegistry() {
    if (!unload_on_destruction_) return;
    for (auto& [path, lib] : loaded_)
        if (lib && lib->handle) dlclose(lib->handle);
}

void ClassRegistry::register_factory(const Guid& clsid, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[clsid] = std::move(factory);
}

void ClassRegistry::unregister(const Guid& clsid) {
    std::lock_guard lock(mutex_);
    factories_.erase(clsid);
    libraries_.erase(clsid);
}

void ClassRegistry::register_library(const Guid& clsid, fs::path library) {
    std::lock_guard lock(mutex_);
    libraries_[clsid] = std::move(library);
}

void ClassRegistry::write_entry(const fs::path& directory, const Guid& clsid, const fs::path& library) {
    if (!library.is_absolute())
        fail(CO_E_BADPATH, quoted(library) + " is not an absolute path; a server library is registered by absolute path");
    const std::string text = library.string();
    if (text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos)
        fail(E_INVALIDARG, "a library path cannot contain a line break or NUL");
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec) fail(E_ACCESSDENIED, "cannot create the registry directory " + quoted(directory) + ": " + ec.message());

    // Written beside the entry and renamed over it, so that a reader never
    // sees half an entry.
    const fs::path target = directory / (clsid.str() + ".class");
    fs::path temp = target;
    temp += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << "library=" << text << "\n";
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            fail(E_ACCESSDENIED, "cannot write the registration entry " + quoted(target));
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        fail(E_ACCESSDENIED, "cannot write the registration entry " + quoted(target) + ": " + ec.message());
    }
}

std::vector<ClassRegistry::EntryFile> ClassRegistry::entries_in(const fs::path& directory) {
    std::vector<EntryFile> entries;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    if (ec) return entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        if (p.extension() != ".class" || !fs::is_regular_file(p, ec)) continue;
        const auto clsid = Guid::parse(p.stem().string());
        if (!clsid) continue;
        EntryFile e{*clsid, p, {}, {}};
        try {
            e.library = read_entry(p, *clsid);
        } catch (const Failure& f) {
            e.problem = f.description();
        }
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const EntryFile& a, const EntryFile& b) {
        return a.clsid != b.clsid ? a.clsid < b.clsid : a.file < b.file;
    });
    return entries;
}

std::optional<fs::path> ClassRegistry::library_for(const Guid& clsid) const {
    if (auto it = libraries_.find(clsid); it != libraries_.end()) return it->second;
    for (const fs::path& dir : entry_directories_)
        if (const auto file = find_entry_file(dir, clsid)) return read_entry(*file, clsid);
    return std::nullopt;
}

ClassRegistry::Library& ClassRegistry::load(const fs::path& path) {
    // Only an absolute path is ever handed to the loader: a bare or relative
    // name would make it search the working directory or the library path.
    const std::string text = path.string();
    if (!path.is_absolute() || text.find('\0') != std::string::npos)
        fail(CO_E_BADPATH, quoted(path) +
                               " is not an absolute path; server libraries are loaded only from the absolute path "
                               "registered for them");
    const fs::path key = path.lexically_normal();
    if (auto it = loaded_.find(key); it != loaded_.end()) return *it->second;

    std::error_code ec;
    const auto st = fs::status(key, ec);
    if (!fs::exists(st)) {
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            fail(E_ACCESSDENIED, "cannot reach the server library " + quoted(key) + ": " + ec.message());
        fail(E_MOD_NOT_FOUND, quoted(key));
    }
    if (!fs::is_regular_file(st)) fail(CO_E_ERRORINDLL, quoted(key) + " is not a library file");

    dlerror();  // clear any earlier message
    void* handle = dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) fail(CO_E_ERRORINDLL, quoted(key) + " could not be loaded: " + dl_error_text());

    auto lib = std::make_unique<Library>();
    lib->handle = handle;
    dlerror();
    lib->create = reinterpret_cast<CreateInstanceFn>(dlsym(handle, kCreateInstanceSymbol));
    // Kept loaded even without the export: its initialisers have run, and a
    // later attempt then reports the same thing without loading it again.
    Library& ref = *lib;
    loaded_.emplace(key, std::move(lib));
    return ref;
}

void* ClassRegistry::create_instance(const Guid& clsid, const Guid& iid) {
    // The lookup and the loading happen under the lock; the creation itself
    // runs outside it, so that a server may create other classes in turn.
    Factory factory;
    CreateInstanceFn create = nullptr;
    fs::path library;
    {
        std::lock_guard lock(mutex_);
        if (auto it = factories_.find(clsid); it != factories_.end()) {
            factory = it->second;
        } else {
            auto path = library_for(clsid);
            if (!path) fail(REGDB_E_CLASSNOTREG, not_registered_text(clsid, entry_directories_));
            library = *path;
            Library& lib = load(library);
            if (!lib.create)
                fail(CO_E_ERRORINDLL, quoted(library.lexically_normal()) + " does not export " + kCreateInstanceSymbol);
            create = lib.create;
        }
    }

    void* object = nullptr;
    HRESULT h = S_OK;
    std::string source;
    if (factory) {
        source = "the in-process registration";
        h = factory(iid, &object);
    } else {
        source = quoted(library.lexically_normal());
        h = create(&clsid, &iid, &object);
    }
    if (failed(h)) {
        // A well-behaved server leaves the slot empty on failure; one that
        // does not has its object released here rather than leaked.
        if (object) static_cast<IUnknown*>(object)->Release();
        creation_failed(h, clsid, iid, source);
    }
    if (!object) fail(E_POINTER, source + " reported success for " + clsid.str() + " but gave no object");
    return object;
}

void check(HRESULT h, IUnknown* object) {
    if (succeeded(h)) return;
    std::string text;
    if (object) {
        void* raw = nullptr;
        if (succeeded(object->QueryInterface(IID_IErrorSource, &raw)) && raw) {
            auto source = ComPtr<IErrorSource>::attach(static_cast<IErrorSource*>(raw));
            BSTR description = nullptr;
            const HRESULT got = source->TakeErrorDescription(&description);
            Bstr owned;
            *owned.inout() = description;
            if (got == S_OK) text = owned.utf8();
        }
    }
    if (text.empty()) text = describe(h);
    if (text.empty()) text = "Automation error";
    throw Failure(h, text);
}

// An object here explains itself through IErrorSource whatever the interface.
void check(HRESULT h, IUnknown* object, const Guid&) { check(h, object); }

}  // namespace monvia::com
