// The Windows journal object's own parts: its interfaces, the system's error
// objects, and late-bound calls (IDispatch::Invoke) journaled by member and
// parameter names from the real object's type information, with the
// arguments' values, the values passed by reference before and after, and
// the result:
//
//   ... #1 Invoke:Charge amount=125 &inserted=0 &returned=0 -> inserted=200 returned=75 result=True (9 us)
//
// Without type information the member is "Invoke:dispid <n>" and the
// parameters are arg1, arg2, ... in the order they are declared.

#include <monvia/component/bstr.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "journal_com.h"

using monvia::com::ComPtr;

namespace monvia::journal {
namespace {

std::string number_text(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// A variant's value as the journal shows it; by-reference values are read
// through their pointer. Booleans are the numbers they are (-1, 0), as
// the vtable's lines show them, except where `as_result`.
std::string variant_text(const VARIANT& v, bool as_result) {
    const VARTYPE type = V_VT(&v) & ~VT_BYREF;
    const bool ref = (V_VT(&v) & VT_BYREF) != 0;
    if (ref && !V_BYREF(&v)) return "null";
    switch (type) {
        case VT_EMPTY:
            return "empty";
        case VT_NULL:
            return "null";
        case VT_I1:
            return std::to_string(ref ? *V_I1REF(&v) : V_I1(&v));
        case VT_UI1:
            return std::to_string(ref ? *V_UI1REF(&v) : V_UI1(&v));
        case VT_I2:
            return std::to_string(ref ? *V_I2REF(&v) : V_I2(&v));
        case VT_UI2:
            return std::to_string(ref ? *V_UI2REF(&v) : V_UI2(&v));
        case VT_I4:
            return std::to_string(ref ? *V_I4REF(&v) : V_I4(&v));
        case VT_UI4:
            return std::to_string(ref ? *V_UI4REF(&v) : V_UI4(&v));
        case VT_INT:
            return std::to_string(ref ? *V_INTREF(&v) : V_INT(&v));
        case VT_UINT:
            return std::to_string(ref ? *V_UINTREF(&v) : V_UINT(&v));
        case VT_I8:
            return std::to_string(ref ? *V_I8REF(&v) : V_I8(&v));
        case VT_UI8:
            return std::to_string(ref ? *V_UI8REF(&v) : V_UI8(&v));
        case VT_R4:
            return number_text(ref ? *V_R4REF(&v) : V_R4(&v));
        case VT_R8:
            return number_text(ref ? *V_R8REF(&v) : V_R8(&v));
        case VT_BOOL: {
            const VARIANT_BOOL b = ref ? *V_BOOLREF(&v) : V_BOOL(&v);
            if (as_result && b == VARIANT_TRUE) return "True";
            if (as_result && b == VARIANT_FALSE) return "False";
            return std::to_string(b);
        }
        case VT_BSTR:
            return quote(com::chars_of(ref ? *V_BSTRREF(&v) : V_BSTR(&v)));
        case VT_ERROR: {
            const SCODE e = ref ? *V_ERRORREF(&v) : V_ERROR(&v);
            return e == DISP_E_PARAMNOTFOUND ? "missing" : "error " + com::hex(e);
        }
        case VT_VARIANT:
            return ref && V_VARIANTREF(&v) ? variant_text(*V_VARIANTREF(&v), as_result) : "variant";
        default: {
            // Anything else: the system's text for it, marked with its type.
            VARIANT text;
            VariantInit(&text);
            char vt[32];
            std::snprintf(vt, sizeof vt, "vt%u:", static_cast<unsigned>(V_VT(&v)));
            if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR)) &&
                V_VT(&text) == VT_BSTR) {
                std::string shown = vt + quote(com::chars_of(V_BSTR(&text)));
                VariantClear(&text);
                return shown;
            }
            return std::string(vt) + "?";
        }
    }
}

bool by_reference(const VARIANT& v) { return (V_VT(&v) & VT_BYREF) != 0; }

// One argument of a call, in the order of the member's parameters.
struct Argument {
    unsigned index;  // the parameter's position
    VARIANT* value;
};

std::vector<Argument> arguments_of(const DISPPARAMS* params) {
    std::vector<Argument> args;
    if (!params || !params->rgvarg) return args;
    const UINT named = std::min(params->cNamedArgs, params->cArgs);
    const UINT positional = params->cArgs - named;
    // Positional arguments are stored last to first after the named ones.
    for (UINT p = 0; p < positional; ++p) args.push_back({p, &params->rgvarg[params->cArgs - 1 - p]});
    for (UINT i = 0; i < named; ++i) {
        const DISPID id = params->rgdispidNamedArgs ? params->rgdispidNamedArgs[i] : DISPID_UNKNOWN;
        // The value of a property put comes after the positional ones.
        const unsigned index = id >= 0 ? static_cast<unsigned>(id) : positional + i;
        args.push_back({index, &params->rgvarg[i]});
    }
    std::stable_sort(args.begin(), args.end(),
                     [](const Argument& a, const Argument& b) { return a.index < b.index; });
    return args;
}

