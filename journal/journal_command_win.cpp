// monvia-journal on Windows: the journal DLL put in front of the server of
// the CashDevice class in the system registry, and taken away again.
//
// Each registry view is handled on its own: a view's server is loaded by
// programs of that bitness, so the journal put in front in a view is the
// journal DLL of that bitness. `on` writes, at the user's root
// (HKCU\Software\Classes) or with --system the machine's (HKLM), in each
// view where the class is served:
//
//   CLSID\{class}\InprocServer32       (default) = the journal DLL,
//                                      ThreadingModel = the fronted server's,
//                                      MonviaJournalFronts = the fronted DLL
//   CLSID\{class}\MonviaJournalBefore  every value InprocServer32 had, byte
//                                      for byte, and whether InprocServer32
//                                      and the class key existed
//
// and `off` puts the saved values back and removes what `on` created. The
// registry cannot rename a key, so every change is a sequence of steps with
// the saved state kept in memory: when a step fails, the steps done are
// undone in reverse order, and the registry is as it was.

#include <monvia/component/cash_device.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "com/win_classes.h"
#include "journal_command_platform.h"
#include "journal_entry.h"

namespace fs = std::filesystem;

namespace monvia::journal::detail {
namespace {

using namespace com::win;
using device::CLSID_CashDevice;

constexpr Bitness kViews[] = {Bitness::Bits64, Bitness::Bits32};
constexpr wchar_t kJournalFileName[] = L"monvia_journal.dll";
constexpr wchar_t kInproc[] = L"InprocServer32";
constexpr wchar_t kFronts[] = L"MonviaJournalFronts";
constexpr wchar_t kBefore[] = L"MonviaJournalBefore";
constexpr wchar_t kInprocExisted[] = L"MonviaJournalInprocExisted";
constexpr wchar_t kClassExisted[] = L"MonviaJournalClsidExisted";

bool same_name(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Whether two paths name the same file: by file identity where both can be
// opened, else by their spelling.
bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    return same_name(a.wstring(), b.wstring());
}

// A registered server that is a journal DLL: one of this installation's, or
// any file of the journal's name (another installation's journal).
bool is_journal(const fs::path& server, const CommandOptions& o) {
    for (const fs::path& j : {o.journal_library, o.other_journal_library})
        if (!j.empty() && same_file(server, j)) return true;
    return same_name(server.filename().wstring(), kJournalFileName);
}

// The journal DLL for programs of one bitness.
fs::path journal_for(Bitness view, const CommandOptions& o) {
    return view == process_bitness() ? o.journal_library : o.other_journal_library;
}

std::string for_programs(Bitness view) { return "for " + bitness_word(view) + " programs"; }

std::string root_name(Scope scope) {
    return scope == Scope::User ? "HKCU\\Software\\Classes" : "HKLM\\Software\\Classes";
}

// A class key as the messages name it; the machine's 32-bit view is reached
// by a flag rather than a path, so it is said.
std::string key_name(const ClassKey& key, Bitness view, const wchar_t* sub = nullptr) {
    std::string text = (key.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + utf8(key.path);
    if (sub) text += "\\" + utf8(sub);
    if (key.root == HKEY_LOCAL_MACHINE && view == Bitness::Bits32) text += " (32-bit view)";
    return text;
}

std::string status_text(LSTATUS rc) {
    char code[16];
    std::snprintf(code, sizeof code, "%ld", static_cast<long>(rc));
    return com::describe(HRESULT_FROM_WIN32(rc)) + ", error " + code;
}

// An open registry key, closed with its scope.
class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    LSTATUS open(HKEY root, const std::wstring& path, REGSAM access) {
        return RegOpenKeyExW(root, path.c_str(), 0, access, &h_);
    }
    LSTATUS create(HKEY root, const std::wstring& path, REGSAM access) {
        return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, &h_, nullptr);
    }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

bool key_exists(HKEY root, const std::wstring& path, REGSAM view) {
    Key k;
    return k.open(root, path, KEY_QUERY_VALUE | view) == ERROR_SUCCESS;
}

// The values of a key, or nothing when there is no such key.
std::optional<std::vector<RegistryValue>> values_of(HKEY root, const std::wstring& path, REGSAM view) {
    Key k;
    if (k.open(root, path, KEY_QUERY_VALUE | view) != ERROR_SUCCESS) return std::nullopt;
    return read_values(k.get());
}

// Whether a key holds neither values nor subkeys.
bool key_is_empty(HKEY root, const std::wstring& path, REGSAM view) {
    Key k;
    if (k.open(root, path, KEY_QUERY_VALUE | view) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0, values = 0;
    return RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// The registry changes of one on or off: each step that succeeded leaves
// how to undo it; a failing step undoes them all, newest first.
class Changes {
public:
    Changes(const CommandOptions& o, Scope scope) : options_(o), scope_(scope) {}
    ~Changes() {
        if (!committed_) undo();
    }

    // Runs one change; on failure undoes the changes made and refuses,
    // naming the key.
    void step(const std::string& key, const std::function<LSTATUS()>& change, std::function<void()> undo_it) {
        LSTATUS rc = options_.before_registry_change ? static_cast<LSTATUS>(options_.before_registry_change())
                                                     : ERROR_SUCCESS;
        if (rc == ERROR_SUCCESS) rc = change();
        if (rc == ERROR_SUCCESS) {
            undo_.push_back(std::move(undo_it));
            return;
        }
        const bool undone = undo();
        committed_ = true;
        std::string text;
        if (rc == ERROR_ACCESS_DENIED && scope_ == Scope::Machine)
            text = "--system changes the machine's registration (" + root_name(scope_) +
                   "), which only an administrator may change: run monvia-journal from an elevated command "
                   "prompt";
        else
            text = "cannot change " + key + " (" + status_text(rc) + ")";
        text += undone ? "; nothing was changed"
                       : "; putting back what was changed before failed too, so the registration may be half "
                         "written: see monvia-journal status";
        throw Refusal{rc == ERROR_ACCESS_DENIED && undone ? kRefused : kRegistryFailed, text};
    }

    void commit() { committed_ = true; }

private:
    // Undoes every change made, newest first; false when one of them failed.
    bool undo() {
        bool all = true;
        for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
            try {
                (*it)();
            } catch (...) {
                all = false;
            }
        }
        undo_.clear();
        return all;
    }

    const CommandOptions& options_;
    Scope scope_;
    std::vector<std::function<void()>> undo_;
    bool committed_ = false;
};

// Undo steps throw when they fail, so that Changes can tell.
void must(LSTATUS rc) {
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) throw rc;
}

LSTATUS write_exactly(HKEY root, const std::wstring& path, REGSAM view,
                      const std::vector<RegistryValue>& values) {
    Key k;
    LSTATUS rc = k.create(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE | view);
    if (rc != ERROR_SUCCESS) return rc;
    return set_values_exactly(k.get(), values);
}

LSTATUS delete_key(HKEY root, const std::wstring& path, REGSAM view) {
    return RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// Refuses --system at once where the machine's classes cannot be written,
// before anything is read or planned.
void check_machine_writable() {
    Key k;
    const LSTATUS rc = k.open(HKEY_LOCAL_MACHINE, L"Software\\Classes",
                              KEY_CREATE_SUB_KEY | KEY_SET_VALUE | KEY_WOW64_64KEY);
    if (rc == ERROR_ACCESS_DENIED)
        throw Refusal{kRefused,
                      "--system changes the machine's registration (HKLM\\Software\\Classes), which only an "
                      "administrator may change: run monvia-journal from an elevated command prompt; nothing "
                      "was changed"};
}

// What the registration at one root and view is, as on and off see it.
struct ViewState {
    Bitness view = Bitness::Unknown;
    ClassKey key{};
    bool class_exists = false;
    std::optional<std::vector<RegistryValue>> inproc;  // InprocServer32's values, when the key is there
    std::optional<std::vector<RegistryValue>> before;  // MonviaJournalBefore's
    std::optional<Registration> registration;          // InprocServer32 naming a server
};

ViewState read_state(Bitness view, Scope scope) {
    ViewState s;
    s.view = view;
    s.key = class_key(CLSID_CashDevice, view, scope);
    s.class_exists = key_exists(s.key.root, s.key.path, s.key.view);
    s.inproc = values_of(s.key.root, s.key.path + L"\\" + kInproc, s.key.view);
    s.before = values_of(s.key.root, s.key.path + L"\\" + kBefore, s.key.view);
    s.registration = read_registration(CLSID_CashDevice, view, scope);
    return s;
}

// The server a program of this bitness run by this user (not elevated)
// creates the class from.
std::optional<Registration> serving(Bitness view) {
    return effective_registration(CLSID_CashDevice, view, false);
}

std::string where(const Registration& r) {
    return scope_word(r.scope) + " registration, " +
           key_name(class_key(CLSID_CashDevice, r.view, r.scope), r.view);
}

// MonviaJournalFronts of a root's InprocServer32, when it is there.
std::optional<fs::path> fronted(const ViewState& s) {
    if (!s.inproc) return std::nullopt;
    const RegistryValue* v = find_value(*s.inproc, kFronts);
    const auto text = v ? value_text(*v) : std::nullopt;
    if (!text || text->empty()) return std::nullopt;
    return fs::path(*text);
}

// A marker saved by on, 1 when it is missing or unreadable (then nothing is
// removed that may have been there).
bool existed(const std::vector<RegistryValue>& saved, const wchar_t* marker) {
    const RegistryValue* v = find_value(saved, marker);
    if (!v || v->type != REG_DWORD || v->data.size() != sizeof(DWORD)) return true;
    DWORD n = 0;
    std::memcpy(&n, v->data.data(), sizeof n);
    return n != 0;
}

// The server a view's journal goes in front of, checked.
struct Plan {
    Bitness view;
    Registration server;
    fs::path journal;
};

// Puts the journal in front of plan.server at the root of `changes`.
void front(const Plan& plan, Scope scope, Changes& changes) {
    const ViewState s = read_state(plan.view, scope);
    const HKEY root = s.key.root;
    const REGSAM view = s.key.view;
    const std::wstring inproc_path = s.key.path + L"\\" + kInproc;
    const std::wstring before_path = s.key.path + L"\\" + kBefore;

    // The class key itself, when on creates it, goes last.
    if (!s.class_exists)
        changes.step(
            key_name(s.key, plan.view), [&] { return ERROR_SUCCESS; },
            [=] {
                if (key_is_empty(root, s.key.path, view)) must(delete_key(root, s.key.path, view));
            });

    // First the saved copy of what InprocServer32 holds now.
    std::vector<RegistryValue> saved = s.inproc.value_or(std::vector<RegistryValue>{});
    saved.push_back(make_dword_value(kInprocExisted, s.inproc ? 1 : 0));
    saved.push_back(make_dword_value(kClassExisted, s.class_exists ? 1 : 0));
    const auto stale = s.before;  // a copy an earlier on left, when the registration changed since
    changes.step(
        key_name(s.key, plan.view, kBefore), [&] { return write_exactly(root, before_path, view, saved); },
        [=] {
            if (stale)
                must(write_exactly(root, before_path, view, *stale));
            else
                must(delete_key(root, before_path, view));
        });

    // Then the journal in front of the server.
    std::vector<RegistryValue> journal = s.inproc.value_or(std::vector<RegistryValue>{});
    auto set = [&journal](RegistryValue v) {
        for (RegistryValue& old : journal)
            if (same_name(old.name, v.name)) {
                old = std::move(v);
                return;
            }
        journal.push_back(std::move(v));
    };
    set(make_string_value(L"", plan.journal.wstring()));
    set(make_string_value(L"ThreadingModel",
                          plan.server.threading_model.empty() ? L"Both" : wide(plan.server.threading_model)));
    set(make_string_value(kFronts, plan.server.server.wstring()));
    const auto previous = s.inproc;
    changes.step(
        key_name(s.key, plan.view, kInproc), [&] { return write_exactly(root, inproc_path, view, journal); },
        [=] {
            if (previous)
                must(write_exactly(root, inproc_path, view, *previous));
            else
                must(delete_key(root, inproc_path, view));
        });
}

// Puts back, at a root, what on saved there.
void restore(const ViewState& s, Changes& changes) {
    const HKEY root = s.key.root;
    const REGSAM view = s.key.view;
    const std::wstring inproc_path = s.key.path + L"\\" + kInproc;
    const std::wstring before_path = s.key.path + L"\\" + kBefore;
    const std::vector<RegistryValue> before = *s.before;
    const std::vector<RegistryValue> journal = *s.inproc;
    std::vector<RegistryValue> saved;
    for (const RegistryValue& v : before)
        if (!same_name(v.name, kInprocExisted) && !same_name(v.name, kClassExisted)) saved.push_back(v);

    if (existed(before, kInprocExisted))
        changes.step(
            key_name(s.key, s.view, kInproc), [&] { return write_exactly(root, inproc_path, view, saved); },
            [=] { must(write_exactly(root, inproc_path, view, journal)); });
    else
        changes.step(
            key_name(s.key, s.view, kInproc), [&] { return delete_key(root, inproc_path, view); },
            [=] { must(write_exactly(root, inproc_path, view, journal)); });
    changes.step(
        key_name(s.key, s.view, kBefore), [&] { return delete_key(root, before_path, view); },
        [=] { must(write_exactly(root, before_path, view, before)); });
    // The class key goes only when on made it and nothing else has been put
    // into it since.
    if (!existed(before, kClassExisted) && key_is_empty(root, s.key.path, view))
        changes.step(
            key_name(s.key, s.view), [&] { return delete_key(root, s.key.path, view); },
            [=] {
                Key k;
                must(k.create(root, s.key.path, KEY_QUERY_VALUE | view));
            });
}

std::string not_served_text() {
    return "nothing serves the class " + com::to_string(CLSID_CashDevice) +
           " for 32-bit or 64-bit programs (no InprocServer32 under HKCU or HKLM\\Software\\Classes\\CLSID "
           "in "
           "either registry view), so there is nothing to put the journal in front of; register a server "
           "first (regsvr32)";
}

// What a journal DLL path lacks to serve a view; empty when it serves.
std::string journal_problem(const fs::path& journal, Bitness view) {
    if (journal.empty()) return "there is no " + bitness_word(view) + " journal DLL";
    const std::string problem = server_file_problem(inspect_server(journal), view);
    return problem.empty() ? problem
                           : "the " + bitness_word(view) + " journal DLL " + quoted(journal) + " " + problem;
}

}  // namespace

std::string shown(const fs::path& p) { return utf8(p.wstring()); }

PlatformHelp platform_help() {
    return {
        "  --system  on and off for the machine's registration (HKLM\\Software\\Classes), for\n"
        "            every user; needs an elevated command prompt. Under Wine, whose COM reads\n"
        "            only the machine's classes, --system is the one that takes effect.\n"
        "Your registration is HKCU\\Software\\Classes. Each registry view is handled on its own:\n"
        "the journal goes in front for 64-bit programs with the 64-bit monvia_journal.dll beside\n"
        "this program, for 32-bit programs with the 32-bit one in its x86 folder, wherever a\n"
        "server has the class. What was there is saved under the class key, in\n"
        "MonviaJournalBefore, and put back byte for byte by off.\n",
        "Journals: %LOCALAPPDATA%\\Monvia\\journal\\YYYY-MM-DD.journal, one per day, set aside as\n"
        "DAY.1.journal ... DAY.3.journal when one reaches 8 MiB (MONVIA_JOURNAL_MAX_BYTES); those\n"
        "of days over 30 days ago are removed. A line per event:\n",
        "  2026-12-09 14:03:07.398 Testing[4242] #1 create class={3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91} "
        "server=\"C:\\Program Files\\Monvia Test Tools\\x86\\cashdevice_sim.dll\" -> ok (412 us)\n",
    };
}

const char* no_journal_folder_reason() {
    return "LOCALAPPDATA is not an absolute path and the system names no local application data folder";
}

int turn_on(bool machine, const CommandOptions& o, std::ostream& out) {
    const Scope scope = machine ? Scope::Machine : Scope::User;
    if (machine) check_machine_writable();
    std::vector<Plan> plans;
    std::vector<std::string> already, left;
    bool served = false;
    for (Bitness view : kViews) {
        // --system fronts the machine's registration, which every user
        // without one of their own gets.
        const auto found =
            machine ? read_registration(CLSID_CashDevice, view, Scope::Machine) : serving(view);
        if (!found) continue;
        served = true;
        if (is_journal(found->server, o)) {
            const ViewState s = read_state(view, scope);
            if (found->scope == scope && s.before) {
                already.push_back(for_programs(view) + ": " + key_name(s.key, view, kInproc) +
                                  " puts it in front of " + quoted(fronted(s).value_or(fs::path())));
                continue;
            }
            throw Refusal{kRefused, "the server of the class " + for_programs(view) + ", " +
                                        quoted(found->server) + " (" + where(*found) +
                                        "), is a journal DLL; the journal cannot front itself"};
        }
        if (!found->server.is_absolute())
            throw Refusal{kRefused,
                          "the server of the class " + for_programs(view) + ", " + quoted(found->server) +
                              " (" + where(*found) +
                              "), is not an absolute path; the journal loads the server it fronts by "
                              "its absolute path only"};
        if (const std::string problem = server_file_problem(inspect_server(found->server), view);
            !problem.empty())
            throw Refusal{kRefused, "the server of the class " + for_programs(view) + ", " +
                                        quoted(found->server) + " (" + where(*found) + "), " + problem +
                                        "; there is nothing to put the journal in front of"};
        const fs::path journal = journal_for(view, o);
        if (const std::string problem = journal_problem(journal, view); !problem.empty()) {
            left.push_back(for_programs(view) + ": " + problem);
            continue;
        }
        plans.push_back({view, *found, journal});
    }
    if (!served) throw Refusal{kRefused, not_served_text()};
    if (plans.empty()) {
        if (!already.empty())
            throw Refusal{kRefused, "the journal is already on " + already.front() +
                                        " (monvia-journal off takes it away)"};
        throw Refusal{kRefused,
                      "the journal cannot be put in front " + left.front() + "; nothing was changed"};
    }

    Changes changes(o, scope);
    for (const Plan& p : plans) front(p, scope, changes);
    changes.commit();

    for (const Plan& p : plans) {
        out << "the journal is on " << for_programs(p.view) << ": "
            << key_name(class_key(CLSID_CashDevice, p.view, scope), p.view, kInproc) << " names "
            << shown(p.journal) << ", in front of " << shown(p.server.server) << " (" << where(p.server)
            << ")\n";
        if (machine)
            if (const auto user = read_registration(CLSID_CashDevice, p.view, Scope::User))
                out << "note: your own registration " << for_programs(p.view) << ", " << quoted(user->server)
                    << ", comes first and is used instead\n";
    }
    for (const std::string& a : already) out << "the journal was on already " << a << "\n";
    for (const std::string& l : left) out << "note: left as it is " << l << "\n";
    if (!machine && elevated())
        out << "note: this program runs elevated; Windows ignores the user's class registrations in elevated "
               "programs, which create the machine's\n";
    print_todays_journal(out);
    return kDone;
}

int turn_off(bool machine, const CommandOptions& o, std::ostream& out) {
    const Scope scope = machine ? Scope::Machine : Scope::User;
    if (machine) check_machine_writable();
    std::vector<ViewState> on;
    std::vector<std::string> changed, stray;
    for (Bitness view : kViews) {
        ViewState s = read_state(view, scope);
        const bool journal = s.registration && is_journal(s.registration->server, o);
        if (journal && s.before && s.inproc) {
            on.push_back(std::move(s));
        } else if (s.before) {
            changed.push_back(for_programs(view) + ": " + key_name(s.key, view, kInproc) + " now names " +
                              (s.registration ? quoted(s.registration->server) : std::string("no server")) +
                              ", not the journal; it is left as it is (the registration saved at on is in " +
                              key_name(s.key, view, kBefore) + ")");
        } else if (journal) {
            stray.push_back(key_name(s.key, view, kInproc) + " names the journal " +
                            quoted(s.registration->server) +
                            ", but holds no registration saved by monvia-journal on (" + utf8(kBefore) +
                            "); it is left as it is");
        }
    }
    if (on.empty()) {
        if (!changed.empty())
            throw Refusal{kRefused, "the registration changed since monvia-journal on " + changed.front()};
        if (!stray.empty()) throw Refusal{kRefused, stray.front()};
        throw Refusal{kRefused, "the journal is not on: no registration of the class " +
                                    com::to_string(CLSID_CashDevice) + " under " + root_name(scope) +
                                    " names it, in either registry view"};
    }

    Changes changes(o, scope);
    for (const ViewState& s : on) restore(s, changes);
    changes.commit();

    for (const ViewState& s : on) {
        out << "the journal is off " << for_programs(s.view) << ": ";
        const auto now = read_registration(CLSID_CashDevice, s.view, scope);
        if (now)
            out << key_name(s.key, s.view, kInproc) << " names " << shown(now->server) << " again\n";
        else
            out << key_name(s.key, s.view, kInproc) << " removed (there was no registration there before)\n";
    }
    for (const std::string& c : changed)
        out << "note: the registration changed since monvia-journal on " << c << "\n";
    for (const std::string& s : stray) out << "note: " << s << "\n";
    return kDone;
}

int show_status(const CommandOptions& o, std::ostream& out) {
    out << "class " << com::to_string(CLSID_CashDevice) << " (CashDevice):\n";
    bool user_registrations = false;
    for (Bitness view : kViews) {
        out << "  " << bitness_word(view) << " programs (the panel \"" << panel_for(view) << "\"):\n";
        const auto found = serving(view);
        if (!found) {
            out << "    served by nothing\n    journal: off\n";
            continue;
        }
        user_registrations = user_registrations || found->scope == Scope::User;
        if (!is_journal(found->server, o)) {
            out << "    served by " << shown(found->server) << " (" << where(*found) << ")\n";
            const ViewState machine = read_state(view, Scope::Machine);
            if (found->scope == Scope::User && machine.registration &&
                is_journal(machine.registration->server, o))
                out << "    journal: off for you; on for the machine ("
                    << key_name(machine.key, view, kInproc) << "), but your own registration comes first\n";
            else
                out << "    journal: off\n";
            continue;
        }
        const ViewState s = read_state(view, found->scope);
        const auto fronts = fronted(s);
        if (fronts)
            out << "    served by " << shown(*fronts) << "\n";
        else
            out << "    served by nothing: the journal fronts no server (no " << utf8(kFronts)
                << "), so creating the class fails\n";
        out << "    journal: on, in front of it (" << where(*found) << "\\" << utf8(kInproc) << " names "
            << shown(found->server) << ")\n";
        if (!s.before)
            out << "    note: no registration saved by monvia-journal on (" << utf8(kBefore)
                << "), so off cannot take it away\n";
    }
    if (user_registrations && elevated())
        out << "note: this program runs elevated; Windows ignores the user's class registrations in elevated "
               "programs, which create the machine's\n";
    print_todays_journal(out);
    return kDone;
}

std::optional<FileState> file_state(const fs::path& file) {
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (ec || !fs::exists(status)) return std::nullopt;
    FileState state;
    state.regular = fs::is_regular_file(status);
    if (!state.regular) return state;
    // Shared with everyone, so that the writer can go on appending,
    // renaming and removing while the file is looked at.
    HANDLE h = CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    state.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    state.volume = info.dwVolumeSerialNumber;
    state.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return state;
}

}  // namespace monvia::journal::detail

namespace monvia::journal {

namespace {

fs::path program_folder() { return com::win::program_path().parent_path(); }

}  // namespace

fs::path default_journal_library() {
    const fs::path dir = program_folder();
    return dir.empty() ? fs::path() : dir / detail::kJournalFileName;
}

fs::path default_other_journal_library() {
    const fs::path dir = program_folder();
    if (dir.empty()) return {};
    std::error_code ec;
    if (com::win::process_bitness() == com::win::Bitness::Bits64) {
        // Installed: the x86 folder beside this program; in a build tree, the
        // 32-bit build named when this one was configured.
        const fs::path installed = dir / L"x86" / detail::kJournalFileName;
        if (fs::is_regular_file(installed, ec)) return installed;
#if defined(MONVIA_X86_JOURNAL)
        const fs::path built = fs::u8path(MONVIA_X86_JOURNAL);
        if (fs::is_regular_file(built, ec)) return built;
#endif
        return installed;
    }
    // A 32-bit program in the x86 folder: the 64-bit DLL is in the folder above.
    if (detail::same_name(dir.filename().wstring(), L"x86"))
        return dir.parent_path() / detail::kJournalFileName;
    return {};
}

}  // namespace monvia::journal
