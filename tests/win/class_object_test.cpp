// The class objects of the simulator DLL and the journal DLL, called as the
// system calls them: which class and interfaces they answer for, what they
// refuse, and when each DLL says it may be unloaded (a reference to the class
// object, a server lock, a live object all keep it).

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <ostream>
#include <string>

using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;

namespace {

using monvia::com::hex;

// Any other class.
constexpr GUID kOtherClass = {0x6d1b3c0e, 0x2f4a, 0x4b8e, {0x9c, 0x11, 0x3a, 0x5e, 0x70, 0x42, 0x8d, 0x19}};

struct Server {
    const char* name;
    const wchar_t* path;
};

void PrintTo(const Server& server, std::ostream* out) { *out << server.name; }

const Server kServers[] = {{"simulator", MONVIA_SIMULATOR_DLL}, {"journal", MONVIA_JOURNAL_DLL}};

class ClassObject : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(GetParam().path);
        ASSERT_NE(module_, nullptr) << "cannot load the " << GetParam().name << " DLL";
        get_ = reinterpret_cast<LPFNGETCLASSOBJECT>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        can_unload_ =
            reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_TRUE(get_ && can_unload_);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    IClassFactory* factory() {
        IClassFactory* f = nullptr;
        EXPECT_EQ(get_(CLSID_CashDevice, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
        return f;
    }
    std::string can_unload() { return can_unload_() == S_OK ? "may go" : "stays"; }

    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    HMODULE module_ = nullptr;
    LPFNGETCLASSOBJECT get_ = nullptr;
    CanUnload can_unload_ = nullptr;
};

TEST_P(ClassObject, AnswersForItsClassAsAClassFactoryOnly) {
    struct Case {
        const GUID& clsid;
        const GUID& iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {CLSID_CashDevice, IID_IClassFactory, S_OK},
        {CLSID_CashDevice, IID_IUnknown, S_OK},
        {CLSID_CashDevice, IID_IDispatch, E_NOINTERFACE},
        {CLSID_CashDevice, IID_ICashDevice, E_NOINTERFACE},
        {kOtherClass, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        const HRESULT h = get_(c.clsid, c.iid, reinterpret_cast<void**>(&object));
        EXPECT_EQ(hex(h), hex(c.expected));
        if (SUCCEEDED(h))
            object->Release();
        else
            EXPECT_EQ(object, nullptr) << "a refusal leaves no pointer behind";
    }
    EXPECT_EQ(hex(get_(CLSID_CashDevice, IID_IClassFactory, nullptr)), hex(E_POINTER));
    EXPECT_EQ(can_unload(), "may go");
}

TEST_P(ClassObject, ReferencesAndLocksKeepTheDllLoadedUntilTheyAreGiven) {
    IClassFactory* f = factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(can_unload(), "stays") << "a reference to the class object";
    IClassFactory* again = nullptr;
    ASSERT_EQ(f->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&again)), S_OK);
    f->Release();
    EXPECT_EQ(can_unload(), "stays") << "a second reference";
    EXPECT_EQ(again->LockServer(TRUE), S_OK);
    again->Release();
    EXPECT_EQ(can_unload(), "stays") << "a lock without a reference";

    f = factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->LockServer(FALSE), S_OK);
    f->Release();
    EXPECT_EQ(can_unload(), "may go");
}

TEST_P(ClassObject, RefusesAggregationAndANullResult) {
    IClassFactory* f = factory();
    ASSERT_NE(f, nullptr);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(hex(f->CreateInstance(f, IID_IUnknown, reinterpret_cast<void**>(&object))),
              hex(CLASS_E_NOAGGREGATION));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(hex(f->CreateInstance(nullptr, IID_ICashDevice, nullptr)), hex(E_POINTER));
    f->Release();
    EXPECT_EQ(can_unload(), "may go");
}

INSTANTIATE_TEST_SUITE_P(Servers, ClassObject, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

// The simulator makes its object without a registration; the object keeps
// the DLL loaded as long as it lives.
TEST(SimulatorClassObject, AnObjectKeepsTheDllLoadedWhileItLives) {
    const HMODULE module = LoadLibraryW(MONVIA_SIMULATOR_DLL);
    ASSERT_NE(module, nullptr);
    const auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(get && can_unload);
    IClassFactory* f = nullptr;
    ASSERT_EQ(get(CLSID_CashDevice, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    ICashDevice* device = nullptr;
    EXPECT_EQ(hex(f->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&device))),
              hex(E_NOINTERFACE));
    EXPECT_EQ(device, nullptr);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ICashDevice, reinterpret_cast<void**>(&device)), S_OK);
    f->Release();
    EXPECT_EQ(can_unload(), S_FALSE) << "the object is alive";
    VARIANT_BOOL connected = VARIANT_TRUE;
    EXPECT_EQ(device->get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_FALSE);
    device->Release();
    EXPECT_EQ(can_unload(), S_OK);
    FreeLibrary(module);
}

}  // namespace
