// monvia-register on Windows, run in-process: the user's registrations it
// writes and removes in the system registry, what it lists for both
// bitnesses, and what it refuses. Wine creates classes from the machine's
// registrations only, so the user-level switch is checked by what the
// command writes and reads back, not by creating the class.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "com/surrogate.h"
#include "com/win_classes.h"
#include "register_command.h"
#include "scoped_class.h"
#include "test_widget.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;
using namespace monvia::com::win;

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = reg::run(args, out, err);
    return {code, out.str(), err.str()};
}

std::string utf8(const fs::path& p) {
    const std::wstring w = p.wstring();
    return utf16_to_utf8({reinterpret_cast<const char16_t*>(w.data()), w.size()});
}

const std::string kWidget = to_string(CLSID_TestWidget);
const Bitness kMine = process_bitness();

// The user's registrations of the test class, in both views, are gone at the end.
class RegisterCommand : public ::testing::Test {
protected:
    void TearDown() override {
        run({"--unregister", kWidget});
        EXPECT_FALSE(read_registration(CLSID_TestWidget, Bitness::Bits32, Scope::User));
        EXPECT_FALSE(read_registration(CLSID_TestWidget, Bitness::Bits64, Scope::User));
    }
};

TEST_F(RegisterCommand, RefusesWhatIsNotAServerWithOneLineAndWritesNothing) {
    const ScopedFolder dir("monvia-register");
    const fs::path text_file = dir.path() / "text.dll";
    std::ofstream(text_file) << "not a library\n";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const struct {
        std::string dll;
        int code;
        std::string line;
    } cases[] = {
        {"server.dll", reg::kUsage,
         "\"server.dll\" is not an absolute path; a server DLL is registered by its absolute path"},
        {"..\\server.dll", reg::kUsage,
         "\"..\\server.dll\" is not an absolute path; a server DLL is registered by its absolute path"},
        {utf8(dir.path()), reg::kLibraryRefused, quoted(dir.path()) + " is a folder, not a DLL"},
        {utf8(dir.path() / "missing.dll"), reg::kLibraryRefused,
         quoted(dir.path() / "missing.dll") + ": no such file"},
        {utf8(text_file), reg::kLibraryRefused,
         quoted(text_file) + " is not a DLL (not a Windows executable file)"},
        {utf8(self), reg::kLibraryRefused, quoted(self) + " is a program, not a DLL"},
        {utf8(MONVIA_NO_CLASS_OBJECT), reg::kLibraryRefused,
         quoted(MONVIA_NO_CLASS_OBJECT) +
             " does not export DllGetClassObject, so it is not an in-process server"},
    };
    for (const auto& c : cases) {
        const Outcome o = run({"--user", "--class", kWidget, c.dll});
        EXPECT_EQ(o.code, c.code) << c.dll;
        EXPECT_EQ(o.err, "monvia-register: " + c.line + "\n");
        EXPECT_EQ(o.out, "");
        for (Bitness view : {Bitness::Bits32, Bitness::Bits64})
            EXPECT_FALSE(read_registration(CLSID_TestWidget, view, Scope::User)) << c.dll;
    }
}

TEST_F(RegisterCommand, CommandLinesItRefuses) {
    const std::string dll = utf8(MONVIA_WIDGET_SERVER);
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--system", dll},
         "on Windows the machine's registration is the server's own: run regsvr32 on it from an elevated "
         "prompt (--user registers it in front, for you)"},
        {{"--class", "{nonsense}", dll},
         "\"{nonsense}\" is not a class identifier; write it as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"},
        {{}, "name a DLL (see monvia-register --help)"},
        {{dll, dll}, "name exactly one DLL or class"},
        {{"--list", dll}, "--list takes nothing but --class"},
        {{"--unregister", "relative.dll"},
         "\"relative.dll\" is not an absolute path; name the DLL by its absolute path"},
        {{"--bogus"}, "unknown option --bogus (see monvia-register --help)"},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.code, reg::kUsage) << c.line;
        EXPECT_EQ(o.err, "monvia-register: " + c.line + "\n");
    }
}

