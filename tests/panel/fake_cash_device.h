#pragma once
// A recording fake of the cash device component. Every call is appended to a
// shared trace with its arguments (in-values of by-reference parameters
// included); results, outputs and interface-level failures are scripted per
// member, call by call.

#include <monvia/component/bstr.h>
#include <monvia/component/no_late_binding.h>
#include <monvia/component/types.h>

#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cash_device.h"

namespace monvia::panel::testing_support {

// Status names: the system's macros on Windows, the layer's constants elsewhere.
using namespace monvia::com;

using Trace = std::vector<std::string>;

// What one call of a member does.
struct Step {
    bool result = true;                // the Boolean result
    std::vector<int32_t> ints;         // integer outputs in parameter order; missing: left unset
    std::vector<std::string> strings;  // string outputs in parameter order; missing: left unset
    std::optional<bool> flag;          // HandleError's flag; unset: left as passed
    com::HRESULT fail = S_OK;          // a failing status: the call fails at the interface level
    std::string fail_description;      // what IErrorSource then says (empty: nothing)

    static Step ok() { return {}; }
    static Step nok() {
        Step s;
        s.result = false;
        return s;
    }
    static Step failure(com::HRESULT h, std::string description = {}) {
        Step s;
        s.fail = h;
        s.fail_description = std::move(description);
        return s;
    }
    Step& out(std::vector<int32_t> v) {
        ints = std::move(v);
        return *this;
    }
    Step& out_strings(std::vector<std::string> v) {
        strings = std::move(v);
        return *this;
    }
    Step& with_flag(bool f) {
        flag = f;
        return *this;
    }
};

#if defined(_WIN32)
using ErrorReporting = ISupportErrorInfo;
#else
using ErrorReporting = com::IErrorSource;
#endif

// IDispatch comes from NoLateBinding; the panel never binds late.
class FakeCashDevice final : public com::NoLateBinding<ICashDevice, FakeCashDevice>, public ErrorReporting {
public:
    explicit FakeCashDevice(Trace& trace) : trace_(trace) {}

    // Queues what the next call of a member does; unscripted calls succeed
    // (True, outputs untouched). Member names as in the contract: "Connect",
    // "Host", "LastErrorCode", "ColorA", ...
    void script(const std::string& member, Step step) { scripts_[member].push_back(std::move(step)); }
    // Makes the n-th call (1-based, over all members) fail at the interface level.
    void fail_call(int n, com::HRESULT h, std::string description = {}) {
        fail_at_ = n;
        fail_hr_ = h;
        fail_text_ = std::move(description);
    }
    int16_t error_code = 0;
    std::string error_text;
    com::ULONG references() const { return refs_; }
    int calls() const { return calls_; }

    // IUnknown
    com::HRESULT STDMETHODCALLTYPE QueryInterface(const com::Guid& iid, void** object) override;
    com::ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    com::ULONG STDMETHODCALLTYPE Release() override;

#if defined(_WIN32)
    // ISupportErrorInfo: failures leave their description in the thread's error object.
    com::HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(const com::Guid& iid) override {
        return iid == IID_ICashDevice ? S_OK : S_FALSE;
    }
#else
    // IErrorSource
    com::HRESULT STDMETHODCALLTYPE TakeErrorDescription(char16_t** description) override;
#endif

    // ICashDevice
    com::HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) override;
    com::HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t) override { return unused("put_LastErrorCode"); }
    com::HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) override;
    com::HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR) override { return unused("put_LastErrorText"); }
    com::HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t*) override { return unused("get_ColorA"); }
    com::HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) override;
    com::HRESULT STDMETHODCALLTYPE get_ColorB(int32_t*) override { return unused("get_ColorB"); }
    com::HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) override;
    com::HRESULT STDMETHODCALLTYPE get_Host(BSTR*) override { return unused("get_Host"); }
    com::HRESULT STDMETHODCALLTYPE put_Host(BSTR host) override;
    com::HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE Disconnect() override;
    com::HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                          VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t mode, int32_t* coins, int32_t* notes,
                                                  int32_t* change, VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                              VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t which, int32_t* value, VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                             VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                               VARIANT_BOOL* result) override;
    com::HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL*) override { return unused("get_Connected"); }
    com::HRESULT STDMETHODCALLTYPE PaySpecific(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override;

private:
    // Records the call and picks its step; a failing status is returned by the caller.
    Step begin(const std::string& member, const std::string& call);
    com::HRESULT finish(const Step& s, VARIANT_BOOL* result);
    com::HRESULT unused(const char* member);
    void set_int(const Step& s, size_t i, int32_t* p) {
        if (i < s.ints.size()) *p = s.ints[i];
    }
    void set_string(const Step& s, size_t i, BSTR* p);

    Trace& trace_;
    std::map<std::string, std::deque<Step>> scripts_;
    std::atomic<com::ULONG> refs_{0};
    int calls_ = 0;
    int fail_at_ = 0;
    com::HRESULT fail_hr_ = S_OK;
    std::string fail_text_;
    std::string pending_description_;
};

}  // namespace monvia::panel::testing_support
