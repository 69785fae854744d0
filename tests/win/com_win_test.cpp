// The component layer's Windows backend: classes created through
// CoCreateInstance from the system registry, descriptions read through
// ISupportErrorInfo and GetErrorInfo, the system's messages for codes that
// come without one, and the system's strings.

#include <gtest/gtest.h>
#include <monvia/component/bstr.h>
#include <monvia/component/com_ptr.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "com/registry.h"
#include "com/win_classes.h"
#include "registration_root.h"
#include "runtime/failure.h"
#include "scoped_class.h"
#include "test_env.h"
#include "test_widget.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;
namespace fs = std::filesystem;

namespace {

Failure failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& f) {
        return f;
    }
    ADD_FAILURE() << "no failure";
    return Failure(0, "");
}

Failure creation_failure(ClassRegistry& registry, const Guid& clsid, const Guid& iid) {
    return failure_of([&] { registry.create<IUnknown>(clsid, iid); });
}

TEST(WindowsComBackend, TheProgramsThreadIsInASingleThreadedApartment) {
    // Entering a multi-threaded apartment now is refused: the test's main
    // (like the programs') entered a single-threaded one.
    const HRESULT h = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(h)) CoUninitialize();
    EXPECT_EQ(h, RPC_E_CHANGED_MODE);
}

TEST(WindowsComBackend, LayerStringsAreTheSystemsStrings) {
    Bstr s("Grüße €");
    EXPECT_EQ(SysStringLen(s.get()), 7u);
    EXPECT_EQ(s.utf8(), "Grüße €");
    // A string the system allocated is read and freed by the layer.
    Bstr from_system;
    *from_system.inout() = SysAllocString(L"abc");
    EXPECT_EQ(from_system.utf8(), "abc");
    EXPECT_EQ(from_system.size(), 3u);
}

TEST(WindowsComBackend, CodesWithoutADescriptionGetTheSystemsMessage) {
    // The system's text without its closing full stop and line break.
    for (HRESULT h : {E_INVALIDARG, E_OUTOFMEMORY, REGDB_E_CLASSNOTREG}) {
        const std::string text = describe(h);
        ASSERT_FALSE(text.empty()) << hex(h);
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), '.');
        const Failure f = failure_of([&] { check(h); });
        EXPECT_EQ(f.number(), h);
        EXPECT_EQ(f.description(), text);
    }
}

class WidgetServer : public ::testing::Test {
protected:
    // Constructed with a directory, the registry creates classes from the
    // system registry, as the programs' process registry does.
    ClassRegistry registry_{fs::path()};
};

// The registry and the system read the registered path as it is: spaces
// and characters outside ASCII included.
TEST_F(WidgetServer, ACreatedObjectIsCalledThroughItsInterface) {
    const ScopedFolder dir("monvia Grüße Ω 漢字");
    const fs::path copy = dir.path() / fs::u8path("widget server é.dll");
    fs::copy_file(MONVIA_WIDGET_SERVER, copy);
    for (const fs::path& server : {fs::path(MONVIA_WIDGET_SERVER), copy}) {
        ScopedClass cls(CLSID_TestWidget, server);
        auto widget = registry_.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
        ASSERT_TRUE(widget) << quoted(server);
        int32_t sum = 0;
        EXPECT_EQ(widget->Add(2, 3, &sum), S_OK);
        EXPECT_EQ(sum, 5);
        int32_t live = 0;
        EXPECT_EQ(widget->LiveCount(&live), S_OK);
        EXPECT_EQ(live, 1);
        wchar_t loaded[MAX_PATH] = {};
        HMODULE module = nullptr;
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(*reinterpret_cast<void**>(widget.get())), &module);
        GetModuleFileNameW(module, loaded, MAX_PATH);
        EXPECT_TRUE(fs::equivalent(fs::path(loaded), server)) << quoted(server);
    }
}

TEST_F(WidgetServer, AFailuresDescriptionComesThroughTheErrorObject) {
    ScopedClass cls(CLSID_TestWidget, MONVIA_WIDGET_SERVER);
    auto widget = registry_.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    int32_t sum = 0;
    const HRESULT h = widget->Add(INT_MAX, 1, &sum);
    EXPECT_EQ(h, E_INVALIDARG);
    const Failure f = failure_of([&] { check(h, widget.get(), IID_ITestWidget); });
    EXPECT_EQ(f.number(), E_INVALIDARG);
    EXPECT_EQ(f.description(), "The sum 2147483648 does not fit 32 bits");

    // A later failure without a description is not given the stale one.
    const HRESULT bare = widget->Add(1, 1, nullptr);
    EXPECT_EQ(bare, E_POINTER);
    const Failure g = failure_of([&] { check(bare, widget.get(), IID_ITestWidget); });
    EXPECT_EQ(g.description(), describe(E_POINTER));
}

TEST_F(WidgetServer, AnInterfaceTheObjectDoesNotHaveIsRefusedWithItsName) {
    ScopedClass cls(CLSID_TestWidget, MONVIA_WIDGET_SERVER);
    const Failure f = creation_failure(registry_, CLSID_TestWidget, IID_IDispatch);
    EXPECT_EQ(f.number(), E_NOINTERFACE);
    EXPECT_NE(f.description().find(to_string(IID_IDispatch)), std::string::npos) << f.description();
}

TEST_F(WidgetServer, ALibraryRegisteredInTheProcessIsLoadedFromItsPath) {
    registry_.register_library(CLSID_TestWidget, MONVIA_WIDGET_SERVER);
    auto widget = registry_.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    int32_t sum = 0;
    EXPECT_EQ(widget->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);

    registry_.register_library(CLSID_Nobody, MONVIA_NO_CLASS_OBJECT);
    const Failure f = creation_failure(registry_, CLSID_Nobody, IID_IUnknown);
    EXPECT_EQ(f.number(), CO_E_ERRORINDLL);
    EXPECT_NE(f.description().find("does not export DllGetClassObject"), std::string::npos)
        << f.description();
}

TEST_F(WidgetServer, AnUnregisteredClassSaysSo) {
    const Failure f = creation_failure(registry_, CLSID_Nobody, IID_IUnknown);
    EXPECT_EQ(f.number(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(f.description().rfind(describe(REGDB_E_CLASSNOTREG) + ": " + to_string(CLSID_Nobody), 0), 0u)
        << f.description();
}

// A class registered with a server that is missing, is not a DLL, is a DLL
// of the other bitness or exports no class object: the failure carries the
// system's code and names the file and what is wrong with it, read from the
// file itself, as the panel's unhandled-failure report shows it.
TEST_F(WidgetServer, ABrokenServerIsNamedWithItsCause) {
    const ScopedFolder dir("monvia-com");
    const fs::path missing = dir.path() / "missing.dll";
    const fs::path text_file = dir.path() / "not_a_library.dll";
    std::ofstream(text_file) << "this is text, not a library\n";
    const fs::path folder = dir.path() / "folder.dll";
    fs::create_directories(folder);
    const std::string mine = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    const std::string theirs = sizeof(void*) == 8 ? "32-bit" : "64-bit";
    const std::string their_panel = sizeof(void*) == 8 ? "Testing" : "Testing (64-bit components)";

    // Windows and Wine give some of these different codes (Wine answers a
    // missing or wrong-bitness DLL with E_ACCESSDENIED); either is the
    // system's, and the description does not depend on it.
    const HRESULT dll_not_found = hr(0x800401F8);  // CO_E_DLLNOTFOUND
    const HRESULT bad_format = HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    struct Case {
        const char* what;
        fs::path server;
        std::vector<HRESULT> codes;
        std::string problem;
    };
    std::vector<Case> cases = {
        {"missing", missing, {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), E_ACCESSDENIED}, "does not exist"},
        {"a folder",
         folder,
         {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), E_ACCESSDENIED, bad_format},
         "is a folder, not a DLL"},
        {"not a library",
         text_file,
         {bad_format, CO_E_ERRORINDLL, E_ACCESSDENIED},
         "is not a DLL (not a Windows executable file)"},
        {"no class object",
         MONVIA_NO_CLASS_OBJECT,
         {CO_E_ERRORINDLL, dll_not_found},
         "does not export DllGetClassObject, so it is not an in-process server"},
    };
#if defined(MONVIA_OTHER_BITNESS_DLL)
    cases.push_back({"other bitness",
                     MONVIA_OTHER_BITNESS_DLL,
                     {bad_format, E_ACCESSDENIED, REGDB_E_CLASSNOTREG},
                     "is a " + theirs + " DLL, which a " + mine + " program cannot load; the " + theirs +
                         " panel \"" + their_panel + "\" can"});
#endif
    for (const auto& c : cases) {
        ScopedClass cls(CLSID_Nobody, c.server);
        const Failure f = creation_failure(registry_, CLSID_Nobody, IID_IUnknown);
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), f.number()), c.codes.end())
            << c.what << ": " << hex(f.number()) << " " << f.description();
        ASSERT_FALSE(describe(f.number()).empty()) << hex(f.number());
        EXPECT_EQ(f.description(), describe(f.number()) + ": " + quoted(c.server) + " " + c.problem)
            << c.what;
    }
}

