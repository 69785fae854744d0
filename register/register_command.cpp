#include "register_command.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>

#include "com/registry.h"
#include "command_line.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;

namespace monvia::reg {
namespace {

using com::ClassRegistry;
using com::Guid;
using Kind = ClassRegistry::EntryDirectory::Kind;

constexpr const char* kUsageText =
    "usage: monvia-register [--user | --system] [--class {CLASS-ID}]... /absolute/path/to/library.so\n"
    "       monvia-register --unregister [--user | --system] {CLASS-ID} | /absolute/path/to/library.so\n"
    "       monvia-register --list\n"
    "\n"
    "Registers a component server library for each class it serves (as the library itself\n"
    "says, or as named with --class), removes registrations, or lists every entry the\n"
    "programs search, in search order, with whether its library is there.\n"
    "\n"
    "  --class {CLASS-ID}, --class={CLASS-ID}\n"
    "                register the library for this class (again for several)\n"
    "  --unregister  remove the entries of a class, or every entry naming a library\n"
    "  --list        list every entry, and say which library is missing or would be\n"
    "                refused, and which entry an earlier one overrides\n"
    "  --user        the user's entries ($XDG_CONFIG_HOME/monvia/classes); the default\n"
    "                unless run as root\n"
    "  --system      the administrator's entries (first of $XDG_CONFIG_DIRS, else\n"
    "                /etc/xdg/monvia/classes); the default as root\n"
    "  --surrogate   Windows only: runs a registered class in the system's surrogate\n"
    "                process for clients that ask for a local server; refused here,\n"
    "                where a server library always runs in its client's process\n"
    "  -h, --help    show this text\n"
    "\n"
    "The programs search the user's entries, then the administrator's, then the packaged\n"
    "defaults ($XDG_DATA_DIRS, /usr/share/monvia/classes); the first entry of a class wins.\n"
    "When MONVIA_CLASS_REGISTRY is set, they read only that directory, and entries are\n"
    "written to and removed from it. A library, or an entry directory, that belongs to\n"
    "someone other than you or root, or that its group or others can change (or a\n"
    "directory above it), is refused, as the programs would refuse it.\n"
    "\n"
    "Exit status: 0 done, 1 the library was refused, 2 the command line is wrong,\n"
    "3 the entry could not be written or removed, or there was none to remove.\n";

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

using Scope = CommandLine::Scope;

// Where entries are written to or removed from.
fs::path target_directory(Scope scope) {
    const auto dirs = ClassRegistry::entry_directories();
    auto first_of = [&dirs](Kind kind) -> fs::path {
        for (const auto& d : dirs)
            if (d.kind == kind) return d.path;
        return {};
    };
    if (!dirs.empty() && dirs.front().kind == Kind::Override) return dirs.front().path;
    if (scope == Scope::Default) scope = geteuid() == 0 ? Scope::System : Scope::User;
    if (scope == Scope::System) return first_of(Kind::Administrator);
    return first_of(Kind::User);
}

// Loads a library the way the registry would and asks it which classes it
// serves. Refuses anything that is not a loadable component server.
std::vector<Guid> served_classes(const fs::path& library) {
    const std::string name = quoted(library);
    if (!library.is_absolute())
        throw Refusal{kUsage,
                      name + " is not an absolute path; a server library is registered by its absolute path"};
    // What the programs would refuse to load is refused here, for the same
    // cause, before anything of the library runs.
    if (auto why = ClassRegistry::library_refusal(library)) throw Refusal{kLibraryRefused, *why};

    dlerror();
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        throw Refusal{kLibraryRefused,
                      name + " is not a loadable library: " + (why ? why : "unknown loader error")};
    }
    // Kept loaded: its initialisers have run, and unloading buys nothing in
    // a command that ends right after.
    if (!dlsym(handle, com::kCreateInstanceSymbol))
        throw Refusal{kLibraryRefused, name + " does not export " + com::kCreateInstanceSymbol +
                                           ", so it is not a component server"};
    auto list = reinterpret_cast<com::ListClassesFn>(dlsym(handle, com::kListClassesSymbol));
    if (!list) return {};
    std::vector<Guid> classes(list(nullptr, 0));
    // A library may in theory answer differently the second time; only what
    // it filled in counts.
    classes.resize(
        std::min<size_t>(classes.size(), list(classes.data(), static_cast<uint32_t>(classes.size()))));
    return classes;
}

int do_register(const fs::path& library, std::vector<Guid> named, Scope scope, std::ostream& out) {
    const std::vector<Guid> served = served_classes(library);
    // Collected before anything is written, so that a refusal writes nothing.
    std::vector<Guid> classes;
    if (named.empty()) {
        if (served.empty())
            throw Refusal{kLibraryRefused,
                          quoted(library) + " does not say which classes it serves (it exports no " +
                              com::kListClassesSymbol + " or lists none); name them with --class {CLASS-ID}"};
        classes = served;
    } else {
        for (const Guid& g : named) {
            if (!served.empty() && std::find(served.begin(), served.end(), g) == served.end())
                throw Refusal{kLibraryRefused, quoted(library) + " does not serve the class " + g.str()};
            if (std::find(classes.begin(), classes.end(), g) == classes.end()) classes.push_back(g);
        }
    }
    const fs::path dir = target_directory(scope);
    if (dir.empty())
        throw Refusal{kRegistryFailed, "there is no registry directory to write to (HOME is not set)"};
    // An entry the programs would not read is not written.
    if (auto why = ClassRegistry::entry_directory_refusal(dir)) throw Refusal{kRegistryFailed, *why};
    for (const Guid& g : classes) {
        try {
            ClassRegistry::write_entry(dir, g, library);
        } catch (const Failure& f) {
            throw Refusal{kRegistryFailed, f.description()};
        }
        out << "registered " << g.str() << " -> " << library.string() << " in " << dir.string() << "\n";
        // An entry earlier in the search keeps winning; say so.
        for (const auto& d : ClassRegistry::entry_directories()) {
            if (d.path == dir) break;
            for (const auto& e : ClassRegistry::entries_in(d.path))
                if (e.clsid == g)
                    out << "note: the entry " << e.file.string()
                        << " comes first in the search and is used instead\n";
        }
    }
    return kDone;
}

int do_unregister(const std::string& what, Scope scope, std::ostream& out) {
    std::optional<Guid> clsid = Guid::parse(what);
    const fs::path library(what);
    if (!clsid && !library.is_absolute()) {
        if (what.find('/') == std::string::npos && what.find(".so") == std::string::npos) parse_class(what);
        throw Refusal{kUsage,
                      quoted(library) + " is not an absolute path; name the library by its absolute path"};
    }
    const fs::path dir = target_directory(scope);
    if (dir.empty()) throw Refusal{kRegistryFailed, "there is no registry directory (HOME is not set)"};
    int removed = 0;
    for (const auto& e : ClassRegistry::entries_in(dir)) {
        const bool match =
            clsid ? e.clsid == *clsid
                  : !e.library.empty() && e.library.lexically_normal() == library.lexically_normal();
        if (!match) continue;
        std::error_code ec;
        if (!fs::remove(e.file, ec) || ec)
            throw Refusal{kRegistryFailed, "cannot remove the entry " + quoted(e.file) + ": " +
                                               (ec ? ec.message() : std::string("it is gone"))};
        out << "unregistered " << e.clsid.str() << " (" << e.file.string() << ")\n";
        ++removed;
    }
    if (removed == 0) throw Refusal{kRegistryFailed, "no entry for " + what + " in " + dir.string()};
    return kDone;
}

int do_list(std::ostream& out) {
    std::set<Guid> seen;
    for (const auto& d : ClassRegistry::entry_directories()) {
        out << com::kind_name(d.kind) << ": " << d.path.string() << "\n";
        const auto entries = ClassRegistry::entries_in(d.path);
        if (entries.empty()) out << "  (no entries)\n";
        for (const auto& e : entries) {
            out << "  " << e.clsid.str() << "  ";
            if (!e.problem.empty()) {
                out << "unusable entry " << e.file.filename().string() << ": " << e.problem << "\n";
                continue;
            }
            std::error_code ec;
            out << e.library.string() << "  (";
            if (!fs::exists(e.library, ec))
                out << "library missing";
            else if (auto why = ClassRegistry::library_refusal(e.library))
                out << "refused: " << *why;
            else
                out << "library present";
            // The first entry of a class wins; later ones are never read.
            if (!seen.insert(e.clsid).second) out << "; not used, an earlier entry wins";
            out << ")\n";
        }
    }
    return kDone;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const CommandLine c = parse_command_line(args);
        if (c.help) {
            out << kUsageText;
            return kDone;
        }
        if (c.surrogate)
            throw Refusal{kUsage,
                          "--surrogate is for Windows only; on Linux a server library always runs in its "
                          "client's process"};
        const Scope scope = c.scope;
        const bool unregister = c.unregister, list = c.list;
        std::vector<Guid> classes = c.classes;
        const std::vector<std::string>& operands = c.operands;
        if (list) {
            if (unregister || !classes.empty() || !operands.empty() || scope != Scope::Default)
                throw Refusal{kUsage, "--list takes nothing else"};
            return do_list(out);
        }
        if (operands.size() != 1)
            throw Refusal{kUsage, operands.empty() ? "name a library (see monvia-register --help)"
                                                   : "name exactly one library or class"};
        if (unregister) {
            if (!classes.empty())
                throw Refusal{kUsage, "--unregister takes the class or library alone, without --class"};
            return do_unregister(operands.front(), scope, out);
        }
        return do_register(fs::path(operands.front()), std::move(classes), scope, out);
    } catch (const Refusal& r) {
        err << "monvia-register: " << r.text << "\n";
        return r.code;
    } catch (const std::exception& e) {
        err << "monvia-register: " << e.what() << "\n";
        return kRegistryFailed;
    }
}

}  // namespace monvia::reg
