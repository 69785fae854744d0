// The component layer's Windows backend: classes created through
// CoCreateInstance from the system registry, descriptions read through
// ISupportErrorInfo and GetErrorInfo, the system's messages for codes that
// come without one, and the system's strings.

#include <gtest/gtest.h>
#include <monvia/component/bstr.h>
#include <monvia/component/com_ptr.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "com/registry.h"
#include "registration_root.h"
#include "runtime/failure.h"
#include "test_env.h"
#include "test_widget.h"

using namespace monvia;
using namespace monvia::com;
using namespace monvia::com::testing;
namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& s) {
    const std::u16string u = utf8_to_utf16(s);
    return {reinterpret_cast<const wchar_t*>(u.data()), u.size()};
}

// A class registration written for one test and removed after it, where
// regsvr32 writes one: for the user, or for the machine when elevated.
class ScopedClass {
public:
    ScopedClass(const Guid& clsid, const fs::path& server)
        : root_(cashsim::registration_root()), key_(L"Software\\Classes\\CLSID\\" + wide(to_string(clsid))) {
        const std::wstring inproc = key_ + L"\\InprocServer32";
        const std::wstring path = server.wstring();
        EXPECT_EQ(RegSetKeyValueW(root_, inproc.c_str(), nullptr, REG_SZ, path.c_str(),
                                  static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        const std::wstring model = L"Apartment";
        EXPECT_EQ(RegSetKeyValueW(root_, inproc.c_str(), L"ThreadingModel", REG_SZ, model.c_str(),
                                  static_cast<DWORD>((model.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~ScopedClass() { RegDeleteTreeW(root_, key_.c_str()); }

private:
    HKEY root_;
    std::wstring key_;
};

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

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

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

TEST_F(WidgetServer, ACreatedObjectIsCalledThroughItsInterface) {
    ScopedClass cls(CLSID_TestWidget, MONVIA_WIDGET_SERVER);
    auto widget = registry_.create<ITestWidget>(CLSID_TestWidget, IID_ITestWidget);
    ASSERT_TRUE(widget);
    int32_t sum = 0;
    EXPECT_EQ(widget->Add(2, 3, &sum), S_OK);
    EXPECT_EQ(sum, 5);
    int32_t live = 0;
    EXPECT_EQ(widget->LiveCount(&live), S_OK);
    EXPECT_EQ(live, 1);
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

// A class registered with a library that is missing, is not a library, or
// exports no class object: the failure carries the system's code and reason
// and names the library, as the panel's unhandled-failure report shows it.
TEST_F(WidgetServer, ABrokenServerGivesTheSystemsReason) {
    const fs::path dir =
        fs::temp_directory_path() / ("monvia-com-" + std::to_string(testing_env::process_id()));
    fs::create_directories(dir);
    const fs::path missing = dir / "missing.dll";
    const fs::path text_file = dir / "not_a_library.dll";
    std::ofstream(text_file) << "this is text, not a library\n";

    // Windows and Wine name some of these failures differently; either is
    // the system's reason.
    const HRESULT dll_not_found = hr(0x800401F8);  // CO_E_DLLNOTFOUND
    const struct {
        const char* what;
        fs::path server;
        std::vector<HRESULT> codes;
    } cases[] = {
        {"missing", missing, {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), E_ACCESSDENIED}},
        {"not a library",
         text_file,
         {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), CO_E_ERRORINDLL, E_ACCESSDENIED}},
        {"no class object", MONVIA_NO_CLASS_OBJECT, {CO_E_ERRORINDLL, dll_not_found}},
    };
    for (const auto& c : cases) {
        ScopedClass cls(CLSID_Nobody, c.server);
        const Failure f = creation_failure(registry_, CLSID_Nobody, IID_IUnknown);
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), f.number()), c.codes.end())
            << c.what << ": " << hex(f.number()) << " " << f.description();
        ASSERT_FALSE(describe(f.number()).empty()) << hex(f.number());
        EXPECT_EQ(f.description().rfind(describe(f.number()) + ": " + quoted(c.server), 0), 0u)
            << c.what << ": " << f.description();
        // Whatever the system calls it, a missing file is said to be missing.
        EXPECT_EQ(f.description().find("(the file does not exist)") != std::string::npos, c.server == missing)
            << c.what;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
