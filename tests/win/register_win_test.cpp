// monvia-register on Windows, run in-process: the user's registrations it
// writes and removes in the system registry, what it lists for both
// bitnesses, and what it refuses. Wine creates classes from the machine's
// registrations only, so the user-level switch is checked by what the
// command writes and reads back, not by creating the class.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace
