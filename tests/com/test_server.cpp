// An in-process server of the test widget, loaded by the registry tests
// through its registered absolute path.

#include <monvia/component/bstr.h>
#include <monvia/component/server.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>

#include "test_widget.h"

using namespace monvia::com;
using namespace monvia::com::testing;

namespace {

std::atomic<int32_t> g_live{0};

class Widget final : public ITestWidget, public IErrorSource {
public:
    Widget() { ++g_live; }
    ~Widget() { --g_live; }

    HRESULT QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_ITestWidget)
            *object = static_cast<ITestWidget*>(this);
        else if (iid == IID_IErrorSource)
            *object = static_cast<IErrorSource*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0) std::unique_ptr<Widget> owned(this);
        return left;
    }

    HRESULT Add(int32_t a, int32_t b, int32_t* sum) override {
        if (!sum) return E_POINTER;
        const int64_t s = static_cast<int64_t>(a) + b;
        if (s > std::numeric_limits<int32_t>::max() || s < std::numeric_limits<int32_t>::min()) {
            error_ = "The sum " + std::to_string(s) + " does not fit 32 bits";
            return E_INVALIDARG;
        }
        *sum = static_cast<int32_t>(s);
        return S_OK;
    }
    HRESULT LiveCount(int32_t* count) override {
        if (!count) return E_POINTER;
        *count = g_live.load();
        return S_OK;
    }

    HRESULT TakeErrorDescription(char16_t** description) override {
        if (!description) return E_POINTER;
        *description = nullptr;
        if (error_.empty()) return S_FALSE;
        *description = alloc_utf8(error_);
        error_.clear();
        return S_OK;
    }

private:
    std::atomic<uint32_t> refs_{1};
    std::string error_;
};

}  // namespace

MONVIA_COMPONENT_EXPORT HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
    if (*clsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
    auto widget = std::make_unique<Widget>();
    // The new widget holds one reference; QueryInterface adds the caller's,
    // and dropping ours leaves exactly one.
    const HRESULT h = widget->QueryInterface(*iid, object);
    widget.release()->Release();
    return h;
}

// Built a second time without this export, as a server that does not say
// which classes it serves.
#ifndef MONVIA_TEST_SERVER_UNLISTED
MONVIA_COMPONENT_EXPORT uint32_t MonviaListClasses(Guid* classes, uint32_t capacity) {
    if (classes && capacity >= 1) classes[0] = CLSID_TestWidget;
    return 1;
}
#endif
