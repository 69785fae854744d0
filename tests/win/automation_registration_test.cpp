// What the simulator's DllRegisterServer writes and DllUnregisterServer
// removes: the class, its type library, the interface key and the ProgIDs,
// listed from the registry itself. Registering twice changes nothing;
// unregistering leaves the registry exactly as it was; entries another
// server wrote stay.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <set>
#include <string>

#include "registration_root.h"

using monvia::device::CLSID_CashDevice;
using monvia::device::IID_ICashDevice;
using monvia::device::LIBID_MonviaCashDevice;

namespace {

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

std::wstring text(const GUID& g) {
    wchar_t buffer[40] = {};
    StringFromGUID2(g, buffer, 40);
    return buffer;
}

const std::wstring kClasses = L"Software\\Classes\\";
// Every place the simulator may write, under both roots.
const std::wstring kWatched[] = {
    L"CLSID\\" + text(CLSID_CashDevice), L"TypeLib\\" + text(LIBID_MonviaCashDevice),
    L"Interface\\" + text(IID_ICashDevice), L"Monvia.CashDeviceSimulator", L"Monvia.CashDeviceSimulator.1"};
const std::wstring kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

using Snapshot = std::set<std::string>;

// One line per key ("HKCU\...\Key") and per value ("HKCU\...\Key: Name = text").
void dump(HKEY root, const std::string& root_name, const std::wstring& path, Snapshot& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const std::string here = root_name + "\\" + narrow(path);
    out.insert(here);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD name_size = 256;
        BYTE data[8192];
        DWORD data_size = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS) break;
        std::string value = "(type " + std::to_string(type) + ")";
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[data_size] = data[data_size + 1] = 0;
            value = narrow(reinterpret_cast<const wchar_t*>(data));
        }
        out.insert(here + ": " + (name_size ? narrow(name) : "(default)") + " = " + value);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        dump(root, root_name, path + L"\\" + std::wstring(name, size), out);
    }
    RegCloseKey(key);
}

Snapshot snapshot() {
    Snapshot s;
    for (const auto& place : kWatched) {
        dump(HKEY_CURRENT_USER, "HKCU", kClasses + place, s);
        dump(HKEY_LOCAL_MACHINE, "HKLM", kClasses + place, s);
    }
    return s;
}

Snapshot minus(const Snapshot& a, const Snapshot& b) {
    Snapshot d;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(d, d.end()));
    return d;
}

void print(const char* title, const Snapshot& lines) {
    std::cout << title << " (" << lines.size() << "):\n";
    for (const auto& l : lines) std::cout << "  " << l << "\n";
}

bool has(const Snapshot& s, const std::string& line) { return s.count(line) != 0; }

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(MONVIA_SIMULATOR_DLL);
        ASSERT_NE(module_, nullptr) << "cannot load the simulator";
        register_ =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregister_ =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(register_ && unregister_);
        root_ = monvia::cashsim::registration_root();
        root_name_ = root_ == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU";
        // The simulator's path as the system gives it.
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(module_, path, MAX_PATH);
        self_ = narrow(path);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    std::string key(const std::wstring& below) const { return root_name_ + "\\" + narrow(kClasses + below); }

    using Entry = HRESULT(STDAPICALLTYPE*)();
    HMODULE module_ = nullptr;
    Entry register_ = nullptr;
    Entry unregister_ = nullptr;
    HKEY root_ = nullptr;
    std::string root_name_;
    std::string self_;
};

