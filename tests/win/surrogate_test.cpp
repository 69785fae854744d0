// The system's surrogate for the simulator: monvia-register's AppID and
// DllSurrogate entries added to and removed from the registered class, and
// a client that asks for a local server driving the simulator in another
// process (dllhost) through the type library marshaller, once the command
// has given the class its surrogate.

#include "com/surrogate.h"

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "register_command.h"
#include "registration_root.h"

using namespace monvia::com;
using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;

namespace {

using monvia::com::hex;

std::string narrow(const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

using win::Bitness;
using win::Scope;

const Bitness kMine = sizeof(void*) == 8 ? Bitness::Bits64 : Bitness::Bits32;

// Where regsvr32 registered the simulator for these tests.
Scope registered_scope() {
    return monvia::cashsim::registration_root() == HKEY_LOCAL_MACHINE ? Scope::Machine : Scope::User;
}

bool listed(const Guid& clsid, Bitness view = kMine) {
    const auto entry = read_surrogate(clsid, view, registered_scope());
    return entry && entry->has_surrogate;
}

// The system's dllhost of this program's bitness. An empty DllSurrogate
// means the system's dllhost too, but Wine 8 then starts the 32-bit one for
// a 64-bit client whatever the class's bitness; naming it works on both.
// For a 32-bit program on a 64-bit Windows it is SysWOW64's: the system
// reads the path as a 64-bit program does.
std::string own_bitness_dllhost() {
    wchar_t folder[MAX_PATH] = {};
    if (sizeof(void*) == 8 || GetSystemWow64DirectoryW(folder, MAX_PATH) == 0)
        GetSystemDirectoryW(folder, MAX_PATH);
    return narrow(folder) + "\\dllhost.exe";
}

// Under Wine the surrogate is this process's child and stays after its last
// object is gone; it is ended here so that it does not outlive the test.
// (On Windows the system starts it and ends it.)
void end_surrogates_started_here() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId() ||
            _wcsicmp(entry.szExeFile, L"dllhost.exe") != 0)
            continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

class Surrogate : public ::testing::Test {
protected:
    void TearDown() override { remove_surrogate(CLSID_CashDevice, kMine, scope_); }
    HKEY root_ = monvia::cashsim::registration_root();
    Scope scope_ = registered_scope();
};

TEST_F(Surrogate, AddingAndRemovingChangeOnlyTheClasssSurrogateEntries) {
    const SurrogateOutcome added = add_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_TRUE(added.ok) << added.message;
    EXPECT_TRUE(added.changed);
    const SurrogateOutcome again = add_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_TRUE(again.ok) << again.message;
    EXPECT_FALSE(again.changed) << "adding twice changed something";
    const SurrogateOutcome other = add_surrogate(CLSID_CashDevice, kMine, scope_, "C:\\other\\host.exe");
    EXPECT_FALSE(other.ok) << "a second surrogate replaced the first";
    const auto entry = read_surrogate(CLSID_CashDevice, kMine, scope_);
    ASSERT_TRUE(entry);
    std::cout << "read: AppID " << entry->app_id << " DllSurrogate \"" << entry->surrogate << "\"\n";
    EXPECT_EQ(entry->app_id, to_string(CLSID_CashDevice));
    EXPECT_TRUE(entry->has_surrogate);
    EXPECT_EQ(entry->surrogate, "");
    EXPECT_TRUE(entry->ours);

    const SurrogateOutcome removed = remove_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_TRUE(removed.ok && removed.changed) << removed.message;
    EXPECT_FALSE(read_surrogate(CLSID_CashDevice, kMine, scope_));
    HKEY app = nullptr;
    EXPECT_NE(RegOpenKeyExW(root_, L"Software\\Classes\\AppID\\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}", 0,
                            KEY_READ | KEY_WOW64_64KEY, &app),
              ERROR_SUCCESS)
        << "the AppID key stayed";
    if (app) RegCloseKey(app);
    const SurrogateOutcome nothing = remove_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_TRUE(nothing.ok) << nothing.message;
    EXPECT_FALSE(nothing.changed);
}

TEST_F(Surrogate, AClassThatIsNotRegisteredOrNamesAnotherAppIdIsLeftAlone) {
    const Guid unknown = guid("{5D0C3E7A-9B41-4F28-A6E3-2B7C9D1E4F80}");
    const SurrogateOutcome refused = add_surrogate(unknown, kMine, scope_);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("has no in-process registration"), std::string::npos) << refused.message;
    EXPECT_FALSE(listed(unknown));

