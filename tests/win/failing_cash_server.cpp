// A server of the CashDevice class whose every creation fails with a status
// and a description of its own, in the thread's error object, as a device's
// component fails when its hardware is missing.

#include <monvia/component/cash_device.h>
#include <monvia/component/error_info.h>

namespace {

class FailingFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** object) override {
        if (object) *object = nullptr;
        monvia::com::set_error_info(IID_IClassFactory, "Cash drawer",
                                    "the cash drawer does not answer on COM3 (is it switched on?)");
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FailingFactory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != monvia::device::CLSID_CashDevice) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return S_OK; }
