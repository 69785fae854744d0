#include "com/registry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <monvia/component/bstr.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "com/safe_path.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;

namespace monvia::com {

struct ClassRegistry::Library {
    void* handle = nullptr;
    CreateInstanceFn create = nullptr;         // null when the library lacks the export
    TakeCreationErrorFn take_error = nullptr;  // optional
};

namespace {

// Entry files are one line; anything much larger is not an entry.
constexpr std::streamsize kMaxEntrySize = 64 * 1024;

[[noreturn]] void fail(HRESULT h, const std::string& detail) {
    std::string text = describe(h);
    if (text.empty()) text = "Automation error";
    if (!detail.empty()) text += ": " + detail;
    throw Failure(error_number(h), text);
}

// Paths in failure texts come quoted, and shortened in the middle when very long.
std::string quoted(const fs::path& p) { return shown_path(p); }

// A failure that names its cause first and the path it is about last.
[[noreturn]] void fail_at(HRESULT h, const std::string& cause, const fs::path& path) {
    fail(h, cause + ": " + quoted(path));
}

// Refuses a path that users other than its owner (or than the user and root)
// can change: whoever can change it can make the program run their code.
void check_safe_path(const fs::path& path, std::string_view what) {
    if (auto why = unsafe_path(path, what)) fail_at(E_ACCESSDENIED, why->cause, why->where);
}

// Closes a descriptor on the way out.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
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
// no braces) for entries written by hand. Whatever is found under an entry's
// name is returned, so that reading it can tell what is wrong with it (a
// directory, a FIFO, unreadable) instead of calling it missing.
std::optional<fs::path> find_entry_file(const fs::path& dir, const Guid& clsid) {
    if (dir.empty()) return std::nullopt;
    std::error_code ec;
    const fs::path exact = dir / (clsid.str() + ".class");
    struct stat st {};
    if (::lstat(exact.c_str(), &st) == 0) return exact;
    if (const int e = errno; e != ENOENT && e != ENOTDIR)
        fail_at(REGDB_E_CLASSNOTREG, "the registration entry cannot be reached: " + path_error_cause(e),
                exact);
    fs::directory_iterator it(dir, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return std::nullopt;
        fail_at(REGDB_E_CLASSNOTREG,
                "the registration entry directory cannot be read: " + path_error_cause(ec.value()), dir);
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        if (p.extension() != ".class") continue;
        const auto g = Guid::parse(p.stem().string());
        if (g && *g == clsid) return p;
    }
    return std::nullopt;
}

// Reads an entry file: only a regular file, opened without blocking (a FIFO
// named like an entry must not hang the program), in a safe place.
fs::path read_entry(const fs::path& file, const Guid& clsid) {
    const std::string entry = "the registration entry for " + clsid.str();
    auto unreadable = [&](int error_number) {
        fail_at(REGDB_E_CLASSNOTREG, entry + " cannot be read: " + path_error_cause(error_number), file);
    };
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) unreadable(errno);
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) unreadable(errno);
    if (!S_ISREG(st.st_mode))
        fail_at(REGDB_E_CLASSNOTREG, entry + " is not a regular file but " + file_kind(st.st_mode), file);
    check_safe_path(file.parent_path(), "registration entry directory");
    if (auto why = unsafe_object(st, "registration entry")) fail_at(E_ACCESSDENIED, *why, file);
    check_safe_path(file, "registration entry");

    std::string content(static_cast<size_t>(kMaxEntrySize) + 1, '\0');
    size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) unreadable(errno);
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    if (content.size() > static_cast<size_t>(kMaxEntrySize))
        fail_at(REGDB_E_CLASSNOTREG, entry + " is too large to be an entry (over 64 KiB)", file);
    if (auto library = parse_entry(content)) return *library;
    fail_at(REGDB_E_CLASSNOTREG, entry + " has no \"library=<absolute path>\" line", file);
}

// The loader's message without the path it starts with: the failure text
// names the path at its end.
std::string loader_text(const fs::path& path) {
    const char* e = dlerror();
    std::string text = e ? e : "unknown loader error";
    const std::string prefix = path.string() + ": ";
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return text;
}

// Why the registry refuses to load a server library: the status and the
// text, which names the cause first and the path last.
struct Refusal {
    HRESULT status;
    std::string detail;
};

