// The journal of the cash device: an in-process server of the CashDevice
// class that stands in front of another server of the class. Creating an
// object creates the real one from the fronted server at the same moment;
// every member is passed on with the caller's arguments, and the caller gets
// back exactly what the real object gave (status, result, every output and
// the failure's description). Each call is written to the journal as one
// line (see journal_line.h and README.md).
//
// The fronted server is named by the journal's own registration entry (the
// first one found for the class, in the registry's search order) and loaded
// through a class registry of the journal's own, so by the same rules as any
// server: absolute path, safe place, component server exports.

#include <dlfcn.h>
#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <monvia/component/com_ptr.h>
#include <monvia/component/server.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "com/registry.h"
#include "journal_entry.h"
#include "journal_line.h"
#include "journal_writer.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;
using namespace monvia::com;
using namespace monvia::device;
using monvia::Failure;

namespace monvia::journal {
namespace {

JournalWriter& writer() {
    static JournalWriter w(JournalWriter::from_environment());
    return w;
}

std::atomic<uint64_t> g_next_object{1};

// Where this library itself was loaded from.
fs::path own_library() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_library), &info) && info.dli_fname) return info.dli_fname;
    return {};
}

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

// The description a failing creation had, for the client that asks: a
// layer string, so that the thread-local slot needs no destructor (one
// would keep the library from ever being unloaded).
thread_local BSTR t_creation_error = nullptr;

void set_creation_error(const std::string& text) {
    free_string(t_creation_error);
    t_creation_error = alloc_utf8(text);
}

[[noreturn]] void refuse(HRESULT h, const std::string& text) { throw Failure(h, text); }

// The server this journal fronts: the "fronts" line of the entry the class
// was found by.
fs::path fronted_server(fs::path& entry_file) {
    for (const auto& dir : ClassRegistry::entry_directories()) {
        std::optional<ClassRegistry::EntryFile> found;
        for (auto& e : ClassRegistry::entries_in(dir.path)) {
            if (e.clsid != CLSID_CashDevice) continue;
            // The entry the registry reads first: the one under the exact name.
            if (!found || e.file.filename() == CLSID_CashDevice.str() + ".class") found = std::move(e);
        }
        if (!found) continue;
        entry_file = found->file;
        if (!found->problem.empty()) refuse(REGDB_E_CLASSNOTREG, found->problem);
        const auto content = read_small_file(found->file);
        const auto entry = content ? parse_journal_entry(*content) : std::nullopt;
        if (!entry)
            refuse(REGDB_E_CLASSNOTREG, "the journal was loaded, but the entry \"" + found->file.string() +
                                            "\" names no server to front (no \"fronts=\" line); run "
                                            "monvia-journal on");
        return entry->fronts;
    }
    refuse(REGDB_E_CLASSNOTREG, "the journal was loaded, but no registration entry for " +
                                    CLSID_CashDevice.str() + " names it; run monvia-journal on");
}

class JournalDevice final : public ICashDevice, public IErrorSource {
public:
    JournalDevice(ComPtr<ICashDevice> real, bool real_explains, uint64_t number)
        : real_(std::move(real)), real_explains_(real_explains), number_(number) {}