TEST_F(Registration, WritesTheClassTypeLibraryInterfaceAndProgIdsAndRemovesExactlyThose) {
    const Snapshot before = snapshot();
    ASSERT_EQ(register_(), S_OK);
    const Snapshot registered = snapshot();
    ASSERT_EQ(register_(), S_OK);
    EXPECT_EQ(snapshot(), registered) << "registering twice changed the registry";
    const Snapshot written = minus(registered, before);
    std::cout << "registered under " << root_name_ << "\n";
    print("written by DllRegisterServer", written);

    const std::string clsid = narrow(text(CLSID_CashDevice)), libid = narrow(text(LIBID_MonviaCashDevice));
    const std::string marshaller = "{00020424-0000-0000-C000-000000000046}";
    const std::wstring interface_key = L"Interface\\" + text(IID_ICashDevice);
    const std::wstring library_key = L"TypeLib\\" + text(LIBID_MonviaCashDevice) + L"\\1.0";
    for (const std::string& line : {
             key(L"CLSID\\" + text(CLSID_CashDevice) + L"\\InprocServer32") + ": (default) = " + self_,
             key(L"CLSID\\" + text(CLSID_CashDevice) + L"\\ProgID") +
                 ": (default) = Monvia.CashDeviceSimulator.1",
             key(L"CLSID\\" + text(CLSID_CashDevice) + L"\\VersionIndependentProgID") +
                 ": (default) = Monvia.CashDeviceSimulator",
             key(L"CLSID\\" + text(CLSID_CashDevice) + L"\\TypeLib") + ": (default) = " + libid,
             key(library_key + L"\\0\\" + kPlatform) + ": (default) = " + self_,
             key(interface_key + L"\\ProxyStubClsid32") + ": (default) = " + marshaller,
             key(interface_key + L"\\TypeLib") + ": (default) = " + libid,
             key(interface_key + L"\\TypeLib") + ": Version = 1.0",
             key(L"Monvia.CashDeviceSimulator.1\\CLSID") + ": (default) = " + clsid,
             key(L"Monvia.CashDeviceSimulator\\CLSID") + ": (default) = " + clsid,
             key(L"Monvia.CashDeviceSimulator\\CurVer") + ": (default) = Monvia.CashDeviceSimulator.1",
         })
        EXPECT_TRUE(has(written, line)) << "not written: " << line;

    // The system finds the type library, the class by its ProgIDs.
    BSTR path = nullptr;
    if (root_ == HKEY_LOCAL_MACHINE) {
        EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_MonviaCashDevice, 1, 0, 0, &path), S_OK);
        EXPECT_EQ(narrow(path ? path : L""), self_);
        SysFreeString(path);
    }
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(L"Monvia.CashDeviceSimulator", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, CLSID_CashDevice));

    ASSERT_EQ(unregister_(), S_OK);
    const Snapshot after = snapshot();
    print("removed by DllUnregisterServer", minus(registered, after));
    EXPECT_EQ(after, before) << "unregistering did not restore the registry";
    EXPECT_EQ(unregister_(), S_OK) << "unregistering where nothing is registered";
    EXPECT_EQ(snapshot(), before);
}

// An entry another server wrote; the key `owner` (below the classes) goes
// with it, as that server's unregistering would remove it.
class ForeignEntry {
public:
    ForeignEntry(HKEY root, const std::wstring& owner, const std::wstring& path, std::wstring value)
        : root_(root), owner_(kClasses + owner) {
        EXPECT_EQ(RegSetKeyValueW(root_, (owner_ + path).c_str(), nullptr, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~ForeignEntry() { RegDeleteTreeW(root_, owner_.c_str()); }

private:
    HKEY root_;
    std::wstring owner_;
};

TEST_F(Registration, LeavesTheTypeLibraryInterfaceAndProgIdsOfAnotherServer) {
    // Another server of the contract registered the same type library from
    // its own file, the interface with a type library of its own, and a
    // class of its own under one of the simulator's ProgIDs.
    const std::wstring other_library = L"{9A4F7C11-3B2D-4E6F-8A90-1C2D3E4F5A6B}";
    const Snapshot clean = snapshot();
    {
        ForeignEntry library(root_, L"TypeLib\\" + text(LIBID_MonviaCashDevice), L"\\1.0\\0\\" + kPlatform,
                             L"C:\\Program Files\\Vendor\\component.dll");
        ForeignEntry interface_key(root_, L"Interface\\" + text(IID_ICashDevice), L"\\TypeLib",
                                   other_library);
        ForeignEntry prog_id(root_, L"Monvia.CashDeviceSimulator", L"\\CLSID",
                             L"{11111111-2222-3333-4444-555555555555}");
        const Snapshot before = snapshot();
        ASSERT_EQ(register_(), S_OK);
        const Snapshot registered = snapshot();
        print("another server's entries: written by DllRegisterServer", minus(registered, before));
        EXPECT_TRUE(minus(before, registered).empty()) << "registering changed another server's entries";
        ASSERT_EQ(unregister_(), S_OK);
        EXPECT_EQ(snapshot(), before) << "unregistering removed or left something";
    }
    EXPECT_EQ(snapshot(), clean);
}

}  // namespace