Refusal refused_at(HRESULT h, const std::string& cause, const fs::path& path) {
    return {h, cause + ": " + quoted(path)};
}

// A server library must be a regular file that can be reached and read, in
// a place only its owner can change.
std::optional<Refusal> library_problem(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int e = errno;
        switch (e) {
            case ENOENT:
                return refused_at(E_MOD_NOT_FOUND, "the server library does not exist", path);
            case ENOTDIR:
                return refused_at(E_MOD_NOT_FOUND,
                                  "the server library cannot be found: " + path_error_cause(e), path);
            case ENAMETOOLONG:
            case ELOOP:
                return refused_at(CO_E_BADPATH, "the server library cannot be found: " + path_error_cause(e),
                                  path);
            default:
                return refused_at(E_ACCESSDENIED,
                                  "the server library cannot be reached: " + path_error_cause(e), path);
        }
    }
    if (!S_ISREG(st.st_mode))
        return refused_at(CO_E_ERRORINDLL,
                          "the server library is not a regular file but " + file_kind(st.st_mode), path);
    if (::access(path.c_str(), R_OK) != 0) {
        const int e = errno;
        return refused_at(E_ACCESSDENIED, "the server library cannot be read: " + path_error_cause(e), path);
    }
    if (auto why = unsafe_path(path, "server library"))
        return refused_at(E_ACCESSDENIED, why->cause, why->where);
    return std::nullopt;
}

// Turns a failing status from a server's creation function into a Failure
// whose text says which class and interface were involved, and ends with the
// library (when the class came from one).
[[noreturn]] void creation_failed(HRESULT h, const Guid& clsid, const Guid& iid, const fs::path& library) {
    std::string cause;
    switch (h) {
        case CLASS_E_CLASSNOTAVAILABLE:
            cause = "the server does not provide the class " + clsid.str();
            break;
        case E_NOINTERFACE:
            cause = "the class " + clsid.str() + " does not support the interface " + iid.str();
            break;
        default:
            cause = "creating the class " + clsid.str() + " failed with 0x" + hex(h);
            break;
    }
    if (library.empty()) fail(h, cause + " (in-process registration)");
    fail_at(h, cause, library);
}

// Names every place searched and how to register a server library there.
std::string not_registered_text(const Guid& clsid, const std::vector<fs::path>& dirs) {
    if (dirs.empty())
        return clsid.str() + " has no in-process registration and no registration entry directory is set";
    std::string text =
        clsid.str() + " has no in-process registration and no entry \"" + clsid.str() + ".class\" in ";
    for (size_t i = 0; i < dirs.size(); ++i) text += (i ? ", " : "") + dirs[i].string();
    return text + ". Register the server library with: monvia-register /absolute/path/to/the/library.so";
}

}  // namespace

