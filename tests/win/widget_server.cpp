// An in-process COM server of the test widget for the Windows backend's
// tests: a class factory behind DllGetClassObject, and failures that carry
// their description in the thread's error object.

#include <monvia/component/error_info.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>

#include "test_widget.h"

using namespace monvia::com;
using namespace monvia::com::testing;

namespace {

std::atomic<long> g_live{0};

class Widget final : public ITestWidget, public ISupportErrorInfo {
public:
    Widget() { ++g_live; }
    ~Widget() { --g_live; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_ITestWidget)
            *object = static_cast<ITestWidget*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *object = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) std::unique_ptr<Widget> owned(this);
        return left;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID_ITestWidget ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Add(int32_t a, int32_t b, int32_t* sum) override {
        // A failure without a description leaves no error object behind.
        clear_error_info();
        if (!sum) return E_POINTER;
        const int64_t s = static_cast<int64_t>(a) + b;
        if (s > std::numeric_limits<int32_t>::max() || s < std::numeric_limits<int32_t>::min()) {
            set_error_info(IID_ITestWidget, "TestWidget",
                           "The sum " + std::to_string(s) + " does not fit 32 bits");
            return E_INVALIDARG;
        }
        *sum = static_cast<int32_t>(s);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LiveCount(int32_t* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<int32_t>(g_live.load());
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
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
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto widget = std::make_unique<Widget>();
        const HRESULT h = widget->QueryInterface(iid, object);
        widget.release()->Release();
        return h;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return g_live == 0 ? S_OK : S_FALSE; }
