// The simulator bound late, by name, through its type library, as a script
// or an automation tool calls it: a session of the panel's operations with
// a scripted refusal and a scripted interface failure gives, call by call,
// what the same session gives through the vtable; both ways share one
// object; bad dispatch input gets the standard dispatch errors.

#include <gtest/gtest.h>
#include <monvia/component/cash_device.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cash_device_callers.h"
#include "test_env.h"

using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;
namespace fs = std::filesystem;
using namespace monvia::testing::callers;

namespace {

// A scripted fault for the session: the second Pay is refused, the second
// GetLevels fails at the interface level.
constexpr const char* kScenario =
    "Pay#2 false code=2 text=\"Hopper empty\"\n"
    "GetLevels#2 hresult=0x80004005 description=\"Hopper fault, call service\"\n";

std::vector<std::string> session(Caller& c) {
    return {c.put_host(L"localhost"), c.connect(), c.charge(125),  c.pay(50),
            c.get_levels(2),          c.pay(30),   c.last_error(), c.get_levels(3),
            c.put_last_error_code(5)};
}

class LateBinding : public ::testing::Test {
protected:
    ~LateBinding() override {
        std::error_code ec;
        if (!scenario_.empty()) fs::remove(scenario_, ec);
    }
    // A new simulator object created through the system's registry, with
    // the scenario when one is given.
    template <class I>
    Owned<I> create(const IID& iid, const char* scenario = nullptr) {
        if (scenario) {
            scenario_ = fs::temp_directory_path() /
                        ("monvia-late-" + std::to_string(monvia::testing_env::process_id()) + ".txt");
            std::ofstream(scenario_) << scenario;
            monvia::testing_env::set_env("MONVIA_CASHDEVICE_SCENARIO", scenario_.string());
        }
        Owned<I> object;
        const HRESULT h = CoCreateInstance(CLSID_CashDevice, nullptr, CLSCTX_INPROC_SERVER, iid,
                                           reinterpret_cast<void**>(&object.p));
        monvia::testing_env::unset_env("MONVIA_CASHDEVICE_SCENARIO");
        EXPECT_EQ(h, S_OK) << hex(h);
        return object;
    }
    fs::path scenario_;
};

TEST_F(LateBinding, ASessionByNameAnswersAsTheSameSessionThroughTheVtable) {
    auto early = create<ICashDevice>(IID_ICashDevice, kScenario);
    ASSERT_TRUE(early.p);
    VtableCaller vtable(early.p);
    const auto through_vtable = session(vtable);

    auto late = create<IDispatch>(IID_IDispatch, kScenario);
    ASSERT_TRUE(late.p);
    LateCaller by_name(late.p);
    const auto by_name_lines = session(by_name);

    std::cout << "session (" << (sizeof(void*) * 8) << "-bit), through the vtable | by name:\n";
    for (size_t i = 0; i < through_vtable.size(); ++i)
        std::cout << "  " << through_vtable[i] << "\n  " << (i < by_name_lines.size() ? by_name_lines[i] : "")
                  << "\n";
    EXPECT_EQ(by_name_lines, through_vtable);
    // The session did what it says: the scripted faults and the machine's
    // answers.
    EXPECT_EQ(through_vtable[2], "Charge(125) = True, inserted 200, returned 75");
    EXPECT_EQ(through_vtable[3], "Pay(50) = True, paid 50");
    EXPECT_EQ(through_vtable[5], "Pay(30) = False, paid 0");
    EXPECT_EQ(through_vtable[6], "LastErrorCode 2, LastErrorText Hopper empty");
    EXPECT_EQ(through_vtable[7], "GetLevels(3) failed 80004005 Hopper fault, call service");
    EXPECT_EQ(
        through_vtable[8],
        "LastErrorCode failed 80004001 LastErrorCode is read-only: it tells the machine's last failure");
}

TEST_F(LateBinding, BothWaysReachOneObjectAndItsMachine) {
    auto early = create<ICashDevice>(IID_ICashDevice);
    Owned<IDispatch> late;
    ASSERT_EQ(early->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&late.p)), S_OK);
    LateCaller by_name(late.p);
    EXPECT_EQ(by_name.put_host(L"localhost"), "Host = localhost");
    EXPECT_EQ(by_name.connect(), "Connect() = True");
    // Connected through the vtable, after Connect by name.
    VARIANT_BOOL connected = 0;
    ASSERT_EQ(early->get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_TRUE);
    // Money charged by name is in the levels the vtable reads.
    BSTR denoms = nullptr, quantities = nullptr;
    int32_t before = 0, after = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(early->GetAmounts(&denoms, &quantities, &before, &ok), S_OK);
    EXPECT_EQ(by_name.charge(125), "Charge(125) = True, inserted 200, returned 75");
    ASSERT_EQ(early->GetAmounts(&denoms, &quantities, &after, &ok), S_OK);
    EXPECT_EQ(after - before, 125);
    SysFreeString(denoms);
    SysFreeString(quantities);
}

