#include "fake_cash_device.h"

#include <monvia/component/error_info.h>

#include "runtime/convert.h"

namespace monvia::panel::testing_support {

namespace {

std::string quoted(BSTR s) { return "'" + com::to_utf8(s) + "'"; }
std::string num(int64_t v) { return decimal(v); }

}  // namespace

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::QueryInterface(const com::Guid& iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == com::IID_IUnknown || iid == com::IID_IDispatch || iid == IID_ICashDevice) {
        *object = static_cast<ICashDevice*>(this);
#if defined(_WIN32)
    } else if (iid == IID_ISupportErrorInfo) {
#else
    } else if (iid == com::IID_IErrorSource) {
#endif
        *object = static_cast<ErrorReporting*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// The test owns the object; the count is only watched, to find leaks.
com::ULONG STDMETHODCALLTYPE FakeCashDevice::Release() { return --refs_; }

#if !defined(_WIN32)
com::HRESULT STDMETHODCALLTYPE FakeCashDevice::TakeErrorDescription(char16_t** description) {
    if (pending_description_.empty()) return S_FALSE;
    *description = com::alloc_utf8(pending_description_);
    pending_description_.clear();
    return S_OK;
}
#endif

Step FakeCashDevice::begin(const std::string& member, const std::string& call) {
    trace_.push_back(call);
    ++calls_;
    Step s;
    auto it = scripts_.find(member);
    if (it != scripts_.end() && !it->second.empty()) {
        s = it->second.front();
        it->second.pop_front();
    }
    if (calls_ == fail_at_) s = Step::failure(fail_hr_, fail_text_);
    pending_description_ = s.fail_description;
#if defined(_WIN32)
    if (com::failed(s.fail) && !s.fail_description.empty())
        com::set_error_info(IID_ICashDevice, "FakeCashDevice", s.fail_description);
    else
        com::clear_error_info();
#endif
    return s;
}

com::HRESULT FakeCashDevice::finish(const Step& s, VARIANT_BOOL* result) {
    if (com::failed(s.fail)) return s.fail;
    if (result) *result = s.result ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

com::HRESULT FakeCashDevice::unused(const char* member) {
    trace_.push_back(std::string("unexpected ") + member);
    return E_NOTIMPL;
}

void FakeCashDevice::set_string(const Step& s, size_t i, BSTR* p) {
    if (i >= s.strings.size()) return;
    com::free_string(*p);
    *p = com::alloc_utf8(s.strings[i]);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::get_LastErrorCode(int16_t* code) {
    Step s = begin("LastErrorCode", "LastErrorCode");
    if (com::failed(s.fail)) return s.fail;
    *code = error_code;
    return S_OK;
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::get_LastErrorText(BSTR* text) {
    Step s = begin("LastErrorText", "LastErrorText");
    if (com::failed(s.fail)) return s.fail;
    *text = com::alloc_utf8(error_text);
    return S_OK;
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::put_ColorA(uint32_t colour) {
    return finish(begin("ColorA", "ColorA=" + num(colour)), nullptr);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::put_ColorB(int32_t value) {
    return finish(begin("ColorB", "ColorB=" + num(value)), nullptr);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::put_Host(BSTR host) {
    return finish(begin("Host", "Host=" + quoted(host)), nullptr);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Connect(VARIANT_BOOL* result) {
    return finish(begin("Connect", "Connect"), result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Disconnect() {
    return finish(begin("Disconnect", "Disconnect"), nullptr);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Change(int32_t* inserted, int32_t* paid,
                                                      VARIANT_BOOL* result) {
    Step s = begin("Change", "Change(" + num(*inserted) + "," + num(*paid) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, inserted);
    set_int(s, 1, paid);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::AddChange(int32_t* added, VARIANT_BOOL* result) {
    Step s = begin("AddChange", "AddChange(" + num(*added) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, added);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) {
    Step s = begin("Pay", "Pay(" + num(amount) + "," + num(*paid) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, paid);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                                      VARIANT_BOOL* result) {
    Step s = begin("Charge", "Charge(" + num(amount) + "," + num(*inserted) + "," + num(*returned) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, inserted);
    set_int(s, 1, returned);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::CashBoxControl(int32_t mode, int32_t* coins, int32_t* notes,
                                                              int32_t* change, VARIANT_BOOL* result) {
    Step s = begin("CashBoxControl", "CashBoxControl(" + num(mode) + "," + num(*coins) + "," + num(*notes) +
                                         "," + num(*change) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, coins);
    set_int(s, 1, notes);
    set_int(s, 2, change);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::Configuration(VARIANT_BOOL* result) {
    return finish(begin("Configuration", "Configuration"), result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                                          VARIANT_BOOL* result) {
    Step s = begin("GetAmounts",
                   "GetAmounts(" + quoted(*denoms) + "," + quoted(*quantities) + "," + num(*value) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_string(s, 0, denoms);
    set_string(s, 1, quantities);
    set_int(s, 0, value);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::EmptyCashBox(int32_t which, int32_t* value,
                                                            VARIANT_BOOL* result) {
    Step s = begin("EmptyCashBox", "EmptyCashBox(" + num(which) + "," + num(*value) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, value);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                                         VARIANT_BOOL* result) {
    Step s =
        begin("GetLevels", "GetLevels(" + num(kind) + "," + quoted(*denoms) + "," + quoted(*levels) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_string(s, 0, denoms);
    set_string(s, 1, levels);
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                                           VARIANT_BOOL* result) {
    Step s = begin("HandleError",
                   "HandleError(" + num(code) + "," + quoted(text) + "," + (*flag ? "True" : "False") + ")");
    if (com::failed(s.fail)) return s.fail;
    if (s.flag) *flag = *s.flag ? VARIANT_TRUE : VARIANT_FALSE;
    return finish(s, result);
}

com::HRESULT STDMETHODCALLTYPE FakeCashDevice::PaySpecific(int32_t amount, int32_t* paid,
                                                           VARIANT_BOOL* result) {
    Step s = begin("PaySpecific", "PaySpecific(" + num(amount) + "," + num(*paid) + ")");
    if (com::failed(s.fail)) return s.fail;
    set_int(s, 0, paid);
    return finish(s, result);
}

}  // namespace monvia::panel::testing_support