// --user writes the user's registration in the view of the DLL's bitness,
// in front of the machine's, and --unregister takes away only the user's.
TEST_F(RegisterCommand, TheUserSwitchWritesInFrontOfTheMachinesAndUnregisteringBringsItBack) {
    const fs::path machine_dll = L"C:\\Program Files\\Vendor\\component.dll";
    ScopedClass machine(CLSID_TestWidget, machine_dll);
    const bool machine_is_hklm = cashsim::registration_root() == HKEY_LOCAL_MACHINE;

    const Outcome o = run({"--user", "--class", kWidget, utf8(MONVIA_WIDGET_SERVER)});
    EXPECT_EQ(o.code, reg::kDone) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n') + 1),
              "registered " + kWidget + " -> " + utf8(MONVIA_WIDGET_SERVER) + " for this user, for " +
                  bitness_word(kMine) + " programs (ThreadingModel Apartment)\n");
    const auto user = read_registration(CLSID_TestWidget, kMine, Scope::User);
    ASSERT_TRUE(user);
    EXPECT_TRUE(fs::equivalent(user->server, MONVIA_WIDGET_SERVER));
    EXPECT_EQ(user->threading_model, "Apartment");
    EXPECT_FALSE(read_registration(CLSID_TestWidget, other_bitness(kMine), Scope::User));
    // The user's comes first for a process that is not elevated.
    if (machine_is_hklm) {
        EXPECT_EQ(effective_registration(CLSID_TestWidget, kMine, false)->scope, Scope::User);
        EXPECT_EQ(effective_registration(CLSID_TestWidget, kMine, true)->server, machine_dll);
        EXPECT_NE(o.out.find("note: it comes before the machine's registration, " + quoted(machine_dll)),
                  std::string::npos)
            << o.out;
    }

    // Registering again changes nothing.
    EXPECT_EQ(run({"--user", "--class", kWidget, utf8(MONVIA_WIDGET_SERVER)}).code, reg::kDone);
    EXPECT_TRUE(fs::equivalent(read_registration(CLSID_TestWidget, kMine, Scope::User)->server,
                               MONVIA_WIDGET_SERVER));

    const Outcome gone = run({"--unregister", kWidget});
    EXPECT_EQ(gone.code, reg::kDone) << gone.err;
    EXPECT_EQ(gone.out, "unregistered " + kWidget + " for this user, for " + bitness_word(kMine) +
                            " programs (" + utf8(MONVIA_WIDGET_SERVER) + ")\n");
    EXPECT_FALSE(read_registration(CLSID_TestWidget, kMine, Scope::User));
    if (machine_is_hklm) {
        EXPECT_EQ(read_registration(CLSID_TestWidget, kMine, Scope::Machine)->server, machine_dll);
    }
    const Outcome again = run({"--unregister", kWidget});
    EXPECT_EQ(again.code, reg::kRegistryFailed);
    EXPECT_EQ(again.err, "monvia-register: this user has no registration of " + kWidget + "\n");
}

#if defined(MONVIA_OTHER_BITNESS_DLL)
// A DLL of the other bitness goes into the other view, whichever bitness
// the command itself has; unregistering it by its path removes just that.
// Without --class the class is CashDevice's.
TEST_F(RegisterCommand, ADllOfTheOtherBitnessIsRegisteredInItsOwnView) {
    const Guid& cash = device::CLSID_CashDevice;
    const Outcome o = run({utf8(MONVIA_OTHER_BITNESS_DLL)});
    EXPECT_EQ(o.code, reg::kDone) << o.err;
    EXPECT_FALSE(read_registration(cash, kMine, Scope::User));
    ASSERT_TRUE(read_registration(cash, other_bitness(kMine), Scope::User));
    EXPECT_EQ(run({"--user", utf8(MONVIA_WIDGET_SERVER)}).code, reg::kDone);

    // The list shows the two, each in its view, each created by its panel
    // unless the process is elevated.
    const Outcome list = run({"--list"});
    EXPECT_EQ(list.code, reg::kDone);
    EXPECT_EQ(list.out.rfind(to_string(cash) + " (CashDevice)\n", 0), 0u) << list.out;
    for (Bitness view : {Bitness::Bits32, Bitness::Bits64}) {
        const fs::path dll =
            view == kMine ? fs::path(MONVIA_WIDGET_SERVER) : fs::path(MONVIA_OTHER_BITNESS_DLL);
        const std::string header =
            "  " + bitness_word(view) + " programs (the panel \"" + panel_for(view) + "\"):\n";
        const std::string user_line = "    user:    " + utf8(dll) + "  (present, " + bitness_word(view) +
                                      " DLL, ThreadingModel Apartment)" + (elevated() ? "" : "  <- created") +
                                      "\n";
        EXPECT_NE(list.out.find(header + user_line), std::string::npos) << list.out;
    }
    EXPECT_EQ(list.out.find("note: this program runs elevated") != std::string::npos, elevated()) << list.out;

    const Outcome gone = run({"--unregister", utf8(MONVIA_OTHER_BITNESS_DLL)});
    EXPECT_EQ(gone.code, reg::kDone) << gone.err;
    EXPECT_FALSE(read_registration(cash, other_bitness(kMine), Scope::User));
    EXPECT_TRUE(read_registration(cash, kMine, Scope::User));
    EXPECT_EQ(run({"--unregister", utf8(MONVIA_WIDGET_SERVER)}).code, reg::kDone);
    EXPECT_FALSE(read_registration(cash, kMine, Scope::User));
}
#endif

