#include "journal_device.h"

#include <memory>

#include "journal_writer.h"

namespace monvia::journal {

void write_line(const std::string& line, std::chrono::system_clock::time_point when) noexcept {
    static JournalWriter writer(JournalWriter::from_environment());
    writer.write(line, when);
}

ULONG STDMETHODCALLTYPE JournalDevice::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE JournalDevice::Release() {
    const ULONG left = --refs_;
    if (left == 0) {
        const auto when = std::chrono::system_clock::now();
        real_.reset();
        event(when, "release", {});
        delete this;
    }
    return left;
}

void JournalDevice::event(std::chrono::system_clock::time_point when, std::string_view what,
                          const std::string& rest) const noexcept {
    try {
        std::string line = line_start(when, number_);
        line += ' ';
        line += what;
        line += rest;
        write_line(line, when);
    } catch (...) {
    }
}

// IDispatch: passed on.
HRESULT STDMETHODCALLTYPE JournalDevice::GetTypeInfoCount(UINT* count) {
    return call(
        "GetTypeInfoCount", Fields(), [&] { return real_->GetTypeInfoCount(count); },
        [&](Fields& out) { out.out("count", count); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
    return call(
        "GetTypeInfo", Fields().value("index", index).value("locale", locale),
        [&] { return real_->GetTypeInfo(index, locale, info); }, [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::GetIDsOfNames(const Guid& iid, LPOLESTR* names, UINT count,
                                                       LCID locale, DISPID* ids) {
    Fields in;
    for (UINT i = 0; names && i < count && i < 16; ++i)
        in.text("name=" + quote(names[i] ? std::u16string_view(reinterpret_cast<const char16_t*>(names[i]))
                                         : std::u16string_view()));
    return call(
        "GetIDsOfNames", std::move(in), [&] { return real_->GetIDsOfNames(iid, names, count, locale, ids); },
        [&](Fields& out) {
            for (UINT i = 0; ids && i < count && i < 16; ++i) out.value("id", ids[i]);
        });
}
HRESULT STDMETHODCALLTYPE JournalDevice::Invoke(DISPID id, const Guid& iid, LCID locale, WORD flags,
                                                DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                                                UINT* arg_error) {
    return call(
        "Invoke", Fields().value("id", id).value("flags", flags),
        [&] { return real_->Invoke(id, iid, locale, flags, params, result, excep_info, arg_error); },
        [](Fields&) {});
}

// The contract's members, in its order.
HRESULT STDMETHODCALLTYPE JournalDevice::get_LastErrorCode(int16_t* code) {
    return call(
        "get_LastErrorCode", Fields(), [&] { return real_->get_LastErrorCode(code); },
        [&](Fields& out) { out.out("code", code); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::put_LastErrorCode(int16_t code) {
    return call(
        "put_LastErrorCode", Fields().value("code", code), [&] { return real_->put_LastErrorCode(code); },
        [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::get_LastErrorText(BSTR* text) {
    return call(
        "get_LastErrorText", Fields().in("text", text), [&] { return real_->get_LastErrorText(text); },
        [&](Fields& out) { out.out("text", text); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::put_LastErrorText(BSTR text) {
    return call(
        "put_LastErrorText", Fields().value("text", text), [&] { return real_->put_LastErrorText(text); },
        [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::get_ColorA(uint32_t* colour) {
    return call(
        "get_ColorA", Fields(), [&] { return real_->get_ColorA(colour); },
        [&](Fields& out) { out.out("colour", colour); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::put_ColorA(uint32_t colour) {
    return call(
        "put_ColorA", Fields().value("colour", colour), [&] { return real_->put_ColorA(colour); },
        [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::get_ColorB(int32_t* value) {
    return call(
        "get_ColorB", Fields(), [&] { return real_->get_ColorB(value); },
        [&](Fields& out) { out.out("value", value); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::put_ColorB(int32_t value) {
    return call(
        "put_ColorB", Fields().value("value", value), [&] { return real_->put_ColorB(value); },
        [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::get_Host(BSTR* host) {
    return call(
        "get_Host", Fields().in("host", host), [&] { return real_->get_Host(host); },
        [&](Fields& out) { out.out("host", host); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::put_Host(BSTR host) {
    return call(
        "put_Host", Fields().value("host", host), [&] { return real_->put_Host(host); }, [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::Connect(VARIANT_BOOL* result) {
    return call(
        "Connect", Fields(), [&] { return real_->Connect(result); },
        [&](Fields& out) { out.result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::Disconnect() {
    return call(
        "Disconnect", Fields(), [&] { return real_->Disconnect(); }, [](Fields&) {});
}
HRESULT STDMETHODCALLTYPE JournalDevice::Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) {
    return call(
        "Change", Fields().in("inserted", inserted).in("paid", paid),
        [&] { return real_->Change(inserted, paid, result); },
        [&](Fields& out) { out.out("inserted", inserted).out("paid", paid).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::AddChange(int32_t* added, VARIANT_BOOL* result) {
    return call(
        "AddChange", Fields().in("added", added), [&] { return real_->AddChange(added, result); },
        [&](Fields& out) { out.out("added", added).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) {
    return call(
        "Pay", Fields().value("amount", amount).in("paid", paid),
        [&] { return real_->Pay(amount, paid, result); },
        [&](Fields& out) { out.out("paid", paid).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                                VARIANT_BOOL* result) {
    return call(
        "Charge", Fields().value("amount", amount).in("inserted", inserted).in("returned", returned),
        [&] { return real_->Charge(amount, inserted, returned, result); },
        [&](Fields& out) { out.out("inserted", inserted).out("returned", returned).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::CashBoxControl(int32_t mode, int32_t* coins, int32_t* notes,
                                                        int32_t* change, VARIANT_BOOL* result) {
    return call(
        "CashBoxControl",
        Fields()
            .value("mode", mode)
            .in("coins_cb_value", coins)
            .in("notes_cb_value", notes)
            .in("change_value", change),
        [&] { return real_->CashBoxControl(mode, coins, notes, change, result); },
        [&](Fields& out) {
            out.out("coins_cb_value", coins)
                .out("notes_cb_value", notes)
                .out("change_value", change)
                .result(result);
        });
}
HRESULT STDMETHODCALLTYPE JournalDevice::Configuration(VARIANT_BOOL* result) {
    return call(
        "Configuration", Fields(), [&] { return real_->Configuration(result); },
        [&](Fields& out) { out.result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                                    VARIANT_BOOL* result) {
    return call(
        "GetAmounts", Fields().in("denoms", denoms).in("quantities", quantities).in("value", value),
        [&] { return real_->GetAmounts(denoms, quantities, value, result); },
        [&](Fields& out) {
            out.out("denoms", denoms).out("quantities", quantities).out("value", value).result(result);
        });
}
HRESULT STDMETHODCALLTYPE JournalDevice::EmptyCashBox(int32_t which, int32_t* value, VARIANT_BOOL* result) {
    return call(
        "EmptyCashBox", Fields().value("which", which).in("value", value),
        [&] { return real_->EmptyCashBox(which, value, result); },
        [&](Fields& out) { out.out("value", value).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                                   VARIANT_BOOL* result) {
    return call(
        "GetLevels", Fields().value("kind", kind).in("denoms", denoms).in("levels", levels),
        [&] { return real_->GetLevels(kind, denoms, levels, result); },
        [&](Fields& out) { out.out("denoms", denoms).out("levels", levels).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                                     VARIANT_BOOL* result) {
    return call(
        "HandleError", Fields().value("code", code).value("text", text).in("flag", flag),
        [&] { return real_->HandleError(code, text, flag, result); },
        [&](Fields& out) { out.out("flag", flag).result(result); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::get_Connected(VARIANT_BOOL* connected) {
    return call(
        "get_Connected", Fields(), [&] { return real_->get_Connected(connected); },
        [&](Fields& out) { out.out("connected", connected); });
}
HRESULT STDMETHODCALLTYPE JournalDevice::PaySpecific(int32_t amount, int32_t* paid, VARIANT_BOOL* result) {
    return call(
        "PaySpecific", Fields().value("amount", amount).in("paid", paid),
        [&] { return real_->PaySpecific(amount, paid, result); },
        [&](Fields& out) { out.out("paid", paid).result(result); });
}

}  // namespace monvia::journal