fs::path home_directory() {
    if (const char* home = env("HOME")) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

const char* kind_name(ClassRegistry::EntryDirectory::Kind kind) {
    using Kind = ClassRegistry::EntryDirectory::Kind;
    switch (kind) {
        case Kind::Override:
            return "override (MONVIA_CLASS_REGISTRY)";
        case Kind::User:
            return "user";
        case Kind::Administrator:
            return "administrator";
        case Kind::PackagedDefault:
            return "packaged defaults";
    }
    return "";
}

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
    if (fs::path user = default_entry_directory(); !user.empty())
        dirs.push_back({Kind::User, user.lexically_normal()});
    for (auto& p : xdg_list("XDG_CONFIG_DIRS", "/etc/xdg")) add(Kind::Administrator, std::move(p));
    for (auto& p : xdg_list("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        add(Kind::PackagedDefault, std::move(p));
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

ClassRegistry::~ClassRegistry() {
    if (!unload_on_destruction_) return;
    for (auto& [path, lib] : loaded_)
        if (lib && lib->handle) dlclose(lib->handle);
}

void ClassRegistry::write_entry(const fs::path& directory, const Guid& clsid, const fs::path& library) {
    if (!library.is_absolute())
        fail(CO_E_BADPATH,
             quoted(library) + " is not an absolute path; a server library is registered by absolute path");
    const std::string text = library.string();
    if (text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos)
        fail(E_INVALIDARG, "a library path cannot contain a line break or NUL");
    // Every directory made here is writable by its owner only, whatever the
    // umask: the registry refuses entries in a directory others can change.
    std::error_code ec;
    std::vector<fs::path> missing;
    for (fs::path d = directory; !d.empty() && !fs::exists(d, ec); d = d.parent_path()) {
        missing.push_back(d);
        if (d == d.parent_path()) break;
    }
    for (auto d = missing.rbegin(); d != missing.rend() && !ec; ++d)
        if (fs::create_directory(*d, ec)) fs::permissions(*d, fs::perms(0755), ec);
    if (ec || !fs::is_directory(directory))
        fail_at(E_ACCESSDENIED,
                "cannot create the registry directory: " +
                    (ec ? path_error_cause(ec.value()) : "a part of its path is not a directory"),
                directory);

    // Written beside the entry and renamed over it, so that a reader never
    // sees half an entry.
    const fs::path target = directory / (clsid.str() + ".class");
    fs::path temp = target;
    temp += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << "library=" << text << "\n";
        out.close();
        // Readable by all, writable by the owner only, whatever the umask:
        // the registry refuses an entry others can change.
        fs::permissions(temp, fs::perms(0644), ec);
        if (!out || ec) {
            fs::remove(temp, ec);
            fail_at(E_ACCESSDENIED, "cannot write the registration entry", target);
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        fail_at(E_ACCESSDENIED, "cannot write the registration entry: " + path_error_cause(ec.value()),
                target);
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
        // Whatever is there under an entry's name is listed, with why it is
        // unusable when it is not a regular file: the lookup finds it too.
        if (p.extension() != ".class") continue;
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

std::optional<std::string> ClassRegistry::library_refusal(const fs::path& library) {
    if (!library.is_absolute())
        return "the path is not absolute; server libraries are loaded only from the absolute path "
               "registered for them: " +
               quoted(library);
    if (auto problem = library_problem(library.lexically_normal())) return problem->detail;
    return std::nullopt;
}

std::optional<std::string> ClassRegistry::entry_directory_refusal(const fs::path& directory) {
    if (auto why = unsafe_path(directory, "registration entry directory"))
        return why->cause + ": " + quoted(why->where);
    return std::nullopt;
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
        fail_at(CO_E_BADPATH,
                "the path is not absolute; server libraries are loaded only from the absolute path "
                "registered for "
                "them",
                path);
    const fs::path key = path.lexically_normal();
    if (auto it = loaded_.find(key); it != loaded_.end()) return *it->second;

    if (auto problem = library_problem(key)) fail(problem->status, problem->detail);

    dlerror();  // clear any earlier message
    void* handle = dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        fail_at(CO_E_ERRORINDLL, "the server library could not be loaded (" + loader_text(key) + ")", key);

    auto lib = std::make_unique<Library>();
    lib->handle = handle;
    dlerror();
    lib->create = reinterpret_cast<CreateInstanceFn>(dlsym(handle, kCreateInstanceSymbol));
    lib->take_error = reinterpret_cast<TakeCreationErrorFn>(dlsym(handle, kTakeCreationErrorSymbol));
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
    TakeCreationErrorFn take_error = nullptr;
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
                fail_at(CO_E_ERRORINDLL,
                        std::string("the server library does not export ") + kCreateInstanceSymbol,
                        library.lexically_normal());
            create = lib.create;
            take_error = lib.take_error;
        }
    }

    void* object = nullptr;
    HRESULT h = S_OK;
    if (factory) {
        library.clear();
        h = factory(iid, &object);
    } else {
        library = library.lexically_normal();
        h = create(&clsid, &iid, &object);
    }
    if (failed(h)) {
        // A well-behaved server leaves the slot empty on failure; one that
        // does not has its object released here rather than leaked.
        if (object) static_cast<IUnknown*>(object)->Release();
        // A server that can say why in its own words is believed.
        if (take_error) {
            Bstr description;
            if (take_error(description.inout()) == S_OK && description.size() > 0)
                throw Failure(error_number(h), description.utf8());
        }
        creation_failed(h, clsid, iid, library);
    }
    if (!object) {
        const std::string cause = "the server reported success for " + clsid.str() + " but gave no object";
        if (library.empty()) fail(E_POINTER, cause + " (in-process registration)");
        fail_at(E_POINTER, cause, library);
    }
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
    throw Failure(error_number(h), text);
}

// An object here explains itself through IErrorSource whatever the interface.
void check(HRESULT h, IUnknown* object, const Guid&) { check(h, object); }

}  // namespace monvia::com