// What --list says of each kind of registration, one view at a time.
TEST_F(RegisterCommand, TheListSaysWhatEachRegistrationIsAndWhichIsCreated) {
    const ScopedFolder dir("monvia-list");
    const fs::path missing = dir.path() / "gone.dll";
    ScopedClass machine(CLSID_TestWidget, missing);
    const bool machine_is_hklm = cashsim::registration_root() == HKEY_LOCAL_MACHINE;
    if (!machine_is_hklm) GTEST_SKIP() << "not elevated: the machine's registration cannot be written here";
    ScopedClass other_view(CLSID_TestWidget, MONVIA_NO_CLASS_OBJECT, kOtherView);

    const Outcome list = run({"--list", "--class", kWidget});
    EXPECT_EQ(list.code, reg::kDone);
    const std::string mine =
        "  " + bitness_word(kMine) + " programs (the panel \"" + panel_for(kMine) +
        "\"):\n    user:    (none)\n    machine: " + utf8(missing) +
        "  (missing, ThreadingModel Apartment)  <- tried, and fails: it does not exist\n";
    const Bitness theirs = other_bitness(kMine);
    const std::string other =
        "  " + bitness_word(theirs) + " programs (the panel \"" + panel_for(theirs) +
        "\"):\n    user:    (none)\n    machine: " + utf8(MONVIA_NO_CLASS_OBJECT) + "  (present, " +
        bitness_word(kMine) + " DLL, ThreadingModel Apartment)  <- tried, and fails: it is a " +
        bitness_word(kMine) + " DLL, which a " + bitness_word(theirs) + " program cannot load; the " +
        bitness_word(kMine) + " panel \"" + panel_for(kMine) + "\" can\n";
    EXPECT_NE(list.out.find(mine), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(other), std::string::npos) << list.out;
}

// --- --surrogate ---------------------------------------------------------

const std::wstring kWidgetId = wide(kWidget);
// An AppID of another tool, for a class that names it.
const std::wstring kOtherAppId = L"{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}";

// Every value under a key and its sub-keys, as "path: name=data" lines.
std::string dump(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return "";
    std::string lines;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[1024];
        DWORD name_size = 256, bytes = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
            ERROR_SUCCESS)
            break;
        lines += utf8(path) + ": " + utf8(std::wstring(name, name_size)) + "=" +
                 (type == REG_SZ ? utf8(data) : "(" + std::to_string(type) + ")") + "\n";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        lines += dump(root, path + L"\\" + std::wstring(name, size), view);
    }
    RegCloseKey(key);
    return lines;
}

// What a surrogate command can touch for the test class: its keys in both
// roots and views, and the AppID keys it or another tool may have written.
std::string surrogate_keys() {
    std::string all;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
            all += dump(root, L"Software\\Classes\\CLSID\\" + kWidgetId, view);
            all += dump(root, L"Software\\Classes\\Wow6432Node\\CLSID\\" + kWidgetId, view);
            for (const std::wstring& id : {kWidgetId, kOtherAppId})
                all += dump(root, L"Software\\Classes\\AppID\\" + id, view);
        }
    return all;
}

