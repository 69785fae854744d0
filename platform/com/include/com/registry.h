#pragma once
// The class registry and create_instance.
//
// Classes come from two sources:
//  - in-process registrations (a factory function per class identifier), for tests;
//  - in-process server libraries, named by registration entries. An entry is a
//    file "<class identifier>.class" (for example
//    "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}.class") holding one line
//    "library=<absolute path>". Entries are read from the directory named by
//    the environment variable MONVIA_CLASS_REGISTRY alone when it is set;
//    otherwise, in this order, from the user's directory
//    $XDG_CONFIG_HOME/monvia/classes (~/.config/monvia/classes when
//    XDG_CONFIG_HOME is unset), the administrator's directories
//    <each of $XDG_CONFIG_DIRS>/monvia/classes (/etc/xdg/monvia/classes), and
//    the packaged defaults <each of $XDG_DATA_DIRS>/monvia/classes
//    (/usr/local/share/monvia/classes, /usr/share/monvia/classes). The first
//    entry found for a class wins.
//
// A library is loaded only from the absolute path registered for it, never
// from the working directory or a search path. It must export the entry point
// declared in <monvia/component/server.h>.
//
// An entry file must be a regular file (it is opened without blocking), and
// an entry directory, entry file or library is refused when someone other
// than its owner could change it (see safe_path.h). Every failure names its
// cause first and the path last.
//
// On Windows the same class is the system's: classes registered in the
// process (factories and libraries) come first, and every other class is
// created with CoCreateInstance from the system registry (in-process and
// local servers). There is no entry directory; write_entry fails, since
// servers are registered with regsvr32. A library registered directly must
// export DllGetClassObject. As here, a default-constructed registry knows
// only the classes registered in the process; the process registry and one
// constructed with a directory (which is not read) use the system's.

#include <monvia/component/com_ptr.h>
#include <monvia/component/server.h>
#include <monvia/component/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace monvia::com {

using Factory = std::function<HRESULT(const Guid& iid, void** object)>;

class ClassRegistry {
public:
    // The registry the programs use, reading entries from the documented location.
    static ClassRegistry& process();

    // Default entry directory (environment variable or the user's config dir):
    // where the user's registrations are written.
    static std::filesystem::path default_entry_directory();

    // Where the search goes, in order: the override alone, or the user's,
    // the administrator's and the packaged-default directories.
    struct EntryDirectory {
        enum class Kind { Override, User, Administrator, PackagedDefault };
        Kind kind;
        std::filesystem::path path;
    };
    static std::vector<EntryDirectory> entry_directories();

    // The first directory entries are read from; empty when the registry reads none.
    const std::filesystem::path& entry_directory() const;
    // Every directory entries are read from, in search order.
    const std::vector<std::filesystem::path>& entry_search_path() const { return entry_directories_; }

    // Defined out of line: the loaded-library type is complete only there.
    ClassRegistry();
    explicit ClassRegistry(std::filesystem::path entry_directory);
    explicit ClassRegistry(std::vector<std::filesystem::path> entry_directories);
    ~ClassRegistry();
    ClassRegistry(const ClassRegistry&) = delete;
    ClassRegistry& operator=(const ClassRegistry&) = delete;

    void register_factory(const Guid& clsid, Factory factory);
    void unregister(const Guid& clsid);
    // Registers a library directly, as an entry file would.
    void register_library(const Guid& clsid, std::filesystem::path library);

    // Writes an entry file into the directory (creating it and its missing
    // parents, mode 0755); the path must be absolute.
    static void write_entry(const std::filesystem::path& directory, const Guid& clsid,
                            const std::filesystem::path& library);

#if !defined(_WIN32)
    // What the registry would refuse when creating, judged without loading
    // anything: why it would not load the server library at this path (not
    // an absolute path, not a readable regular file, or in a place others
    // can change), or why it would not read entries from this directory (a
    // place others can change; parts not made yet count as the user's, as
    // write_entry makes them). The text is the cause followed by the path, as
    // the creation failure ends; nothing when it would be accepted.
    static std::optional<std::string> library_refusal(const std::filesystem::path& library);
    static std::optional<std::string> entry_directory_refusal(const std::filesystem::path& directory);
#endif

    // The entry files of one directory with the library each names; `problem`
    // says why an entry gives no library (it cannot be read, has no library
    // line). Sorted by class; a missing directory has none.
    struct EntryFile {
        Guid clsid;
        std::filesystem::path file;
        std::filesystem::path library;
        std::string problem;
    };
    static std::vector<EntryFile> entries_in(const std::filesystem::path& directory);

    // Creates an instance and returns the interface asked for, with one
    // reference owned by the caller. Throws Failure on every failure:
    // REGDB_E_CLASSNOTREG, CO_E_BADPATH, E_MOD_NOT_FOUND, CO_E_ERRORINDLL,
    // CLASS_E_CLASSNOTAVAILABLE, E_NOINTERFACE, or the server's own code.
    void* create_instance(const Guid& clsid, const Guid& iid);

    template <class I>
    ComPtr<I> create(const Guid& clsid, const Guid& iid) {
        return ComPtr<I>::attach(static_cast<I*>(create_instance(clsid, iid)));
    }

private:
    struct Library;
    std::optional<std::filesystem::path> library_for(const Guid& clsid) const;
    Library& load(const std::filesystem::path& path);

    std::vector<std::filesystem::path> entry_directories_;
    std::map<Guid, Factory, GuidLess> factories_;
    std::map<Guid, std::filesystem::path, GuidLess> libraries_;
    // Loaded libraries stay loaded for the registry's lifetime: objects they
    // made may still be alive.
    std::map<std::filesystem::path, std::unique_ptr<Library>> loaded_;
    // The process registry never unloads: objects may outlive it during exit.
    bool unload_on_destruction_ = true;
#if defined(_WIN32)
    // Whether classes not registered in the process come from the system
    // registry.
    bool system_classes_ = false;
#endif
    mutable std::mutex mutex_;
};

// How the commands name a place of the search: "user", "administrator",
// "packaged defaults", "override (MONVIA_CLASS_REGISTRY)".
const char* kind_name(ClassRegistry::EntryDirectory::Kind kind);

// Walks the "key=value" lines of an entry file's content in order: blank
// lines, lines starting with '#' and lines without '=' are skipped; blanks
// around key and value are dropped and the key is folded to lower case.
// `visit` returns false to end the walk.
void for_each_entry_line(std::string_view content,
                         const std::function<bool(const std::string& key, const std::string& value)>& visit);

// The library an entry file's content names: the value of its first
// "library=" line (key in any case, blanks around key and value ignored;
// blank lines, lines starting with '#' and other keys are skipped). Nothing
// when there is no such line or its value is empty.
std::optional<std::filesystem::path> parse_entry(std::string_view content);

#if !defined(_WIN32)
// The user's home folder: $HOME when it is set and not empty, else the
// user's entry in the password database; empty when neither names one. The
// registry's user folder and the journal's state folder both start here.
std::filesystem::path home_directory();
#endif

// Throws the Failure for a failing status, asking the object (when given) for
// its own description through IErrorSource; well-known codes fall back to the
// layer's text. Does nothing for a succeeding status.
void check(HRESULT h, IUnknown* object = nullptr);

// The same for a call through interface `iid` of the object. On Windows the
// description is read the standard way (the object's ISupportErrorInfo for
// that interface, then GetErrorInfo), falling back to the system's message
// for the code.
void check(HRESULT h, IUnknown* object, const Guid& iid);

}  // namespace monvia::com