    // IUnknown: the journal object has its own identity and count; it holds
    // one reference to the real object, dropped with the last of its own.
    HRESULT STDMETHODCALLTYPE QueryInterface(const Guid& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICashDevice)
            *object = static_cast<ICashDevice*>(this);
        else if (iid == IID_IErrorSource && real_explains_)
            *object = static_cast<IErrorSource*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            const auto when = std::chrono::system_clock::now();
            real_.reset();
            event(when, "release", {});
            std::unique_ptr<JournalDevice> owned(this);
        }
        return left;
    }

    // IErrorSource: the description the real object gave for the last
    // failing call, taken from it when the call failed (to journal it) and
    // handed on here.
    HRESULT STDMETHODCALLTYPE TakeErrorDescription(char16_t** description) override {
        if (!description) return E_POINTER;
        *description = nullptr;
        std::lock_guard lock(mutex_);
        if (!pending_) return S_FALSE;
        *description = alloc_string(*pending_);
        const bool made = *description || pending_->empty();
        pending_.reset();
        return made ? S_OK : E_OUTOFMEMORY;
    }

    // IDispatch: passed on.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return call(
            "GetTypeInfoCount", Fields(), [&] { return real_->GetTypeInfoCount(count); },
            [&](Fields& out) { out.out("count", count); });
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return call(
            "GetTypeInfo", Fields().value("index", index).value("locale", locale),
            [&] { return real_->GetTypeInfo(index, locale, info); }, [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(const Guid& iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        Fields in;
        for (UINT i = 0; names && i < count && i < 16; ++i)
            in.text("name=" + quote(names[i] ? std::u16string_view(names[i]) : std::u16string_view()));
        return call(
            "GetIDsOfNames", std::move(in),
            [&] { return real_->GetIDsOfNames(iid, names, count, locale, ids); },
            [&](Fields& out) {
                for (UINT i = 0; ids && i < count && i < 16; ++i) out.value("id", ids[i]);
            });
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, const Guid& iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception_info, UINT* arg_error) override {
        return call(
            "Invoke", Fields().value("id", id).value("flags", flags),
            [&] { return real_->Invoke(id, iid, locale, flags, params, result, exception_info, arg_error); },
            [](Fields&) {});
    }

    // The contract's members, in its order.
    HRESULT STDMETHODCALLTYPE get_LastErrorCode(int16_t* code) override {
        return call(
            "get_LastErrorCode", Fields(), [&] { return real_->get_LastErrorCode(code); },
            [&](Fields& out) { out.out("code", code); });
    }
    HRESULT STDMETHODCALLTYPE put_LastErrorCode(int16_t code) override {
        return call(
            "put_LastErrorCode", Fields().value("code", code), [&] { return real_->put_LastErrorCode(code); },
            [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* text) override {
        return call(
            "get_LastErrorText", Fields().in("text", text), [&] { return real_->get_LastErrorText(text); },
            [&](Fields& out) { out.out("text", text); });
    }
    HRESULT STDMETHODCALLTYPE put_LastErrorText(BSTR text) override {
        return call(
            "put_LastErrorText", Fields().value("text", text), [&] { return real_->put_LastErrorText(text); },
            [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE get_ColorA(uint32_t* colour) override {
        return call(
            "get_ColorA", Fields(), [&] { return real_->get_ColorA(colour); },
            [&](Fields& out) { out.out("colour", colour); });
    }
    HRESULT STDMETHODCALLTYPE put_ColorA(uint32_t colour) override {
        return call(
            "put_ColorA", Fields().value("colour", colour), [&] { return real_->put_ColorA(colour); },
            [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE get_ColorB(int32_t* value) override {
        return call(
            "get_ColorB", Fields(), [&] { return real_->get_ColorB(value); },
            [&](Fields& out) { out.out("value", value); });
    }
    HRESULT STDMETHODCALLTYPE put_ColorB(int32_t value) override {
        return call(
            "put_ColorB", Fields().value("value", value), [&] { return real_->put_ColorB(value); },
            [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE get_Host(BSTR* host) override {
        return call(
            "get_Host", Fields().in("host", host), [&] { return real_->get_Host(host); },
            [&](Fields& out) { out.out("host", host); });
    }
    HRESULT STDMETHODCALLTYPE put_Host(BSTR host) override {
        return call(
            "put_Host", Fields().value("host", host), [&] { return real_->put_Host(host); }, [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE Connect(VARIANT_BOOL* result) override {
        return call(
            "Connect", Fields(), [&] { return real_->Connect(result); },
            [&](Fields& out) { out.result(result); });
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        return call(
            "Disconnect", Fields(), [&] { return real_->Disconnect(); }, [](Fields&) {});
    }
    HRESULT STDMETHODCALLTYPE Change(int32_t* inserted, int32_t* paid, VARIANT_BOOL* result) override {
        return call(
            "Change", Fields().in("inserted", inserted).in("paid", paid),
            [&] { return real_->Change(inserted, paid, result); },
            [&](Fields& out) { out.out("inserted", inserted).out("paid", paid).result(result); });
    }
    HRESULT STDMETHODCALLTYPE AddChange(int32_t* added, VARIANT_BOOL* result) override {
        return call(
            "AddChange", Fields().in("added", added), [&] { return real_->AddChange(added, result); },
            [&](Fields& out) { out.out("added", added).result(result); });
    }
    HRESULT STDMETHODCALLTYPE Pay(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override {
        return call(
            "Pay", Fields().value("amount", amount).in("paid", paid),
            [&] { return real_->Pay(amount, paid, result); },
            [&](Fields& out) { out.out("paid", paid).result(result); });
    }
    HRESULT STDMETHODCALLTYPE Charge(int32_t amount, int32_t* inserted, int32_t* returned,
                                     VARIANT_BOOL* result) override {
        return call(
            "Charge", Fields().value("amount", amount).in("inserted", inserted).in("returned", returned),
            [&] { return real_->Charge(amount, inserted, returned, result); },
            [&](Fields& out) { out.out("inserted", inserted).out("returned", returned).result(result); });
    }
    HRESULT STDMETHODCALLTYPE CashBoxControl(int32_t mode, int32_t* coins, int32_t* notes, int32_t* change,
                                             VARIANT_BOOL* result) override {
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
    HRESULT STDMETHODCALLTYPE Configuration(VARIANT_BOOL* result) override {
        return call(
            "Configuration", Fields(), [&] { return real_->Configuration(result); },
            [&](Fields& out) { out.result(result); });
    }
    HRESULT STDMETHODCALLTYPE GetAmounts(BSTR* denoms, BSTR* quantities, int32_t* value,
                                         VARIANT_BOOL* result) override {
        return call(
            "GetAmounts", Fields().in("denoms", denoms).in("quantities", quantities).in("value", value),
            [&] { return real_->GetAmounts(denoms, quantities, value, result); },
            [&](Fields& out) {
                out.out("denoms", denoms).out("quantities", quantities).out("value", value).result(result);
            });
    }
    HRESULT STDMETHODCALLTYPE EmptyCashBox(int32_t which, int32_t* value, VARIANT_BOOL* result) override {
        return call(
            "EmptyCashBox", Fields().value("which", which).in("value", value),
            [&] { return real_->EmptyCashBox(which, value, result); },
            [&](Fields& out) { out.out("value", value).result(result); });
    }
    HRESULT STDMETHODCALLTYPE GetLevels(int32_t kind, BSTR* denoms, BSTR* levels,
                                        VARIANT_BOOL* result) override {
        return call(
            "GetLevels", Fields().value("kind", kind).in("denoms", denoms).in("levels", levels),
            [&] { return real_->GetLevels(kind, denoms, levels, result); },
            [&](Fields& out) { out.out("denoms", denoms).out("levels", levels).result(result); });
    }
    HRESULT STDMETHODCALLTYPE HandleError(int32_t code, BSTR text, VARIANT_BOOL* flag,
                                          VARIANT_BOOL* result) override {
        return call(
            "HandleError", Fields().value("code", code).value("text", text).in("flag", flag),
            [&] { return real_->HandleError(code, text, flag, result); },
            [&](Fields& out) { out.out("flag", flag).result(result); });
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        return call(
            "get_Connected", Fields(), [&] { return real_->get_Connected(connected); },
            [&](Fields& out) { out.out("connected", connected); });
    }
    HRESULT STDMETHODCALLTYPE PaySpecific(int32_t amount, int32_t* paid, VARIANT_BOOL* result) override {
        return call(
            "PaySpecific", Fields().value("amount", amount).in("paid", paid),
            [&] { return real_->PaySpecific(amount, paid, result); },
            [&](Fields& out) { out.out("paid", paid).result(result); });
    }

    // A line of this object: "<time> <process> #<n> <what>".
    void event(std::chrono::system_clock::time_point when, const char* what,
               const std::string& rest) noexcept {
        try {
            writer().write(line_start(when, number_) + " " + what + rest, when);
        } catch (...) {
        }
    }

private:
    // Passes one call on, times it and journals it. The values passed in
    // are formatted before the call (the callee may free an in/out string).
    template <class Call, class Outputs>
    HRESULT call(const char* member, Fields in, Call&& pass_on, Outputs&& outputs) noexcept {
        {
            std::lock_guard lock(mutex_);
            pending_.reset();
        }
        const auto when = std::chrono::system_clock::now();
        const auto start = std::chrono::steady_clock::now();
        const HRESULT h = pass_on();
        const auto took = std::chrono::steady_clock::now() - start;
        try {
            Fields line = std::move(in);
            line.text("->");
            if (failed(h)) {
                std::string description = take_description();
                if (description.empty()) description = describe(h);
                line.text("failed " + hex(h) + " " + quote_utf8(description));
            } else if (h != S_OK) {
                line.text("status " + hex(h));
            }
            const size_t before = line.str().size();
            outputs(line);
            if (!failed(h) && line.str().size() == before && h == S_OK) line.text("ok");
            line.text(duration_text(took));
            event(when, member, line.str());
        } catch (...) {
        }
        return h;
    }

    // Takes the real object's description of its failing status, keeping it
    // for the client's own TakeErrorDescription.
    std::string take_description() {
        if (!real_explains_) return {};
        void* raw = nullptr;
        if (failed(real_->QueryInterface(IID_IErrorSource, &raw)) || !raw) return {};
        auto source = ComPtr<IErrorSource>::attach(static_cast<IErrorSource*>(raw));
        Bstr text;
        if (source->TakeErrorDescription(text.inout()) != S_OK) return {};
        std::lock_guard lock(mutex_);
        pending_ = std::u16string(chars_of(text.get()));
        return text.utf8();
    }

    ComPtr<ICashDevice> real_;
    const bool real_explains_;
    const uint64_t number_;
    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    std::optional<std::u16string> pending_;
};

// The journal's own registry of the one server it fronts; never unloaded
// while the journal is loaded, since the real objects live in it.
ClassRegistry& fronted_registry() {
    static ClassRegistry registry;
    return registry;
}

HRESULT create(const Guid& iid, void** object) {
    const auto when = std::chrono::system_clock::now();
    const auto start = std::chrono::steady_clock::now();
    const uint64_t number = g_next_object++;
    fs::path entry_file, fronted;
    auto journal_line = [&](const std::string& outcome) {
        std::string line = line_start(when, number) + " create class=" + CLSID_CashDevice.str() +
                           " server=" + quote_utf8(fronted.string());
        if (!entry_file.empty()) line += " entry=" + quote_utf8(entry_file.string());
        writer().write(
            line + " -> " + outcome + " " + duration_text(std::chrono::steady_clock::now() - start), when);
    };
    try {
        fronted = fronted_server(entry_file);
        const fs::path self = own_library();
        if (!fronted.is_absolute())
            refuse(CO_E_BADPATH,
                   "the journal fronts \"" + fronted.string() +
                       "\", which is not an absolute path; run monvia-journal off and on again");
        if (same_file(fronted, self))
            refuse(CO_E_ERRORINDLL, "the journal's entry \"" + entry_file.string() +
                                        "\" names the journal itself as the server it fronts");
        ClassRegistry& registry = fronted_registry();
        registry.register_library(CLSID_CashDevice, fronted);
        auto real = registry.create<ICashDevice>(CLSID_CashDevice, IID_ICashDevice);
        void* source = nullptr;
        const bool explains = succeeded(real->QueryInterface(IID_IErrorSource, &source)) && source;
        if (source) static_cast<IErrorSource*>(source)->Release();
        auto device = std::make_unique<JournalDevice>(std::move(real), explains, number);
        journal_line("ok");
        const HRESULT h = device->QueryInterface(iid, object);
        device.release()->Release();
        return h;
    } catch (const Failure& f) {
        set_creation_error(f.description());
        journal_line("failed " + hex(f.number()) + " " + quote_utf8(f.description()));
        return failed(f.number()) ? f.number() : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace
}  // namespace monvia::journal

MONVIA_COMPONENT_EXPORT HRESULT MonviaCreateInstance(const Guid* clsid, const Guid* iid, void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
    if (*clsid != CLSID_CashDevice) return CLASS_E_CLASSNOTAVAILABLE;
    free_string(std::exchange(monvia::journal::t_creation_error, nullptr));
    return monvia::journal::create(*iid, object);
}

MONVIA_COMPONENT_EXPORT uint32_t MonviaListClasses(Guid* classes, uint32_t capacity) {
    if (classes && capacity >= 1) classes[0] = CLSID_CashDevice;
    return 1;
}

// The description of the last creation that failed on this thread, so that
// the client's registry can report the fronted server's own failure.
MONVIA_COMPONENT_EXPORT HRESULT MonviaTakeCreationError(char16_t** description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    BSTR& pending = monvia::journal::t_creation_error;
    if (string_len(pending) == 0) return S_FALSE;
    *description = std::exchange(pending, nullptr);
    return S_OK;
}