void set_value(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    EXPECT_EQ(RegSetKeyValueW(cashsim::registration_root(), path.c_str(), name, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// The system's dllhost of this program's bitness. For a 32-bit program on a
// 64-bit Windows that is the one in SysWOW64: the system reads a
// DllSurrogate path as a 64-bit program does, so "System32" there names the
// 64-bit one.
std::string own_dllhost() {
    wchar_t folder[MAX_PATH] = {};
    if (kMine == Bitness::Bits64 || GetSystemWow64DirectoryW(folder, MAX_PATH) == 0)
        GetSystemDirectoryW(folder, MAX_PATH);
    return utf8(std::wstring(folder) + L"\\dllhost.exe");
}

// The test class registered where regsvr32 registers (for the machine
// under Wine, which runs programs elevated), in this program's view; every
// AppID key the tests write is gone at the end.
class SurrogateCommand : public RegisterCommand {
protected:
    void TearDown() override {
        for (const std::wstring& id : {kWidgetId, kOtherAppId})
            RegDeleteKeyExW(cashsim::registration_root(), (L"Software\\Classes\\AppID\\" + id).c_str(),
                            KEY_WOW64_64KEY, 0);
        RegisterCommand::TearDown();
    }
    ScopedClass registered_{CLSID_TestWidget, MONVIA_WIDGET_SERVER};
    const std::string scope_ =
        cashsim::registration_root() == HKEY_LOCAL_MACHINE ? "the machine's" : "the user's";
};

// Adding names the surrogate given, --list shows it, adding again or with
// another surrogate is refused, and removing leaves the keys as they were.
TEST_F(SurrogateCommand, AddedListedAndRemovedLeavingTheRegistryAsItWas) {
    const std::string before = surrogate_keys();
    for (const std::string& host : {own_dllhost(), std::string()}) {
        SCOPED_TRACE(host.empty() ? "the system's dllhost" : host);
        std::vector<std::string> add = {"--surrogate", "--class", kWidget};
        if (!host.empty()) add.push_back(host);
        const Outcome o = run(add);
        EXPECT_EQ(o.code, reg::kDone) << o.err;
        const std::string words = host.empty() ? "\"\" (the system's dllhost.exe)" : "\"" + host + "\"";
        EXPECT_EQ(o.out,
                  "added the surrogate of " + kWidget + ", for " + bitness_word(kMine) +
                      " programs, beside " + scope_ + " registration: AppID " + kWidget + ", DllSurrogate " +
                      words +
                      "\na client that asks for a local server (CLSCTX_LOCAL_SERVER) now gets the class "
                      "in the surrogate process\n");
        const std::string added = surrogate_keys();
        EXPECT_NE(added, before);

        const Outcome list = run({"--list", "--class", kWidget});
        std::cout << list.out;
        EXPECT_NE(list.out.find("\n             surrogate: DllSurrogate " + words + ", AppID " + kWidget +
                                " (written by monvia-register)\n"),
                  std::string::npos)
            << list.out;

        // Adding again, with the same surrogate or another, changes nothing.
        for (const std::vector<std::string>& again :
             {add, std::vector<std::string>{"--surrogate", "--class", kWidget,
                                            host.empty() ? own_dllhost() : ""}}) {
            std::vector<std::string> args = again;
            if (args.back().empty()) args.pop_back();
            const Outcome twice = run(args);
            EXPECT_EQ(twice.code, reg::kRegistryFailed);
            EXPECT_EQ(twice.err.rfind("monvia-register: " + kWidget + " already runs in the surrogate ", 0),
                      0u)
                << twice.err;
            EXPECT_EQ(std::count(twice.err.begin(), twice.err.end(), '\n'), 1);
            EXPECT_EQ(surrogate_keys(), added);
        }

        const Outcome gone = run({"--unregister", "--surrogate", "--class", kWidget});
        EXPECT_EQ(gone.code, reg::kDone) << gone.err;
        EXPECT_EQ(gone.out, "removed the surrogate of " + kWidget + ", for " + bitness_word(kMine) +
                                " programs, beside " + scope_ + " registration (AppID " + kWidget +
                                ", DllSurrogate " + words + ")\n");
        EXPECT_EQ(surrogate_keys(), before);
        const Outcome nothing = run({"--unregister", "--surrogate", "--class", kWidget});
        EXPECT_EQ(nothing.code, reg::kRegistryFailed);
        EXPECT_EQ(nothing.err, "monvia-register: " + kWidget + " has no surrogate to remove\n");
        EXPECT_EQ(surrogate_keys(), before);
    }
}

// Every refusal is one line with its exit code, and the registry is as it was.
TEST_F(SurrogateCommand, RefusalsAreOneLineAndChangeNothing) {
    const ScopedFolder dir("monvia-surrogate");
    const std::string nobody = to_string(CLSID_Nobody);
    const std::string missing = utf8(dir.path() / "dllhost.exe");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string line;
    };
    std::vector<Case> cases = {
        {{"--surrogate", "--class", nobody},
         reg::kRegistryFailed,
         nobody + " is not registered as an in-process server for 32-bit or 64-bit programs (see "
                  "monvia-register --list)"},
        {{"--surrogate", "--class", kWidget, "dllhost.exe"},
         reg::kUsage,
         "\"dllhost.exe\" is not an absolute path; name the surrogate program by its absolute path"},
        {{"--surrogate", "--class", kWidget, missing},
         reg::kLibraryRefused,
         "\"" + missing + "\": no such file"},
        {{"--surrogate", "--class", kWidget, utf8(dir.path())},
         reg::kLibraryRefused,
         quoted(dir.path()) + " is a folder, not a program"},
        {{"--surrogate", "--class", kWidget, utf8(MONVIA_WIDGET_SERVER)},
         reg::kLibraryRefused,
         quoted(MONVIA_WIDGET_SERVER) + " is a DLL, not a program"},
        {{"--surrogate", "--user", "--class", kWidget},
         reg::kUsage,
         "--surrogate goes beside the registration programs create, the user's or the machine's; it takes no "
         "--user"},
        {{"--surrogate", own_dllhost(), own_dllhost()},
         reg::kUsage,
         "--surrogate takes at most one program, the surrogate to run the class in"},
        {{"--unregister", "--surrogate", kWidget},
         reg::kUsage,
         "--unregister --surrogate takes no operand; name the class with --class"},
        {{"--list", "--surrogate"}, reg::kUsage, "--list takes nothing but --class"},
        {{"--unregister", "--surrogate", "--class", nobody},
         reg::kRegistryFailed,
         nobody + " has no surrogate to remove"},
    };
    // The dllhost of the other bitness, for a class registered in this
    // program's view only: SysWOW64's from a 64-bit program, System32's
    // (as the system reads the path) from a 32-bit one.
    wchar_t windows[MAX_PATH] = {}, wow64[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const Bitness theirs = other_bitness(kMine);
    const fs::path other_host =
        fs::path(windows) / (kMine == Bitness::Bits64 ? L"SysWOW64\\dllhost.exe" : L"System32\\dllhost.exe");
    if ((kMine == Bitness::Bits64 && fs::exists(other_host)) ||
        (kMine == Bitness::Bits32 && GetSystemWow64DirectoryW(wow64, MAX_PATH) > 0))
        cases.push_back({{"--surrogate", "--class", kWidget, utf8(other_host)},
                         reg::kRegistryFailed,
                         kWidget + " is not registered as an in-process server for " + bitness_word(theirs) +
                             " programs, which the " + bitness_word(theirs) + " surrogate " +
                             quoted(other_host) + " would load it for (see monvia-register --list)"});
    const std::string before = surrogate_keys();
    for (const Case& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.code, c.code) << c.line;
        EXPECT_EQ(o.err, "monvia-register: " + c.line + "\n");
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(surrogate_keys(), before) << c.line;
    }
}

// An AppID that another server or tool wrote is never changed or removed:
// one the class names under another identifier, and one of the class's own
// identifier without monvia-register's mark.
TEST_F(SurrogateCommand, AnAppIdAnotherServerWroteIsLeftAlone) {
    const std::wstring class_key = L"Software\\Classes\\CLSID\\" + kWidgetId;
    const struct {
        std::wstring app_id;
        std::string add_says, remove_says;
    } cases[] = {
        {kOtherAppId, kWidget + " already names the AppID " + utf8(kOtherAppId) + ", which monvia-register",
         kWidget + " names the AppID " + utf8(kOtherAppId) + " for " + bitness_word(kMine) + " programs in " +
             scope_ + " classes, which monvia-register did not write; it is left as it is"},
        {kWidgetId, kWidget + " already has an AppID that monvia-register did not write",
         kWidget + " names the AppID " + kWidget + " for " + bitness_word(kMine) + " programs in " + scope_ +
             " classes, which monvia-register did not write; it is left as it is"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.app_id));
        set_value(class_key, L"AppID", c.app_id);
        set_value(L"Software\\Classes\\AppID\\" + c.app_id, L"DllSurrogate", L"");
        const std::string before = surrogate_keys();
        const Outcome add = run({"--surrogate", "--class", kWidget, own_dllhost()});
        EXPECT_EQ(add.code, reg::kRegistryFailed);
        EXPECT_EQ(add.err.rfind("monvia-register: " + c.add_says, 0), 0u) << add.err;
        EXPECT_EQ(surrogate_keys(), before);
        const Outcome remove = run({"--unregister", "--surrogate", "--class", kWidget});
        EXPECT_EQ(remove.code, reg::kRegistryFailed);
        EXPECT_EQ(remove.err, "monvia-register: " + c.remove_says + "\n");
        EXPECT_EQ(surrogate_keys(), before);
        const Outcome list = run({"--list", "--class", kWidget});
        EXPECT_NE(list.out.find("surrogate: DllSurrogate \"\" (the system's dllhost.exe), AppID " +
                                utf8(c.app_id) + " (not written by monvia-register)\n"),
                  std::string::npos)
            << list.out;
        RegDeleteKeyValueW(cashsim::registration_root(), class_key.c_str(), L"AppID");
        RegDeleteKeyExW(cashsim::registration_root(), (L"Software\\Classes\\AppID\\" + c.app_id).c_str(),
                        KEY_WOW64_64KEY, 0);
    }
}

}  // namespace
