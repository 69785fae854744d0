// A minimal server of the CashDevice class: it connects and disconnects,
// and answers every cash operation with a failure that says there is no
// device behind it. A real server puts its device's work where this one
// refuses.
//
// What every server must do:
//  - export MonviaCreateInstance and MonviaListClasses (MONVIA_COMPONENT_EXPORT);
//  - hand out each interface with one reference owned by the caller, and
//    destroy itself when the last reference is released;
//  - keep to the string rules: layer strings only, allocated and freed
//    through the layer functions (alloc_utf8, free_string); a string passed
//    in belongs to the caller; a string passed by pointer is freed by the
//    server before it stores a new one there, and the caller frees what it
//    finds afterwards.

#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/no_late_binding.h>
#include <monvia/component/server.h>

#include <atomic>
#include <memory>
#include <new>
#include <string>

using namespace monvia::com;
using namespace monvia::device;

namespace {

// Stores a new string in an in/out slot, freeing what the caller left there.
void replace(BSTR* slot, const std::string& utf8) {
    free_string(*slot);
    *slot = alloc_utf8(utf8);
}

// IDispatch comes from NoLateBinding: callers use the interface directly.
class ExampleDevice final : public NoLateBinding<ICashDevice, ExampleDevice> {
public:
    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_ICashDevice) return E_NOINTERFACE;
        *object = static_cast<ICashDevice*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // Error details of the last operation.
    HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) override { return out(code, error_code_); }
    HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) override {
        if (!text) return E_POINTER;
        replace(text, error_text_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR) override { return E_NOTIMPL; }

    // Settings.
    HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t* colour) override { return out(colour, colour_a_); }
    HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) override {
        colour_a_ = colour;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ColorB(int32_t* value) override { return out(value, colour_b_); }
    HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) override {
        colour_b_ = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Host(BSTR* host) override {
        if (!host) return E_POINTER;
        replace(host, host_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Host(BSTR host) override {
        host_ = to_utf8(host);  // copied: the caller keeps and frees its string
        return S_OK;
    }

    // Connection.
    HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) override {
        connected_ = true;
        return succeed(result);
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        connected_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        return out(connected, boolean(connected_));
    }
    HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) override { return succeed(result); }
    HRESULT STDMETHODCALLTYPE HandleError(int32_t, BSTR, VARIANT_BOOL* flag, VARIANT_BOOL* result) override {
        if (!flag) return E_POINTER;
        *flag = VARIANT_FALSE;
        return succeed(result);
    }

    // Cash operations: no device, so each one fails and says why. Outputs
    // are set all the same, so that the caller never reads stale values.
    HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) override {
        return no_device(result, inserted, paid);
    }
    HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) override {
        return no_device(result, added);
    }
    HRESULT STDMETHODCALLTYPE Pay(int32_t, int32_t* paid, VARIANT_BOOL* result) override {
        return no_device(result, paid);
    }
    HRESULT STDMETHODCALLTYPE PaySpecific(int32_t, int32_t* paid, VARIANT_BOOL* result) override {
        return no_device(result, paid);
    }
    HRESULT STDMETHODCALLTYPE Charge(int32_t, int32_t* inserted, int32_t* returned,
                                     VARIANT_BOOL* result) override {
        return no_device(result, inserted, returned);
    }
    HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t, int32_t* coins, int32_t* notes, int32_t* change,
                                             VARIANT_BOOL* result) override {
        return no_device(result, coins, notes, change);
    }
    HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t, int32_t* value, VARIANT_BOOL* result) override {
        return no_device(result, value);
    }
    HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                         VARIANT_BOOL* result) override {
        if (!denoms || !quantities) return E_POINTER;
        replace(denoms, "");
        replace(quantities, "");
        return no_device(result, value);
    }
    HRESULT STDMETHODCALLTYPE GetLevels(int32_t, BSTR* denoms, BSTR* levels, VARIANT_BOOL* result) override {
        if (!denoms || !levels) return E_POINTER;
        replace(denoms, "");
        replace(levels, "");
        return no_device(result);
    }

private:
    static VARIANT_BOOL boolean(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

    template <class T, class V>
    static HRESULT out(T* slot, V value) {
        if (!slot) return E_POINTER;
        *slot = static_cast<T>(value);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE succeed(VARIANT_BOOL* result) {
        if (!result) return E_POINTER;
        error_code_ = 0;
        error_text_.clear();
        *result = VARIANT_TRUE;
        return S_OK;
    }

    // The call itself succeeds (S_OK); the operation reports False and
    // leaves its reason in LastErrorCode and LastErrorText.
    template <class... Outs>
    HRESULT STDMETHODCALLTYPE no_device(VARIANT_BOOL* result, Outs*... outputs) {
        if (!result || ((outputs == nullptr) || ...)) return E_POINTER;
        ((*outputs = 0), ...);
        error_code_ = 1;
        error_text_ = connected_ ? "the example server has no device behind it" : "not connected";
        *result = VARIANT_FALSE;
        return S_OK;
    }

    std::atomic<uint32_t> refs_{1};
    bool connected_ = false;
    int16_t error_code_ = 0;
    std::string error_text_;
    std::string host_;
    uint32_t colour_a_ = 0;
    int32_t colour_b_ = 0;
};

}  // namespace

MONVIA_COMPONENT_EXPORT HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
    if (*clsid != CLSID_CashDevice) return CLASS_E_CLASSNOTAVAILABLE;
    // The object starts with one reference; QueryInterface adds the caller's
    // and dropping ours leaves exactly the caller's (or none on refusal).
    try {
        auto device = std::make_unique<ExampleDevice>();
        const HRESULT h = device->QueryInterface(*iid, object);
        device.release()->Release();
        return h;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

MONVIA_COMPONENT_EXPORT uint32_t MonviaListClasses(Guid* classes, uint32_t capacity) {
    if (classes && capacity >= 1) classes[0] = CLSID_CashDevice;
    return 1;
}