TEST_F(LateBinding, TheTypeInformationIsTheContractsOwn) {
    auto late = create<IDispatch>(IID_IDispatch);
    UINT count = 0;
    ASSERT_EQ(late->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Owned<ITypeInfo> info;
    ASSERT_EQ(late->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info.p), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ICashDevice));
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    info->ReleaseTypeAttr(attr);
    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(late->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(late->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    EXPECT_EQ(late->GetTypeInfoCount(nullptr), E_POINTER);
}

TEST_F(LateBinding, AnUnknownNameIsRefusedForThatName) {
    auto late = create<IDispatch>(IID_IDispatch);
    struct Case {
        std::vector<const wchar_t*> names;
        HRESULT status;
        std::vector<DISPID> ids;  // DISPID_UNKNOWN where the name is unknown
    };
    const Case cases[] = {
        {{L"Charge"}, S_OK, {11}},
        {{L"charge"}, S_OK, {11}},  // names are not case-sensitive
        {{L"Chrage"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{L"Charge", L"amount", L"inserted"}, S_OK, {11, 0, 1}},
        {{L"Charge", L"amount", L"bogus"}, DISP_E_UNKNOWNNAME, {11, 0, DISPID_UNKNOWN}},
    };
    for (const Case& c : cases) {
        std::vector<LPOLESTR> names;
        for (const wchar_t* n : c.names) names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ids(names.size(), 12345);
        SCOPED_TRACE(narrow(c.names.back()));
        EXPECT_EQ(late->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                      LOCALE_USER_DEFAULT, ids.data()),
                  c.status);
        EXPECT_EQ(ids, c.ids);
    }
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Charge");
    EXPECT_EQ(late->GetIDsOfNames(IID_ICashDevice, &name, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(late->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
}

TEST_F(LateBinding, BadInvocationsGetTheStandardDispatchErrors) {
    auto late = create<IDispatch>(IID_IDispatch);
    LateCaller by_name(late.p);
    ASSERT_EQ(by_name.put_host(L"localhost"), "Host = localhost");
    long out = 0;
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"a lot");
    VARIANT number_text;
    V_VT(&number_text) = VT_BSTR;
    V_BSTR(&number_text) = SysAllocString(L"50");
    struct Case {
        const char* what;
        const wchar_t* name;
        WORD flags;
        std::vector<VARIANT> args;
        HRESULT status;
        UINT arg_error;  // checked for DISP_E_TYPEMISMATCH: the reversed index
    };
    const Case cases[] = {
        {"too few arguments", L"Pay", DISPATCH_METHOD, {LateCaller::by_value(50)}, DISP_E_BADPARAMCOUNT, 0},
        {"no arguments", L"Charge", DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT, 0},
        {"too many arguments",
         L"Pay",
         DISPATCH_METHOD,
         {LateCaller::by_value(50), LateCaller::by_reference(&out), LateCaller::by_value(1)},
         DISP_E_BADPARAMCOUNT,
         0},
        {"an amount that is no number",
         L"Pay",
         DISPATCH_METHOD,
         {text, LateCaller::by_reference(&out)},
         DISP_E_TYPEMISMATCH,
         1},
        {"an amount in a text, converted",
         L"Pay",
         DISPATCH_METHOD,
         {number_text, LateCaller::by_reference(&out)},
         S_OK,
         0},
        {"writing a read-only property",
         L"Connected",
         DISPATCH_PROPERTYPUT,
         {LateCaller::by_value(1)},
         DISP_E_MEMBERNOTFOUND,
         0},
        {"calling a property as a method",
         L"Connected",
         DISPATCH_METHOD,
         {LateCaller::by_value(1)},
         DISP_E_MEMBERNOTFOUND,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LateCaller::Call call;
        call.arg_error = 999;
        by_name.invoke(call, c.name, c.flags, c.args);
        EXPECT_EQ(call.status, c.status) << hex(call.status);
        if (c.status == DISP_E_TYPEMISMATCH) {
            EXPECT_EQ(call.arg_error, c.arg_error);
        }
    }
    VariantClear(&text);
    VariantClear(&number_text);

    // No result variant: the call runs and nothing crashes.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(late->Invoke(by_name.id(L"Connect"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                           nullptr, nullptr, nullptr),
              S_OK);
    Owned<ICashDevice> early;
    ASSERT_EQ(late->QueryInterface(IID_ICashDevice, reinterpret_cast<void**>(&early.p)), S_OK);
    VARIANT_BOOL connected = 0;
    EXPECT_EQ(early->get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_TRUE);
    // No parameters at all, an unknown member, another interface.
    EXPECT_EQ(late->Invoke(by_name.id(L"Connect"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr,
                           nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(
        late->Invoke(999, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(late->Invoke(by_name.id(L"Connect"), IID_ICashDevice, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                           &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    // A failing member without an EXCEPINFO to fill: the status alone.
    LateCaller::Call call;
    VARIANT code;
    V_VT(&code) = VT_I2;
    V_I2(&code) = 1;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS one{&code, &put, 1, 1};
    EXPECT_EQ(late->Invoke(by_name.id(L"LastErrorCode"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                           &one, nullptr, nullptr, nullptr),
              DISP_E_EXCEPTION);
}

}  // namespace
