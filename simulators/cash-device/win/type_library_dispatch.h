#pragma once
// IDispatch through the type library that this DLL carries as its resource
// 1, for an object whose interface the type library describes: clients that
// bind by name (scripts, automation tools, object viewers) call every member
// of the interface, and the system's standard dispatcher (DispInvoke) calls
// the object's own vtable members, so both ways reach the same object and
// the same state.
//
//   class MyDevice final : public TypeLibraryDispatch<ICashDevice, IID_ICashDevice> { ... };
//
// The type library is loaded at the first late-bound call. A member that
// fails gives DISP_E_EXCEPTION, with its status and the description of its
// error object in the EXCEPINFO; the dispatcher's own errors are the
// standard ones (DISP_E_UNKNOWNNAME, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH
// with the argument's index, DISP_E_MEMBERNOTFOUND).

#include <monvia/component/types.h>

#include <mutex>
#include <string>

#include "module_path.h"

namespace monvia::cashsim {

template <class Interface, const GUID& interface_id>
class TypeLibraryDispatch : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        if (const HRESULT h = load(); FAILED(h)) return h;
        dispatch_info_->AddRef();
        *info = dispatch_info_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (count == 0) return S_OK;
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i)
            if (!names[i]) return E_POINTER;
        if (const HRESULT h = load(); FAILED(h)) return h;
        return DispGetIDsOfNames(vtable_info_, names, count, ids);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!params || (params->cArgs && !params->rgvarg) ||
            (params->cNamedArgs && !params->rgdispidNamedArgs))
            return E_INVALIDARG;
        if (const HRESULT h = load(); FAILED(h)) return h;
        if (exception) *exception = EXCEPINFO{};
        const HRESULT h = DispInvoke(static_cast<Interface*>(this), vtable_info_, id, flags, params, result,
                                     exception, arg_error);
        if (h == DISP_E_EXCEPTION && exception) complete(*exception);
        if (h == DISP_E_TYPEMISMATCH && arg_error) mismatched_argument(id, flags, *params, *arg_error);
        return h;
    }

protected:
    TypeLibraryDispatch() = default;
    ~TypeLibraryDispatch() {
        if (vtable_info_) vtable_info_->Release();
        if (dispatch_info_) dispatch_info_->Release();
    }

private:
    // The interface's two descriptions: the dispatch one that clients are
    // given, the vtable one the dispatcher calls through.
    HRESULT load() {
        std::lock_guard lock(load_mutex_);
        if (vtable_info_) return S_OK;
        const std::wstring path = module_path();
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        ITypeLib* library = nullptr;
        HRESULT h = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        if (FAILED(h)) return h;
        ITypeInfo* dispatch = nullptr;
        h = library->GetTypeInfoOfGuid(interface_id, &dispatch);
        library->Release();
        if (FAILED(h)) return h;
        // For a dual interface the vtable description is the dispatch
        // description's implemented type -1.
        HREFTYPE ref = 0;
        ITypeInfo* vtable = nullptr;
        h = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
        if (SUCCEEDED(h)) h = dispatch->GetRefTypeInfo(ref, &vtable);
        if (FAILED(h)) {
            dispatch->Release();
            return h;
        }
        dispatch_info_ = dispatch;
        vtable_info_ = vtable;
        return S_OK;
    }

    // The dispatcher fills in the failing status; the description comes
    // from the member's error object when the dispatcher left it out.
    static void complete(EXCEPINFO& e) {
        if (e.pfnDeferredFillIn) {
            e.pfnDeferredFillIn(&e);
            e.pfnDeferredFillIn = nullptr;
        }
        if (e.bstrDescription) return;
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) != S_OK || !info) return;
        info->GetDescription(&e.bstrDescription);
        if (!e.bstrSource) info->GetSource(&e.bstrSource);
        info->Release();
    }

    // Not every dispatcher says which argument it could not convert: the
    // first positional one that does not convert to its parameter's type
    // (or, by reference, is not of it), as an index into rgvarg.
    void mismatched_argument(DISPID id, WORD flags, const DISPPARAMS& params, UINT& arg_error) {
        TYPEATTR* attr = nullptr;
        if (FAILED(vtable_info_->GetTypeAttr(&attr))) return;
        const WORD functions = attr->cFuncs;
        vtable_info_->ReleaseTypeAttr(attr);
        for (WORD i = 0; i < functions; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(vtable_info_->GetFuncDesc(i, &f))) continue;
            if (f->memid == id && (f->invkind & flags)) {
                const UINT positional = params.cArgs - params.cNamedArgs;
                for (UINT p = 0; p < positional && p < static_cast<UINT>(f->cParams); ++p) {
                    const UINT index = params.cArgs - 1 - p;
                    if (!converts(params.rgvarg[index], f->lprgelemdescParam[p].tdesc)) {
                        arg_error = index;
                        break;
                    }
                }
                vtable_info_->ReleaseFuncDesc(f);
                return;
            }
            vtable_info_->ReleaseFuncDesc(f);
        }
    }
    static bool converts(const VARIANT& arg, const TYPEDESC& type) {
        if (type.vt == VT_PTR) {
            const VARTYPE wanted = type.lptdesc->vt;
            return V_VT(&arg) == (wanted | VT_BYREF) || V_VT(&arg) == (VT_VARIANT | VT_BYREF);
        }
        VARIANT copy;
        VariantInit(&copy);
        const bool ok = SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(&arg), 0, type.vt));
        VariantClear(&copy);
        return ok;
    }

    std::mutex load_mutex_;
    ITypeInfo* dispatch_info_ = nullptr;
    ITypeInfo* vtable_info_ = nullptr;
};

}  // namespace monvia::cashsim