// What the type information says of a member: its name, its parameters'
// names, and whether it is a method (not a property).
struct MemberNames {
    std::string member;
    std::vector<std::string> parameters;
    bool method = false;
    bool known = false;
};

MemberNames names_of(ITypeInfo* info, DISPID id) {
    MemberNames names;
    if (!info) return names;
    BSTR raw[64] = {};
    UINT count = 0;
    if (FAILED(info->GetNames(id, raw, 64, &count)) || count == 0) return names;
    names.known = true;
    names.member = com::to_utf8(raw[0]);
    for (UINT i = 1; i < count; ++i) names.parameters.push_back(com::to_utf8(raw[i]));
    for (UINT i = 0; i < count; ++i) SysFreeString(raw[i]);
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr)) && attr) {
        for (WORD f = 0; f < attr->cFuncs && !names.method; ++f) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(f, &desc)) || !desc) continue;
            names.method = desc->memid == id && desc->invkind == INVOKE_FUNC;
            info->ReleaseFuncDesc(desc);
        }
        info->ReleaseTypeAttr(attr);
    }
    return names;
}

// The member as the journal names it: "Invoke:" and the contract's name of
// the member (get_/put_ before a property's name, as in the vtable's lines).
std::string member_text(const MemberNames& names, DISPID id, WORD flags) {
    if (!names.known) return "Invoke:dispid " + std::to_string(id);
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return "Invoke:put_" + names.member;
    if (!names.method) return "Invoke:get_" + names.member;
    return "Invoke:" + names.member;
}

std::string parameter_name(const MemberNames& names, const Argument& a, WORD flags) {
    if (a.index < names.parameters.size()) return names.parameters[a.index];
    // A property put's value has no name of its own in the dispatch view.
    if (names.known && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return "value";
    return "arg" + std::to_string(a.index + 1);
}

}  // namespace

std::string error_object_description() {
    IErrorInfo* raw = nullptr;
    if (GetErrorInfo(0, &raw) != S_OK || !raw) return {};
    auto info = ComPtr<IErrorInfo>::attach(raw);
    // Taken from the thread, so set again for the client.
    SetErrorInfo(0, info.get());
    com::Bstr description;
    if (FAILED(info->GetDescription(description.inout()))) return {};
    return description.utf8();
}

WinJournalDevice::WinJournalDevice(ComPtr<device::ICashDevice> real, ComPtr<ISupportErrorInfo> real_support,
                                   uint64_t number)
    : JournalDevice(std::move(real), number), real_support_(std::move(real_support)) {
    ++g_live_objects;
}

WinJournalDevice::~WinJournalDevice() {
    real_support_.reset();
    --g_live_objects;
}

HRESULT STDMETHODCALLTYPE WinJournalDevice::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == device::IID_ICashDevice)
        *object = static_cast<device::ICashDevice*>(this);
    else if (iid == IID_ISupportErrorInfo && real_support_)
        *object = static_cast<ISupportErrorInfo*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE WinJournalDevice::InterfaceSupportsErrorInfo(REFIID iid) {
    return real_support_ ? real_support_->InterfaceSupportsErrorInfo(iid) : S_FALSE;
}

std::string WinJournalDevice::failure_description(HRESULT) { return error_object_description(); }

HRESULT STDMETHODCALLTYPE WinJournalDevice::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                                                   UINT* arg_error) {
    MemberNames names;
    try {
        ITypeInfo* raw = nullptr;
        if (SUCCEEDED(real_->GetTypeInfo(0, locale, &raw)) && raw) {
            auto info = ComPtr<ITypeInfo>::attach(raw);
            names = names_of(info.get(), id);
        }
    } catch (...) {
    }
    std::vector<Argument> args;
    Fields in;
    std::string member;
    try {
        args = arguments_of(params);
        member = member_text(names, id, flags);
        for (const Argument& a : args)
            in.text((by_reference(*a.value) ? "&" : "") + parameter_name(names, a, flags) + "=" +
                    variant_text(*a.value, false));
    } catch (...) {
    }
    return call_described(
        member, std::move(in),
        [&] { return real_->Invoke(id, iid, locale, flags, params, result, excep_info, arg_error); },
        [&](Fields& out) {
            for (const Argument& a : args)
                if (by_reference(*a.value))
                    out.text(parameter_name(names, a, flags) + "=" + variant_text(*a.value, false));
            if (result && V_VT(result) != VT_EMPTY) out.text("result=" + variant_text(*result, true));
        },
        [&](HRESULT h) {
            // The error object is read (and set again) whatever else says why.
            std::string description = failure_description(h);
            if (h == DISP_E_EXCEPTION && excep_info) {
                // Filled in now, as the client would have it filled.
                if (excep_info->pfnDeferredFillIn) {
                    excep_info->pfnDeferredFillIn(excep_info);
                    excep_info->pfnDeferredFillIn = nullptr;
                }
                if (SysStringLen(excep_info->bstrDescription) > 0)
                    description = com::to_utf8(excep_info->bstrDescription);
            }
            return description;
        });
}

}  // namespace monvia::journal
