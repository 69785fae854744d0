#pragma once
// The journal object's calls, the same on every system: each of the
// contract's members and the dispatch slots is passed on to the real object
// with the caller's arguments, timed, and written to the journal as one
// line; the caller gets back exactly what the real object gave.
//
// What differs between systems is left to the object that derives from this
// one: its interfaces (QueryInterface), how the real object's description of
// a failing status is taken and handed on to the client, and, on Windows,
// late-bound calls (Invoke).

#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "journal_line.h"

namespace monvia::journal {

using com::DISPID;
using com::DISPPARAMS;
using com::EXCEPINFO;
using com::Guid;
using com::ITypeInfo;
using com::LCID;
using com::LPOLESTR;
using com::UINT;
using com::ULONG;
using com::VARIANT;
using com::WORD;
using device::HRESULT;

// Writes one line to the process's journal. Never throws.
void write_line(const std::string& line, std::chrono::system_clock::time_point when) noexcept;

class JournalDevice : public device::ICashDevice {
public:
    // Counted from 1: the journal object's own count; the real object's is
    // its own, one reference held here and dropped with the last of these.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(const Guid& iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, const Guid& iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep_info, UINT* arg_error) override;

    HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) override;
    HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t code) override;
    HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) override;
    HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR text) override;
    HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t* colour) override;
    HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) override;
    HRESULT STDMETHODCALLTYPE get_ColorB(int32_t* value) override;
    HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) override;
    HRESULT STDMETHODCALLTYPE get_Host(BSTR* host) override;
    HRESULT STDMETHODCALLTYPE put_Host(BSTR host) override;
    HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                     VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t mode, int32_t* coins, int32_t* notes, int32_t* change,
                                             VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                         VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t which, int32_t* value, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                        VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                          VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override;
    HRESULT STDMETHODCALLTYPE PaySpecific(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override;

    // A line of this object: "<time> <process> #<n> <what><rest>".
    void event(std::chrono::system_clock::time_point when, std::string_view what,
               const std::string& rest) const noexcept;

protected:
    JournalDevice(com::ComPtr<device::ICashDevice> real, uint64_t number)
        : real_(std::move(real)), number_(number) {}
    virtual ~JournalDevice() = default;

    // Called before every call is passed on.
    virtual void before_call() noexcept {}
    // After a failing call: the real object's description of it (empty when
    // it gave none), left for the client to read as it would have without
    // the journal.
    virtual std::string failure_description(HRESULT h) = 0;

    // Passes one call on, times it and journals it: the values passed in
    // are formatted before the call (the callee may free an in/out string),
    // then the outcome (`describe` gives a failure's description) and the
    // outputs.
    template <class Call, class Outputs, class Describe>
    HRESULT call_described(std::string_view member, Fields in, Call&& pass_on, Outputs&& outputs,
                           Describe&& describe) noexcept {
        before_call();
        const auto when = std::chrono::system_clock::now();
        const auto start = std::chrono::steady_clock::now();
        const HRESULT h = pass_on();
        const auto took = std::chrono::steady_clock::now() - start;
        try {
            Fields line = std::move(in);
            line.text("->");
            if (com::failed(h)) {
                std::string description = describe(h);
                if (description.empty()) description = com::describe(h);
                line.text("failed " + com::hex(h) + " " + quote_utf8(description));
            } else if (h != HRESULT{}) {
                line.text("status " + com::hex(h));
            }
            const size_t before = line.str().size();
            outputs(line);
            if (!com::failed(h) && line.str().size() == before && h == HRESULT{}) line.text("ok");
            line.text(duration_text(took));
            event(when, member, line.str());
        } catch (...) {
        }
        return h;
    }
    template <class Call, class Outputs>
    HRESULT call(std::string_view member, Fields in, Call&& pass_on, Outputs&& outputs) noexcept {
        return call_described(member, std::move(in), std::forward<Call>(pass_on),
                              std::forward<Outputs>(outputs),
                              [this](HRESULT h) { return failure_description(h); });
    }

    com::ComPtr<device::ICashDevice> real_;
    const uint64_t number_;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace monvia::journal
