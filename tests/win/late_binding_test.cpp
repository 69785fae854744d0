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

#include "test_env.h"

using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;
namespace fs = std::filesystem;

namespace {

std::string narrow(const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

std::string hex(HRESULT h) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08lX", static_cast<unsigned long>(h));
    return buffer;
}

template <class T>
struct Owned {
    T* p = nullptr;
    ~Owned() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant&) = delete;
};

// A scripted fault for the session: the second Pay is refused, the second
// GetLevels fails at the interface level.
constexpr const char* kScenario =
    "Pay#2 false code=2 text=\"Hopper empty\"\n"
    "GetLevels#2 hresult=0x80004005 description=\"Hopper fault, call service\"\n";

// The session's calls, answered either way; each answer is one line.
class Caller {
public:
    virtual ~Caller() = default;
    virtual std::string put_host(const wchar_t* host) = 0;
    virtual std::string connect() = 0;
    virtual std::string charge(long amount) = 0;
    virtual std::string pay(long amount) = 0;
    virtual std::string get_levels(long kind) = 0;
    virtual std::string last_error() = 0;
    virtual std::string put_last_error_code(short code) = 0;
};

std::string boolean(VARIANT_BOOL b) { return b ? "True" : "False"; }

class VtableCaller final : public Caller {
public:
    explicit VtableCaller(ICashDevice* d) : d_(d) {}
    std::string put_host(const wchar_t* host) override {
        BSTR s = SysAllocString(host);
        const HRESULT h = d_->put_Host(s);
        SysFreeString(s);
        return outcome("Host = " + narrow(host), h);
    }
    std::string connect() override {
        VARIANT_BOOL ok = 0;
        const HRESULT h = d_->Connect(&ok);
        return outcome("Connect() = " + boolean(ok), h);
    }
    std::string charge(long amount) override {
        int32_t inserted = 0, returned = 0;
        VARIANT_BOOL ok = 0;
        const HRESULT h = d_->Charge(amount, &inserted, &returned, &ok);
        return outcome("Charge(" + std::to_string(amount) + ") = " + boolean(ok) + ", inserted " +
                           std::to_string(inserted) + ", returned " + std::to_string(returned),
                       h);
    }
    std::string pay(long amount) override {
        int32_t paid = 0;
        VARIANT_BOOL ok = 0;
        const HRESULT h = d_->Pay(amount, &paid, &ok);
        return outcome(
            "Pay(" + std::to_string(amount) + ") = " + boolean(ok) + ", paid " + std::to_string(paid), h);
    }
    std::string get_levels(long kind) override {
        BSTR denoms = nullptr, levels = nullptr;
        VARIANT_BOOL ok = 0;
        const HRESULT h = d_->GetLevels(kind, &denoms, &levels, &ok);
        const std::string line = "GetLevels(" + std::to_string(kind) + ") = " + boolean(ok) + ", Denoms " +
                                 narrow(denoms) + ", Levels " + narrow(levels);
        SysFreeString(denoms);
        SysFreeString(levels);
        return outcome(line, h);
    }
    std::string last_error() override {
        int16_t code = 0;
        BSTR text = nullptr;
        const HRESULT a = d_->get_LastErrorCode(&code);
        const HRESULT b = d_->get_LastErrorText(&text);
        const std::string line = "LastErrorCode " + std::to_string(code) + ", LastErrorText " + narrow(text);
        SysFreeString(text);
        return outcome(line, FAILED(a) ? a : b);
    }
    std::string put_last_error_code(short code) override {
        return outcome("LastErrorCode = " + std::to_string(code), d_->put_LastErrorCode(code));
    }

private:
    // A failing status with the description of the object's error object.
    static std::string outcome(const std::string& line, HRESULT h) {
        if (SUCCEEDED(h)) return line;
        std::string description;
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            BSTR text = nullptr;
            info->GetDescription(&text);
            description = narrow(text);
            SysFreeString(text);
            info->Release();
        }
        return line.substr(0, line.find(" = ")) + " failed " + hex(h) + " " + description;
    }
    ICashDevice* d_;
};

// Calls by name through IDispatch, arguments as variants, outputs by
// reference.
class LateCaller final : public Caller {
public:
    explicit LateCaller(IDispatch* d) : d_(d) {}

    struct Call {
        HRESULT status = E_FAIL;
        EXCEPINFO exception{};
        UINT arg_error = 0;
        Variant result;
        ~Call() {
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
    };

