// monvia-register on Windows: the user's class registrations in the system
// registry. A DLL registered with --user goes into HKCU\Software\Classes, in
// the registry view of the DLL's own bitness, where a panel of that bitness
// finds it before the machine's registration; --unregister removes only the
// user's; --list shows both views, the user's and the machine's
// registration in each, and which one a panel of that bitness creates. The
// machine's registrations are the servers' own (regsvr32, the installer) and
// are never written here. --surrogate adds (and --unregister --surrogate
// removes) the AppID and DllSurrogate entries that make a registered class
// run in the system's surrogate process for clients that ask for a local
// server, beside the registration programs of each bitness create: the
// user's or the machine's, whichever --list marks as created.

#include <monvia/component/cash_device.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

#include "com/surrogate.h"
#include "com/win_classes.h"
#include "command_line.h"
#include "register_command.h"

namespace fs = std::filesystem;

namespace monvia::reg {
namespace {

using com::Guid;
using namespace com::win;

constexpr const char* kUsageText =
    "usage: monvia-register [--user] [--class {CLASS-ID}]... C:\\absolute\\path\\to\\server.dll\n"
    "       monvia-register --unregister [--user] {CLASS-ID} | C:\\absolute\\path\\to\\server.dll\n"
    "       monvia-register --list [--class {CLASS-ID}]...\n"
    "       monvia-register --surrogate [C:\\absolute\\path\\to\\dllhost.exe] [--class {CLASS-ID}]...\n"
    "       monvia-register --unregister --surrogate [--class {CLASS-ID}]...\n"
    "\n"
    "Registers an in-process server DLL for the current user, in front of the machine's\n"
    "registration of the same class (HKCU\\Software\\Classes, in the registry view of the\n"
    "DLL's bitness), removes the user's registrations, or lists, for 32-bit and 64-bit\n"
    "programs, the user's and the machine's registration of each class and which one a\n"
    "panel of that bitness creates. The class is CashDevice unless named with --class.\n"
    "The machine's registrations belong to the servers themselves (regsvr32, run elevated)\n"
    "and are not written here. Windows ignores the user's registrations in elevated\n"
    "programs.\n"
    "\n"
    "  --user        register the DLL for the current user (the default)\n"
    "  --class {CLASS-ID}, --class={CLASS-ID}\n"
    "                the class to register, list or give a surrogate (again for several)\n"
    "  --unregister  remove the user's registration of a class or DLL, or with\n"
    "                --surrogate the surrogate entries this command wrote\n"
    "  --list        list both views' registrations and their surrogate entries\n"
    "  --surrogate   make the registered class run in the system's surrogate process\n"
    "                (dllhost) for clients that ask for a local server, so that other\n"
    "                processes and programs of the other bitness can use it: writes the\n"
    "                class's AppID and its DllSurrogate beside the registration programs\n"
    "                create. Without a program, for each view the class is registered\n"
    "                in, with DllSurrogate \"\" (the system's dllhost of that bitness);\n"
    "                with one, in the view of the program's bitness, naming it\n"
    "  -h, --help    show this text\n"
    "\n"
    "Exit status: 0 done, 1 the DLL was refused, 2 the command line is wrong,\n"
    "3 the registration could not be written or removed, or there was none to remove\n"
    "(or, for --surrogate, no registration to give one, or a surrogate already there).\n";

std::string shown(const fs::path& p) { return utf8(p.wstring()); }
std::string quoted(const fs::path& p) { return "\"" + shown(p) + "\""; }

// Whether two paths name the same file: by file identity where both can be
// opened, else by their spelling.
bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    const std::wstring x = a.wstring(), y = b.wstring();
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()),
                                TRUE) == CSTR_EQUAL;
}

