#pragma once
// The IDispatch members of an object that is called through its interface
// only. The contract's interfaces derive from IDispatch, but callers never
// bind late: there is no type information, and every late-bound call is
// refused.
//
//   class MyDevice final : public monvia::com::NoLateBinding<ICashDevice, MyDevice> { ... };
//
// A refused call returns what the object's late_binding_refused() returns
// when it has one (so that it can leave a description with the status),
// E_NOTIMPL otherwise.

#include <monvia/component/types.h>

namespace monvia::com {

template <class Interface, class Object>
class NoLateBinding : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return refused();
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(const Guid&, LPOLESTR*, UINT, LCID, DISPID*) override {
        return refused();
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, const Guid&, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return refused();
    }

private:
    HRESULT refused() {
        if constexpr (requires(Object & o) { o.late_binding_refused(); })
            return static_cast<Object*>(this)->late_binding_refused();
        else
            return E_NOTIMPL;
    }
};

}  // namespace monvia::com