    DISPID id(const wchar_t* name) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(d_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << narrow(name);
        return id;
    }
    // Arguments in their natural order (the dispatcher takes them reversed).
    void invoke(Call& c, const wchar_t* name, WORD flags, std::vector<VARIANT> args) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (flags == DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        c.status =
            d_->Invoke(id(name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                       flags == DISPATCH_PROPERTYPUT ? nullptr : &c.result, &c.exception, &c.arg_error);
    }
    static VARIANT by_value(long v) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_I4;
        V_I4(&x) = v;
        return x;
    }
    static VARIANT by_reference(long* v) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_I4 | VT_BYREF;
        V_I4REF(&x) = v;
        return x;
    }
    static VARIANT by_reference(BSTR* s) {
        VARIANT x;
        VariantInit(&x);
        V_VT(&x) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&x) = s;
        return x;
    }
    static std::string result(const Call& c) {
        if (V_VT(&c.result) != VT_BOOL) return "(VT " + std::to_string(V_VT(&c.result)) + ")";
        return boolean(V_BOOL(&c.result));
    }

    std::string put_host(const wchar_t* host) override {
        Call c;
        VARIANT value;
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocString(host);
        invoke(c, L"Host", DISPATCH_PROPERTYPUT, {value});
        VariantClear(&value);
        return outcome("Host = " + narrow(host), c);
    }
    std::string connect() override {
        Call c;
        invoke(c, L"Connect", DISPATCH_METHOD, {});
        return outcome("Connect() = " + result(c), c);
    }
    std::string charge(long amount) override {
        long inserted = 0, returned = 0;
        Call c;
        invoke(c, L"Charge", DISPATCH_METHOD,
               {by_value(amount), by_reference(&inserted), by_reference(&returned)});
        return outcome("Charge(" + std::to_string(amount) + ") = " + result(c) + ", inserted " +
                           std::to_string(inserted) + ", returned " + std::to_string(returned),
                       c);
    }
    std::string pay(long amount) override {
        long paid = 0;
        Call c;
        invoke(c, L"Pay", DISPATCH_METHOD, {by_value(amount), by_reference(&paid)});
        return outcome(
            "Pay(" + std::to_string(amount) + ") = " + result(c) + ", paid " + std::to_string(paid), c);
    }
    std::string get_levels(long kind) override {
        BSTR denoms = nullptr, levels = nullptr;
        Call c;
        invoke(c, L"GetLevels", DISPATCH_METHOD,
               {by_value(kind), by_reference(&denoms), by_reference(&levels)});
        const std::string line = "GetLevels(" + std::to_string(kind) + ") = " + result(c) + ", Denoms " +
                                 narrow(denoms) + ", Levels " + narrow(levels);
        SysFreeString(denoms);
        SysFreeString(levels);
        return outcome(line, c);
    }
    std::string last_error() override {
        Call code, text;
        invoke(code, L"LastErrorCode", DISPATCH_PROPERTYGET, {});
        invoke(text, L"LastErrorText", DISPATCH_PROPERTYGET, {});
        EXPECT_EQ(V_VT(&code.result), VT_I2);
        EXPECT_EQ(V_VT(&text.result), VT_BSTR);
        const std::string line = "LastErrorCode " + std::to_string(V_I2(&code.result)) + ", LastErrorText " +
                                 narrow(V_BSTR(&text.result));
        return outcome(line, FAILED(code.status) ? code : text);
    }
    std::string put_last_error_code(short code) override {
        Call c;
        VARIANT value;
        V_VT(&value) = VT_I2;
        V_I2(&value) = code;
        invoke(c, L"LastErrorCode", DISPATCH_PROPERTYPUT, {value});
        return outcome("LastErrorCode = " + std::to_string(code), c);
    }

private:
    // A member's failure comes as DISP_E_EXCEPTION with its status and
    // description in the EXCEPINFO.
    static std::string outcome(const std::string& line, const Call& c) {
        if (SUCCEEDED(c.status)) return line;
        if (c.status != DISP_E_EXCEPTION)
            return line.substr(0, line.find(" = ")) + " dispatch error " + hex(c.status);
        return line.substr(0, line.find(" = ")) + " failed " + hex(c.exception.scode) + " " +
               narrow(c.exception.bstrDescription);
    }
    IDispatch* d_;
};

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
