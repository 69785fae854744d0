// The CashDevice class as an in-process server: a thin component object over
// the simulated machine, with the scenario's fault injection in front of
// every member.

#include "cash_device_object.h"

#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/error_info.h>
#include <monvia/component/no_late_binding.h>
#include <monvia/component/server.h>
#include <monvia/component/types.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "cash_machine.h"
#include "scenario.h"
#if defined(_WIN32)
#include "win/type_library_dispatch.h"
#endif

using namespace monvia::com;
using monvia::device::CLSID_CashDevice;
using monvia::device::ICashDevice;
using monvia::device::IID_ICashDevice;

namespace monvia::cashsim {
namespace {

constexpr const char* kScenarioVariable = "MONVIA_CASHDEVICE_SCENARIO";

VARIANT_BOOL boolean(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

// Replaces a layer string held by the caller: the new one is made first, so
// a failed allocation leaves the caller's string as it was.
void replace(BSTR* slot, const std::string& utf8) {
    BSTR fresh = alloc_utf8(utf8);
    free_string(*slot);
    *slot = fresh;
}

bool leaves_outputs(const Effect* e) { return e && e->leave_outputs; }

std::atomic<long> g_objects{0};

class CashDeviceObject;
#if defined(_WIN32)
// A failure's description goes to the system's error object; clients may
// bind late, by name, through the type library the DLL carries.
using ErrorReporting = ISupportErrorInfo;
using Dispatch = TypeLibraryDispatch<ICashDevice, IID_ICashDevice>;
#else
// A failure's description is taken through the layer's interface; the
// layer calls members through the interface only.
using ErrorReporting = IErrorSource;
using Dispatch = NoLateBinding<ICashDevice, CashDeviceObject>;
#endif

class CashDeviceObject final : public Dispatch, public ErrorReporting {
public:
    CashDeviceObject() {
        ++g_objects;
        const char* file = std::getenv(kScenarioVariable);
        if (!file || !*file) return;
        try {
            scenario_ = Scenario::load(file);
        } catch (const ScenarioError& e) {
            // The instance is still made, so that the program using it can
            // show the problem: Connect answers False with this text.
            scenario_problem_ = e.what();
            std::fprintf(stderr, "cash device simulator: %s\n", e.what());
        }
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICashDevice)
            *object = static_cast<ICashDevice*>(this);
#if defined(_WIN32)
        else if (iid == IID_ISupportErrorInfo)
#else
        else if (iid == IID_IErrorSource)
#endif
            *object = static_cast<ErrorReporting*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) std::unique_ptr<CashDeviceObject> last(this);
        return left;
    }

#if !defined(_WIN32)
    // IDispatch (NoLateBinding): members are called through the interface
    // only. There is no type library, and late binding by name is refused
    // with a description that says so, rather than answered as if a name
    // were merely unknown.
    HRESULT late_binding_refused() {
        std::lock_guard lock(mutex_);
        description_ = "CashDevice is called through its interface; late binding is not supported";
        return described(E_NOTIMPL);
    }
#endif

