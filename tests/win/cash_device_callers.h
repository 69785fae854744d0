#pragma once
// The panel's operations on a CashDevice object, called either through the
// vtable or by name through IDispatch, each answer one line of text (a
// failure with its status and description), so that two ways of calling,
// or two servers, can be compared line by line.

#include <monvia/component/cash_device.h>

#include <string>
#include <vector>

namespace monvia::testing::callers {

using monvia::device::ICashDevice;

inline std::string narrow(const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

using monvia::com::hex;

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

inline std::string boolean(VARIANT_BOOL b) { return b ? "True" : "False"; }

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

}  // namespace monvia::testing::callers
