// monvia-journal on Windows, run in-process: on and off in both registry
// views leave the class's registration exactly as it was, value by value and
// byte for byte, and monvia-register --list says the same before and after;
// a hand-made registration comes back as it was written; every refusal is
// one line and changes nothing; a failure at any step of on or off undoes
// the steps before it. Wine creates classes from the machine's
// registrations only, so the switch is checked by what the command writes
// and reads back. The journal DLLs here are stand-ins under the journal's
// file name (the command only names them), one of each bitness.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "com/win_classes.h"
#include "journal_command.h"
#include "journal_entry.h"
#include "register_command.h"
#include "scoped_class.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;
using namespace monvia::com::win;

namespace {

const std::wstring kClass = win::wide(to_string(device::CLSID_CashDevice));
// The simulator's path as the system names a loaded DLL.
const fs::path kSimulator = fs::path(MONVIA_SIMULATOR_DLL).make_preferred();

// The test runs in either bitness: "own" is the registration programs of
// its bitness create (where the simulator of this build registers), "other"
// the one programs of the other bitness create.
constexpr bool k64 = sizeof(void*) == 8;
const std::string kOwnBits = k64 ? "64-bit" : "32-bit";
const std::string kOtherBits = k64 ? "32-bit" : "64-bit";

// Where one root's registration of the class is for programs of one
// bitness: the machine's 32-bit classes are reached by a flag, the user's
// by their own path.
struct View {
    HKEY root;
    bool bits64;
    REGSAM sam() const { return bits64 || root == HKEY_CURRENT_USER ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
    std::wstring classes() const {
        return root == HKEY_CURRENT_USER && !bits64 ? L"Software\\Classes\\Wow6432Node\\CLSID\\"
                                                    : L"Software\\Classes\\CLSID\\";
    }
    // The InprocServer32 key as monvia-journal's messages name it.
    std::string inproc_name() const {
        return std::string(root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\") + utf8(classes()) + utf8(kClass) +
               "\\InprocServer32" + (root == HKEY_LOCAL_MACHINE && !bits64 ? " (32-bit view)" : "");
    }
};
View own(HKEY root) { return {root, k64}; }
View other(HKEY root) { return {root, !k64}; }

// Every key and value under the class's key, in both roots and both views:
// "HKLM 32-bit\CLSID\{...}\InprocServer32" for a key, and
// "...\InprocServer32: ThreadingModel type 1 41 00 70 00 ..." for a value.
using Snapshot = std::map<std::string, std::string>;

std::string hex_bytes(const BYTE* data, DWORD size) {
    std::string text;
    char b[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(b, sizeof b, " %02x", data[i]);
        text += b;
    }
    return text;
}

void dump(HKEY root, const std::wstring& path, REGSAM view, const std::string& shown, Snapshot& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    out[shown] = "key";
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD name_size = 512;
        std::vector<BYTE> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        out[shown + ": " + (name_size ? utf8(std::wstring(name, name_size)) : "(default)")] =
            "type " + std::to_string(type) + hex_bytes(data.data(), size);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD size = 512;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::wstring sub(name, size);
        dump(root, path + L"\\" + sub, view, shown + "\\" + utf8(sub), out);
    }
    RegCloseKey(key);
}

Snapshot snapshot() {
    Snapshot s;
    dump(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClass, KEY_WOW64_64KEY, "HKLM 64-bit", s);
    dump(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClass, KEY_WOW64_32KEY, "HKLM 32-bit", s);
    dump(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" + kClass, KEY_WOW64_64KEY, "HKCU 64-bit", s);
    dump(HKEY_CURRENT_USER, L"Software\\Classes\\Wow6432Node\\CLSID\\" + kClass, KEY_WOW64_64KEY,
         "HKCU 32-bit", s);
    return s;
}

// Values as text, by name, for comparing and for showing a difference.
std::map<std::string, std::string> as_text(const std::vector<RegistryValue>& values) {
    std::map<std::string, std::string> text;
    for (const RegistryValue& v : values)
        text[utf8(v.name)] =
            "type " + std::to_string(v.type) + hex_bytes(v.data.data(), static_cast<DWORD>(v.data.size()));
    return text;
}

struct Outcome {
    int code;
    std::string out, err;
};

Outcome list() {
    std::ostringstream out, err;
    const int code = reg::run({"--list"}, out, err);
    return {code, out.str(), err.str()};
}

// Writes one value under a key of the class, creating the key.
void put(View view, const std::wstring& below, const RegistryValue& v) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(view.root, (view.classes() + kClass + below).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | view.sam(), nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(write_value(key, v), ERROR_SUCCESS);
    RegCloseKey(key);
}

void remove_class(HKEY root, REGSAM view, const std::wstring& classes = L"Software\\Classes\\CLSID\\") {
    HKEY key = nullptr;
    const std::wstring path = classes + kClass;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

RegistryValue raw(const std::wstring& name, DWORD type, const std::string& bytes) {
    return {name, type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

class JournalOnWindows : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(elevated()) << "the machine's registration is written here: run elevated (Wine is)";
        clear();
        std::error_code ec;
        fs::create_directories(dir_.path() / "x86");
        // This build's bitness beside the program, the other in its x86
        // folder (the installer's layout for a 64-bit program; the command
        // only names them).
        journal_own_ = dir_.path() / "monvia_journal.dll";
        fs::copy_file(MONVIA_WIDGET_SERVER, journal_own_, fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
#if defined(MONVIA_OTHER_BITNESS_DLL)
        journal_other_ = dir_.path() / "x86" / "monvia_journal.dll";
        fs::copy_file(MONVIA_OTHER_BITNESS_DLL, journal_other_, fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
#endif
        options_.journal_library = journal_own_;
        options_.other_journal_library = journal_other_;
    }
    void TearDown() override { clear(); }

    static void clear() {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) remove_class(HKEY_LOCAL_MACHINE, view);
        remove_class(HKEY_CURRENT_USER, KEY_WOW64_64KEY);
        remove_class(HKEY_CURRENT_USER, KEY_WOW64_64KEY, L"Software\\Classes\\Wow6432Node\\CLSID\\");
    }

    // The simulator registered for the machine as regsvr32 registers it.
    static void register_simulator() {
        HMODULE sim = LoadLibraryW(kSimulator.c_str());
        ASSERT_NE(sim, nullptr);
        using Entry = HRESULT(STDAPICALLTYPE*)();
        const auto entry =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(sim, "DllRegisterServer")));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry(), S_OK);
        FreeLibrary(sim);
    }

    // A server for programs of the other bitness, registered for the
    // machine by hand.
    bool register_other_bitness_server() {
#if defined(MONVIA_OTHER_BITNESS_DLL)
        put(other(HKEY_LOCAL_MACHINE), L"\\InprocServer32",
            make_string_value(L"", fs::path(MONVIA_OTHER_BITNESS_DLL).wstring()));
        put(other(HKEY_LOCAL_MACHINE), L"\\InprocServer32",
            make_string_value(L"ThreadingModel", L"Apartment"));
        return true;
#else
        return false;
#endif
    }

    Outcome journal(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = journal::run(args, out, err, options_);
        return {code, out.str(), err.str()};
    }

    std::optional<std::vector<RegistryValue>> values(View view, const std::wstring& below) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(view.root, (view.classes() + kClass + below).c_str(), 0, KEY_READ | view.sam(),
                          &key) != ERROR_SUCCESS)
            return std::nullopt;
        auto v = read_values(key);
        RegCloseKey(key);
        return v;
    }