// Registered only in the other bitness's view, the class cannot be created
// here; the failure keeps the system's code and says where the class is and
// which panel loads it.
TEST_F(WidgetServer, AClassOfTheOtherBitnessNamesThePanelThatLoadsIt) {
    const std::string mine = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    const std::string theirs = sizeof(void*) == 8 ? "32-bit" : "64-bit";
    const std::string their_panel = sizeof(void*) == 8 ? "Testing" : "Testing (64-bit components)";
    const fs::path server = L"C:\\Program Files (x86)\\Vendor\\cash device.dll";
    ScopedClass cls(CLSID_Nobody, server, kOtherView);
    const Failure f = creation_failure(registry_, CLSID_Nobody, IID_IUnknown);
    EXPECT_EQ(f.number(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(f.description(), describe(REGDB_E_CLASSNOTREG) + ": " + to_string(CLSID_Nobody) +
                                   " is registered only for " + theirs + " programs, with " + quoted(server) +
                                   ", which a " + mine + " program cannot load; the " + theirs + " panel \"" +
                                   their_panel + "\" can");
}

// What each kind of file is, read from its headers without loading it.
TEST(ServerFiles, AreReadFromTheirHeaders) {
    using Kind = win::ServerFile::Kind;
    const ScopedFolder dir("monvia-files");
    const fs::path text_file = dir.path() / "text.dll", empty = dir.path() / "empty.dll";
    std::ofstream(text_file) << "MZ but nothing after it";
    std::ofstream{empty};
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const win::Bitness mine = win::process_bitness();
    const struct {
        fs::path file;
        Kind kind;
        win::Bitness bitness;
        bool exports;
    } cases[] = {
        {MONVIA_WIDGET_SERVER, Kind::Dll, mine, true},
        {MONVIA_NO_CLASS_OBJECT, Kind::Dll, mine, false},
#if defined(MONVIA_OTHER_BITNESS_DLL)
        {MONVIA_OTHER_BITNESS_DLL, Kind::Dll, win::other_bitness(mine), true},
#endif
        {self, Kind::NotADll, mine, false},
        {text_file, Kind::NotAnImage, win::Bitness::Unknown, false},
        {empty, Kind::NotAnImage, win::Bitness::Unknown, false},
        {dir.path(), Kind::Folder, win::Bitness::Unknown, false},
        {dir.path() / "missing.dll", Kind::Missing, win::Bitness::Unknown, false},
    };
    for (const auto& c : cases) {
        const win::ServerFile f = win::inspect_server(c.file);
        EXPECT_EQ(f.kind, c.kind) << quoted(c.file);
        EXPECT_EQ(f.bitness, c.bitness) << quoted(c.file);
        EXPECT_EQ(f.exports_class_object, c.exports) << quoted(c.file);
    }
}

// The clause a failure names a server file with, for each kind of file and
// each bitness of the process.
TEST(ServerFiles, WhatIsWrongWithEachIsSaid) {
    using Kind = win::ServerFile::Kind;
    using win::Bitness;
    const struct {
        win::ServerFile file;
        Bitness process;
        const char* problem;
    } cases[] = {
        {{Kind::Missing}, Bitness::Bits64, "does not exist"},
        {{Kind::Folder}, Bitness::Bits64, "is a folder, not a DLL"},
        {{Kind::Unreadable}, Bitness::Bits32, "cannot be read"},
        {{Kind::NotAnImage}, Bitness::Bits64, "is not a DLL (not a Windows executable file)"},
        {{Kind::NotADll, Bitness::Bits64, 0x8664}, Bitness::Bits64, "is a program, not a DLL"},
        {{Kind::Dll, Bitness::Bits32, 0x014C, true},
         Bitness::Bits64,
         "is a 32-bit DLL, which a 64-bit program cannot load; the 32-bit panel \"Testing\" can"},
        {{Kind::Dll, Bitness::Bits64, 0x8664, true},
         Bitness::Bits32,
         "is a 64-bit DLL, which a 32-bit program cannot load; the 64-bit panel \"Testing (64-bit "
         "components)\" can"},
        {{Kind::Dll, Bitness::Unknown, 0xAA64, true},
         Bitness::Bits64,
         "is a DLL for another kind of processor (machine AA64)"},
        {{Kind::Dll, Bitness::Bits64, 0x8664, false},
         Bitness::Bits64,
         "does not export DllGetClassObject, so it is not an in-process server"},
        {{Kind::Dll, Bitness::Bits32, 0x014C, false},
         Bitness::Bits32,
         "does not export DllGetClassObject, so it is not an in-process server"},
        {{Kind::Dll, Bitness::Bits64, 0x8664, true}, Bitness::Bits64, ""},
        {{Kind::Dll, Bitness::Bits32, 0x014C, true}, Bitness::Bits32, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(win::server_file_problem(c.file, c.process), c.problem) << c.problem;
}

}  // namespace