    // ICashDevice
    HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) override {
        return run(kGetLastErrorCode, [&](const Effect* e) {
            if (!code) return null_pointer(kGetLastErrorCode);
            if (!leaves_outputs(e)) *code = machine_.last_error_code();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t) override {
        return run(kPutLastErrorCode, [&](const Effect*) {
            return refuse(E_NOTIMPL, "LastErrorCode is read-only: it tells the machine's last failure");
        });
    }
    HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) override {
        return run(kGetLastErrorText, [&](const Effect* e) {
            if (!text) return null_pointer(kGetLastErrorText);
            if (!leaves_outputs(e)) replace(text, machine_.last_error_text());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR) override {
        return run(kPutLastErrorText, [&](const Effect*) {
            return refuse(E_NOTIMPL, "LastErrorText is read-only: it tells the machine's last failure");
        });
    }
    HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t* colour) override {
        return run(kGetColorA, [&](const Effect* e) {
            if (!colour) return null_pointer(kGetColorA);
            if (!leaves_outputs(e)) *colour = machine_.colour_a();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) override {
        return run(kPutColorA, [&](const Effect*) {
            machine_.set_colour_a(colour);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_ColorB(int32_t* value) override {
        return run(kGetColorB, [&](const Effect* e) {
            if (!value) return null_pointer(kGetColorB);
            if (!leaves_outputs(e)) *value = machine_.colour_b();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) override {
        return run(kPutColorB, [&](const Effect*) {
            machine_.set_colour_b(value);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Host(BSTR* host) override {
        return run(kGetHost, [&](const Effect* e) {
            if (!host) return null_pointer(kGetHost);
            if (!leaves_outputs(e)) replace(host, machine_.host());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_Host(BSTR host) override {
        return run(kPutHost, [&](const Effect*) {
            machine_.set_host(to_utf8(host));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) override {
        return run(kConnect, [&](const Effect* e) {
            if (!result) return null_pointer(kConnect);
            Outcome o;
            if (scenario_problem_) {
                machine_.disconnect();
                o = machine_.fail(static_cast<int16_t>(ErrorCode::ScenarioInvalid), *scenario_problem_);
            } else if (auto s = scripted(e)) {
                o = *s;
            } else {
                o = machine_.connect();
            }
            *result = boolean(o.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        return run(kDisconnect, [&](const Effect*) {
            machine_.disconnect();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) override {
        return run(kChange, [&](const Effect* e) {
            if (!inserted || !paid || !result) return null_pointer(kChange);
            ChangeResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.change();
            if (!leaves_outputs(e)) {
                *inserted = r.inserted;
                *paid = r.paid;
            }
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) override {
        return run(kAddChange, [&](const Effect* e) {
            if (!added || !result) return null_pointer(kAddChange);
            AddChangeResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.add_change();
            if (!leaves_outputs(e)) *added = r.added;
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override {
        return run(kPay, [&](const Effect* e) {
            if (!paid || !result) return null_pointer(kPay);
            PayResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.pay(amount);
            if (!leaves_outputs(e)) *paid = r.paid;
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                     VARIANT_BOOL* result) override {
        return run(kCharge, [&](const Effect* e) {
            if (!inserted || !returned || !result) return null_pointer(kCharge);
            ChargeResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.charge(amount);
            if (!leaves_outputs(e)) {
                *inserted = r.inserted;
                *returned = r.returned;
            }
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t mode, int32_t* coins_cb_value, int32_t* notes_cb_value,
                                             int32_t* change_value, VARIANT_BOOL* result) override {
        return run(kCashBoxControl, [&](const Effect* e) {
            if (!coins_cb_value || !notes_cb_value || !change_value || !result)
                return null_pointer(kCashBoxControl);
            CashBoxResult r;
            r.change_value = *change_value;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.cash_box_control(mode, *change_value);
            if (!leaves_outputs(e)) {
                *coins_cb_value = r.coins_value;
                *notes_cb_value = r.notes_value;
                *change_value = r.change_value;
            }
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) override {
        return run(kConfiguration, [&](const Effect* e) {
            if (!result) return null_pointer(kConfiguration);
            Outcome o;
            if (auto s = scripted(e))
                o = *s;
            else
                o = machine_.configure();
            *result = boolean(o.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                         VARIANT_BOOL* result) override {
        return run(kGetAmounts, [&](const Effect* e) {
            if (!denoms || !quantities || !value || !result) return null_pointer(kGetAmounts);
            AmountsResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.amounts();
            if (!leaves_outputs(e)) {
                replace(denoms, r.denoms);
                replace(quantities, r.quantities);
                *value = r.value;
            }
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t which, int32_t* value, VARIANT_BOOL* result) override {
        return run(kEmptyCashBox, [&](const Effect* e) {
            if (!value || !result) return null_pointer(kEmptyCashBox);
            EmptyResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.empty_cash_box(which);
            if (!leaves_outputs(e)) *value = r.value;
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                        VARIANT_BOOL* result) override {
        return run(kGetLevels, [&](const Effect* e) {
            if (!denoms || !levels || !result) return null_pointer(kGetLevels);
            ListResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.levels(kind);
            if (!leaves_outputs(e)) {
                replace(denoms, r.denoms);
                replace(levels, r.values);
            }
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                          VARIANT_BOOL* result) override {
        return run(kHandleError, [&](const Effect* e) {
            if (!flag || !result) return null_pointer(kHandleError);
            HandleResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.handle_error(code, to_utf8(text));
            if (!leaves_outputs(e)) *flag = boolean(r.cleared);
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        return run(kGetConnected, [&](const Effect* e) {
            if (!connected) return null_pointer(kGetConnected);
            if (!leaves_outputs(e)) *connected = boolean(machine_.connected());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE PaySpecific(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override {
        return run(kPaySpecific, [&](const Effect* e) {
            if (!paid || !result) return null_pointer(kPaySpecific);
            PayResult r;
            if (auto s = scripted(e))
                r.outcome = *s;
            else
                r = machine_.pay_specific(amount);
            if (!leaves_outputs(e)) *paid = r.paid;
            *result = boolean(r.outcome.ok);
            return S_OK;
        });
    }

#if defined(_WIN32)
    // ISupportErrorInfo: every failure of the interface has a description.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(const Guid& iid) override {
        return iid == IID_ICashDevice ? S_OK : S_FALSE;
    }
#else
    // IErrorSource: the description of the last failing status, once.
    HRESULT STDMETHODCALLTYPE TakeErrorDescription(char16_t** description) override {
        if (!description) return E_POINTER;
        *description = nullptr;
        std::lock_guard lock(mutex_);
        if (description_.empty()) return S_FALSE;
        BSTR s = monvia::com::alloc_string(utf8_to_utf16(description_));
        if (!s) return E_OUTOFMEMORY;
        *description = s;
        description_.clear();
        return S_OK;
    }
#endif

    ~CashDeviceObject() { --g_objects; }

private:
    // Every member runs here: the call is counted, the scenario's delay and
    // interface failure come first, and nothing thrown leaves the object.
    template <class Body>
    HRESULT run(int slot, Body&& body) {
        std::lock_guard lock(mutex_);
        description_.clear();
        return described(run_locked(slot, body));
    }

    template <class Body>
    HRESULT run_locked(int slot, Body& body) {
        try {
            const Effect* e = scenario_.effect_for(slot, ++calls_[slot]);
            if (e && e->delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(e->delay_ms));
            if (e && e->hresult) {
                description_ = e->description;
                return *e->hresult;
            }
            return body(e);
        } catch (const std::bad_alloc&) {
            description_.clear();
            return E_OUTOFMEMORY;
        } catch (const std::exception& x) {
            description_ = std::string(member_name(slot)) + ": " + x.what();
            return E_UNEXPECTED;
        }
    }

    // A scripted False: recorded as the machine's last failure.
    std::optional<Outcome> scripted(const Effect* e) {
        if (!e || !e->returns_false) return std::nullopt;
        return machine_.fail(e->code, e->text);
    }

    HRESULT null_pointer(int slot) {
        description_ = std::string(member_name(slot)) + ": an output pointer is null";
        return E_POINTER;
    }
    HRESULT refuse(HRESULT h, std::string text) {
        description_ = std::move(text);
        return h;
    }
    // On Windows a failing status leaves its description in the thread's
    // error object, and a succeeding one clears it.
    HRESULT described(HRESULT h) {
#if defined(_WIN32)
        if (FAILED(h) && !description_.empty())
            set_error_info(IID_ICashDevice, "CashDevice", description_);
        else
            clear_error_info();
#endif
        return h;
    }

    std::atomic<uint32_t> refs_{1};
    std::mutex mutex_;
    CashMachine machine_;
    Scenario scenario_;
    std::optional<std::string> scenario_problem_;
    uint32_t calls_[kMemberCount + 1] = {};
    std::string description_;
};

}  // namespace

long live_objects() { return g_objects.load(); }

HRESULT create_cash_device(const Guid& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    try {
        auto device = std::make_unique<CashDeviceObject>();
        // The new object holds one reference; QueryInterface adds the
        // caller's and dropping ours leaves exactly one (or none on refusal).
        const HRESULT h = device->QueryInterface(iid, object);
        device.release()->Release();
        return h;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace monvia::cashsim

#if !defined(_WIN32)
MONVIA_COMPONENT_EXPORT HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
    if (*clsid != CLSID_CashDevice) return CLASS_E_CLASSNOTAVAILABLE;
    return monvia::cashsim::create_cash_device(*iid, object);
}

MONVIA_COMPONENT_EXPORT uint32_t MonviaListClasses(Guid* classes, uint32_t capacity) {
    if (classes && capacity >= 1) classes[0] = CLSID_CashDevice;
    return 1;
}
#endif