    std::wstring text_of(View view, const std::wstring& below, const std::wstring& name) {
        const auto v = values(view, below);
        const RegistryValue* found = v ? find_value(*v, name) : nullptr;
        return found ? value_text(*found).value_or(L"(not text)") : L"(none)";
    }

    ScopedFolder dir_{"monvia-journal"};
    fs::path journal_own_, journal_other_;
    journal::CommandOptions options_;
};

TEST_F(JournalOnWindows, OnAndOffForTheMachineLeaveBothViewsAsTheyWere) {
    register_simulator();
    const bool both = register_other_bitness_server();
    if (!both) std::cout << "skipped: the " << kOtherBits << " view (no DLL of that bitness was built)\n";
    const Snapshot before = snapshot();
    const Outcome list_before = list();
    const std::string status_before = journal({"status"}).out;
    EXPECT_NE(status_before.find("journal: off"), std::string::npos) << status_before;

    const Outcome on = journal({"on", "--system"});
    ASSERT_EQ(on.code, journal::kDone) << on.err;
    EXPECT_EQ(on.err, "");
    EXPECT_NE(on.out.find("the journal is on for " + kOwnBits +
                          " programs: " + own(HKEY_LOCAL_MACHINE).inproc_name() + " names " +
                          utf8(journal_own_.wstring()) + ", in front of "),
              std::string::npos)
        << on.out;
    // In each view: the journal of that bitness, the server it fronts, the
    // server's threading model; the rest of the class key is as it was.
    const wchar_t* kInproc = L"\\InprocServer32";
    const View machine = own(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(fs::equivalent(text_of(machine, kInproc, L""), journal_own_));
    EXPECT_TRUE(fs::equivalent(text_of(machine, kInproc, L"MonviaJournalFronts"), MONVIA_SIMULATOR_DLL));
    EXPECT_EQ(text_of(machine, kInproc, L"ThreadingModel"), L"Apartment");
    if (both) {
        EXPECT_TRUE(fs::equivalent(text_of(other(HKEY_LOCAL_MACHINE), kInproc, L""), journal_other_));
        EXPECT_EQ(text_of(other(HKEY_LOCAL_MACHINE), kInproc, L"MonviaJournalFronts"),
                  fs::path(MONVIA_OTHER_BITNESS_DLL).wstring());
    }
    const Snapshot while_on = snapshot();
    for (const auto& [name, value] : before) {
        if (name.find("InprocServer32") != std::string::npos) continue;
        EXPECT_EQ(while_on.count(name) ? while_on.at(name) : "(gone)", value) << name;
    }
    // The list shows the journal as the machine's server in front.
    const Outcome list_on = list();
    EXPECT_NE(
        list_on.out.find("machine: " + utf8(journal_own_.wstring()) + "  (present, " + kOwnBits + " DLL"),
        std::string::npos)
        << list_on.out;
    const std::string status_on = journal({"status"}).out;
    EXPECT_NE(status_on.find("    journal: on, in front of it (the machine's registration"),
              std::string::npos)
        << status_on;

    const Outcome off = journal({"off", "--system"});
    ASSERT_EQ(off.code, journal::kDone) << off.err;
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(list().out, list_before.out);
    EXPECT_EQ(journal({"status"}).out, status_before);
}

// A registration written by hand, at either root, comes back byte for byte:
// an unexpanded default, a threading model in odd spelling without its
// terminating zero, values of other types.
TEST_F(JournalOnWindows, OffPutsBackAHandMadeRegistrationByteForByte) {
    const fs::path server = dir_.path() / "acme" / "cash device.dll";
    fs::create_directories(server.parent_path());
    fs::copy_file(kSimulator, server, fs::copy_options::overwrite_existing);
    const testing_env::ScopedEnv folder("MONVIA_ACME", utf8(server.parent_path().wstring()).c_str());
    const std::wstring unexpanded = L"%MONVIA_ACME%\\cash device.dll";
    const std::vector<RegistryValue> mine = {
        {L"", REG_EXPAND_SZ, make_string_value(L"", unexpanded).data},
        raw(L"ThreadingModel", REG_SZ, std::string("b\0o\0t\0h\0", 8)),
        raw(L"Vendor", REG_MULTI_SZ, std::string("a\0\0\0b\0\0\0\0\0", 10)),
        raw(L"Blob", REG_BINARY, std::string("\x00\xff\x10", 3)),
        make_dword_value(L"Build", 42),
    };
    for (const Scope scope : {Scope::User, Scope::Machine}) {
        SCOPED_TRACE(scope_word(scope));
        clear();
        const View view = own(scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);
        for (const RegistryValue& v : mine) put(view, L"\\InprocServer32", v);
        put(view, L"", make_string_value(L"", L"Acme cash device"));
        const Snapshot before = snapshot();
        const std::vector<std::string> system =
            scope == Scope::Machine ? std::vector<std::string>{"--system"} : std::vector<std::string>{};
        std::vector<std::string> on_args{"on"}, off_args{"off"};
        on_args.insert(on_args.end(), system.begin(), system.end());
        off_args.insert(off_args.end(), system.begin(), system.end());

        const Outcome on = journal(on_args);
        ASSERT_EQ(on.code, journal::kDone) << on.err;
        const wchar_t* kInproc = L"\\InprocServer32";
        // The server is named by its expanded path, with its own threading model.
        EXPECT_EQ(text_of(view, kInproc, L"MonviaJournalFronts"), server.wstring());
        EXPECT_EQ(text_of(view, kInproc, L"ThreadingModel"), L"both");
        auto saved = mine;
        saved.push_back(make_dword_value(L"MonviaJournalInprocExisted", 1));
        saved.push_back(make_dword_value(L"MonviaJournalClsidExisted", 1));
        EXPECT_EQ(as_text(*values(view, L"\\MonviaJournalBefore")), as_text(saved));

        const Outcome off = journal(off_args);
        ASSERT_EQ(off.code, journal::kDone) << off.err;
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(as_text(*values(view, kInproc)), as_text(mine));
    }
}

// For the user, in front of the machine's server: off leaves no key of the
// user's behind, where there was none.
TEST_F(JournalOnWindows, OnAndOffForTheUserWhereTheUserHadNoRegistration) {
    register_simulator();
    const Snapshot before = snapshot();
    const Outcome on = journal({"on"});
    ASSERT_EQ(on.code, journal::kDone) << on.err;
    const View user = own(HKEY_CURRENT_USER);
    EXPECT_TRUE(fs::equivalent(text_of(user, L"\\InprocServer32", L""), journal_own_));
    EXPECT_EQ(text_of(user, L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    const std::string status = journal({"status"}).out;
    EXPECT_NE(status.find("journal: on, in front of it (the user's registration, " + user.inproc_name() +
                          " names "),
              std::string::npos)
        << status;
    // Wine's programs run elevated, and elevated programs ignore the user's classes: it says so.
    EXPECT_NE(status.find("note: this program runs elevated"), std::string::npos) << status;
    ASSERT_EQ(journal({"off"}).code, journal::kDone);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(JournalOnWindows, RefusalsSayOneLineAndChangeNothing) {
    const std::string sim = utf8(kSimulator.wstring());
    struct Case {
        const char* what;
        std::function<void(JournalOnWindows&)> prepare;
        std::vector<std::string> args;
        int code;
        std::string message;  // the start of the one line on standard error
    };
    const std::vector<Case> cases = {
        {"on with nothing serving the class",
         [](JournalOnWindows&) {},
         {"on"},
         journal::kRefused,
         "nothing serves the class " + utf8(kClass) + " for 32-bit or 64-bit programs"},
        {"on twice",
         [](JournalOnWindows& t) {
             register_simulator();
             ASSERT_EQ(t.journal({"on", "--system"}).code, journal::kDone);
         },
         {"on", "--system"},
         journal::kRefused,
         "the journal is already on for " + kOwnBits + " programs: " + own(HKEY_LOCAL_MACHINE).inproc_name() +
             " puts it in front of \"" + sim + "\" (monvia-journal off takes it away)"},
        {"on for the user where the machine's server is the journal",
         [](JournalOnWindows& t) {
             register_simulator();
             ASSERT_EQ(t.journal({"on", "--system"}).code, journal::kDone);
         },
         {"on"},
         journal::kRefused,
         "the server of the class for " + kOwnBits + " programs, \""},
        {"on in front of a registered server that is not there",
         [](JournalOnWindows& t) {
             put(own(HKEY_LOCAL_MACHINE), L"\\InprocServer32",
                 make_string_value(L"", (t.dir_.path() / "gone.dll").wstring()));
         },
         {"on", "--system"},
         journal::kRefused,
         "the server of the class for " + kOwnBits + " programs, \""},
        {"on in front of a server registered by a relative path",
         [](JournalOnWindows&) {
             put(own(HKEY_LOCAL_MACHINE), L"\\InprocServer32", make_string_value(L"", L"cash.dll"));
         },
         {"on", "--system"},
         journal::kRefused,
         "the server of the class for " + kOwnBits + " programs, \"cash.dll\" (the machine's registration, "},
        {"off when the journal is not on",
         [](JournalOnWindows&) { register_simulator(); },
         {"off", "--system"},
         journal::kRefused,
         "the journal is not on: no registration of the class " + utf8(kClass) +
             " under HKLM\\Software\\Classes names it, in either registry view"},
        {"off after the real server was registered again",
         [](JournalOnWindows& t) {
             register_simulator();
             ASSERT_EQ(t.journal({"on", "--system"}).code, journal::kDone);
             put(own(HKEY_LOCAL_MACHINE), L"\\InprocServer32", make_string_value(L"", kSimulator.wstring()));
         },
         {"off", "--system"},
         journal::kRefused,
         "the registration changed since monvia-journal on for " + kOwnBits + " programs: " +
             own(HKEY_LOCAL_MACHINE).inproc_name() + " now names \"" + sim + "\", not the journal"},
        {"--system without the right to write the machine's classes",
         [](JournalOnWindows& t) {
             register_simulator();
             t.options_.before_registry_change = [] { return static_cast<long>(ERROR_ACCESS_DENIED); };
         },
         {"on", "--system"},
         journal::kRefused,
         "--system changes the machine's registration (HKLM\\Software\\Classes), which only an administrator "
         "may change: run monvia-journal from an elevated command prompt; nothing was changed"},
        {"show of a missing journal",
         [](JournalOnWindows&) {},
         {"show", "C:\\nowhere\\2026-01-01.journal"},
         journal::kRefused,
         "there is no journal \"C:\\nowhere\\2026-01-01.journal\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        options_.before_registry_change = nullptr;
        c.prepare(*this);
        const Snapshot before = snapshot();
        const Outcome o = journal(c.args);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("monvia-journal: " + c.message, 0), 0u) << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_EQ(snapshot(), before);
    }
}

// A change that fails, whichever it is, leaves the registry as it was before
// the command: the changes made before it are undone.
TEST_F(JournalOnWindows, AFailureAtAnyStepUndoesTheStepsBefore) {
    register_simulator();
    register_other_bitness_server();
    for (const char* command : {"on", "off"}) {
        SCOPED_TRACE(command);
        const Snapshot before = snapshot();
        int failing = 0;
        for (;; ++failing) {
            SCOPED_TRACE("the change that fails: " + std::to_string(failing));
            int changes = 0;
            options_.before_registry_change = [&] {
                return static_cast<long>(changes++ == failing ? ERROR_WRITE_FAULT : ERROR_SUCCESS);
            };
            const Outcome o = journal({command, "--system"});
            if (changes <= failing) {
                ASSERT_EQ(o.code, journal::kDone) << o.err;
                break;
            }
            EXPECT_EQ(o.code, journal::kRegistryFailed);
            EXPECT_NE(o.err.find("; nothing was changed\n"), std::string::npos) << o.err;
            EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
            EXPECT_EQ(snapshot(), before);
        }
        // Three changes a view: the saved copy, the journal, and (off) the class key left.
        EXPECT_GE(failing, 2);
        options_.before_registry_change = nullptr;
    }
}

// With the journal DLL itself in front of the simulator: a client's
// CoCreateInstance and Charge go through it, get what the simulator answers,
// and the journal holds the call.
TEST_F(JournalOnWindows, ACallThroughTheJournalIsWrittenDownAndAnsweredByTheSimulator) {
    register_simulator();
    const ScopedFolder local("monvia-journal-local");
    const testing_env::ScopedEnv folder("LOCALAPPDATA", utf8(local.path().wstring()).c_str());
    options_.journal_library = fs::path(MONVIA_JOURNAL_DLL).make_preferred();
    ASSERT_EQ(journal({"on", "--system"}).code, journal::kDone);

    device::ICashDevice* d = nullptr;
    ASSERT_EQ(CoCreateInstance(device::CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER,
                               device::IID_ICashDevice, reinterpret_cast<void**>(&d)),
              S_OK);
    VARIANT_BOOL connected = 0, charged = 0;
    int32_t inserted = 0, returned = 0;
    const Bstr host("localhost");
    EXPECT_EQ(d->put_Host(host.get()), S_OK);
    EXPECT_EQ(d->Connect(&connected), S_OK);
    EXPECT_EQ(d->Charge(125, &inserted, &returned, &charged), S_OK);
    EXPECT_EQ(connected, VARIANT_TRUE);
    EXPECT_EQ(charged, VARIANT_TRUE);
    EXPECT_EQ(inserted, 200);
    EXPECT_EQ(returned, 75);
    d->Release();
    // The journal DLL, unused now, is unloaded and closes its file, so that
    // the folder can be removed after the test (a file still open is only
    // marked for deletion, and the folder cannot go).
    CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_EQ(journal({"off", "--system"}).code, journal::kDone);

    const fs::path today = journal::todays_journal_file();
    ASSERT_EQ(today.parent_path(), local.path() / "Monvia" / "journal");
    std::ifstream in(today, std::ios::binary);
    const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(lines.find(" #1 create class=" + utf8(kClass)), std::string::npos) << lines;
    EXPECT_NE(
        lines.find(" #1 Charge amount=125 &inserted=0 &returned=0 -> inserted=200 returned=75 result=True ("),
        std::string::npos)
        << lines;
    EXPECT_NE(lines.find(" #1 release\n"), std::string::npos) << lines;
}

}  // namespace