    // The class names an AppID of another tool: neither adding nor removing
    // touches it.
    const std::wstring class_key = L"Software\\Classes\\CLSID\\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}";
    const std::wstring other = L"{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}";
    ASSERT_EQ(RegSetKeyValueW(root_, class_key.c_str(), L"AppID", REG_SZ, other.c_str(),
                              static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const SurrogateOutcome kept = add_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_FALSE(kept.ok);
    EXPECT_NE(kept.message.find("already names the AppID"), std::string::npos) << kept.message;
    const SurrogateOutcome left = remove_surrogate(CLSID_CashDevice, kMine, scope_);
    EXPECT_FALSE(left.ok || left.changed) << left.message;
    wchar_t value[64];
    DWORD bytes = sizeof value;
    ASSERT_EQ(RegGetValueW(root_, class_key.c_str(), L"AppID", RRF_RT_REG_SZ, nullptr, value, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), other);
    RegDeleteKeyValueW(root_, class_key.c_str(), L"AppID");
}

// A client of another process, after monvia-register --surrogate: the
// object lives in the surrogate and is reached through a proxy; its
// failures' descriptions cross too.
TEST_F(Surrogate, ALocalClientDrivesTheSimulatorInTheSurrogate) {
    std::ostringstream out, err;
    ASSERT_EQ(monvia::reg::run({"--surrogate", own_bitness_dllhost()}, out, err), monvia::reg::kDone)
        << err.str();
    std::cout << "monvia-register --surrogate " << own_bitness_dllhost() << ":\n" << out.str();
    ICashDevice* device = nullptr;
    const HRESULT h = CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_LOCAL_SERVER, IID_ICashDevice,
                                       reinterpret_cast<void**>(&device));
    std::cout << "CoCreateInstance(CLSCTX_LOCAL_SERVER) with DllSurrogate: " << hex(h) << "\n";
    ASSERT_EQ(h, S_OK);
    // A proxy answers IMultiQI; the object itself does not.
    IUnknown* multi = nullptr;
    EXPECT_EQ(device->QueryInterface(IID_IMultiQI, reinterpret_cast<void**>(&multi)), S_OK) << "not a proxy";
    if (multi) multi->Release();

    BSTR host = SysAllocString(L"localhost");
    EXPECT_EQ(device->put_Host(host), S_OK);
    SysFreeString(host);
    VARIANT_BOOL ok = 0;
    EXPECT_EQ(device->Connect(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    int32_t inserted = 0, returned = 0, paid = 0;
    EXPECT_EQ(device->Charge(125, &inserted, &returned, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(inserted, 200);
    EXPECT_EQ(returned, 75);
    EXPECT_EQ(device->Pay(50, &paid, &ok), S_OK);
    EXPECT_EQ(paid, 50);
    BSTR denoms = nullptr, levels = nullptr;
    EXPECT_EQ(device->GetLevels(2, &denoms, &levels, &ok), S_OK);
    EXPECT_EQ(narrow(denoms), "5;10;20;50;100;200;500;1000;2000;5000;10000;20000");
    std::cout << "out of process: Charge 125 inserted " << inserted << " returned " << returned
              << ", Pay 50 paid " << paid << ", GetLevels 2 " << narrow(levels) << "\n";
    SysFreeString(denoms);
    SysFreeString(levels);
    // A failing member's status crosses; its error object crosses where
    // the system carries it between processes (Windows does, Wine 8 does
    // not), and then it is the member's own.
    EXPECT_EQ(device->put_LastErrorCode(1), E_NOTIMPL);
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        info->GetDescription(&description);
        EXPECT_EQ(narrow(description), "LastErrorCode is read-only: it tells the machine's last failure");
        SysFreeString(description);
        info->Release();
    } else {
        std::cout << "the failure's error object did not cross the process boundary\n";
    }
    device->Release();
    end_surrogates_started_here();

    // Without the surrogate there is no local server for the class.
    std::ostringstream gone_out, gone_err;
    ASSERT_EQ(monvia::reg::run({"--unregister", "--surrogate"}, gone_out, gone_err), monvia::reg::kDone)
        << gone_err.str();
    std::cout << "monvia-register --unregister --surrogate:\n" << gone_out.str();
    const HRESULT gone = CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_LOCAL_SERVER, IID_ICashDevice,
                                          reinterpret_cast<void**>(&device));
    std::cout << "CoCreateInstance(CLSCTX_LOCAL_SERVER) without it: " << hex(gone) << "\n";
    EXPECT_TRUE(FAILED(gone));
}

// A 64-bit client and the 32-bit simulator, registered in the 32-bit view
// of the registry, reached through the system's 32-bit dllhost.
TEST_F(Surrogate, A64BitClientDrivesThe32BitSimulatorInTheSurrogate) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "this is a 32-bit client";
    HKEY key = nullptr;
    const std::wstring server =
        L"Software\\Classes\\CLSID\\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}\\InprocServer32";
    if (RegOpenKeyExW(root_, server.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        GTEST_SKIP()
            << "no 32-bit simulator is registered (it needs the 32-bit build, and wine32 under Wine)";
    RegCloseKey(key);
    const SurrogateOutcome added = add_surrogate(CLSID_CashDevice, Bitness::Bits32, scope_);
    ASSERT_TRUE(added.ok) << added.message;
    ICashDevice* device = nullptr;
    const HRESULT h =
        CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_ACTIVATE_32_BIT_SERVER,
                         IID_ICashDevice, reinterpret_cast<void**>(&device));
    std::cout << "CoCreateInstance(CLSCTX_LOCAL_SERVER, 32-bit server): " << hex(h) << "\n";
    if (SUCCEEDED(h)) {
        int32_t inserted = 0, returned = 0;
        VARIANT_BOOL ok = 0;
        BSTR host = SysAllocString(L"localhost");
        EXPECT_EQ(device->put_Host(host), S_OK);
        SysFreeString(host);
        EXPECT_EQ(device->Connect(&ok), S_OK);
        EXPECT_EQ(device->Charge(125, &inserted, &returned, &ok), S_OK);
        EXPECT_EQ(returned, 75);
        device->Release();
    }
    end_surrogates_started_here();
    remove_surrogate(CLSID_CashDevice, Bitness::Bits32, scope_);
    EXPECT_EQ(h, S_OK);
}

}  // namespace