// The DLL to register, checked from its headers without loading it.
ServerFile checked_server(const fs::path& dll) {
    const std::string name = quoted(dll);
    if (!dll.is_absolute())
        throw Refusal{kUsage,
                      name + " is not an absolute path; a server DLL is registered by its absolute path"};
    const ServerFile file = inspect_server(dll);
    if (file.kind == ServerFile::Kind::Missing) throw Refusal{kLibraryRefused, name + ": no such file"};
    if (file.kind == ServerFile::Kind::Dll && file.bitness == Bitness::Unknown)
        throw Refusal{kLibraryRefused, name + " " + server_file_problem(file, Bitness::Bits64)};
    // Of its own bitness, a DLL need be nothing more than a server.
    const std::string problem = server_file_problem(file, file.bitness);
    if (!problem.empty()) throw Refusal{kLibraryRefused, name + " " + problem};
    return file;
}

// Writes the class's InprocServer32 key for the user; removes what it
// created when a step fails, so that nothing half written stays.
void write_user_registration(const Guid& clsid, Bitness view, const fs::path& dll, const std::string& model) {
    const ClassKey where = class_key(clsid, view, Scope::User);
    const std::wstring inproc_path = where.path + L"\\InprocServer32";
    HKEY existing = nullptr;
    const bool existed =
        RegOpenKeyExW(where.root, where.path.c_str(), 0, KEY_READ | where.view, &existing) == ERROR_SUCCESS;
    if (existed) RegCloseKey(existing);
    HKEY inproc = nullptr;
    LSTATUS rc = RegCreateKeyExW(where.root, inproc_path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | where.view,
                                 nullptr, &inproc, nullptr);
    if (rc == ERROR_SUCCESS) {
        for (const auto& [name, value] : {std::pair<const wchar_t*, std::wstring>{nullptr, dll.wstring()},
                                          {L"ThreadingModel", wide(model)}}) {
            if (rc != ERROR_SUCCESS) break;
            rc = RegSetValueExW(inproc, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(inproc);
    }
    if (rc == ERROR_SUCCESS) return;
    if (!existed) {
        RegDeleteKeyExW(where.root, inproc_path.c_str(), where.view, 0);
        RegDeleteKeyExW(where.root, where.path.c_str(), where.view, 0);
    }
    char code[16];
    std::snprintf(code, sizeof code, "%ld", static_cast<long>(rc));
    throw Refusal{kRegistryFailed, "cannot write HKCU\\" + utf8(inproc_path) + " (" +
                                       com::describe(HRESULT_FROM_WIN32(rc)) + ", error " + code + ")"};
}

// Removes the user's registration of a class in one view; false when there
// was none.
bool remove_user_registration(const Guid& clsid, Bitness view) {
    const ClassKey where = class_key(clsid, view, Scope::User);
    HKEY k = nullptr;
    if (RegOpenKeyExW(where.root, where.path.c_str(), 0, KEY_ALL_ACCESS | where.view, &k) != ERROR_SUCCESS)
        return false;
    const LSTATUS tree = RegDeleteTreeW(k, nullptr);
    RegCloseKey(k);
    const LSTATUS rc = RegDeleteKeyExW(where.root, where.path.c_str(), where.view, 0);
    if (tree != ERROR_SUCCESS || (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND))
        throw Refusal{kRegistryFailed,
                      "cannot remove HKCU\\" + utf8(where.path) + " (" +
                          com::describe(HRESULT_FROM_WIN32(tree != ERROR_SUCCESS ? tree : rc)) + ")"};
    return true;
}

int do_register(const fs::path& dll, std::vector<Guid> classes, std::ostream& out) {
    const ServerFile file = checked_server(dll);
    if (classes.empty()) classes.push_back(device::CLSID_CashDevice);
    const Bitness view = file.bitness;
    for (const Guid& clsid : classes) {
        // The threading model the DLL declared in its own registration for
        // the machine, else the one a classic in-process server has.
        std::string model = "Apartment";
        const auto machine = read_registration(clsid, view, Scope::Machine);
        if (machine && same_file(machine->server, dll) && !machine->threading_model.empty())
            model = machine->threading_model;
        write_user_registration(clsid, view, dll, model);
        out << "registered " << com::to_string(clsid) << " -> " << shown(dll) << " for this user, for "
            << bitness_word(view) << " programs (ThreadingModel " << model << ")\n";
        if (machine && !same_file(machine->server, dll))
            out << "note: it comes before the machine's registration, " << quoted(machine->server)
                << ", which monvia-register --unregister brings back\n";
    }
    if (elevated())
        out << "note: this program runs elevated; Windows ignores the user's class registrations in elevated "
               "programs, so an elevated panel still creates the machine's\n";
    return kDone;
}

int do_unregister(const std::string& what, std::ostream& out) {
    const std::optional<Guid> clsid = com::parse_guid(what);
    const fs::path dll = fs::path(wide(what));
    if (!clsid && !dll.is_absolute()) {
        if (what.find('\\') == std::string::npos && what.find('/') == std::string::npos &&
            what.find('.') == std::string::npos)
            parse_class(what);
        throw Refusal{kUsage, quoted(dll) + " is not an absolute path; name the DLL by its absolute path"};
    }
    // A DLL is looked for among the CashDevice class's registrations.
    const Guid cls = clsid ? *clsid : device::CLSID_CashDevice;
    int removed = 0;
    for (Bitness view : {Bitness::Bits32, Bitness::Bits64}) {
        const auto user = read_registration(cls, view, Scope::User);
        if (!clsid && (!user || !same_file(user->server, dll))) continue;
        if (!remove_user_registration(cls, view)) continue;
        out << "unregistered " << com::to_string(cls) << " for this user, for " << bitness_word(view)
            << " programs";
        if (user) out << " (" << shown(user->server) << ")";
        out << "\n";
        ++removed;
    }
    if (removed == 0) throw Refusal{kRegistryFailed, "this user has no registration of " + what};
    return kDone;
}

void list_one(const Guid& clsid, const std::optional<Registration>& r, Scope scope, Bitness view,
              bool created, std::ostream& out) {
    out << "    " << (scope == Scope::User ? "user:    " : "machine: ");
    if (!r) {
        out << "(none)\n";
        return;
    }
    const ServerFile file = inspect_server(r->server);
    out << shown(r->server) << "  (";
    if (file.kind == ServerFile::Kind::Missing)
        out << "missing";
    else if (file.kind == ServerFile::Kind::Dll && file.bitness != Bitness::Unknown)
        out << "present, " << bitness_word(file.bitness) << " DLL";
    else
        out << "present, but it " << server_file_problem(file, view);
    if (!r->threading_model.empty()) out << ", ThreadingModel " << r->threading_model;
    out << ")";
    if (created) {
        const std::string problem = server_file_problem(file, view);
        out << (problem.empty() ? "  <- created" : "  <- tried, and fails: it " + problem);
    }
    out << "\n";
    // The surrogate a local client gets the class in, when the class names one.
    if (const auto s = com::read_surrogate(clsid, view, scope)) {
        out << "             surrogate: ";
        if (s->has_surrogate)
            out << "DllSurrogate " << com::surrogate_words(s->surrogate) << ", AppID " << s->app_id;
        else
            out << "none; the class names the AppID " << s->app_id << ", which has no DllSurrogate";
        out << (s->ours ? " (written by monvia-register)" : " (not written by monvia-register)") << "\n";
    }
}

int do_list(std::vector<Guid> classes, std::ostream& out) {
    if (classes.empty()) classes.push_back(device::CLSID_CashDevice);
    const bool is_elevated = elevated();
    for (const Guid& clsid : classes) {
        out << com::to_string(clsid) << (clsid == device::CLSID_CashDevice ? " (CashDevice)" : "") << "\n";
        for (Bitness view : {Bitness::Bits32, Bitness::Bits64}) {
            out << "  " << bitness_word(view) << " programs (the panel \"" << panel_for(view) << "\"):\n";
            const auto user = read_registration(clsid, view, Scope::User);
            const auto machine = read_registration(clsid, view, Scope::Machine);
            // What a panel of this bitness run by this user creates.
            const bool user_wins = user && !is_elevated;
            list_one(clsid, user, Scope::User, view, user_wins, out);
            list_one(clsid, machine, Scope::Machine, view, machine && !user_wins, out);
            if (!user && !machine) out << "    not registered for " << bitness_word(view) << " programs\n";
        }
    }
    if (is_elevated)
        out << "note: this program runs elevated; Windows ignores the user's class registrations in elevated "
               "programs: an elevated panel creates the machine's registration, a panel run normally the "
               "user's where there is one\n";
    return kDone;
}

// The surrogate program the user named, checked from its headers: an
// absolute path to a program; its bitness decides the view it serves. A
// 32-bit command sees the 64-bit system folder only with the file system
// redirection off, so it is off while the file is read.
Bitness checked_surrogate(const fs::path& program) {
    const std::string name = quoted(program);
    if (!program.is_absolute())
        throw Refusal{kUsage,
                      name + " is not an absolute path; name the surrogate program by its absolute path"};
    void* redirection = nullptr;
    const bool redirected =
        process_bitness() == Bitness::Bits32 && Wow64DisableWow64FsRedirection(&redirection);
    const ServerFile file = inspect_server(program);
    if (redirected) Wow64RevertWow64FsRedirection(redirection);
    switch (file.kind) {
        case ServerFile::Kind::Missing:
            throw Refusal{kLibraryRefused, name + ": no such file"};
        case ServerFile::Kind::Folder:
            throw Refusal{kLibraryRefused, name + " is a folder, not a program"};
        case ServerFile::Kind::Unreadable:
            throw Refusal{kLibraryRefused, name + " cannot be read"};
        case ServerFile::Kind::NotAnImage:
            throw Refusal{kLibraryRefused, name + " is not a program (not a Windows executable file)"};
        case ServerFile::Kind::Dll:
            throw Refusal{kLibraryRefused, name + " is a DLL, not a program"};
        case ServerFile::Kind::NotADll:
            break;
    }
    if (file.bitness == Bitness::Unknown)
        throw Refusal{kLibraryRefused, name + " is a program for a machine this system does not run"};
    return file.bitness;
}

// One place a surrogate goes: a class, a view, and the scope of the
// registration programs of that bitness create.
struct SurrogatePlace {
    Guid clsid;
    Bitness view;
    Scope scope;
};

int do_surrogate(std::vector<Guid> classes, const std::optional<fs::path>& program, std::ostream& out) {
    if (classes.empty()) classes.push_back(device::CLSID_CashDevice);
    const std::string surrogate = program ? shown(*program) : std::string();
    std::vector<Bitness> views = {Bitness::Bits32, Bitness::Bits64};
    if (program) views = {checked_surrogate(*program)};
    const bool is_elevated = elevated();
    // Every place is checked before anything is written, so that a refusal
    // leaves the registry as it was.
    std::vector<SurrogatePlace> places;
    for (const Guid& clsid : classes) {
        bool any = false;
        for (Bitness view : views) {
            const auto r = effective_registration(clsid, view, is_elevated);
            if (!r) continue;
            any = true;
            const com::SurrogateOutcome plan = com::add_surrogate(clsid, view, r->scope, surrogate, false);
            if (!plan.ok || !plan.changed) throw Refusal{kRegistryFailed, plan.message};
            places.push_back({clsid, view, r->scope});
        }
        if (!any)
            throw Refusal{kRegistryFailed,
                          com::to_string(clsid) + " is not registered as an in-process server for " +
                              (program ? bitness_word(views.front()) + " programs, which the " +
                                             bitness_word(views.front()) + " surrogate " + quoted(*program) +
                                             " would load it for"
                                       : std::string("32-bit or 64-bit programs")) +
                              " (see monvia-register --list)"};
    }
    for (size_t i = 0; i < places.size(); ++i) {
        const SurrogatePlace& p = places[i];
        const com::SurrogateOutcome added = com::add_surrogate(p.clsid, p.view, p.scope, surrogate);
        if (!added.ok) {
            for (size_t j = 0; j < i; ++j)
                com::remove_surrogate(places[j].clsid, places[j].view, places[j].scope);
            std::string text = added.message;
            if (p.scope == Scope::Machine && !is_elevated)
                text +=
                    "; the class is registered for the machine, so its surrogate is too: run "
                    "monvia-register from an elevated prompt";
            throw Refusal{kRegistryFailed, text};
        }
        out << added.message << "\n";
    }
    out << "a client that asks for a local server (CLSCTX_LOCAL_SERVER) now gets the class in the surrogate "
           "process\n";
    return kDone;
}

int do_unregister_surrogate(std::vector<Guid> classes, std::ostream& out) {
    if (classes.empty()) classes.push_back(device::CLSID_CashDevice);
    for (const Guid& clsid : classes) {
        int removed = 0;
        std::vector<std::string> left;
        for (Scope scope : {Scope::User, Scope::Machine})
            for (Bitness view : {Bitness::Bits32, Bitness::Bits64}) {
                const auto entry = com::read_surrogate(clsid, view, scope);
                if (!entry) continue;
                const com::SurrogateOutcome r = com::remove_surrogate(clsid, view, scope);
                if (!r.ok && entry->ours) throw Refusal{kRegistryFailed, r.message};
                if (!r.ok) {
                    left.push_back(r.message);
                    continue;
                }
                out << r.message << "\n";
                ++removed;
            }
        if (removed == 0 && !left.empty()) throw Refusal{kRegistryFailed, left.front()};
        if (removed == 0)
            throw Refusal{kRegistryFailed, com::to_string(clsid) + " has no surrogate to remove"};
        for (const std::string& l : left) out << "note: " << l << "\n";
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
        // The user's registrations are the only ones written here.
        if (c.scope == CommandLine::Scope::System)
            throw Refusal{
                kUsage,
                "on Windows the machine's registration is the server's own: run regsvr32 on it from an "
                "elevated prompt (--user registers it in front, for you)"};
        const bool unregister = c.unregister, list = c.list;
        std::vector<Guid> classes = c.classes;
        const std::vector<std::string>& operands = c.operands;
        if (list) {
            if (unregister || c.surrogate || !operands.empty())
                throw Refusal{kUsage, "--list takes nothing but --class"};
            return do_list(std::move(classes), out);
        }
        if (c.surrogate) {
            if (c.scope != CommandLine::Scope::Default)
                throw Refusal{kUsage,
                              "--surrogate goes beside the registration programs create, the user's or the "
                              "machine's; it takes no --user"};
            if (unregister) {
                if (!operands.empty())
                    throw Refusal{kUsage,
                                  "--unregister --surrogate takes no operand; name the class with --class"};
                return do_unregister_surrogate(std::move(classes), out);
            }
            if (operands.size() > 1)
                throw Refusal{kUsage,
                              "--surrogate takes at most one program, the surrogate to run the class in"};
            std::optional<fs::path> program;
            if (!operands.empty()) program = fs::path(wide(operands.front()));
            return do_surrogate(std::move(classes), program, out);
        }
        if (operands.size() != 1)
            throw Refusal{kUsage, operands.empty() ? "name a DLL (see monvia-register --help)"
                                                   : "name exactly one DLL or class"};
        if (unregister) {
            if (!classes.empty())
                throw Refusal{kUsage, "--unregister takes the class or DLL alone, without --class"};
            return do_unregister(operands.front(), out);
        }
        return do_register(fs::path(wide(operands.front())), std::move(classes), out);
    } catch (const Refusal& r) {
        err << "monvia-register: " << r.text << "\n";
        return r.code;
    } catch (const std::exception& e) {
        err << "monvia-register: " << e.what() << "\n";
        return kRegistryFailed;
    }
}

}  // namespace monvia::reg
