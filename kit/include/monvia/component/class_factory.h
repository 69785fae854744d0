#pragma once
// Windows only: the class object of an in-process COM server of one class.
//
// The server keeps one for the life of its DLL (a static object), hands it
// out from DllGetClassObject with get(), and asks locked() in
// DllCanUnloadNow: a reference the system holds on the class object, or a
// LockServer(TRUE) not yet undone, keeps the DLL loaded, as the system's
// rules for in-process servers ask.
//
//     HRESULT create(REFIID iid, void** object);   // makes the server's object
//     monvia::com::ClassFactory g_factory{CLSID_Mine, create};
//
//     STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
//         return g_factory.get(clsid, iid, object);
//     }
//     STDAPI DllCanUnloadNow() { return live_objects() == 0 && !g_factory.locked() ? S_OK : S_FALSE; }

#if defined(_WIN32)

#include <unknwn.h>
#include <windows.h>

#include <atomic>

namespace monvia::com {

class ClassFactory final : public IClassFactory {
public:
    // Makes an object of the class and gives the interface asked for;
    // *object is null on entry.
    using Create = HRESULT (*)(REFIID iid, void** object);

    constexpr ClassFactory(const CLSID& clsid, Create create) noexcept : clsid_(clsid), create_(create) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    // DllGetClassObject: this object for the server's class, asked for
    // IUnknown or IClassFactory.
    HRESULT get(REFCLSID clsid, REFIID iid, void** object) {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualCLSID(clsid, clsid_)) return CLASS_E_CLASSNOTAVAILABLE;
        return QueryInterface(iid, object);
    }

    // Whether a reference or a lock is held on the class object.
    bool locked() const noexcept { return locks_.load() != 0; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The object is never deleted: the counts only decide when the DLL may go.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++locks_) + 1; }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--locks_) + 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++locks_;
        else
            --locks_;
        return S_OK;
    }

private:
    const CLSID clsid_;
    const Create create_;
    std::atomic<long> locks_{0};
};

}  // namespace monvia::com

#endif
